// IMA (Intel DVI) ADPCM, FormatTag 17: 4 bits per sample in the WAVE block
// layout, and the jobs that convert a loaded WaveFile to and from it. Blocks
// are decoded as the device library (qx_ima_decode_block) decodes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
#include "codecs/lane_vectors.h"
#include "quarlix_codec_rules.h"
#include "riff/wave_file.h"

// The codec state, laid out like a block header: predictor, step index and a
// reserved byte.
struct ImaState {
  int16_t predictor = 0;
  int8_t stepIndex = 0;  // 0..88
  uint8_t reserved = 0;
};

inline constexpr size_t kImaHeaderBytes = 4;

// The block layout, fmt and refusal name the shared job steps work from.
inline constexpr BlockCodec kImaAdpcmCodec = {kFormatImaAdpcm, "IMA Adpcm", kImaHeaderBytes, 1, kBlockFormatSize, 2};

// The step index after every index and code, built from the shared rule at
// compile time: looked up, it keeps the encoders' chain from one sample to
// the next short.
inline constexpr auto kImaNextIndex = [] {
  std::array<std::array<uint8_t, 16>, QX_IMA_MAX_INDEX + 1> table{};
  for (int32_t index = 0; index <= QX_IMA_MAX_INDEX; ++index) {
    for (uint32_t code = 0; code < 16; ++code) {
      table[static_cast<size_t>(index)][code] = static_cast<uint8_t>(qx_ima_next_index(index, code));
    }
  }
  return table;
}();

// qx_ima_difference in every lane, for the search encoder's paths.
[[gnu::always_inline]] inline Lanes imaDifferenceLanes(Lanes step, Lanes code) {
  Lanes delta = (step >> 3) + (step & -(code >> 2 & 1)) + (step >> 1 & -(code >> 1 & 1)) + (step >> 2 & -(code & 1));
  return select((code & 8) != 0, -delta, delta);
}

// Writes the 4-byte block header of state.
void imaStoreHeader(uint8_t* header, const ImaState& state);

// qx_ima_next_index in every lane: the change by the code's magnitude (-1
// up to 3, then 2, 4, 6, 8), held within 0..88.
[[gnu::always_inline]] inline Lanes imaNextIndexLanes(Lanes index, Lanes nibble) {
  Lanes size = nibble & 7;
  return laneClamp(index + select(size < 4, splat(-1), (size - 3) << 1), 0, QX_IMA_MAX_INDEX);
}

// Encodes every input sample into a 4-bit code, earlier code in the low
// nibble; an odd last code has a zero high nibble. `codes` must hold
// (count + 1) / 2 bytes; samples whose codes would not fit are not encoded.
void imaEncode(std::span<const int16_t> input, std::span<uint8_t> codes, ImaState& state);

// Encodes a whole block: its first sample into the header with the step
// index state holds, the others into codes; state leaves with the block's
// last predictor and index.
void imaEncodeBlock(std::span<const int16_t> samples, std::span<uint8_t> block, ImaState& state);

// The written encoder in eight lanes, each from its own predictor and step
// index (the -q encoder's judge of a block's start index): every sample
// is encoded, its squared error after decoding added to the lane's error,
// and the lanes leave with their new states, so that a trial may go on
// with the samples that follow.
struct ImaStartTrials {
  int32_t predictor[kLaneCount];
  int32_t stepIndex[kLaneCount];
  uint64_t error[kLaneCount];
};
void imaRunStartTrials(std::span<const int16_t> samples, ImaStartTrials& trials);

// Encodes whole blocks of samplesPerBlock input samples each into blocks
// of blockBytes (which hold them exactly), the step index running on from
// `state` from block to block and left there, as imaEncode does block by
// block: sixteen runs of blocks at a time, side by side in vector lanes.
void imaEncodeBlocks(std::span<const int16_t> input, size_t samplesPerBlock, std::span<uint8_t> output,
                     size_t blockBytes, ImaState& state);

// Decodes the blocks (of blockBytes, samplesPerBlock samples each, which a
// block holds) into `samples`, the last block cut to the samples that
// remain: the samples of the device library's block decoder, several
// blocks at a time.
void decodeImaBlocks(std::span<const uint8_t> blocks, size_t blockBytes, size_t samplesPerBlock,
                     std::span<int16_t> samples);

// The conversion jobs: 0, or the reported negative code (the record is then
// left as it was).
int32_t compressIma(WaveFile& wave);
int32_t decompressIma(WaveFile& wave);
