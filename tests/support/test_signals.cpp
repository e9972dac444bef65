#include "support/test_signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

int16_t toSample(double value) { return static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L)); }

}  // namespace

Samples whiteNoise(size_t count, int32_t amplitude, uint32_t seed) {
  NoiseSource noise{seed == 0 ? 1u : seed};
  Samples out(count);
  for (int16_t& s : out) s = toSample(noise.unit() * amplitude);
  return out;
}

Samples linearChirp(size_t count, uint32_t rate, double startHz, double endHz, int32_t amplitude) {
  Samples out(count);
  double duration = static_cast<double>(count) / rate;
  for (size_t i = 0; i < count; ++i) {
    double t = static_cast<double>(i) / rate;
    double phase = 2 * std::numbers::pi * (startHz * t + (endHz - startHz) * t * t / (2 * duration));
    out[i] = toSample(amplitude * std::sin(phase));
  }
  return out;
}

Samples speechLikeBursts(size_t count, uint32_t rate, uint32_t seed) {
  NoiseSource noise{seed == 0 ? 1u : seed};
  Samples out(count, 0);
  size_t at = 0;
  while (at < count) {
    size_t syllable = rate / 8 + noise.next() % (rate / 4);
    size_t pause = rate / 20 + noise.next() % (rate / 10);
    double pitch = 90 + noise.next() % 160;
    double loudness = 4000 + noise.next() % 20000;
    bool voiced = noise.next() % 4 != 0;
    for (size_t i = 0; i < syllable && at + i < count; ++i) {
      double t = static_cast<double>(i) / rate;
      double envelope = std::sin(std::numbers::pi * static_cast<double>(i) / syllable);
      double value = 0;
      if (voiced) {
        for (int harmonic = 1; harmonic <= 6; ++harmonic) {
          value += std::sin(2 * std::numbers::pi * pitch * harmonic * t) / harmonic;
        }
        value *= 0.6;
      }
      value += noise.unit() * (voiced ? 0.05 : 0.4);
      out[at + i] = toSample(loudness * envelope * value);
    }
    at += syllable + pause;
  }
  return out;
}

Samples silence(size_t count) { return Samples(count, 0); }

Samples fullScaleSquare(size_t count, size_t halfPeriod) {
  Samples out(count);
  for (size_t i = 0; i < count; ++i) out[i] = (i / halfPeriod) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
  return out;
}

Samples silenceWithClicks(size_t count, size_t spacing, int16_t click) {
  Samples out(count, 0);
  for (size_t i = spacing / 2; i < count; i += spacing) out[i] = click;
  return out;
}

Samples fullScaleRandomSigns(size_t count, uint32_t seed) {
  NoiseSource noise{seed == 0 ? 1u : seed};
  Samples out(count);
  for (int16_t& s : out) s = (noise.next() >> 16) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
  return out;
}
