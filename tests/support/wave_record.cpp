#include "support/wave_record.h"

#include <cstring>
#include <stdexcept>

#include "riff/byte_order.h"

namespace {

void load(HeapBlock& block, ChunkInfo& descriptor, uint32_t ckid, const Bytes& contents) {
  if (!block.allocate(contents.size())) throw std::runtime_error("out of memory");
  if (!contents.empty()) std::memcpy(block.data(), contents.data(), contents.size());
  descriptor = {ckid, static_cast<uint32_t>(contents.size()), 0, 0, 0};
}

}  // namespace

WaveFile waveRecord(const Bytes& fmt, const std::optional<Bytes>& fact, const Bytes& data) {
  WaveFile wave;
  load(wave.fmt, wave.fmtChunk, kFourCCFmt, fmt);
  if (fact) load(wave.fact, wave.factChunk, kFourCCFact, *fact);
  load(wave.data, wave.dataChunk, kFourCCData, data);
  return wave;
}

Bytes blockFormat(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t bits, uint16_t samplesPerBlock) {
  Bytes fmt = formatContents(tag, 1, rate, rate, blockAlign, bits);
  appendLE16(fmt, 2);
  appendLE16(fmt, samplesPerBlock);
  return fmt;
}

Bytes blockBytes(const HeapBlock& block) { return Bytes(block.data(), block.data() + block.size()); }

std::vector<int16_t> pcmOf(const WaveFile& wave) { return pcm16FromBytes(wave.data.data(), wave.data.size() / 2); }
