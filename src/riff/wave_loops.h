// Loop points of a record whose samples moved to another rate.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// A position (or a count) at fromRate moved to toRate: position * toRate /
// fromRate rounded to the nearest, halves up, as libsoxr ends a stream.
uint64_t rescaledPosition(uint64_t position, uint32_t fromRate, uint32_t toRate);

// Moves the loop of a record resampled from fromRate to toRate, now `count`
// samples long: the loop fields, every loop of the smpl chunk (and its
// sample period) and a loop named by the ICMT text, each scaled and kept
// inside the sound. False, with the report made, when memory for the new
// INFO list is short.
bool rescaleLoops(WaveFile& wave, uint32_t fromRate, uint32_t toRate, uint32_t count);
