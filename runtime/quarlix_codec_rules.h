/* The tables and per-sample rules of the four ADPCM formats, held once for
 * everything that codes them: the device decoder (quarlix_decode.c, C99)
 * and the quarlix encoders (C++), which include this header as it stands.
 * Under C++ the tables and rules are constexpr, so the tool can build its
 * own lookup tables from them at compile time.
 *
 * Sample arithmetic is signed 32-bit; ">> 8" of a negative value is an
 * arithmetic shift (it rounds toward minus infinity), which every C
 * compiler this is built with does, and which the check below holds. */
#ifndef QUARLIX_CODEC_RULES_H
#define QUARLIX_CODEC_RULES_H

#include <stdint.h>

#ifdef __cplusplus
#define QX_TABLE static constexpr
#define QX_RULE static constexpr inline
#else
#define QX_TABLE static const
#define QX_RULE static inline
#endif

typedef char qx_arithmetic_shift_check[(-1 >> 1) == -1 ? 1 : -1];

/* ------------------------------------------------------------ shared */

QX_RULE int32_t qx_clamp16(int32_t value) {
  return value < -32768 ? -32768 : value > 32767 ? 32767 : value;
}

/* A 4-bit two's-complement code (-8..7) from its nibble. */
QX_RULE int32_t qx_signed_code(uint32_t nibble) { return (int32_t)(nibble ^ 8u) - 8; }

/* A signed 16-bit value from its two bytes, high byte first; defined
 * arithmetic on every target, no cast of an out-of-range value. */
QX_RULE int32_t qx_int16_of(uint32_t high, uint32_t low) {
  return (int32_t)((high ^ 0x80u) << 8 | low) - 32768;
}

/* Second-order prediction, coefficients in units of 1/256: c1 weighs the
 * newer sample s1, c2 the older s2. */
QX_RULE int32_t qx_predict(int32_t c1, int32_t c2, int32_t s1, int32_t s2) {
  return (c1 * s1 + c2 * s2) >> 8;
}

/* ------------------------------------------------------------ IMA ADPCM */

#define QX_IMA_MAX_INDEX 88

/* The 89 step sizes of IMA ADPCM, which Orbel ADPCM-N64 steps through too;
 * a list, so that tables can be built from it at compile time. */
#define QX_IMA_STEPS(X) \
  X(7) X(8) X(9) X(10) X(11) X(12) X(13) X(14) X(16) X(17) X(19) X(21) \
  X(23) X(25) X(28) X(31) X(34) X(37) X(41) X(45) X(50) X(55) X(60) X(66) \
  X(73) X(80) X(88) X(97) X(107) X(118) X(130) X(143) X(157) X(173) X(190) X(209) \
  X(230) X(253) X(279) X(307) X(337) X(371) X(408) X(449) X(494) X(544) X(598) X(658) \
  X(724) X(796) X(876) X(963) X(1060) X(1166) X(1282) X(1411) X(1552) X(1707) X(1878) X(2066) \
  X(2272) X(2499) X(2749) X(3024) X(3327) X(3660) X(4026) X(4428) X(4871) X(5358) X(5894) X(6484) \
  X(7132) X(7845) X(8630) X(9493) X(10442) X(11487) X(12635) X(13899) X(15289) X(16818) X(18500) X(20350) \
  X(22385) X(24623) X(27086) X(29794) X(32767)
#define QX_LIST_ITEM(value) value,
QX_TABLE int16_t qx_ima_step_table[QX_IMA_MAX_INDEX + 1] = {QX_IMA_STEPS(QX_LIST_ITEM)};

/* The index change of a sign-magnitude code, by the whole nibble. */
QX_TABLE int8_t qx_ima_index_table[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

/* A step index moved by `change`, kept within the table. Orbel ADPCM-N64
 * warns of every move past 88, so those are counted in *clamps. */
QX_RULE int32_t qx_moved_index(int32_t index, int32_t change, uint32_t *clamps) {
  int32_t next = index + change;
  if (next < 0) return 0;
  if (next > QX_IMA_MAX_INDEX) {
    ++*clamps;
    return QX_IMA_MAX_INDEX;
  }
  return next;
}

/* A block header's starting step index (IMA ADPCM, N64): only a damaged
 * header holds one past the table, which is taken as 88. */
QX_RULE int32_t qx_header_index(uint32_t byte) {
  return byte > QX_IMA_MAX_INDEX ? QX_IMA_MAX_INDEX : (int32_t)byte;
}

/* IMA ADPCM's step index after `code`; its moves past 88 are silent. */
QX_RULE int32_t qx_ima_next_index(int32_t index, uint32_t code) {
  uint32_t silent = 0;
  return qx_moved_index(index, qx_ima_index_table[code & 15u], &silent);
}

/* The signed change a code makes to the predictor: step/8, plus step,
 * step/2 and step/4 for the magnitude bits 4, 2 and 1, negated for bit 8. */
QX_RULE int32_t qx_ima_difference(int32_t step, uint32_t code) {
  int32_t delta = step >> 3;
  if ((code & 4u) != 0) delta += step;
  if ((code & 2u) != 0) delta += step >> 1;
  if ((code & 1u) != 0) delta += step >> 2;
  return (code & 8u) != 0 ? -delta : delta;
}

/* --------------------------------------- Microsoft ADPCM and Orbel ADPCM */

/* The seven Microsoft ADPCM coefficient pairs (first coefficient for the
 * newer sample), and an eighth, (0, 0), that only Orbel ADPCM has. */
#define QX_MS_PAIRS 7
#define QX_ORBEL_PAIRS 8
QX_TABLE int16_t qx_adpcm_pairs[QX_ORBEL_PAIRS][2] = {{256, 0},   {512, -256}, {0, 0},     {192, 64},
                                                       {240, 0},   {460, -208}, {392, -232}, {0, 0}};

/* A Microsoft ADPCM header's pair: a byte past the table selects the
 * first pair. */
QX_RULE uint32_t qx_ms_header_pair(uint32_t byte) { return byte < QX_MS_PAIRS ? byte : 0u; }

/* The step factor after a code, in units of 1/256, by the whole nibble. */
QX_TABLE int16_t qx_adaptation_factor[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                             768, 614, 512, 409, 307, 230, 230, 230};

#define QX_MS_MIN_DELTA 16

/* Microsoft ADPCM's next delta: (factor * delta) >> 8, at least 16. The
 * product is formed wide: where it fits in 32 bits the result is the usual
 * one; where it would not (only in a damaged block whose delta runs away)
 * it is bounded to the int32 range first, which leaves INT32_MAX >> 8. */
#define QX_MS_MAX_DELTA (INT32_MAX >> 8)

QX_RULE int32_t qx_ms_next_delta(int32_t delta, int32_t code) {
  int64_t next = (int64_t)qx_adaptation_factor[(uint32_t)code & 15u] * delta >> 8;
  return next < QX_MS_MIN_DELTA ? QX_MS_MIN_DELTA : next > QX_MS_MAX_DELTA ? QX_MS_MAX_DELTA : (int32_t)next;
}

/* Orbel ADPCM's step: never below the floor; the ceiling only keeps damaged
 * blocks defined, since the encoder's steps stay below 65536. */
#define QX_ORBEL_STEP_FLOOR 8
#define QX_ORBEL_STEP_CEILING ((int32_t)1 << 20)

QX_RULE int32_t qx_orbel_next_step(int32_t step, int32_t code) {
  int32_t next = (step * qx_adaptation_factor[(uint32_t)code & 15u]) >> 8;
  return next < QX_ORBEL_STEP_FLOOR ? QX_ORBEL_STEP_FLOOR : next > QX_ORBEL_STEP_CEILING ? QX_ORBEL_STEP_CEILING : next;
}

/* ------------------------------------------------------ Orbel ADPCM-N64 */

#define QX_N64_PAIRS 4
QX_TABLE int16_t qx_n64_pairs[QX_N64_PAIRS][2] = {{0, 0}, {256, 0}, {384, -128}, {512, -256}};

/* The step index change of a two's-complement code, by the whole nibble. */
QX_TABLE int8_t qx_n64_index_change[16] = {-1, -1, -1, -1, 2, 4, 6, 8, 10, 8, 6, 4, 2, -1, -1, -1};

/* Orbel ADPCM-N64's step index after `code`, moves past 88 counted. */
QX_RULE int32_t qx_n64_next_index(int32_t index, uint32_t code, uint32_t *clamps) {
  return qx_moved_index(index, qx_n64_index_change[code & 15u], clamps);
}

#undef QX_TABLE
#undef QX_RULE

#endif
