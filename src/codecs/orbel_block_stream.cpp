#include "codecs/orbel_block_stream.h"

#include <bit>

#include "app/error_state.h"
#include "app/job_options.h"

static_assert(std::endian::native == std::endian::little, "16-bit samples are used in place");

uint32_t orbelBlockBytes(uint32_t defaultBytes) {
  return jobOptions.blockSize == 0 ? defaultBytes : static_cast<uint32_t>(jobOptions.blockSize);
}

int32_t checkOrbelCompressInput(const WaveFile& wave, const char* codecName, uint32_t& sampleCount) {
  FormatFields input = readFormat(wave);
  if (input.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be compressed to %s !\n", codecName);
  }
  if (input.wFormatTag != kFormatPcm || input.wBitsPerSample != 16) {
    return reportError(kErrorRefused, "Quarlix - Only 16-bit PCM samples can be compressed to %s !\n", codecName);
  }
  // The reader has set nBlockAlign of 16-bit mono PCM to 2: whole samples only.
  sampleCount = wave.dataChunk.cksize / 2;
  return 0;
}

FormatFields orbelBlockFormat(uint16_t formatTag, const FormatFields& input, uint32_t blockBytes,
                              uint32_t samplesPerBlock) {
  uint32_t blockAlign = input.nChannels * blockBytes;
  // Widened so a hostile sample rate cannot wrap the product.
  uint64_t avgBytes = static_cast<uint64_t>(blockAlign) * input.nSamplesPerSec / samplesPerBlock;
  return {formatTag,
          input.nChannels,
          input.nSamplesPerSec,
          static_cast<uint32_t>(avgBytes),
          static_cast<uint16_t>(blockAlign),
          4,
          2,
          static_cast<uint16_t>(samplesPerBlock)};
}

int32_t checkOrbelDecompressInput(const WaveFile& wave, uint16_t formatTag, const char* codecName,
                                  uint32_t lostSlots, OrbelBlockStream& stream) {
  FormatFields input = readFormat(wave);
  if (input.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be decompressed from %s !\n", codecName);
  }
  if (input.wFormatTag != formatTag || input.wBitsPerSample != 4) {
    return reportError(kErrorRefused, "Quarlix - Only 4-bit adpcm samples can be decompressed from %s !\n",
                       codecName);
  }
  if (!formatHasSamplesPerBlock(wave)) {
    return reportError(kErrorRefused, "Quarlix - Format chunk too short for %s !\n", codecName);
  }
  int64_t capacity = 2 * static_cast<int64_t>(input.nBlockAlign) - lostSlots;
  if (input.nBlockAlign == 0 || input.wSamplesPerBlock == 0 || input.wSamplesPerBlock > capacity) {
    return reportError(kErrorRefused, "Quarlix - Illegal block layout in %s file !\n", codecName);
  }
  uint32_t factCount = factSampleCount(wave);
  if (factCount > INT32_MAX) {
    return reportError(kErrorRefused, "Quarlix - Illegal sample count in %s file !\n", codecName);
  }
  uint64_t wholeBlocks = wave.dataChunk.cksize / input.nBlockAlign;
  uint64_t held = wholeBlocks * input.wSamplesPerBlock;
  stream.blockBytes = input.nBlockAlign;
  stream.samplesPerBlock = input.wSamplesPerBlock;
  stream.sampleCount = held < factCount ? static_cast<uint32_t>(held) : factCount;
  return 0;
}

std::span<const int16_t> pcmSamples(const HeapBlock& data, size_t count) {
  return {reinterpret_cast<const int16_t*>(data.data()), count};
}

std::span<int16_t> pcmSamples(HeapBlock& data, size_t count) {
  return {reinterpret_cast<int16_t*>(data.data()), count};
}
