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

// orbelSampleError in every lane.
[[gnu::always_inline]] inline UnsignedLanes orbelSampleErrorLanes(Lanes reconstructed, Lanes input) {
  UnsignedLanes miss = asUnsigned(reconstructed - input);
  return miss * miss >> 7;
}
