// Orbel ADPCM-N64 (FormatTag 0x2003): a per-block second-order predictor with
// the IMA step table, in blocks that each stand alone (big-endian header with
// the first two samples in full).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
#include "codecs/lane_vectors.h"
#include "quarlix_codec_rules.h"
#include "riff/wave_file.h"

inline constexpr size_t kN64HeaderBytes = 5;

// The block layout, fmt and refusal name the shared job steps work from.
inline constexpr BlockCodec kOrbelAdpcmN64Codec = {kFormatOrbelAdpcmN64, "Olbek's AdpcmN64", kN64HeaderBytes, 2, kBlockFormatSize, 2};
inline constexpr int32_t kN64DefaultBlockBytes = 68;
inline constexpr int32_t kN64MaxBlockBytes = 1024;
inline constexpr int kN64Sets = QX_N64_PAIRS;

// Samples a block of blockBytes holds: two in the header, two codes a byte.
constexpr size_t orbelN64SamplesPerBlock(size_t blockBytes) { return 2 * blockBytes - 8; }

// Decodes samples.size() samples from block through the device library;
// block holds the header and the codes they need. Prints the decompression
// warning for every time the step index would have passed 88.
void orbelN64DecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples);

// Decodes the blocks (of blockBytes, samplesPerBlock samples each, which a
// block holds) into `samples`, the last block cut to the samples that
// remain: the device library's samples, several blocks at a time. Returns
// how often the step index would have passed 88; prints nothing.
uint32_t decodeOrbelN64Blocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                              std::span<int16_t> samples);

// qx_n64_next_index in every lane, for the encoder's side-by-side trials:
// the change by the code's magnitude (-1 up to 3, then 2, 4, 6, 8 and, for
// -8 only, 10); `passed` marks the lanes held at 88.
[[gnu::always_inline]] inline Lanes n64NextIndexLanes(Lanes index, Lanes code, LaneMask& passed) {
  Lanes size = laneAbs(code);
  Lanes next = laneMax(index + select(size <= 3, splat(-1), (size - 3) << 1), splat(0));
  passed = next > QX_IMA_MAX_INDEX;
  return laneMin(next, splat(QX_IMA_MAX_INDEX));
}

// The starting step index (0 to 88) that pair (c1, c2) would use for a block
// beginning with the five samples x[0..4].
int32_t orbelN64EstimateIndex(int32_t c1, int32_t c2, std::span<const int16_t> x);

// Trial encodings of one block, run side by side, each with its own
// coefficient set and starting step index.
struct OrbelN64Trials {
  int32_t set[kLaneCount];
  int32_t firstIndex[kLaneCount];
  uint32_t errorTotal[kLaneCount];
  uint32_t indexWarnings[kLaneCount];  // times the step index would have passed 88
  LaneNibbles<orbelN64SamplesPerBlock(kN64MaxBlockBytes) - 2> codes;  // from sample 2 on
};

// Runs the trials that set and firstIndex describe over all input samples
// (at least 2), silently: indexWarnings counts what a warning would report.
void orbelN64RunTrials(std::span<const int16_t> input, OrbelN64Trials& trials);

// The written encoder's trials of all input samples (N even, at least 5):
// lane k is set k % 4 with its estimated index (lanes 4 to 7 repeat them and
// are never chosen). With `warn`, prints the compression warning once for
// every time a trial's step index would pass 88.
void orbelN64EncodeTrials(std::span<const int16_t> input, OrbelN64Trials& trials, bool warn = true);

// A header sample as stored: the nearest multiple of 4 (halves upward), at
// most 32764, the largest the signed header word holds.
int32_t orbelN64HeaderSample(int32_t sample);

// Writes a block's 5 header bytes: the first two input samples as stored,
// the set and the starting index.
void orbelN64StoreHeader(std::span<const int16_t> input, int32_t set, int32_t index, std::span<uint8_t> block);

// Writes the whole block of the written encoder's trial with the smallest
// total (ties keep the lower set) and returns its set.
size_t orbelN64StoreBestTrial(std::span<const int16_t> input, const OrbelN64Trials& trials, std::span<uint8_t> block);

// Whether N samples make a block the encoders take: N even, at least 5, and
// no more than the largest block holds.
bool orbelN64TakesBlockSamples(size_t count);

// Encodes the N input samples (N even, at least 5) into the whole block of
// 5 + (N - 2) / 2 bytes, keeping the best of the four trials; writes nothing
// for another N or a smaller block.
void orbelN64EncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block);

// Encodes whole blocks of samplesPerBlock input samples each (N even, at
// least 5) into consecutive blocks, as orbelN64EncodeBlock does one by one,
// warnings included: eight blocks at a time, one in each vector lane.
// Writes nothing for a samplesPerBlock no block takes.
void orbelN64EncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output);

// The conversion jobs: 0, or the reported failure code with wave untouched.
int32_t compressOrbelAdpcmN64(WaveFile& wave);
int32_t decompressOrbelAdpcmN64(WaveFile& wave);
