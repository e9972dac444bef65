// What every conversion job does alike: build the fresh record it converts
// into, and put it in the place of the source once the conversion is done.
#pragma once

#include <cstddef>
#include <cstdint>

#include "riff/wave_file.h"

// A compression result: a block fmt of formatBytes (at least 20) holding
// `fields`, a 4-byte fact holding sampleCount and dataBytes of data that
// the job fills, every byte of it (nothing is zeroed in advance).
// 0, or the reported out-of-memory code.
int32_t buildBlockRecord(WaveFile& fresh, const FormatFields& fields, uint32_t formatBytes, uint32_t sampleCount,
                         size_t dataBytes);

// A decompression result: a 16-byte 16-bit PCM fmt, no fact, and room for
// sampleCount samples per channel, which the job writes, every one. 0, or the reported out-of-memory code
// (also when the data would not fit a chunk).
int32_t buildPcmRecord(WaveFile& fresh, uint16_t nChannels, uint32_t nSamplesPerSec, uint32_t sampleCount);

// Hands smpl, INFO and the loop over to the fresh record, releases the
// source's contents and puts the fresh record in its place.
void installRecord(WaveFile& source, WaveFile& fresh);
