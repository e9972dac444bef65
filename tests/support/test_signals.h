// Deterministic synthetic 16-bit test signals, for codec tests that need
// audio-like material: the same seed always gives the same samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using Samples = std::vector<int16_t>;

// xorshift32: the same sequence on every platform and library.
struct NoiseSource {
  uint32_t state;  // never 0
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  // Uniform in -1..1.
  double unit() { return next() / 2147483647.5 - 1.0; }
};

// Uniform white noise in -amplitude..amplitude.
Samples whiteNoise(size_t count, int32_t amplitude, uint32_t seed);

// A sine sweeping linearly from startHz to endHz over the whole signal.
Samples linearChirp(size_t count, uint32_t rate, double startHz, double endHz, int32_t amplitude);

// Voiced syllables of a few harmonics under a rising and falling envelope,
// with unvoiced hiss and pauses of silence between them.
Samples speechLikeBursts(size_t count, uint32_t rate, uint32_t seed);

Samples silence(size_t count);

// Full scale: -32768 and 32767 alternating every halfPeriod samples.
Samples fullScaleSquare(size_t count, size_t halfPeriod);

// Silence with a single-sample click of the given value every `spacing` samples.
Samples silenceWithClicks(size_t count, size_t spacing, int16_t click);

// Full scale with a random sign each sample: the largest jumps there are.
Samples fullScaleRandomSigns(size_t count, uint32_t seed);
