// The -q encoder of Microsoft ADPCM: for every block a search over the
// standard coefficient pair, the first step and the codes, never worse than
// the written encoder's block. Its steps stay within 16 bits, as every
// common decoder holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/heap_block.h"

// Encodes the input samples as msAdpcmEncodeBlock does, with the same
// result. work is the job's beam work space (kBeamWidestTrace bytes).
size_t msAdpcmSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work);
