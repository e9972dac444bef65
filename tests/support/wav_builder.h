// Builds RIFF WAVE images byte by byte, so tests state exactly what a file
// holds instead of relying on the code under test to write it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void appendLE16(Bytes& out, uint32_t v);
void appendLE32(Bytes& out, uint32_t v);
void appendText(Bytes& out, const std::string& text);
Bytes concat(const std::vector<Bytes>& parts);

// id, size and contents, plus the pad byte for an odd size.
Bytes chunk(const std::string& id, const Bytes& contents);
// A chunk whose stated size is given rather than counted.
Bytes chunkWithSize(const std::string& id, uint32_t statedSize, const Bytes& contents);
// "LIST" (or "RIFF") with its type and sub-chunks.
Bytes listChunk(const std::string& id, const std::string& type, const Bytes& children);

Bytes formatContents(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avgBytes, uint16_t blockAlign,
                     uint16_t bits);
Bytes pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);
// A 40-byte WAVE_FORMAT_EXTENSIBLE fmt whose sub-format GUID stands for
// subTag (1 PCM, 3 float), with `bits` per container.
Bytes extensibleFormat(uint16_t subTag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t validBits);
Bytes pcm16Contents(const std::vector<int16_t>& samples);
Bytes factContents(uint32_t count);
// A smpl chunk's contents with one loop (inclusive end) or none.
Bytes smplContents(uint32_t loopCount, uint32_t type, uint32_t start, uint32_t endInclusive);
Bytes infoComment(const std::string& text);

// "RIFF" size "WAVE" followed by the chunks.
Bytes waveImage(const std::vector<Bytes>& chunks);
Bytes monoPcmWave(const std::vector<int16_t>& samples, uint32_t rate = 22050);

// The contents of the first top-level chunk called `id` of a RIFF WAVE
// image, found by walking the chunks here rather than with the reader under
// test (a stated size past the end is cut to the image). `found` tells
// whether there was one.
Bytes chunkContents(const Bytes& image, const std::string& id, bool* found = nullptr);
uint32_t loadLE32At(const Bytes& bytes, size_t at);

std::vector<int16_t> pcm16FromBytes(const uint8_t* bytes, size_t count);

void writeFileBytes(const std::string& path, const Bytes& bytes);
Bytes readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
