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

// orbelQuantise of a difference d in every lane, with the adaptation
// factor of the code beside it, for the Orbel ADPCM encoder, whose blocks
// follow one another: its chain from one sample to the next is what bounds
// it. The code's magnitude is at least k where 2|d| >= (2k - 1) step, so
// 2|d| is compared with the step's odd multiples all at once: the
// magnitude counts the comparisons that hold, and the factor follows from
// the same ones. Exact for 2|d| and 15 step below 2^31.
struct OrbelCodeLanes {
  Lanes code;
  Lanes factor;
};

[[gnu::always_inline]] inline OrbelCodeLanes orbelCodeLanes(Lanes difference, Lanes step) {
  LaneMask negative = difference < 0;
  // 2|d| >= t, as 2|d| + 1 > t.
  Lanes reach = (laneAbs(difference) << 1) + 1;
  Lanes twice = step << 1;
  Lanes eight = step << 3;
  Lanes three = twice + step;
  Lanes five = (step << 2) + step;
  LaneMask m1 = reach > step, m2 = reach > three, m3 = reach > five, m4 = reach > eight - step;
  LaneMask m5 = reach > eight + step, m6 = reach > eight + three, m7 = reach > eight + five;
  // Only a negative difference reaches -8.
  LaneMask m8 = (reach > (step << 4) - step) & negative;
  // Masks are -1 where they hold: the sum counts downward.
  Lanes down = ((m1 + m2) + (m3 + m4)) + ((m5 + m6) + (m7 + m8));
  Lanes code = select(negative, down, -down);
  Lanes factor = (230 + (77 & m4)) + ((102 & m5) + (103 & m6)) + ((102 & m7) + (154 & m8));
  return {code, factor};
}

// orbelQuantise in every lane, for kernels that many lanes keep busy,
// where fewer instructions count for more than a shorter chain: the
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
