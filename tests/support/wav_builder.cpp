#include "support/wav_builder.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

void appendLE16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void appendLE32(Bytes& out, uint32_t v) {
  appendLE16(out, v);
  appendLE16(out, v >> 16);
}

void appendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes chunkWithSize(const std::string& id, uint32_t statedSize, const Bytes& contents) {
  Bytes out;
  appendText(out, id);
  appendLE32(out, statedSize);
  out.insert(out.end(), contents.begin(), contents.end());
  if (contents.size() % 2 == 1) out.push_back(0);
  return out;
}

Bytes chunk(const std::string& id, const Bytes& contents) {
  return chunkWithSize(id, static_cast<uint32_t>(contents.size()), contents);
}

Bytes listChunk(const std::string& id, const std::string& type, const Bytes& children) {
  Bytes contents;
  appendText(contents, type);
  contents.insert(contents.end(), children.begin(), children.end());
  return chunk(id, contents);
}

Bytes formatContents(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avgBytes, uint16_t blockAlign,
                     uint16_t bits) {
  Bytes out;
  appendLE16(out, tag);
  appendLE16(out, channels);
  appendLE32(out, rate);
  appendLE32(out, avgBytes);
  appendLE16(out, blockAlign);
  appendLE16(out, bits);
  return out;
}

Bytes pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  return formatContents(1, channels, rate, rate * align, align, bits);
}

Bytes extensibleFormat(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t validBits) {
  uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  Bytes out = formatContents(0xFFFE, channels, rate, rate * align, align, bits);
  appendLE16(out, 22);
  appendLE16(out, validBits);
  appendLE32(out, 0);  // channel mask
  appendLE16(out, subTag);
  for (uint8_t b : {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
    out.push_back(b);
  }
  return out;
}

Bytes pcm16Contents(const std::vector<int16_t>& samples) {
  Bytes out;
  for (int16_t s : samples) appendLE16(out, static_cast<uint16_t>(s));
  return out;
}

Bytes factContents(uint32_t count) {
  Bytes out;
  appendLE32(out, count);
  return out;
}

Bytes smplContents(uint32_t loopCount, uint32_t type, uint32_t start, uint32_t endInclusive) {
  Bytes out(28, 0);
  appendLE32(out, loopCount);
  appendLE32(out, 0);  // sampler data
  if (loopCount > 0) {
    appendLE32(out, 0);  // cue point id
    appendLE32(out, type);
    appendLE32(out, start);
    appendLE32(out, endInclusive);
    appendLE32(out, 0);  // fraction
    appendLE32(out, 0);  // play count
  }
  return out;
}

Bytes infoComment(const std::string& text) {
  Bytes contents;
  appendText(contents, text);
  contents.push_back(0);
  return listChunk("LIST", "INFO", chunk("ICMT", contents));
}

Bytes waveImage(const std::vector<Bytes>& chunks) {
  Bytes body;
  appendText(body, "WAVE");
  Bytes rest = concat(chunks);
  body.insert(body.end(), rest.begin(), rest.end());
  return chunk("RIFF", body);
}

Bytes monoPcmWave(const std::vector<int16_t>& samples, uint32_t rate) {
  return waveImage({chunk("fmt ", pcmFormat(1, rate, 16)), chunk("data", pcm16Contents(samples))});
}

uint32_t loadLE32At(const Bytes& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

Bytes chunkContents(const Bytes& image, const std::string& id, bool* found) {
  for (size_t at = 12; at + 8 <= image.size();) {
    std::string ckid(image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + 4));
    size_t size = std::min<size_t>(loadLE32At(image, at + 4), image.size() - at - 8);
    if (ckid == id) {
      if (found != nullptr) *found = true;
      auto start = image.begin() + static_cast<std::ptrdiff_t>(at + 8);
      return Bytes(start, start + static_cast<std::ptrdiff_t>(size));
    }
    at += 8 + size + (size & 1);
  }
  if (found != nullptr) *found = false;
  return {};
}

std::vector<int16_t> pcm16FromBytes(const uint8_t* bytes, size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  return samples;
}

void writeFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}
