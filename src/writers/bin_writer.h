// The raw binary sample output: the 20-byte big-endian header, the sample
// data (16-bit PCM high byte first) and zero bytes up to a multiple of 4.
#pragma once

#include <cstdint>

#include "riff/heap_block.h"
#include "riff/wave_file.h"
#include "writers/sample_output.h"

// The bytes of the .bin file for a prepared record; the C source output
// writes the same bytes as an array. 0, or the reported out-of-memory code.
int32_t buildBinImage(const WaveFile& wave, const SampleOutput& output, HeapBlock& image);

// Writes drive + directory + baseName + ".bin". Returns errorCode.
int32_t writeBinFile(WaveFile& wave);
