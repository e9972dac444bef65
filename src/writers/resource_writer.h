// The resource-script sample output (.sam): the sample's parameters as
// dwords and its bytes as hexadecimal lines; 16-bit PCM is stored as one
// kib-law code per sample.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// Writes drive + directory + baseName + ".sam". Returns errorCode.
int32_t writeResourceFile(WaveFile& wave);
