// Orbel ADPCM (FormatTag 0x2000): second-order prediction with a per-block
// coefficient set, a free step scaled after every code, and a history that
// runs on from block to block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/lane_vectors.h"
#include "codecs/block_codec_job.h"
#include "riff/wave_file.h"

// The last two samples of the stream so far; (0, 0) before the first block.
struct AdpcmHistory {
  int16_t sample1 = 0;  // the most recent
  int16_t sample2 = 0;  // the one before
};

inline constexpr size_t kOrbelHeaderBytes = 2;

// The block layout, fmt and refusal name the shared job steps work from.
inline constexpr BlockCodec kOrbelAdpcmCodec = {kFormatOrbelAdpcm, "Olbek's Adpcm", kOrbelHeaderBytes, 0, kBlockFormatSize, 2};
inline constexpr int32_t kOrbelDefaultBlockBytes = 32;
inline constexpr int32_t kOrbelMaxBlockBytes = 1024;
inline constexpr int kOrbelEncoderSets = 7;  // set 7 (predict 0) is decoded, never chosen

struct OrbelPair {
  int32_t a;  // times the most recent sample, in 1/256
  int32_t b;  // times the one before
};

// The coefficient sets a block header selects.
inline constexpr std::array<OrbelPair, 8> kOrbelPairs = {{
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}, {0, 0},
}};

inline constexpr int32_t kOrbelStepFloor = 8;
// Damaged blocks can make the step grow on every code; this ceiling keeps the
// arithmetic defined. The written encoder's steps stay below 65536, so it
// never reaches it and both ends stay in step.
inline constexpr int32_t kOrbelStepCeiling = 1 << 20;

// The step after a code: scaled by the code's adaptation factor, held
// between the floor and the ceiling.
int32_t orbelAdaptStep(int32_t step, int32_t code);

// orbelAdaptStep in every lane.
[[gnu::always_inline]] inline Lanes orbelAdaptStepLanes(Lanes step, Lanes code) {
  return laneClamp((step * adaptationFactor(code)) >> 8, kOrbelStepFloor, kOrbelStepCeiling);
}

// Samples a block of blockBytes holds.
constexpr size_t orbelSamplesPerBlock(size_t blockBytes) { return 2 * (blockBytes - kOrbelHeaderBytes); }
// Bytes a block's header and codes take for count samples.
constexpr size_t orbelCodedBytes(size_t count) { return kOrbelHeaderBytes + (count + 1) / 2; }

// Decodes samples.size() samples from block, which holds at least
// orbelCodedBytes(samples.size()) bytes.
void orbelDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples, AdpcmHistory& history);

// The starting step that set (a, b) would use for a block beginning with the
// five samples x[0..4]; at least 8.
int32_t orbelEstimateStep(int32_t a, int32_t b, std::span<const int16_t> x);

// Trial encodings of one block, run side by side from the same history,
// each with its own coefficient set and starting step.
struct OrbelTrials {
  int32_t set[kLaneCount];
  int32_t firstStep[kLaneCount];       // the step of each trial's header word
  uint32_t errorTotal[kLaneCount];
  AdpcmHistory ending[kLaneCount];     // the last two reconstructed samples
  LaneNibbles<orbelSamplesPerBlock(kOrbelMaxBlockBytes)> codes;
};

// Runs the trials that set and firstStep describe over count samples.
void orbelRunTrials(std::span<const int16_t> input, size_t count, const AdpcmHistory& history, OrbelTrials& trials);

// The written encoder's trials of count samples (input as for
// orbelEncodeBlock) from history: lane k is set k with its estimated step
// (lane 7 repeats set 0 and is never chosen).
void orbelEncodeTrials(std::span<const int16_t> input, size_t count, const AdpcmHistory& history,
                       OrbelTrials& trials);

// Encodes count samples (1 to the block's capacity) into block, keeping the
// best of the trials. input must hold at least max(count, 5) samples; only
// orbelCodedBytes(count) bytes of block are written.
void orbelEncodeBlock(std::span<const int16_t> input, std::span<uint8_t> block, size_t count,
                      AdpcmHistory& history);

// The conversion jobs: 0, or the reported failure code with wave untouched.
int32_t compressOrbelAdpcm(WaveFile& wave);
int32_t decompressOrbelAdpcm(WaveFile& wave);
