// Sample-rate conversion of one channel, by libsoxr (Debian: libsoxr-dev):
// the field's high-quality resampler, never one of our own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Resamples `in` (at fromRate) into every sample of `out` (at toRate, as
// many as rescaledPosition of riff/wave_loops.h gives for the count); what
// the resampler leaves of `out` at the end is silence. The recipe is fixed:
// libsoxr's 20-bit "high quality" filter, linear phase, one thread, and
// computed in double precision, so that whichever of its engines a CPU
// takes (plain or AVX) and whichever C library designed the filter, the
// samples agree to within 1e-10 of a 16-bit step; rounded to 16 bits they
// are the same on every run and in the Linux and the Windows build. False
// when libsoxr cannot run (out of memory).
bool resample(std::span<const double> in, uint32_t fromRate, uint32_t toRate, std::span<double> out);
