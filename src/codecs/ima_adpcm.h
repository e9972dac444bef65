// IMA (Intel DVI) ADPCM, FormatTag 17: 4 bits per sample in the WAVE block
// layout, and the jobs that convert a loaded WaveFile to and from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/block_codec_job.h"
#include "codecs/ima_step_table.h"
#include "riff/wave_file.h"

// The codec state, laid out like a block header: predictor, step index and a
// reserved byte.
struct ImaState {
  int16_t predictor = 0;
  int8_t stepIndex = 0;  // 0..88
  uint8_t reserved = 0;
};

inline constexpr size_t kImaHeaderBytes = 4;

// The decoder's signed predictor change and the next step index for every
// step index and code, so a decoded sample costs one lookup.
struct ImaDecodeStep {
  int32_t change;
  int32_t nextIndex;
};
using ImaDecodeTable = std::array<std::array<ImaDecodeStep, 16>, kImaMaxStepIndex + 1>;
extern const ImaDecodeTable kImaDecodeTable;

// Writes the 4-byte block header of state.
void imaStoreHeader(uint8_t* header, const ImaState& state);

// The state a block header starts from; an index beyond the table is
// bounded to its last entry.
ImaState imaLoadHeader(const uint8_t* header);

// The block layout, fmt and refusal name the shared job steps work from.
inline constexpr BlockCodec kImaAdpcmCodec = {kFormatImaAdpcm, "IMA Adpcm", kImaHeaderBytes, 1, kBlockFormatSize, 2};


// Encodes every input sample into a 4-bit code, earlier code in the low
// nibble; an odd last code has a zero high nibble. `codes` must hold
// (count + 1) / 2 bytes; samples whose codes would not fit are not encoded.
void imaEncode(std::span<const int16_t> input, std::span<uint8_t> codes, ImaState& state);

// Encodes a whole block: its first sample into the header with the step
// index state holds, the others into codes; state leaves with the block's
// last predictor and index.
void imaEncodeBlock(std::span<const int16_t> samples, std::span<uint8_t> block, ImaState& state);

// Decodes one code per output sample, low nibble first. Output samples that
// `codes` holds no nibble for are left untouched.
void imaDecode(std::span<const uint8_t> codes, std::span<int16_t> output, ImaState& state);

// The conversion jobs: 0, or the reported negative code (the record is then
// left as it was).
int32_t compressIma(WaveFile& wave);
int32_t decompressIma(WaveFile& wave);
