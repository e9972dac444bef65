// In-memory WaveFile records for testing conversion jobs without files: the
// record as the reader leaves it, built from chunk contents.
#pragma once

#include <optional>

#include "riff/wave_file.h"
#include "support/wav_builder.h"

WaveFile waveRecord(const Bytes& fmt, const std::optional<Bytes>& fact, const Bytes& data);

// A block-format fmt: the 16 common bytes, cbSize 2 and wSamplesPerBlock.
Bytes blockFormat(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t bits, uint16_t samplesPerBlock);

Bytes blockBytes(const HeapBlock& block);
std::vector<int16_t> pcmOf(const WaveFile& wave);
