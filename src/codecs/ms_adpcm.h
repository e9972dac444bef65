// Microsoft ADPCM, FormatTag 2: two-sample linear prediction with a
// coefficient pair chosen per block and an adaptive step, 4 bits per sample,
// and the jobs that convert a loaded WaveFile to and from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
#include "codecs/lane_vectors.h"
#include "quarlix_codec_rules.h"
#include "riff/wave_file.h"

// The first coefficient weighs the newer history sample, the second the older.
struct MsAdpcmPair {
  int32_t c1;
  int32_t c2;
};

inline constexpr size_t kMsAdpcmHeaderBytes = 7;

// The block layout, fmt (with wNumCoef and the seven pairs) and refusal
// name the shared job steps work from.
inline constexpr BlockCodec kMsAdpcmCodec = {kFormatMsAdpcm, "Microsoft Adpcm", kMsAdpcmHeaderBytes, 2, 50, 32};
inline constexpr size_t kMsAdpcmMaxBlockBytes = 1024;
inline constexpr size_t kMsAdpcmMaxBlockSamples = 2036;  // what 1024 bytes hold


// qx_ms_next_delta in every lane, over every delta a block can hold or
// reach (-32768 to QX_MS_MAX_DELTA). The product factor * delta can pass 32
// bits; it is taken in two parts, by the delta's high bits and its low 8,
// which gives the same quotient by 256 exactly.
[[gnu::always_inline]] inline Lanes msNextDeltaLanes(Lanes delta, Lanes code) {
  Lanes factor = adaptationFactor(code);
  Lanes next = factor * (delta >> 8) + ((factor * (delta & 255)) >> 8);
  return laneClamp(next, QX_MS_MIN_DELTA, QX_MS_MAX_DELTA);
}

// The encoder's code in every lane: difference / delta truncated toward
// zero, limited to -8..7. Taken in single precision, which holds both
// exactly; for a quotient below 8 its rounding never reaches the next
// integer (that would take delta * 8 >= 2^24), so truncating it gives the
// integer quotient. Exact for |difference| < 2^24 and 0 < delta < 2^21.
[[gnu::always_inline]] inline Lanes msAdpcmCodeLanes(Lanes difference, Lanes delta) {
  FloatLanes quotient = __builtin_convertvector(difference, FloatLanes) / __builtin_convertvector(delta, FloatLanes);
  return laneClamp(__builtin_convertvector(quotient, Lanes), -8, 7);
}

// Every pair's trial of one block, each in its own lane (lane 7 repeats
// pair 0 and is never chosen): the codes of every sample and the error sums.
struct MsAdpcmTrials {
  int32_t firstDelta[kLaneCount];
  uint32_t err[kLaneCount];
  LaneNibbles<kMsAdpcmMaxBlockSamples - 2> codes;  // from sample 2 on
};

// Runs the trials from firstDelta over all input samples. The written
// encoder truncates each difference to its code; with `nearest` the code is
// the one nearest the difference instead.
void msAdpcmRunTrials(std::span<const int16_t> input, MsAdpcmTrials& trials, bool nearest);

// The first step of a block for `pair`, estimated from its first five
// samples; samples beyond the end of `input` count as 0.
int32_t msAdpcmInitialDelta(MsAdpcmPair pair, std::span<const int16_t> input);

// Writes a block's 7 header bytes: the pair's index, the first step and
// the first two input samples (0 where the input has none).
void msAdpcmStoreHeader(std::span<const int16_t> input, size_t pair, int32_t delta, std::span<uint8_t> block);

// Encodes all input samples (1 to kMsAdpcmMaxBlockSamples) as one block with
// the coefficient pair that reconstructs them best. Writes and returns
// 7 + (count - 1) / 2 bytes, or writes nothing and returns 0 when the count
// is out of range or `block` is too small for it.
size_t msAdpcmEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block);

// Encodes whole blocks of samplesPerBlock input samples each into blocks of
// blockBytes (which hold them exactly), as msAdpcmEncodeBlock does one by
// one: eight blocks at a time, one in each vector lane.
void msAdpcmEncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output,
                         size_t blockBytes);

// Decodes one block into output.size() samples through the device library,
// always with the standard pairs; a predictor byte beyond them selects the
// first pair. Samples that the block holds no code for are left untouched.
void msAdpcmDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> output);

// Decodes the blocks (of blockBytes, samplesPerBlock samples each, which a
// block holds) into `samples`, the last block cut to the samples that
// remain: msAdpcmDecodeBlock's samples, several blocks at a time.
void decodeMsAdpcmBlocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                         std::span<int16_t> samples);

// The conversion jobs: 0, or the reported negative code (the record is then
// left as it was).
int32_t compressMsAdpcm(WaveFile& wave);
int32_t decompressMsAdpcm(WaveFile& wave);
