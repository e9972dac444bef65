// Plain, slow restatements of the two Orbel encoders, written independently
// of the codec units so their output and their reconstruction can be checked
// against the real encoders and decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ReferenceStream {
  std::vector<uint8_t> bytes;           // the whole data chunk
  std::vector<int16_t> reconstruction;  // what a decoder must output, n samples
  size_t indexWarnings = 0;             // N64: index clamps above 88, all trials
  size_t keptWarnings = 0;              // N64: those of the kept trials' decoded samples
};

ReferenceStream referenceOrbelEncode(const std::vector<int16_t>& input, size_t blockBytes);
ReferenceStream referenceN64Encode(const std::vector<int16_t>& input, size_t blockBytes);

