// WAV files of every block geometry, made consistent from the fuzzer's
// bytes. Mutating a whole file rarely gives a fmt whose sizes agree, so the
// paths that assume a geometry (lanes of blocks, runs of blocks, whole-block
// fast paths) stayed out of reach. Here the first bytes choose the format,
// nBlockAlign, wSamplesPerBlock, fact, the block count, a trailing partial
// block and a loop, the rest is the data, repeated to fill. Block files go
// through decoding with every output; PCM files through every encoder at a
// chosen -b, written and searched, and back.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_job.h"
#include "fuzz_support.h"
#include "support/block_format_wave.h"

namespace {

struct Layout {
  uint16_t tag;
  uint32_t headerBytes;    // the smallest block that holds a header
  uint32_t headerSamples;  // samples the header holds whole
};

// GSM 06.10 has no header: 65 bytes hold 320 samples, a block of another
// size none that the decoder takes.
constexpr std::array<Layout, 5> kLayouts = {{
    {17, 4, 1},       // IMA ADPCM
    {2, 7, 2},        // Microsoft ADPCM
    {0x2000, 2, 0},   // Orbel ADPCM
    {0x2003, 5, 2},   // Orbel ADPCM-N64
    {49, 65, 320},    // GSM 06.10
}};
constexpr std::array<uint32_t, 6> kLargeBlocks = {255, 256, 1024, 4096, 65535, 65};
struct Encoder {
  const char* option;
  uint32_t headerBytes;
  uint32_t headerSamples;
};
constexpr std::array<Encoder, 4> kEncoders = {{
    {"-c", 2, 0}, {"-cadpcmn64", 5, 2}, {"-cadpcmima", 4, 1}, {"-cadpcmms", 7, 2}}};
constexpr size_t kPrefix = 16;
constexpr size_t kMaxDataBytes = 1 << 16;

const std::vector<std::vector<const char*>> kDecodeSets = {
    {"-d"}, {"-d", "-ob"}, {"-d", "-oc"}, {"-d", "-or", "-rl"}, {"-d", "-tu"}, {"-d", "-ta", "-ob"},
};

uint32_t word16(const uint8_t* at) { return at[0] | at[1] << 8; }
uint32_t word32(const uint8_t* at) { return word16(at) | word16(at + 2) << 16; }

uint32_t capacityOf(const Layout& layout, uint32_t blockBytes) {
  if (layout.tag == 49) return blockBytes / 65 * 320;
  return blockBytes < layout.headerBytes ? 0 : 2 * (blockBytes - layout.headerBytes) + layout.headerSamples;
}

// Samples counted from a chosen count of blocks: below, on and above it.
uint32_t factOf(uint8_t mode, uint32_t raw, uint64_t samplesInBlocks) {
  switch (mode % 8) {
    case 0: return static_cast<uint32_t>(samplesInBlocks - std::min<uint64_t>(samplesInBlocks, raw % 9));
    case 1: return static_cast<uint32_t>(samplesInBlocks);
    case 2: return static_cast<uint32_t>(samplesInBlocks + raw % 9);
    case 3: return 0;
    case 4: return 0x7FFFFFFF;
    case 5: return 0xFFFFFFFF;
    default: return raw;
  }
}

Bytes filled(size_t count, const uint8_t* data, size_t size) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = size == 0 ? static_cast<uint8_t>(i * 37 + 11) : data[i % size];
  return bytes;
}

// A loop chosen around the sample count, inside it or not, as smpl or as
// the INFO comment the reader also takes.
std::vector<Bytes> loopChunks(const uint8_t* at, uint64_t sampleCount) {
  uint32_t start = static_cast<uint32_t>(word16(at) % (sampleCount + 3));
  uint32_t end = static_cast<uint32_t>(start + at[2] % 40);
  switch (at[3] % 3) {
    case 0: return {};
    case 1: return {chunk("smpl", smplContents(1, 0, start, end))};
    default: return {infoComment(std::to_string(start) + " " + std::to_string(end))};
  }
}

void runOptions(const std::vector<const char*>& options, const Bytes& image) {
  writeScratchFile("input.wav", image.data(), image.size());
  resetProgramState();
  for (const char* option : options) {
    char text[32];
    std::strncpy(text, option, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    parseOption(text);
  }
  processFile("input.wav");
}

void fuzzBlockFile(const uint8_t* bytes, const uint8_t* data, size_t dataSize) {
  const Layout& layout = kLayouts[bytes[0] % kLayouts.size()];
  uint32_t pick = word16(bytes + 1);
  uint32_t blockBytes = pick % 4 == 3 ? kLargeBlocks[(pick >> 2) % kLargeBlocks.size()]
                                      : std::max<uint32_t>(layout.headerBytes, 1) - 1 + (pick >> 2) % 90;
  if (blockBytes == 0) blockBytes = 1;
  uint32_t capacity = capacityOf(layout, blockBytes);
  uint32_t spbPick = word16(bytes + 3);
  uint32_t samplesPerBlock = spbPick % 2 == 1 ? spbPick >> 1 : (spbPick >> 1) % (capacity + 3);
  size_t blocks = std::min<size_t>(bytes[5] % 40, kMaxDataBytes / blockBytes);
  if (blocks == 0 && blockBytes > kMaxDataBytes) blocks = 1;
  size_t partial = bytes[6] % blockBytes;
  if (bytes[6] & 0x80) partial = 0;
  uint64_t inBlocks = uint64_t{samplesPerBlock} * blocks;
  uint32_t fact = factOf(bytes[7], word32(bytes + 8), inBlocks);
  Bytes blockData = filled(blocks * blockBytes + partial, data, dataSize);
  Bytes image = blockFormatWave(layout.tag, 8000 + bytes[12] * 100u, static_cast<uint16_t>(blockBytes),
                                static_cast<uint16_t>(samplesPerBlock), fact, blockData,
                                loopChunks(bytes + 12, std::min<uint64_t>(fact, inBlocks)));
  for (const std::vector<const char*>& options : kDecodeSets) runOptions(options, image);
}

// PCM input of a length around the block and lane boundaries of a -b size.
void fuzzEncoders(const uint8_t* bytes, const uint8_t* data, size_t dataSize) {
  uint32_t blockBytes = 16 + word16(bytes + 1) % 1009;
  const Encoder& encoder = kEncoders[bytes[3] % kEncoders.size()];
  uint32_t perBlock = 2 * (blockBytes - encoder.headerBytes) + encoder.headerSamples;
  int64_t length = int64_t{perBlock} * (bytes[4] % 20) + bytes[5] % 7 - 3;
  length = std::clamp<int64_t>(length, 0, kMaxDataBytes / 2);
  Bytes pcm = filled(static_cast<size_t>(length) * 2, data, dataSize);
  Bytes image = waveImage({chunk("fmt ", pcmFormat(1, 11025, 16)), chunk("data", pcm)});
  std::string size = "-b" + std::to_string(blockBytes);
  runOptions({encoder.option, size.c_str(), "-d"}, image);
  runOptions({encoder.option, size.c_str(), "-ob"}, image);
  if (length <= 2048) runOptions({"-q", encoder.option, size.c_str(), "-d"}, image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  enterFuzzScratch();
  if (size < kPrefix) return 0;
  if (bytes[0] / kLayouts.size() % 4 == 3) {
    fuzzEncoders(bytes, bytes + kPrefix, size - kPrefix);
  } else {
    fuzzBlockFile(bytes, bytes + kPrefix, size - kPrefix);
  }
  return 0;
}
