// Every block decoder directly on arbitrary block bytes and sample counts,
// within what each one's contract allows: byte 0 picks the decoder, bytes 1-2
// the count, bytes 3-6 the history an Orbel ADPCM block starts from. The IMA
// and Microsoft ADPCM decoders bound the count to the block themselves.
// The formats whose blocks stand alone are also decoded as a run of blocks
// of a size byte 3 picks, holding as many samples as byte 4 picks (up to
// all a block holds, down to one), several at a time, which must give the
// library's samples block by block.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "codecs/gsm610.h"
#include "codecs/lane_decoding.h"
#include "codecs/ima_adpcm.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "quarlix_decode.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kPrefix = 7;

template <typename Run, typename Block>
void compareRun(const std::vector<uint8_t>& data, size_t headerBytes, size_t heldSamples, const uint8_t* sizeBytes,
                size_t count, Run run, Block block) {
  size_t blockBytes = headerBytes + 1 + sizeBytes[0] % 48;
  size_t blocks = data.size() / blockBytes;
  size_t capacity = 2 * (blockBytes - headerBytes) + heldSamples;
  size_t perBlock = capacity - sizeBytes[1] % capacity;
  std::vector<int16_t> got(std::min(count, blocks * perBlock)), want(got.size());
  uint32_t gotClamps = run(std::span(data).first(blocks * blockBytes), blockBytes, perBlock, std::span(got));
  uint32_t wantClamps = 0;
  for (size_t done = 0, at = 0; done < want.size(); done += perBlock, at += blockBytes) {
    wantClamps += block(data.data() + at, blockBytes, want.data() + done, std::min(perBlock, want.size() - done));
  }
  if (got != want || gotClamps != wantClamps) std::abort();
}

uint32_t libraryN64(const uint8_t* block, size_t bytes, int16_t* out, size_t count) {
  uint32_t clamps = 0;
  qx_n64_decode_block(block, bytes, out, count, &clamps);
  return clamps;
}

uint32_t runIma(std::span<const uint8_t> blocks, size_t bytes, size_t perBlock, std::span<int16_t> out) {
  decodeImaBlocks(blocks, bytes, perBlock, out);
  return 0;
}

uint32_t runMs(std::span<const uint8_t> blocks, size_t bytes, size_t perBlock, std::span<int16_t> out) {
  decodeMsAdpcmBlocks(blocks, bytes, perBlock, out);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  enterFuzzScratch();
  if (size < kPrefix) return 0;
  size_t count = static_cast<size_t>(bytes[1] | bytes[2] << 8);
  // A copy of exactly the block bytes, so ASan sees any read past them.
  std::vector<uint8_t> block(bytes + kPrefix, bytes + size);
  std::span<const uint8_t> view(block);
  switch (bytes[0] % 5) {
    case 0: {
      if (block.size() < kOrbelHeaderBytes) break;
      std::vector<int16_t> samples(std::min(count, 2 * (block.size() - kOrbelHeaderBytes)));
      AdpcmHistory history{};
      std::memcpy(&history, bytes + 3, sizeof history);
      orbelDecodeBlock(view, samples, history);
      break;
    }
    case 1: {
      if (block.size() < kN64HeaderBytes) break;
      std::vector<int16_t> samples(std::min(count, 2 * (block.size() - kN64HeaderBytes) + 2));
      orbelN64DecodeBlock(view, samples);
      compareRun(block, kN64HeaderBytes, 2, bytes + 3, count, decodeOrbelN64Blocks, libraryN64);
      break;
    }
    case 2: {
      std::vector<int16_t> samples(count);
      qx_ima_decode_block(block.data(), block.size(), samples.data(), samples.size());
      compareRun(block, kImaHeaderBytes, 1, bytes + 3, count, runIma, withoutClamps<qx_ima_decode_block>);
      break;
    }
    case 3: {
      std::vector<int16_t> samples(count);
      msAdpcmDecodeBlock(view, samples);
      compareRun(block, kMsAdpcmHeaderBytes, 2, bytes + 3, count, runMs, withoutClamps<qx_ms_decode_block>);
      break;
    }
    default: {
      size_t fits = block.size() / kGsmBlockBytes * kGsmSamplesPerBlock;
      std::vector<uint8_t> pcm(2 * std::min(count, fits));
      decodeGsm610(view, pcm);
      break;
    }
  }
  return 0;
}
