// The -q encoder of Orbel ADPCM-N64: for every block a search over the
// coefficient set, the starting step index and the codes, never worse than
// the written encoder's block unless that one would make the decoder clamp
// its step index (and warn). Its blocks never do, and it prints nothing.
#pragma once

#include <cstdint>
#include <span>

#include "riff/heap_block.h"

// Of a stream's blocks ranked by the written encoder's noise, the noisiest
// fifth is searched with the widest beam and the quietest half with the
// narrowest.
inline constexpr size_t kN64WideShare = 5;
inline constexpr size_t kN64NarrowShare = 2;

// The squared error of the written encoder's block for the N input samples
// (N even, at least 5), after decoding.
uint64_t orbelN64WrittenNoise(std::span<const int16_t> input);

// Replaces each block's noise by the width of its beam. Equal noise ranks
// the earlier block first. order holds as many values as noise.
void orbelN64ChooseWidths(std::span<uint64_t> noise, std::span<uint64_t> order);

// Encodes the N input samples (N even, at least 5) into the whole block of
// 5 + (N - 2) / 2 bytes, with a beam of the width chosen for it. work is
// the job's beam work space (kBeamWidestTrace bytes).
void orbelN64SearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work, size_t width);
