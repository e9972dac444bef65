#include "support/wave_record.h"

#include <algorithm>
#include <stdexcept>

#include "riff/byte_order.h"

namespace {

void fill(HeapBlock& block, ChunkInfo& descriptor, uint32_t ckid, const Bytes& contents) {
  if (!block.allocate(contents.size())) throw std::runtime_error("out of memory");
  std::copy(contents.begin(), contents.end(), block.data());
  descriptor = {ckid, static_cast<uint32_t>(contents.size()), 0, 0, 0};
}

}  // namespace

WaveFile waveRecord(const Bytes& fmt, const Bytes& data, const Bytes& fact) {
  WaveFile wave;
  fill(wave.fmt, wave.fmtChunk, kFourCCFmt, fmt);
  fill(wave.data, wave.dataChunk, kFourCCData, data);
  if (!fact.empty()) fill(wave.fact, wave.factChunk, kFourCCFact, fact);
  return wave;
}
