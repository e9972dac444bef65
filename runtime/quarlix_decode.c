/* The sample-image reader and the ADPCM block decoders; see quarlix_decode.h. */
#include "quarlix_decode.h"

#include "quarlix_codec_rules.h"

/* The image's sample types, and Microsoft ADPCM (block decoder only) under
 * its WAVE format tag, which no image uses. */
enum { QX_PCM = 1, QX_MS = 2, QX_IMA = 3, QX_GSM = 4, QX_ORBEL = 5, QX_N64 = 6 };

/* Compiled as it stands, this is the compact form that small targets get.
 * Hosts define QX_FAST for three fast paths beside it: the one decoding
 * loop specialised for each format (GCC and Clang; no call and no format
 * test per sample), two codes of a byte decoded in one pass, and IMA
 * ADPCM's predictor change looked up instead of built from the code's bits.
 * The tests hold the two forms to the same samples. */
#if defined(QX_FAST) && defined(__GNUC__)
#define QX_SPECIALISED __attribute__((always_inline)) inline
#else
#define QX_SPECIALISED
#endif

#ifdef QX_FAST
/* The predictor change of every step index and code: qx_ima_difference
 * restated for the compiler, over the same step list. */
#define QX_IMA_CHANGE(step, code) \
  (((code) & 8 ? -1 : 1) *        \
   (((step) >> 3) + ((code) & 4 ? (step) : 0) + ((code) & 2 ? (step) >> 1 : 0) + ((code) & 1 ? (step) >> 2 : 0)))
#define QX_IMA_CHANGE_ROW(step)                                                                        \
  {QX_IMA_CHANGE(step, 0),  QX_IMA_CHANGE(step, 1),  QX_IMA_CHANGE(step, 2),  QX_IMA_CHANGE(step, 3),  \
   QX_IMA_CHANGE(step, 4),  QX_IMA_CHANGE(step, 5),  QX_IMA_CHANGE(step, 6),  QX_IMA_CHANGE(step, 7),  \
   QX_IMA_CHANGE(step, 8),  QX_IMA_CHANGE(step, 9),  QX_IMA_CHANGE(step, 10), QX_IMA_CHANGE(step, 11), \
   QX_IMA_CHANGE(step, 12), QX_IMA_CHANGE(step, 13), QX_IMA_CHANGE(step, 14), QX_IMA_CHANGE(step, 15)},
static const int32_t qx_ima_changes[QX_IMA_MAX_INDEX + 1][16] = {QX_IMA_STEPS(QX_IMA_CHANGE_ROW)};
#define QX_IMA_DIFFERENCE(index, code) qx_ima_changes[index][code]
#else
#define QX_IMA_DIFFERENCE(index, code) qx_ima_difference(qx_ima_step_table[index], code)
#endif

/* By format (the enum above): where a block's codes start, and how many
 * samples its header holds in full. */
static const uint8_t qx_codes_offset[7] = {0, 0, 7, 4, 0, 2, 5};
static const uint8_t qx_held_samples[7] = {0, 0, 2, 1, 0, 0, 2};

/* A decoder sits in the caller's memory, one per voice: it stays small. */
typedef char qx_decoder_size_check[sizeof(qx_decoder) <= 96 ? 1 : -1];

#define QX_HEADER_BYTES 20
#define QX_GSM_BLOCK_BYTES 65
#define QX_GSM_BLOCK_SAMPLES 320

/* ------------------------------------------------------------- decoding */

/* What decoding carries from one code to the next, in locals while a run
 * lasts. */
typedef struct qx_voice {
  int32_t step; /* IMA and N64: the step index; MS: delta; Orbel: step */
  int32_t s1;   /* the newest sample (IMA: the predictor) */
  int32_t s2;
  int32_t c1;
  int32_t c2;
  uint32_t clamps;
} qx_voice;

/* One code of the format: the sample it gives, and the voice moved on. */
static QX_SPECIALISED int32_t qx_sample(uint32_t format, qx_voice *v, uint32_t nibble) {
  int32_t code = qx_signed_code(nibble), value, step;
  if (format == QX_IMA) {
    value = v->s1 + QX_IMA_DIFFERENCE(v->step, nibble);
  } else {
    value = qx_predict(v->c1, v->c2, v->s1, v->s2) + code * (format == QX_N64 ? qx_ima_step_table[v->step] : v->step);
  }
  if (format == QX_ORBEL) {
    step = qx_orbel_next_step(v->step, code);
  } else if (format == QX_MS) {
    step = qx_ms_next_delta(v->step, code);
  } else {
    /* IMA's silent clamps are counted too, and never reported. */
    step = qx_moved_index(v->step, (format == QX_IMA ? qx_ima_index_table : qx_n64_index_change)[nibble], &v->clamps);
  }
  v->step = step;
  v->s2 = v->s1;
  v->s1 = qx_clamp16(value);
  return v->s1;
}

/* Decodes codes k .. end - 1, packed two to a byte: IMA ADPCM's earlier
 * code in the low nibble, the others' in the high one. */
static QX_SPECIALISED void qx_decode_codes(uint32_t format, const uint8_t *codes, size_t k, size_t end,
                                           int16_t *out, qx_voice *v) {
  unsigned first = format == QX_IMA ? 0 : 4, second = 4 - first;
#ifdef QX_FAST
  if ((k & 1u) != 0 && k < end) *out++ = (int16_t)qx_sample(format, v, (uint32_t)codes[k++ >> 1] >> second & 15u);
  for (; k + 1 < end; k += 2) {
    uint32_t byte = codes[k >> 1];
    *out++ = (int16_t)qx_sample(format, v, byte >> first & 15u);
    *out++ = (int16_t)qx_sample(format, v, byte >> second & 15u);
  }
#endif
  for (; k < end; ++k) *out++ = (int16_t)qx_sample(format, v, (uint32_t)codes[k >> 1] >> ((k & 1u) != 0 ? second : first) & 15u);
}

/* Reads a block's header into the channel. Orbel ADPCM's history is the
 * previous block's, already there. */
static void qx_take_header(uint32_t format, const uint8_t *block, qx_channel *ch) {
  switch (format) {
    case QX_IMA: /* the block's first sample, held as the older one; no pairs */
      ch->sample1 = ch->sample2 = (int16_t)qx_int16_of(block[1], block[0]);
      ch->pair = 0;
      ch->step = qx_header_index(block[2]);
      break;
    case QX_ORBEL:
      ch->step = (int32_t)(((uint32_t)block[1] << 8 | block[0]) & 0xFFF8u);
      ch->pair = (uint8_t)(block[0] & 7u);
      break;
    case QX_MS:
      ch->pair = (uint8_t)qx_ms_header_pair(block[0]);
      ch->step = qx_int16_of(block[2], block[1]);
      ch->sample1 = (int16_t)qx_int16_of(block[4], block[3]);
      ch->sample2 = (int16_t)qx_int16_of(block[6], block[5]);
      break;
    default: /* N64: big-endian, the pair in the first sample's low bits */
      ch->pair = (uint8_t)(block[1] & 3u);
      ch->sample2 = (int16_t)qx_int16_of(block[0], block[1] & 0xFCu);
      ch->sample1 = (int16_t)qx_int16_of(block[2], block[3]);
      ch->step = qx_header_index(block[4]);
      break;
  }
}

/* Decodes samples index .. index + count - 1 of one block, taking its
 * header into the channel when the run starts at sample 0, and carrying the
 * channel on. */
static QX_SPECIALISED void qx_run(uint32_t format, const uint8_t *block, size_t index, int16_t *out, size_t count,
                                  qx_channel *ch, uint32_t *clamps) {
  size_t end = index + count;
  size_t held = qx_held_samples[format];
  const int16_t(*pairs)[2] = format == QX_N64 ? qx_n64_pairs : qx_adpcm_pairs;
  qx_voice v;
  if (count == 0) return;
  if (index == 0) qx_take_header(format, block, ch);
  /* The samples the header holds: the older first. */
  for (; index < held; ++index) {
    if (index == end) return;
    *out++ = index == 0 ? ch->sample2 : ch->sample1;
  }
  if (index == end) return;
  v.step = ch->step;
  v.s1 = ch->sample1;
  v.s2 = ch->sample2;
  v.c1 = pairs[ch->pair][0];
  v.c2 = pairs[ch->pair][1];
  v.clamps = 0;
  qx_decode_codes(format, block + qx_codes_offset[format], index - held, end - held, out, &v);
  ch->step = v.step;
  ch->sample1 = (int16_t)v.s1;
  ch->sample2 = (int16_t)v.s2;
  *clamps += v.clamps;
}

/* -------------------------------------------------------- block decoders */

/* Decodes the first of `count` samples that a block of block_size bytes
 * holds (a header, then two codes a byte); returns how many. history: an
 * Orbel ADPCM stream's, else NULL; clamps: where N64 index clamps are
 * counted, else NULL. */
static QX_SPECIALISED size_t qx_decode_block(uint32_t format, const uint8_t *block, size_t block_size, int16_t *out,
                                             size_t count, qx_orbel_history *history, uint32_t *clamps) {
  size_t header = qx_codes_offset[format], held = qx_held_samples[format], room;
  uint32_t ignored = 0;
  qx_channel ch;
  if (block_size < header) return 0;
  room = block_size - header;
  if (room < count && 2 * room + held < count) count = 2 * room + held;
  ch.pair = 0;
  ch.sample1 = history != NULL ? history->sample1 : 0;
  ch.sample2 = history != NULL ? history->sample2 : 0;
  qx_run(format, block, 0, out, count, &ch, clamps != NULL ? clamps : &ignored);
  if (history != NULL) {
    history->sample1 = ch.sample1;
    history->sample2 = ch.sample2;
  }
  return count;
}

size_t qx_ima_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count) {
  return qx_decode_block(QX_IMA, block, block_size, out, count, NULL, NULL);
}

size_t qx_ms_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count) {
  return qx_decode_block(QX_MS, block, block_size, out, count, NULL, NULL);
}

size_t qx_orbel_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count,
                             qx_orbel_history *history) {
  return qx_decode_block(QX_ORBEL, block, block_size, out, count, history, NULL);
}

size_t qx_n64_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count,
                           uint32_t *index_clamps) {
  return qx_decode_block(QX_N64, block, block_size, out, count, NULL, index_clamps);
}

/* ----------------------------------------------------------------- images */

static uint32_t qx_be32(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

/* The bytes that decoding the first `count` samples (1 or more) of a block
 * reads. */
static uint32_t qx_coded_bytes(uint32_t type, uint32_t count) {
  if (type == QX_PCM) return 2 * count;
  if (type == QX_GSM) return QX_GSM_BLOCK_BYTES;
  /* A block of fewer samples than its header holds reads the header alone. */
  if (count <= qx_held_samples[type]) return qx_codes_offset[type];
  return qx_codes_offset[type] + (count - qx_held_samples[type] + 1) / 2;
}

/* Whether the header describes an image of a known type whose blocks of
 * block_samples fit in block_bytes, and whose `samples` samples lie within
 * the `available` bytes after the header. */
static int qx_layout_fits(uint32_t type, uint32_t block_samples, uint32_t block_bytes, uint32_t samples,
                          uint32_t available) {
  uint32_t earlier_blocks, last_bytes;
  switch (type) {
    case QX_PCM:
      if (block_samples != 1 || block_bytes != 2) return 0;
      break;
    case QX_GSM:
      if (block_samples > QX_GSM_BLOCK_SAMPLES || block_bytes != QX_GSM_BLOCK_BYTES) return 0;
      break;
    case QX_IMA:
    case QX_ORBEL:
    case QX_N64: break;
    default: return 0;
  }
  if (block_samples == 0 || qx_coded_bytes(type, block_samples) > block_bytes) return 0;
  if (samples == 0) return 1;
  earlier_blocks = (samples - 1) / block_samples;
  last_bytes = qx_coded_bytes(type, samples - earlier_blocks * block_samples);
  return last_bytes <= available && earlier_blocks <= (available - last_bytes) / block_bytes;
}

int qx_open(qx_decoder *d, const void *image, size_t size) {
  const uint8_t *header = (const uint8_t *)image;
  uint32_t head, geometry, samples, loop_start, loop_end, available;
  if (d == NULL) return QX_ERR_FORMAT;
  d->type = 0; /* nothing to read until the header has passed */
  d->rate = 0;
  d->sample_count = 0;
  d->loop_start = 0;
  d->loop_end = 0;
  qx_rewind(d);
  if (header == NULL || size < QX_HEADER_BYTES) return QX_ERR_FORMAT;
  head = qx_be32(header);          /* head, type, freq */
  geometry = qx_be32(header + 4);  /* blkdata, blksize */
  samples = qx_be32(header + 8);
  loop_start = qx_be32(header + 12);
  loop_end = qx_be32(header + 16);
  available = (uint32_t)(size - QX_HEADER_BYTES);
  if ((size_t)available != size - QX_HEADER_BYTES) available = 0xFFFFFFFFu;
  if (head >> 24 != 0x1A || !qx_layout_fits(head >> 16 & 0xFFu, geometry >> 16, geometry & 0xFFFFu, samples, available)) {
    return QX_ERR_FORMAT;
  }
  d->data = header + QX_HEADER_BYTES;
  d->type = (uint8_t)(head >> 16);
  d->rate = (uint16_t)head;
  d->sample_count = samples;
  /* PCM is read as one block of all its samples. */
  d->block_samples = d->type == QX_PCM ? samples : geometry >> 16;
  d->block_bytes = (uint16_t)geometry;
  if (loop_start < loop_end && loop_end <= samples) {
    d->loop_start = loop_start;
    d->loop_end = loop_end;
  }
  return d->type == QX_GSM ? QX_ERR_UNSUPPORTED : QX_OK;
}

uint32_t qx_sample_rate(const qx_decoder *d) { return d->rate; }
uint32_t qx_sample_count(const qx_decoder *d) { return d->sample_count; }
uint32_t qx_loop_start(const qx_decoder *d) { return d->loop_start; }
uint32_t qx_loop_end(const qx_decoder *d) { return d->loop_end; }

void qx_rewind(qx_decoder *d) {
  d->now.position = 0;
  d->now.block = 0;
  d->now.index = 0;
  /* Orbel ADPCM's history starts at zero; every other field comes from the
   * first block's header. */
  d->now.channel.sample1 = 0;
  d->now.channel.sample2 = 0;
}

/* Decodes up to `count` samples. Keeps the state at loop_start on the way;
 * a looped read goes back to it once it has delivered sample loop_end - 1
 * (reaching loop_end means having passed loop_start). */
static size_t qx_decode(qx_decoder *d, int16_t *out, size_t count, int looped) {
  qx_cursor *at = &d->now;
  size_t done = 0;
  uint32_t clamps = 0; /* an image's reader has no one to warn */
  if (d->type == QX_GSM) return 0;
  looped = looped && d->loop_end != 0;
  while (done < count) {
    uint32_t stop = d->sample_count, n;
    const uint8_t *block;
    if (looped && at->position == d->loop_end) *at = d->loop_entry;
    if (looped && at->position < d->loop_end) stop = d->loop_end;
    if (at->position >= stop) break;
    n = stop - at->position;
    if (at->position == d->loop_start && d->loop_end != 0) {
      d->loop_entry = *at;
    } else if (at->position < d->loop_start && d->loop_start - at->position < n) {
      n = d->loop_start - at->position;
    }
    if (d->block_samples - at->index < n) n = d->block_samples - at->index;
    if (count - done < n) n = (uint32_t)(count - done);
    block = d->data + at->block;
    if (d->type == QX_PCM) {
      const uint8_t *in = block + 2 * (size_t)at->index;
      uint32_t i;
      for (i = 0; i < n; ++i) out[done + i] = (int16_t)qx_int16_of(in[2 * i], in[2 * i + 1]);
    } else {
#ifdef QX_FAST
      switch (d->type) { /* one specialised run for each format */
        case QX_IMA: qx_run(QX_IMA, block, at->index, out + done, n, &at->channel, &clamps); break;
        case QX_ORBEL: qx_run(QX_ORBEL, block, at->index, out + done, n, &at->channel, &clamps); break;
        default: qx_run(QX_N64, block, at->index, out + done, n, &at->channel, &clamps); break;
      }
#else
      qx_run(d->type, block, at->index, out + done, n, &at->channel, &clamps);
#endif
    }
    done += n;
    at->position += n;
    at->index += n;
    if (at->index == d->block_samples) {
      at->index = 0;
      at->block += d->block_bytes;
    }
  }
  return done;
}

size_t qx_read(qx_decoder *d, int16_t *out, size_t count) { return qx_decode(d, out, count, 0); }

size_t qx_read_looped(qx_decoder *d, int16_t *out, size_t count) { return qx_decode(d, out, count, 1); }
