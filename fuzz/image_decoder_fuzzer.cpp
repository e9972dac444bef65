// The decoder library on arbitrary sample images: byte 0 picks the size of
// every read, the rest is the image. An image qx_open accepts must then
// read exactly its sample count, and a looped read must repeat the loop of
// the straight samples; anything else stops the run.
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "quarlix_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  size_t chunk = bytes[0] % 61 + 1;
  // A copy of exactly the image bytes, so ASan sees any read past them.
  std::vector<uint8_t> image(bytes + 1, bytes + size);
  qx_decoder decoder;
  int status = qx_open(&decoder, image.data(), image.size());
  std::vector<int16_t> straight = readImageStraight(decoder, status, chunk);
  if (status == QX_OK) checkLoopedReads(decoder, straight, chunk);
  return 0;
}
