// The decoder library on arbitrary sample images: byte 0 picks the size of
// every read, the rest is the image. An image qx_open accepts must then
// read exactly its sample count, and a looped read must repeat the loop of
// the straight samples; anything else stops the run.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "quarlix_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size < 1) return 0;
  size_t chunk = bytes[0] % 61 + 1;
  // A copy of exactly the image bytes, so ASan sees any read past them.
  std::vector<uint8_t> image(bytes + 1, bytes + size);
  qx_decoder decoder;
  int status = qx_open(&decoder, image.data(), image.size());
  std::vector<int16_t> straight;
  std::vector<int16_t> part(chunk);
  for (size_t n; (n = qx_read(&decoder, part.data(), chunk)) > 0;) {
    if (n > chunk) std::abort();
    straight.insert(straight.end(), part.begin(), part.begin() + static_cast<long>(n));
  }
  if (straight.size() != (status == QX_OK ? qx_sample_count(&decoder) : 0)) std::abort();

  if (status != QX_OK) {
    if (qx_read_looped(&decoder, part.data(), chunk) != 0) std::abort();
    return 0;
  }
  uint32_t start = qx_loop_start(&decoder);
  uint32_t end = qx_loop_end(&decoder);
  if (end == 0) return 0;
  if (start >= end || end > straight.size()) std::abort();
  // Up to the loop's end, then a few passes of it, as long as that is short.
  qx_rewind(&decoder);
  size_t total = end + 3 * size_t{end - start} + chunk;
  if (total > (1u << 18)) total = 1u << 18;
  for (size_t done = 0; done < total;) {
    if (qx_read_looped(&decoder, part.data(), chunk) != chunk) std::abort();
    for (size_t i = 0; i < chunk; ++i, ++done) {
      size_t at = done < end ? done : start + (done - end) % (end - start);
      if (part[i] != straight[at]) std::abort();
    }
  }
  return 0;
}
