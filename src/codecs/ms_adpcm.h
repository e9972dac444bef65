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


// qx_ms_next_delta in every lane, for the encoder's side-by-side trials. An
// encoder's delta never passes 98301 (it grows only while a difference of
// at most 131070 is 4 deltas or more), so the products stay far inside 32
// bits and need none of the decoder's bounding.
[[gnu::always_inline]] inline Lanes msNextDeltaLanes(Lanes delta, Lanes code) {
  return laneMax((adaptationFactor(code) * delta) >> 8, splat(QX_MS_MIN_DELTA));
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

// Decodes one block into output.size() samples through the device library,
// always with the standard pairs; a predictor byte beyond them selects the
// first pair. Samples that the block holds no code for are left untouched.
void msAdpcmDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> output);

// The conversion jobs: 0, or the reported negative code (the record is then
// left as it was).
int32_t compressMsAdpcm(WaveFile& wave);
int32_t decompressMsAdpcm(WaveFile& wave);
