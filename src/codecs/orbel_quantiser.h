// The difference quantiser and the trial error measure that both Orbel
// encoders use to pick the best coefficient set of a block.
#pragma once

#include <cstdint>

#include "codecs/lane_vectors.h"

// The nearest code to difference / step (halves away from zero), limited to
// -8..7. step must be positive.
int32_t orbelQuantise(int32_t difference, int32_t step);

// One coded sample's share of a trial's error total: (r - x)^2 / 128, the
// square taken unsigned so a full-scale miss of 65535 still fits.
uint32_t orbelSampleError(int32_t reconstructed, int32_t input);

// orbelQuantise in every lane, for the encoders' side-by-side trials. The
// nearest code is floor((2|d| + step) / (2 step)); exact for |d| < 2^29
// and step < 2^23, which the encoders' predictions and steps stay under.
[[gnu::always_inline]] inline Lanes orbelQuantiseLanes(Lanes difference, Lanes step) {
  Lanes magnitude = quotientUpTo8((laneAbs(difference) << 1) + step, step << 1);
  return select(difference < 0, -magnitude, laneMin(magnitude, splat(7)));
}

// orbelQuantise in every lane once more, for kernels that many lanes keep
// busy, where fewer instructions count for more than a shorter chain: the
// quotient (2|d| + step) / (2 step) taken in single precision, which holds
// both exactly; below 8 its rounding never reaches the next integer (that
// would take 16 step > 2^24), so truncating it gives the integer
// quotient. Exact for |d| < 2^22 and 0 < step <= 2^20.
[[gnu::always_inline]] inline Lanes orbelNearestCodeLanes(Lanes difference, Lanes step) {
  FloatLanes twice = __builtin_convertvector((laneAbs(difference) << 1) + step, FloatLanes);
  Lanes magnitude = __builtin_convertvector(twice / __builtin_convertvector(step << 1, FloatLanes), Lanes);
  return select(difference < 0, -laneMin(magnitude, splat(8)), laneMin(magnitude, splat(7)));
}

// orbelSampleError in every lane.
[[gnu::always_inline]] inline UnsignedLanes orbelSampleErrorLanes(Lanes reconstructed, Lanes input) {
  UnsignedLanes miss = asUnsigned(reconstructed - input);
  return miss * miss >> 7;
}
