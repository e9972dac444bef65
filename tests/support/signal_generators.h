// Synthetic 16-bit test signals of any length, deterministic so a failure
// can be reproduced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<int16_t> whiteNoise(size_t count, int32_t amplitude, uint32_t seed);
// A sine whose frequency rises linearly from startHz to endHz.
std::vector<int16_t> sineSweep(size_t count, double sampleRate, double startHz, double endHz, double amplitude);
// Full scale: -32768 and 32767, halfPeriod samples each.
std::vector<int16_t> fullScaleSquare(size_t count, size_t halfPeriod);
// Silence with a single-sample click of the given value every `spacing` samples.
std::vector<int16_t> silenceWithClicks(size_t count, size_t spacing, int16_t click);
