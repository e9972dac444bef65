// The -q encoder of Orbel ADPCM-N64: for every block a search over the
// coefficient set, the starting step index and the codes, never worse than
// the written encoder's block unless that one would make the decoder clamp
// its step index (and warn). Its blocks never do, and it prints nothing.
#pragma once

#include <cstdint>
#include <span>

#include "riff/heap_block.h"

// Encodes the N input samples (N even, at least 5) into the whole block of
// 5 + (N - 2) / 2 bytes. work is the job's beam work space
// (kBeamWidestTrace bytes).
void orbelN64SearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work);
