// GSM 06.10 full-rate decoding of the 65-byte two-frame WAVE packing
// (FormatTag 49), through libgsm's reference decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/wave_file.h"

inline constexpr size_t kGsmBlockBytes = 65;
inline constexpr size_t kGsmSamplesPerBlock = 320;

// Decodes the leading blocks of `blocks` into `pcm` as 16-bit little-endian
// samples, until pcm is full; the last block may be cut short. One fresh
// decoder serves the whole call, so the result depends on nothing else.
// pcm must not need more whole blocks than `blocks` holds. False when the
// decoder cannot be created (out of memory).
bool decodeGsm610(std::span<const uint8_t> blocks, std::span<uint8_t> pcm);

// Converts a loaded GSM 06.10 WaveFile in place to 16-bit PCM. 0, or the
// reported negative code; on failure the source is left as it was.
int32_t decompressGsm(WaveFile& wave);
