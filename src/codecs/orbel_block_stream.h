// What the two Orbel block formats share around their codecs: the checks on
// a job's input, the block fmt of a compression result and the sample count
// a decompression may trust.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/wave_file.h"

// The block size a compression uses: the -b value, or the codec's default.
uint32_t orbelBlockBytes(uint32_t defaultBytes);

// Refuses (-10, with the codec's messages) input that is not 16-bit mono PCM;
// else sets sampleCount to the number of whole samples in its data.
int32_t checkOrbelCompressInput(const WaveFile& wave, const char* codecName, uint32_t& sampleCount);

// The 20-byte fmt of a compression result with blocks of blockBytes holding
// samplesPerBlock samples each.
FormatFields orbelBlockFormat(uint16_t formatTag, const FormatFields& input, uint32_t blockBytes,
                              uint32_t samplesPerBlock);

struct OrbelBlockStream {
  size_t blockBytes;
  size_t samplesPerBlock;
  uint32_t sampleCount;  // what the decompression will decode
};

// Refuses (-10) input that is not this codec's 4-bit mono, and any file whose
// blocks could not be decoded safely: a fmt without wSamplesPerBlock, blocks
// of 0 bytes, wSamplesPerBlock 0 or more than 2 x nBlockAlign - lostSlots, a
// fact count of 2^31 or more. Else fills stream; the count is the fact count
// bounded by what the whole blocks hold.
int32_t checkOrbelDecompressInput(const WaveFile& wave, uint16_t formatTag, const char* codecName,
                                  uint32_t lostSlots, OrbelBlockStream& stream);

// The data contents as 16-bit samples (the host is little-endian, as WAV is).
std::span<const int16_t> pcmSamples(const HeapBlock& data, size_t count);
std::span<int16_t> pcmSamples(HeapBlock& data, size_t count);
