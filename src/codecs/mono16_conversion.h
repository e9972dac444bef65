// -m and -s: a PCM-family input made 16-bit mono PCM right after loading,
// at its own rate or at a chosen one, so that every later stage sees what
// it was written for.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// Converts a loaded PCM-family WaveFile in place to 16-bit mono PCM: every
// output sample is its frame's mean, in 16-bit units, rounded to the
// nearest (ties to even) and clamped; 8-bit samples count from 128, floats
// are full scale at 1.0 and NaN gives 0. 16-bit mono PCM, and every layout
// that cannot be made 16-bit mono, is left exactly as it is, for the
// later jobs' own refusals. With a `rate` (not 0) other than the file's,
// the frames' means are resampled to it before they are rounded, and the
// loop points move with them. 0, or the reported negative code (a rate
// more than 256 times away from the file's is refused).
int32_t convertToMono16(WaveFile& wave, uint32_t rate);
