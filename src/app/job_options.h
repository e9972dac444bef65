// The job settings: set by the options in argument order, read by every stage.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"


inline constexpr int32_t kLawNone = 0;
inline constexpr int32_t kLawA = 1;
inline constexpr int32_t kLawMu = 2;
inline constexpr int32_t kLawKib = 3;

struct JobOptions {
  int32_t blockSize = 0;  // 0: each codec's own default
  int32_t lawTest = kLawNone;
  int32_t compressType = kFormatOrbelAdpcm;
  bool compress = false;
  bool search = false;  // -q: the compressions search instead of choosing greedily
  bool makeMono16 = false;  // -m (and -s): PCM-family inputs become 16-bit mono PCM when loaded
  uint32_t sampleRate = 0;  // -s: the rate they are resampled to; 0 keeps each file's own
  bool decompress = false;
  bool writeOutput = false;
  bool outputBinary = false;
  bool outputCSource = false;
  bool outputResource = false;
  bool testFileName = false;
  bool loopWhole = false;
  bool showStructure = false;
  bool showInfo = true;
  bool commentLoops = true;
};

extern JobOptions jobOptions;
