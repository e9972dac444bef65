#include "codecs/codec_record.h"

#include <utility>

#include "app/error_state.h"
#include "riff/byte_order.h"

namespace {

// Data that the job fills is not zeroed first.
bool allocateChunk(HeapBlock& block, ChunkInfo& descriptor, uint32_t ckid, size_t size, bool jobFills = false) {
  if (size > UINT32_MAX || !(jobFills ? block.allocateUnfilled(size) : block.allocate(size))) return false;
  descriptor = {ckid, static_cast<uint32_t>(size), 0, 0, 0};
  return true;
}

}  // namespace

int32_t buildBlockRecord(WaveFile& fresh, const FormatFields& fields, uint32_t formatBytes, uint32_t sampleCount,
                         size_t dataBytes) {
  fresh = WaveFile{};
  if (!allocateChunk(fresh.fmt, fresh.fmtChunk, kFourCCFmt, formatBytes) ||
      !allocateChunk(fresh.fact, fresh.factChunk, kFourCCFact, 4) ||
      !allocateChunk(fresh.data, fresh.dataChunk, kFourCCData, dataBytes, true)) {
    fresh = WaveFile{};
    return reportNoMemory();
  }
  storeFormat(fresh.fmt.data(), fields, kBlockFormatSize);
  storeLE32(fresh.fact.data(), sampleCount);
  return 0;
}

int32_t buildPcmRecord(WaveFile& fresh, uint16_t nChannels, uint32_t nSamplesPerSec, uint32_t sampleCount) {
  fresh = WaveFile{};
  uint16_t blockAlign = static_cast<uint16_t>(2 * nChannels);
  size_t dataBytes = static_cast<size_t>(sampleCount) * blockAlign;
  if (!allocateChunk(fresh.fmt, fresh.fmtChunk, kFourCCFmt, kPcmFormatSize) ||
      !allocateChunk(fresh.data, fresh.dataChunk, kFourCCData, dataBytes, true)) {
    fresh = WaveFile{};
    return reportNoMemory();
  }
  FormatFields fields{kFormatPcm, nChannels, nSamplesPerSec, blockAlign * nSamplesPerSec, blockAlign, 16, 0, 0};
  storeFormat(fresh.fmt.data(), fields, kPcmFormatSize);
  return 0;
}

void installRecord(WaveFile& source, WaveFile& fresh) {
  waveCarryOver(source, fresh);
  waveFree(source);
  source = std::move(fresh);
  source.sampleCount = 0;
}
