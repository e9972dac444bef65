#include "codecs/block_codec_job.h"

#include "app/error_state.h"

int32_t checkCompressible(const WaveFile& wave, const char* codecName) {
  FormatFields format = readFormat(wave);
  if (format.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be compressed to %s !\n", codecName);
  }
  if (format.wFormatTag != kFormatPcm || format.wBitsPerSample != 16) {
    return reportError(kErrorRefused, "Quarlix - Only 16-bit PCM samples can be compressed to %s !\n", codecName);
  }
  return 0;
}

int32_t readBlockLayout(const WaveFile& wave, uint16_t formatTag, uint32_t headerBytes, uint32_t headerSamples,
                        const char* codecName, BlockLayout& layout) {
  FormatFields format = readFormat(wave);
  if (format.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be decompressed from %s !\n", codecName);
  }
  if (format.wFormatTag != formatTag || format.wBitsPerSample != 4) {
    return reportError(kErrorRefused, "Quarlix - Only 4-bit adpcm samples can be decompressed from %s !\n",
                       codecName);
  }
  uint32_t blockBytes = format.nBlockAlign;
  uint32_t samplesPerBlock = format.wSamplesPerBlock;
  uint32_t capacity = blockBytes < headerBytes ? 0 : 2 * (blockBytes - headerBytes) + headerSamples;
  if (!formatHasSamplesPerBlock(wave) || samplesPerBlock == 0 || samplesPerBlock > capacity) {
    return reportError(kErrorRefused, "Quarlix - Invalid block layout in %s file !\n", codecName);
  }
  uint32_t factCount = factSampleCount(wave);
  if (factCount > static_cast<uint32_t>(INT32_MAX)) {
    return reportError(kErrorRefused, "Quarlix - Too many samples in %s file !\n", codecName);
  }
  uint64_t blockSamples = static_cast<uint64_t>(wave.data.size() / blockBytes) * samplesPerBlock;
  layout.blockBytes = blockBytes;
  layout.samplesPerBlock = samplesPerBlock;
  layout.sampleCount = factCount < blockSamples ? factCount : static_cast<uint32_t>(blockSamples);
  return 0;
}
