// What the four ADPCM jobs do alike around their block codecs: check the
// input, plan the blocks, build the fresh record. Each codec is described by
// one constant BlockCodec record.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_record.h"
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

struct BlockCodec {
  uint16_t formatTag;
  const char* name;        // as the refusal messages call it
  uint32_t headerBytes;    // a block's header, before its two codes a byte
  uint32_t headerSamples;  // samples the header holds in full
  uint32_t formatBytes;    // the fmt the compression writes: 20, or more
  uint16_t cbSize;         // its extension bytes
};

// The samples one block of blockBytes holds (at least headerBytes).
constexpr uint32_t samplesPerBlockOf(const BlockCodec& codec, uint32_t blockBytes) {
  return 2 * (blockBytes - codec.headerBytes) + codec.headerSamples;
}

// The -b block size, or the codec's own default.
uint32_t chosenBlockBytes(uint32_t defaultBytes);

struct BlockPlan {
  uint32_t sampleCount;
  uint32_t blockBytes;
  uint32_t samplesPerBlock;
  size_t blockCount;  // compression: blocks to write; decompression: blocks to decode
};

// Refuses input that is not 16-bit mono PCM, then builds the fresh record: the
// block fmt (beyond its 20 bytes left zero for the caller), a fact holding
// the sample count and data for whole blocks of blockBytes, which the
// caller fills completely.
int32_t startBlockCompression(const WaveFile& wave, const BlockCodec& codec, uint32_t blockBytes, WaveFile& fresh,
                              BlockPlan& plan);

// Refuses input that is not this codec's 4-bit mono, and any layout its
// blocks could not be decoded from safely (no wSamplesPerBlock, empty blocks,
// more samples than a block holds, a count no int32 holds); then builds the
// fresh 16-bit PCM record for the fact count bounded by the whole blocks.
int32_t startBlockDecompression(const WaveFile& wave, const BlockCodec& codec, WaveFile& fresh, BlockPlan& plan);

// A whole decompression job: decodeBlocks(blocks, samples, plan) decodes
// every block in order into the samples, the last block cut to the samples
// that remain; then the 16-bit PCM record takes the place of the source. 0,
// or the reported refusal with the source untouched.
template <typename DecodeBlocks>
int32_t decompressBlocks(WaveFile& wave, const BlockCodec& codec, DecodeBlocks decodeBlocks) {
  WaveFile fresh;
  BlockPlan plan;
  if (int32_t result = startBlockDecompression(wave, codec, fresh, plan); result != 0) return result;
  decodeBlocks(wave.data.bytes().first(plan.blockCount * plan.blockBytes), pcmSamples(fresh.data, plan.sampleCount),
               plan);
  installRecord(wave, fresh);
  return 0;
}
