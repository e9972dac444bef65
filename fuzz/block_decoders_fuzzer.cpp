// Every block decoder directly on arbitrary block bytes and sample counts,
// within what each one's contract allows: byte 0 picks the decoder, bytes 1-2
// the count, bytes 3-6 the history an Orbel ADPCM block starts from. The IMA
// and Microsoft ADPCM decoders bound the count to the block themselves.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "codecs/gsm610.h"
#include "codecs/ima_adpcm.h"
#include "codecs/ms_adpcm.h"
#include "codecs/orbel_adpcm.h"
#include "codecs/orbel_adpcm_n64.h"
#include "quarlix_decode.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kPrefix = 7;

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
      break;
    }
    case 2: {
      std::vector<int16_t> samples(count);
      qx_ima_decode_block(block.data(), block.size(), samples.data(), samples.size());
      break;
    }
    case 3: {
      std::vector<int16_t> samples(count);
      msAdpcmDecodeBlock(view, samples);
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
