// Builds WaveFile records in memory, as the reader leaves them, so stages
// can be tested without files.
#pragma once

#include "riff/wave_file.h"
#include "support/wav_builder.h"

// A record holding these fmt, data and (when not empty) fact contents.
WaveFile waveRecord(const Bytes& fmt, const Bytes& data, const Bytes& fact = {});
