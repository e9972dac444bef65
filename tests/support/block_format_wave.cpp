#include "support/block_format_wave.h"

Bytes blockFormatContents(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t samplesPerBlock,
                          uint16_t bits) {
  uint32_t avgBytes = samplesPerBlock == 0 ? 0 : rate / samplesPerBlock * blockAlign;
  if (bits == kBitsOfTag) bits = tag == 49 ? 0 : 4;
  Bytes fmt = formatContents(tag, 1, rate, avgBytes, blockAlign, bits);
  appendLE16(fmt, 2);
  appendLE16(fmt, samplesPerBlock);
  return fmt;
}

Bytes blockFormatWave(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t samplesPerBlock,
                      uint32_t factCount, const Bytes& data, const std::vector<Bytes>& more) {
  std::vector<Bytes> chunks = {chunk("fmt ", blockFormatContents(tag, rate, blockAlign, samplesPerBlock)),
                               chunk("fact", factContents(factCount)), chunk("data", data)};
  chunks.insert(chunks.end(), more.begin(), more.end());
  return waveImage(chunks);
}

Bytes patternBytes(size_t count) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  return bytes;
}
