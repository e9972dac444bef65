// What the IMA and Microsoft ADPCM jobs check alike: the PCM they accept,
// the block files they accept, and how many samples such a file yields.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/wave_file.h"

// 16-bit PCM data is used in place as int16 samples: WAV is little-endian,
// and so is every host this builds for.
static_assert(std::endian::native == std::endian::little);
inline std::span<const int16_t> pcmSamples(const HeapBlock& data, size_t count) {
  return {reinterpret_cast<const int16_t*>(data.data()), count};
}
inline std::span<int16_t> pcmSamples(HeapBlock& data, size_t count) {
  return {reinterpret_cast<int16_t*>(data.data()), count};
}

// 0 when the record is 16-bit mono PCM, else the reported refusal that
// names the codec ("IMA Adpcm", "Microsoft Adpcm").
int32_t checkCompressible(const WaveFile& wave, const char* codecName);

struct BlockLayout {
  uint32_t blockBytes;        // nBlockAlign
  uint32_t samplesPerBlock;   // wSamplesPerBlock
  uint32_t sampleCount;       // the fact count, bounded by the whole blocks
};

// Checks a mono 4-bit block file of `formatTag` whose block header holds
// headerSamples samples in headerBytes bytes, followed by two codes a byte.
// A layout the blocks cannot hold, and a count no int32 holds, are refused
// before anything is divided or read.
int32_t readBlockLayout(const WaveFile& wave, uint16_t formatTag, uint32_t headerBytes, uint32_t headerSamples,
                        const char* codecName, BlockLayout& layout);
