// The C source sample output: the bytes of the .bin file as one
// `unsigned char` array initialiser, ready to compile into a program.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// Writes drive + directory + baseName + ".c", the array named baseName +
// "_bin". Returns errorCode.
int32_t writeCSourceFile(WaveFile& wave);
