// The 8-bit companding laws (G.711 A-law, G.711 mu-law and the kib-law) and
// TestLaw, which passes 16-bit mono PCM through one of them and back so the
// law's quantisation can be heard.
#pragma once

#include <cstdint>
#include <span>

#include "riff/wave_file.h"

// The kib-law code of a sample: one lookup into the encoder table that
// TestLaw uses, so a stored code decodes to exactly what TestLaw plays.
uint8_t kibLawCode(int16_t sample);

// Replaces every 16-bit little-endian sample by its round trip through the
// law (kLawA, kLawMu or kLawKib of job_options.h); any other law value
// leaves the samples as they are. A trailing odd byte is left untouched.
void compandSamples(int32_t law, std::span<uint8_t> samples);

// Runs the law chosen by jobOptions.lawTest over the record's data in place.
// Returns errorCode: 0, or -10 after refusing anything but 16-bit mono PCM.
int32_t TestLaw(WaveFile& wave);
