// Orbel ADPCM (FormatTag 0x2000): second-order prediction with a per-block
// coefficient set, a free step scaled after every code, and a history that
// runs on from block to block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
#include "codecs/lane_vectors.h"
#include "quarlix_codec_rules.h"
#include "quarlix_decode.h"
#include "riff/wave_file.h"

// The last two samples of the stream so far, sample1 the most recent; the
// device library's record, so encoder and decoder hand on the same one.
// Start every stream from a zeroed one: AdpcmHistory history{}.
using AdpcmHistory = qx_orbel_history;

inline constexpr size_t kOrbelHeaderBytes = 2;

// The block layout, fmt and refusal name the shared job steps work from.
inline constexpr BlockCodec kOrbelAdpcmCodec = {kFormatOrbelAdpcm, "Olbek's Adpcm", kOrbelHeaderBytes, 0, kBlockFormatSize, 2};
inline constexpr int32_t kOrbelDefaultBlockBytes = 32;
inline constexpr int32_t kOrbelMaxBlockBytes = 1024;
inline constexpr int kOrbelEncoderSets = 7;  // set 7 (predict 0) is decoded, never chosen

// Samples a block of blockBytes holds.
constexpr size_t orbelSamplesPerBlock(size_t blockBytes) { return 2 * (blockBytes - kOrbelHeaderBytes); }
// Bytes a block's header and codes take for count samples.
constexpr size_t orbelCodedBytes(size_t count) { return kOrbelHeaderBytes + (count + 1) / 2; }

// Decodes samples.size() samples from block through the device library;
// block holds at least orbelCodedBytes(samples.size()) bytes.
void orbelDecodeBlock(std::span<const uint8_t> block, std::span<int16_t> samples, AdpcmHistory& history);

// qx_orbel_next_step in every lane, for the encoders' side-by-side trials,
// from the code's adaptation factor.
[[gnu::always_inline]] inline Lanes orbelScaledStepLanes(Lanes step, Lanes factor) {
  return laneClamp((step * factor) >> 8, QX_ORBEL_STEP_FLOOR, QX_ORBEL_STEP_CEILING);
}

// qx_orbel_next_step in every lane, from the code.
[[gnu::always_inline]] inline Lanes orbelNextStepLanes(Lanes step, Lanes code) {
  return orbelScaledStepLanes(step, adaptationFactor(code));
}

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

// Runs the trials that set and firstStep describe over count samples from
// history.
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
