#include "support/signal_generators.h"

#include <cmath>
#include <numbers>

std::vector<int16_t> whiteNoise(size_t count, int32_t amplitude, uint32_t seed) {
  std::vector<int16_t> samples(count);
  uint32_t state = seed;
  for (int16_t& sample : samples) {
    state = state * 1664525u + 1013904223u;
    int64_t span = 2 * static_cast<int64_t>(amplitude) + 1;
    sample = static_cast<int16_t>(static_cast<int64_t>(state >> 8) % span - amplitude);
  }
  return samples;
}

std::vector<int16_t> sineSweep(size_t count, double sampleRate, double startHz, double endHz, double amplitude) {
  std::vector<int16_t> samples(count);
  double duration = static_cast<double>(count) / sampleRate;
  for (size_t i = 0; i < count; ++i) {
    double t = static_cast<double>(i) / sampleRate;
    double phase = 2 * std::numbers::pi * (startHz * t + (endHz - startHz) * t * t / (2 * duration));
    samples[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(phase)));
  }
  return samples;
}

std::vector<int16_t> fullScaleSquare(size_t count, size_t halfPeriod) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = (i / halfPeriod) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
  return samples;
}

std::vector<int16_t> silenceWithClicks(size_t count, size_t spacing, int16_t click) {
  std::vector<int16_t> samples(count);
  for (size_t i = spacing / 2; i < count; i += spacing) samples[i] = click;
  return samples;
}
