/* quarlix_decode: plays the sample images that quarlix writes, on any CPU.
 *
 * WHAT IT DECODES
 *   The image that `quarlix -ob` writes to a .bin file (and, byte for byte,
 *   the array that `quarlix -oc` writes to a .c file): a 20-byte header, then
 *   the sample data, then up to 3 zero bytes. Every header field is
 *   big-endian:
 *     offset 0  1 byte   head     always 0x1A
 *            1  1 byte   type     1 16-bit PCM (high byte first), 3 IMA ADPCM,
 *                                 4 GSM 06.10, 5 Orbel ADPCM, 6 Orbel ADPCM-N64
 *            2  2 bytes  freq     sample rate in Hz (its low 16 bits)
 *            4  2 bytes  blkdata  samples per block (1 for PCM)
 *            6  2 bytes  blksize  bytes per block (2 for PCM)
 *            8  4 bytes  samples  number of samples
 *           12  4 bytes  loop1st  first sample of the loop
 *           16  4 bytes  loopend  one past the loop's last sample; 0: no loop
 *   Types 1, 3, 5 and 6 are decoded. Type 4 is reported as unsupported: hand
 *   its data (65-byte blocks of 320 samples, WAV49 packing) to libgsm.
 *   Output is always signed 16-bit mono samples in the CPU's own order.
 *
 * USE
 *     static qx_decoder dec;                  // or on the stack: all state
 *     if (qx_open(&dec, image, image_size) != QX_OK) { ... }
 *     rate = qx_sample_rate(&dec);
 *     while ((n = qx_read_looped(&dec, buf, 256)) > 0) play(buf, n);
 *   qx_open checks the whole header against the image before anything else:
 *   the head byte, a known type, a block geometry that blksize bytes can
 *   hold, and that every byte decoding `samples` samples will read lies
 *   within `size`. After that no call reads outside the image, whatever it
 *   holds. On QX_ERR_FORMAT the decoder is empty (it reads 0 samples, every
 *   accessor gives 0); on QX_ERR_UNSUPPORTED (GSM) the accessors give the
 *   header's values and reads give 0 samples.
 *   A loop that does not lie inside the samples (loop1st < loopend <=
 *   samples) is ignored: qx_loop_start and qx_loop_end then give 0.
 *
 *   qx_read writes the next samples in order to `out` and returns how many
 *   it wrote: fewer than `count` only at the end of the samples. Reads of any
 *   sizes give the same samples as one read of them all.
 *   qx_read_looped is the same, except that after delivering sample
 *   loop_end - 1 it goes on at loop_start, for ever: it then always returns
 *   `count`. Every pass repeats exactly the samples loop_start ..
 *   loop_end - 1 of the straight decoding: the decoder keeps the state it
 *   had at loop_start and restarts from it, so even Orbel ADPCM, whose
 *   blocks carry history, never decodes from the start again. Without a
 *   loop it is qx_read. qx_read never loops: to play the loop N times and
 *   then the rest, read looped up to loop_end + (N - 1) x (loop length)
 *   samples, then go on with qx_read (examples/play.c does).
 *   qx_rewind goes back to the first sample, to play the sound again.
 *   Damaged sample data under a valid header decodes to some samples and
 *   no harm. Several decoders may read one image at once.
 *
 * THE TARGET
 *   C99, compiles unchanged as C++; add quarlix_decode.c to the build (it
 *   includes quarlix_codec_rules.h). It needs nothing but <stdint.h> and
 *   <stddef.h>: no allocation, no stdio, no floating point, no mutable
 *   globals. Every call works only on the qx_decoder it is given, so decoders
 *   for several voices (or threads) never meet; the struct is complete here
 *   so that it can be placed statically. The image is read as bytes (it may
 *   sit at any address, in ROM), so results are the same on little- and
 *   big-endian CPUs of 16, 32 and 64 bits. Signed right shifts must be
 *   arithmetic, as with every common compiler (quarlix_codec_rules.h refuses
 *   to compile otherwise).
 *   Built with -Os for a Cortex-M0 the code is under 2 KiB, with no static
 *   data; it calls libgcc's unsigned division (in qx_open only) and 64-bit
 *   multiply (in the Microsoft ADPCM block decoder only), and takes under
 *   200 bytes of stack. sizeof(qx_decoder) is 76 bytes on 32-bit CPUs, 80
 *   on 64-bit ones. Defining QX_FAST adds host fast paths (larger loops, a
 *   5.7 KiB table) that decode the very same samples.
 *
 * THE BLOCK DECODERS
 *   For callers that keep the blocks of a WAV file, each ADPCM format's
 *   block decoder: `block` holds `block_size` bytes (nBlockAlign), and up
 *   to `count` samples are decoded from it into `out`: as many as the block
 *   holds, which the return value gives (0 for a block shorter than its
 *   header). Microsoft ADPCM is among them, though no image carries it; it
 *   always predicts with the seven standard coefficient pairs (a pair byte
 *   past them selects the first), whatever the WAV's fmt lists. An IMA or
 *   N64 header's step index past 88 is taken as 88. Orbel ADPCM carries its history from block to block: start
 *   from a zeroed qx_orbel_history and pass every block in order. Orbel
 *   ADPCM-N64 adds to *index_clamps every time the step index would have
 *   passed 88 (a damaged block; quarlix prints a warning for each). */
#ifndef QUARLIX_DECODE_H
#define QUARLIX_DECODE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { QX_OK = 0, QX_ERR_FORMAT = -1, QX_ERR_UNSUPPORTED = -2 };

/* The members below are private: complete here only so that a decoder can
 * be placed statically or on the stack. */
typedef struct qx_channel {
  int32_t step;    /* IMA and N64: the step index; MS: delta; Orbel: step */
  int16_t sample1; /* the newest sample (IMA: the predictor) */
  int16_t sample2; /* the one before */
  uint8_t pair;    /* the block's coefficient pair */
} qx_channel;

typedef struct qx_cursor {
  uint32_t position; /* samples delivered so far */
  uint32_t block;    /* offset of the current block in the data */
  uint32_t index;    /* the next sample's place in that block */
  qx_channel channel;
} qx_cursor;

typedef struct qx_decoder {
  const uint8_t *data; /* the sample data, after the header */
  uint32_t sample_count;
  uint32_t loop_start;
  uint32_t loop_end;
  uint32_t block_samples; /* PCM: all samples in one block */
  uint16_t block_bytes;
  uint16_t rate;
  uint8_t type; /* 0 when nothing can be read */
  qx_cursor now;
  qx_cursor loop_entry; /* the state on reaching loop_start */
} qx_decoder;

int qx_open(qx_decoder *d, const void *image, size_t size);
uint32_t qx_sample_rate(const qx_decoder *d);  /* the header's freq */
uint32_t qx_sample_count(const qx_decoder *d); /* the header's samples */
uint32_t qx_loop_start(const qx_decoder *d);
uint32_t qx_loop_end(const qx_decoder *d); /* 0: no loop */
size_t qx_read(qx_decoder *d, int16_t *out, size_t count);
size_t qx_read_looped(qx_decoder *d, int16_t *out, size_t count);
void qx_rewind(qx_decoder *d);

/* The last two samples of an Orbel ADPCM stream; zero before the first block. */
typedef struct qx_orbel_history {
  int16_t sample1; /* the most recent */
  int16_t sample2;
} qx_orbel_history;

size_t qx_ima_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count);
size_t qx_ms_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count);
size_t qx_orbel_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count,
                             qx_orbel_history *history);
size_t qx_n64_decode_block(const uint8_t *block, size_t block_size, int16_t *out, size_t count,
                           uint32_t *index_clamps);

#ifdef __cplusplus
}
#endif

#endif
