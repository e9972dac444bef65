// IMA (Intel DVI) ADPCM, FormatTag 17: 4 bits per sample in the WAVE block
// layout, and the jobs that convert a loaded WaveFile to and from it. Blocks
// are decoded by the device library (qx_ima_decode_block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
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


// Encodes every input sample into a 4-bit code, earlier code in the low
// nibble; an odd last code has a zero high nibble. `codes` must hold
// (count + 1) / 2 bytes; samples whose codes would not fit are not encoded.
void imaEncode(std::span<const int16_t> input, std::span<uint8_t> codes, ImaState& state);

// The conversion jobs: 0, or the reported negative code (the record is then
// left as it was).
int32_t compressIma(WaveFile& wave);
int32_t decompressIma(WaveFile& wave);
