// Eight 32-bit lanes for the codecs that run work side by side: each lane
// is one trial of a block, or one block, with exactly the scalar
// arithmetic of it. Plain compiler vectors, so the code builds for any
// x86-64; the kernels add clones for newer CPUs chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

using Lanes = int32_t __attribute__((vector_size(32)));
using LaneMask = Lanes;  // all ones where a comparison holds, else zero
using UnsignedLanes = uint32_t __attribute__((vector_size(32)));
using FloatLanes = float __attribute__((vector_size(32)));

inline constexpr size_t kLaneCount = 8;

// The lane kernels get an AVX2 clone, and one for x86-64-v4 (AVX-512,
// whose 32 vector registers and single-instruction compares the kernels'
// many live values use), that the loader picks when the CPU has them. Clang
// refuses 32-byte vectors passed to the inline helpers inside a
// clone, so its builds (the fuzzers) run the portable code only, as do
// builds configured without the clones (the sanitizer build, so that the
// suite covers the code every x86-64 runs).
#if defined(__clang__) || defined(QUARLIX_NO_AVX2_CLONES)
#define QUARLIX_LANE_KERNEL
#else
#define QUARLIX_LANE_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif

// The helpers are always inlined into their callers, so how a 32-byte
// vector would be passed to a real call without AVX never matters (the
// build turns those ABI notes off with -Wno-psabi). Inside a kernel, no
// vector may pass through a call that is not always inlined, a lambda's
// included: unoptimised, such a call is compiled for the plain target and
// passes its vectors another way than the clone that calls it.

// Written as a shuffle of the first lane, which the compilers turn into one
// broadcast.
[[gnu::always_inline]] inline Lanes splat(int32_t value) {
  Lanes first = {value};
  return __builtin_shufflevector(first, first, 0, 0, 0, 0, 0, 0, 0, 0);
}

[[gnu::always_inline]] inline Lanes select(LaneMask mask, Lanes ifSet, Lanes ifClear) { return (ifSet & mask) | (ifClear & ~mask); }

// Written as vector conditionals, which the compilers turn into single
// min and max instructions.
[[gnu::always_inline]] inline Lanes laneMin(Lanes a, Lanes b) { return a < b ? a : b; }
[[gnu::always_inline]] inline Lanes laneMax(Lanes a, Lanes b) { return a > b ? a : b; }
[[gnu::always_inline]] inline Lanes laneClamp(Lanes value, int32_t low, int32_t high) {
  return laneMin(laneMax(value, splat(low)), splat(high));
}
[[gnu::always_inline]] inline Lanes laneAbs(Lanes value) { return select(value < 0, -value, value); }

// Whether the mask holds in any lane.
[[gnu::always_inline]] inline bool laneAny(LaneMask mask) {
  uint64_t words[4];
  __builtin_memcpy(words, &mask, sizeof words);
  return (words[0] | words[1] | words[2] | words[3]) != 0;
}

// The lanes holding values[0], values[1], ...
[[gnu::always_inline]] inline Lanes lanesOf(const int32_t (&values)[kLaneCount]) {
  Lanes lanes;
  __builtin_memcpy(&lanes, values, sizeof lanes);
  return lanes;
}

// The lookup of table[index] in every lane.
template <typename Entry>
[[gnu::always_inline]] inline Lanes laneLookup(const Entry* table, Lanes index) {
  Lanes out;
  for (size_t lane = 0; lane < kLaneCount; ++lane) out[lane] = table[index[lane]];
  return out;
}

// Sample n of each lane's own samples: lane k reads samples[k][n].
[[gnu::always_inline]] inline Lanes laneSamples(const int16_t* const samples[], size_t n) {
  Lanes x;
  for (size_t lane = 0; lane < kLaneCount; ++lane) x[lane] = samples[lane][n];
  return x;
}

// Sample n of blocks of `stride` samples that follow one another from
// `first`, one block in each lane.
[[gnu::always_inline]] inline Lanes blockSamples(const int16_t* first, size_t stride, size_t n) {
  Lanes x;
  for (size_t lane = 0; lane < kLaneCount; ++lane) x[lane] = first[lane * stride + n];
  return x;
}

// Reinterprets the lanes' bits as unsigned, for arithmetic that wraps.
[[gnu::always_inline]] inline UnsignedLanes asUnsigned(Lanes value) { return reinterpret_cast<UnsignedLanes>(value); }

// The trials' 4-bit codes, eight to a word per lane in the order a block
// stores them: the first code in the top nibble, so each word written
// big-endian gives four bytes of the block.
template <size_t Codes>
struct LaneNibbles {
  uint32_t words[(Codes + 7) / 8][kLaneCount];
};

// Adds the code of sample n (0, 1, ...) of every lane to `pending`, and
// stores it in `nibbles` once it holds eight.
template <size_t Codes>
[[gnu::always_inline]] inline void appendNibbles(LaneNibbles<Codes>& nibbles, UnsignedLanes& pending, size_t n,
                                                 Lanes code) {
  pending = pending << 4 | (asUnsigned(code) & 15);
  if (n % 8 == 7) __builtin_memcpy(nibbles.words[n / 8], &pending, sizeof pending);
}

// Stores the last, partly filled word after `count` codes, its unused
// nibbles zero.
template <size_t Codes>
[[gnu::always_inline]] inline void finishNibbles(LaneNibbles<Codes>& nibbles, UnsignedLanes pending, size_t count) {
  if (count % 8 == 0) return;
  pending <<= static_cast<uint32_t>(4 * (8 - count % 8));
  __builtin_memcpy(nibbles.words[count / 8], &pending, sizeof pending);
}

// Writes the first `bytes` code bytes of one lane.
template <size_t Codes>
void storeLaneCodes(const LaneNibbles<Codes>& nibbles, size_t lane, uint8_t* out, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) {
    out[i] = static_cast<uint8_t>(nibbles.words[i / 4][lane] >> (24 - 8 * (i % 4)));
  }
}

// qx_predict in every lane: the second-order prediction that Orbel ADPCM,
// N64 and Microsoft ADPCM share (c1 weighs the newer sample s1).
[[gnu::always_inline]] inline Lanes predictLanes(Lanes c1, Lanes c2, Lanes s1, Lanes s2) {
  return (c1 * s1 + c2 * s2) >> 8;
}

// qx_clamp16 in every lane: a decoded sample held to 16 bits.
[[gnu::always_inline]] inline Lanes clamp16Lanes(Lanes value) { return laneClamp(value, INT16_MIN, INT16_MAX); }

// The step adaptation factor that Microsoft ADPCM and Orbel ADPCM share
// (230, 230, 230, 230, 307, 409, 512, 614, 768, 614, ... 230 by code & 15),
// found from the code's magnitude: 230 up to 3, then 307, 409, 512, 614 and,
// for -8 only, 768.
[[gnu::always_inline]] inline Lanes adaptationFactor(Lanes code) {
  Lanes size = laneAbs(code);
  return 230 + (77 & (size >= 4)) + (102 & (size >= 5)) + (103 & (size >= 6)) + (102 & (size >= 7)) +
         (154 & (size >= 8));
}
