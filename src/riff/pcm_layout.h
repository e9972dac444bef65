// How the samples of an uncompressed WAV lie: the PCM family of formats
// (integer PCM, IEEE float, and WAVE_FORMAT_EXTENSIBLE naming either) that
// -m and -s turn into 16-bit mono.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

inline constexpr uint16_t kFormatIeeeFloat = 3;
inline constexpr uint16_t kFormatExtensible = 0xFFFE;
inline constexpr uint32_t kExtensibleFormatSize = 40;

enum class SampleCoding { kUnsigned, kSigned, kFloat };

struct PcmLayout {
  SampleCoding coding;
  uint16_t channels;
  uint32_t containerBytes;  // one sample of one channel as stored
  uint32_t validBits;       // the significant, high bits of the container
};

// Tag 1, tag 3, or an extensible fmt long enough to name the PCM or the
// float sub-format: the files whose sample count the data size gives.
bool isPcmFamily(const WaveFile& wave);

// The layout of a PCM-family file that can be made 16-bit mono: 8-bit
// unsigned or 16, 24, 32-bit signed integers (of at most that many valid
// bits), 32 or 64-bit floats, one channel or more. False for any other.
bool readPcmLayout(const WaveFile& wave, PcmLayout& layout);
