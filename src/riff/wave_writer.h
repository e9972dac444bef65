// Writes a WaveFile back as a RIFF WAVE file: fmt, fact, data, smpl, LIST.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

// 0 on success; -6 when fmt or data is missing or the file cannot be started;
// -1 when writing fails later. On failure nothing is stored under `path`.
int32_t waveWrite(WaveFile& record, const char* path);
