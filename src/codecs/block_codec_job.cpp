#include "codecs/block_codec_job.h"

#include <algorithm>

#include "app/error_state.h"
#include "app/job_options.h"
#include "codecs/codec_record.h"

uint32_t chosenBlockBytes(uint32_t defaultBytes) {
  return jobOptions.blockSize == 0 ? defaultBytes : static_cast<uint32_t>(jobOptions.blockSize);
}

int32_t startBlockCompression(const WaveFile& wave, const BlockCodec& codec, uint32_t blockBytes, WaveFile& fresh,
                              BlockPlan& plan) {
  errorCode = 0;
  FormatFields input = readFormat(wave);
  if (input.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be compressed to %s !\n", codec.name);
  }
  if (input.wFormatTag != kFormatPcm || input.wBitsPerSample != 16) {
    return reportError(kErrorRefused, "Quarlix - Only 16-bit PCM samples can be compressed to %s !\n", codec.name);
  }
  plan.blockBytes = blockBytes;
  plan.samplesPerBlock = samplesPerBlockOf(codec, blockBytes);
  // The reader has set nBlockAlign of 16-bit mono PCM to 2: whole samples only.
  plan.sampleCount = wave.dataChunk.cksize / 2;
  plan.blockCount = (size_t{plan.sampleCount} + plan.samplesPerBlock - 1) / plan.samplesPerBlock;
  uint32_t blockAlign = input.nChannels * blockBytes;
  // Widened so a hostile sample rate cannot wrap the product.
  uint64_t avgBytes = uint64_t{blockAlign} * input.nSamplesPerSec / plan.samplesPerBlock;
  FormatFields fields{codec.formatTag,
                      input.nChannels,
                      input.nSamplesPerSec,
                      static_cast<uint32_t>(avgBytes),
                      static_cast<uint16_t>(blockAlign),
                      4,
                      codec.cbSize,
                      static_cast<uint16_t>(plan.samplesPerBlock)};
  return buildBlockRecord(fresh, fields, codec.formatBytes, plan.sampleCount, plan.blockCount * blockBytes);
}

int32_t startBlockDecompression(const WaveFile& wave, const BlockCodec& codec, WaveFile& fresh, BlockPlan& plan) {
  errorCode = 0;
  FormatFields input = readFormat(wave);
  if (input.nChannels != 1) {
    return reportError(kErrorRefused, "Quarlix - Only mono samples can be decompressed from %s !\n", codec.name);
  }
  if (input.wFormatTag != codec.formatTag || input.wBitsPerSample != 4) {
    return reportError(kErrorRefused, "Quarlix - Only 4-bit adpcm samples can be decompressed from %s !\n",
                       codec.name);
  }
  uint32_t blockBytes = input.nBlockAlign;
  uint32_t capacity = blockBytes < codec.headerBytes ? 0 : samplesPerBlockOf(codec, blockBytes);
  if (!formatHasSamplesPerBlock(wave) || input.wSamplesPerBlock == 0 || input.wSamplesPerBlock > capacity) {
    return reportError(kErrorRefused, "Quarlix - Invalid block layout in %s file !\n", codec.name);
  }
  uint32_t factCount = factSampleCount(wave);
  if (factCount > static_cast<uint32_t>(INT32_MAX)) {
    return reportError(kErrorRefused, "Quarlix - Too many samples in %s file !\n", codec.name);
  }
  // A trailing partial block is never decoded.
  uint64_t wholeBlocks = wave.data.size() / blockBytes;
  plan.blockBytes = blockBytes;
  plan.samplesPerBlock = input.wSamplesPerBlock;
  plan.sampleCount = static_cast<uint32_t>(std::min<uint64_t>(factCount, wholeBlocks * plan.samplesPerBlock));
  plan.blockCount = (size_t{plan.sampleCount} + plan.samplesPerBlock - 1) / plan.samplesPerBlock;
  return buildPcmRecord(fresh, input.nChannels, input.nSamplesPerSec, plan.sampleCount);
}
