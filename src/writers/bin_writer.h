// The raw binary sample output: the 20-byte big-endian header, the sample
// data (16-bit PCM high byte first) and zero bytes up to a multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/wave_file.h"
#include "writers/sample_output.h"

// The .bin file of a prepared record, in its three parts; the C source
// output writes the same bytes as an array.
struct BinParts {
  uint8_t header[kBinHeaderSize];
  std::span<const uint8_t> data;  // within the record's data
  size_t padding;                 // zero bytes up to a multiple of 4
};

// 16-bit PCM is turned high byte first in the record's data itself, which
// the job releases right after the writer; no copy of the samples is made.
BinParts binPartsFor(WaveFile& wave, const SampleOutput& output);

// Writes drive + directory + baseName + ".bin". Returns errorCode.
int32_t writeBinFile(WaveFile& wave);
