// The decoder library on sample images of every block geometry, made from
// the fuzzer's bytes so that their headers mostly agree with their data:
// the first bytes choose the type, blksize, blkdata (up to two past what a
// block holds), the sample count around the blocks present, the loop and
// how many bytes the image lacks or has to spare; the rest is the data,
// repeated to fill. An image qx_open accepts must read, in reads of a
// chosen size, exactly what the block decoders give block by block, and
// every block decoder is also called on one block alone with a chosen
// count. The decoder is reused from a looped image each time, so an old
// loop must never play.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "quarlix_decode.h"

namespace {

constexpr size_t kPrefix = 16;
constexpr size_t kMaxDataBytes = 1 << 16;

struct ImageType {
  uint8_t type;
  uint32_t headerBytes;
  uint32_t headerSamples;
};

// PCM (2-byte blocks of one sample), IMA, GSM (65 bytes, 320 samples),
// Orbel, N64, and Microsoft ADPCM, which no image may carry.
constexpr std::array<ImageType, 6> kTypes = {{{1, 0, 0}, {3, 4, 1}, {4, 65, 320}, {5, 2, 0}, {6, 5, 2}, {2, 7, 2}}};
constexpr std::array<uint16_t, 6> kLargeBlocks = {255, 256, 1024, 4096, 65535, 65};

uint32_t word16(const uint8_t* at) { return at[0] | at[1] << 8; }

uint32_t capacityOf(const ImageType& t, uint32_t blockBytes) {
  if (t.type == 1) return 1;
  if (t.type == 4) return 320;
  return blockBytes < t.headerBytes ? 0 : 2 * (blockBytes - t.headerBytes) + t.headerSamples;
}

void putBE(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

size_t decodeBlock(uint8_t type, const uint8_t* block, size_t size, int16_t* out, size_t count,
                   qx_orbel_history& history) {
  switch (type) {
    case 3: return qx_ima_decode_block(block, size, out, count);
    case 5: return qx_orbel_decode_block(block, size, out, count, &history);
    default: {
      uint32_t clamps = 0;
      return qx_n64_decode_block(block, size, out, count, &clamps);
    }
  }
}

// Every block decoder on one block of `size` bytes alone (an exact copy, so
// ASan sees a read past it), for a chosen count: it decodes no more than
// the block holds and writes no more than it says.
void decodeOneBlock(const std::vector<uint8_t>& data, size_t size, size_t count) {
  std::vector<uint8_t> block(data.begin(), data.begin() + static_cast<long>(std::min(size, data.size())));
  std::vector<int16_t> out(count + 1, 0x5A5A);
  qx_orbel_history history{};
  uint32_t clamps = 0;
  size_t decoded[] = {qx_ima_decode_block(block.data(), block.size(), out.data(), count),
                      qx_ms_decode_block(block.data(), block.size(), out.data(), count),
                      qx_orbel_decode_block(block.data(), block.size(), out.data(), count, &history),
                      qx_n64_decode_block(block.data(), block.size(), out.data(), count, &clamps)};
  for (size_t n : decoded) {
    if (n > count) std::abort();
  }
  if (out[count] != 0x5A5A) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < kPrefix) return 0;
  const ImageType& t = kTypes[bytes[0] % kTypes.size()];
  uint32_t pick = word16(bytes + 1);
  uint32_t blockBytes = pick % 4 == 3 ? kLargeBlocks[(pick >> 2) % kLargeBlocks.size()]
                                      : std::max<uint32_t>(t.headerBytes, 1) - 1 + (pick >> 2) % 90;
  if (t.type == 1 && pick % 8 != 7) blockBytes = 2;
  uint32_t capacity = capacityOf(t, blockBytes);
  uint32_t spbPick = word16(bytes + 3);
  uint32_t blockSamples = spbPick % 2 == 1 ? spbPick >> 1 : (spbPick >> 1) % (capacity + 3);
  size_t blocks = blockBytes == 0 ? 0 : std::min<size_t>(bytes[5] % 40, kMaxDataBytes / blockBytes);
  uint64_t inBlocks = uint64_t{blockSamples} * blocks;
  uint32_t samples = static_cast<uint32_t>(bytes[6] % 4 == 3 ? 0xFFFFFFFFu - bytes[7]
                                                            : inBlocks + bytes[7] % 9 - std::min<uint64_t>(inBlocks, 4));
  // Bytes the data has to spare (0..3 past the blocks) or lacks (1..4).
  int spare = bytes[8] % 8 - 4;
  uint32_t loopStart = static_cast<uint32_t>(word16(bytes + 9) % (uint64_t{samples} + 3));
  uint32_t loopEnd = bytes[11] % 5 == 0 ? 0 : loopStart + bytes[12] % 50;
  size_t chunk = bytes[13] % 61 + 1;

  std::vector<uint8_t> data(blocks * blockBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = size > kPrefix ? bytes[kPrefix + i % (size - kPrefix)] : 0;
  if (spare >= 0) {
    data.insert(data.end(), static_cast<size_t>(spare), 0x33);
  } else {
    data.resize(data.size() - std::min(data.size(), static_cast<size_t>(-spare)));
  }
  decodeOneBlock(data, blockBytes, bytes[14] % (capacity + 3));

  std::vector<uint8_t> image{0x1A, t.type, 0x2B, 0x11};
  putBE(image, blockSamples, 2);
  putBE(image, blockBytes, 2);
  putBE(image, samples, 4);
  putBE(image, loopStart, 4);
  putBE(image, loopEnd, 4);
  image.insert(image.end(), data.begin(), data.end());

  // An earlier sound's loop, on the same decoder.
  static const std::vector<uint8_t> looped = {0x1A, 1, 0, 0, 0, 1, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3,
                                              0, 1, 0, 2, 0, 3, 0, 4};
  qx_decoder decoder;
  if (qx_open(&decoder, looped.data(), looped.size()) != QX_OK) std::abort();
  int status = qx_open(&decoder, image.data(), image.size());
  std::vector<int16_t> straight = readImageStraight(decoder, status, chunk);
  if (status != QX_OK) return 0;

  // The block decoders' samples, block by block; PCM is big-endian.
  std::vector<int16_t> expected(straight.size());
  qx_orbel_history history{};
  for (size_t done = 0, at = 0; done < expected.size(); done += blockSamples, at += blockBytes) {
    size_t count = std::min<size_t>(blockSamples, expected.size() - done);
    if (t.type == 1) {
      for (size_t i = 0; i < expected.size(); ++i) {
        expected[i] = static_cast<int16_t>(data[2 * i] << 8 | data[2 * i + 1]);
      }
      break;
    }
    if (decodeBlock(t.type, data.data() + at, blockBytes, expected.data() + done, count, history) != count) {
      std::abort();
    }
  }
  if (straight != expected) std::abort();

  checkLoopedReads(decoder, straight, chunk);
  return 0;
}
