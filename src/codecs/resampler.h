// Sample-rate conversion of one channel, by libsoxr (Debian: libsoxr-dev):
// the field's high-quality resampler, never one of our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Resamples `in` (at fromRate) into every sample of `out` (at toRate, as
// many as rescaledPosition of riff/wave_loops.h gives for the count); what
// the resampler leaves of `out` at the end is silence. The recipe is fixed
// (libsoxr's 20-bit "high quality", linear phase, one thread), and at that
// quality libsoxr runs its single-precision engine, whose SSE path every
// x86-64 CPU takes, so a file resamples to the same values on every run
// and in every build. False when libsoxr cannot run (out of memory).
bool resample(std::span<const double> in, uint32_t fromRate, uint32_t toRate, std::span<double> out);
