#include "codecs/orbel_quantiser.h"

int32_t orbelQuantise(int32_t difference, int32_t step) {
  // Widened: a difference from an unclamped prediction can pass 2^16, and
  // doubling it must not be the place where a hostile value overflows.
  int64_t magnitude = difference < 0 ? -static_cast<int64_t>(difference) : difference;
  int64_t code = (2 * magnitude / step + 1) / 2;
  if (difference < 0) return code > 8 ? -8 : static_cast<int32_t>(-code);
  return code > 7 ? 7 : static_cast<int32_t>(code);
}

uint32_t orbelSampleError(int32_t reconstructed, int32_t input) {
  int64_t miss = static_cast<int64_t>(reconstructed) - input;
  uint32_t magnitude = static_cast<uint32_t>(miss < 0 ? -miss : miss);
  return magnitude * magnitude / 128;
}
