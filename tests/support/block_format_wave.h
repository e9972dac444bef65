// Builds mono WAV images in the block formats (IMA ADPCM, GSM 06.10, Orbel
// ADPCM and the like): fmt with cbSize and wSamplesPerBlock, fact, data.
#pragma once

#include <cstdint>
#include <vector>

#include "support/wav_builder.h"

inline constexpr uint16_t kBitsOfTag = 0xFFFF;  // 0 for GSM 06.10, else 4

// The 20 fmt bytes of a mono block format.
Bytes blockFormatContents(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t samplesPerBlock,
                          uint16_t bits = kBitsOfTag);

// fmt, fact with factCount, data, then any further chunks (smpl, LIST).
Bytes blockFormatWave(uint16_t tag, uint32_t rate, uint16_t blockAlign, uint16_t samplesPerBlock,
                      uint32_t factCount, const Bytes& data, const std::vector<Bytes>& more = {});

// `count` bytes that differ from their neighbours, so a shifted or swapped
// byte shows.
Bytes patternBytes(size_t count);
