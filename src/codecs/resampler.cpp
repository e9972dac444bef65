#include "codecs/resampler.h"

#include <soxr.h>

#include <algorithm>

bool resample(std::span<const double> in, uint32_t fromRate, uint32_t toRate, std::span<double> out) {
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_DOUBLE_PRECISION);
  soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  size_t written = 0;
  soxr_error_t error = soxr_oneshot(fromRate, toRate, 1, in.data(), in.size(), nullptr, out.data(), out.size(),
                                    &written, &io, &quality, &runtime);
  if (error != nullptr) return false;
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(written), out.end(), 0.0);
  return true;
}
