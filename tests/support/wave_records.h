// In-memory WaveFile records built from given chunk contents, so conversion
// jobs can be run without files.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "riff/wave_file.h"
#include "support/wav_builder.h"

WaveFile waveRecord(const Bytes& fmt, const std::optional<Bytes>& fact, const Bytes& data);
WaveFile pcmRecord(const std::vector<int16_t>& samples, uint32_t rate = 22050);
// A block-format record: 20-byte fmt (or the first fmtBytes of it) and a fact.
WaveFile blockRecord(uint16_t tag, uint16_t blockAlign, uint16_t samplesPerBlock, uint32_t factCount,
                     const Bytes& data, uint16_t channels = 1, uint16_t bits = 4, size_t fmtBytes = 20);

Bytes recordBytes(const HeapBlock& block);
std::vector<int16_t> recordSamples(const WaveFile& wave);
