#include "support/wave_records.h"

#include <cstring>

#include "riff/byte_order.h"

namespace {

void fill(HeapBlock& block, ChunkInfo& descriptor, uint32_t ckid, const Bytes& contents) {
  block.allocate(contents.size());
  if (!contents.empty()) std::memcpy(block.data(), contents.data(), contents.size());
  descriptor = {ckid, static_cast<uint32_t>(contents.size()), 0, 0, 0};
}

}  // namespace

WaveFile waveRecord(const Bytes& fmt, const std::optional<Bytes>& fact, const Bytes& data) {
  WaveFile wave;
  fill(wave.fmt, wave.fmtChunk, kFourCCFmt, fmt);
  if (fact) fill(wave.fact, wave.factChunk, kFourCCFact, *fact);
  fill(wave.data, wave.dataChunk, kFourCCData, data);
  return wave;
}

WaveFile pcmRecord(const std::vector<int16_t>& samples, uint32_t rate) {
  return waveRecord(pcmFormat(1, rate, 16), std::nullopt, pcm16Contents(samples));
}

WaveFile blockRecord(uint16_t tag, uint16_t blockAlign, uint16_t samplesPerBlock, uint32_t factCount,
                     const Bytes& data, uint16_t channels, uint16_t bits, size_t fmtBytes) {
  Bytes fmt = formatContents(tag, channels, 22050, 11025, blockAlign, bits);
  appendLE16(fmt, 2);
  appendLE16(fmt, samplesPerBlock);
  fmt.resize(fmtBytes);
  Bytes fact = factContents(factCount);
  return waveRecord(fmt, fact, data);
}

Bytes recordBytes(const HeapBlock& block) { return Bytes(block.data(), block.data() + block.size()); }

std::vector<int16_t> recordSamples(const WaveFile& wave) {
  return pcm16FromBytes(wave.data.data(), wave.data.size() / 2);
}
