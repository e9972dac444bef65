// The -q encoder of Orbel ADPCM-N64: for every block a search over the
// coefficient set, the starting step index and the codes, never worse than
// the written encoder's block unless that one would make the decoder clamp
// its step index (and warn). Its blocks never do, and it prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "riff/heap_block.h"

// Of a stream's blocks ranked by the written encoder's noise, the noisiest
// fifth is searched with the widest beam and the quietest half with the
// narrowest.
inline constexpr size_t kN64WideShare = 5;
inline constexpr size_t kN64NarrowShare = 2;

// A block of a -q stream: the error of the written encoder's block after
// decoding (UINT64_MAX when that block would make the decoder clamp), and
// the width of the beam chosen for it.
struct N64BlockSearch {
  uint64_t writtenNoise;
  size_t width;
};

// Writes the written encoder's block for the N input samples (N even, at
// least 5) into the whole block of 5 + (N - 2) / 2 bytes, silently, and
// returns its error after decoding (UINT64_MAX when it clamps).
uint64_t orbelN64WriteWrittenBlock(std::span<const int16_t> input, std::span<uint8_t> block);

// Chooses every block's width from the ranking by written noise; equal
// noise ranks the earlier block first. order holds as many values as blocks.
void orbelN64ChooseWidths(std::span<N64BlockSearch> blocks, std::span<uint32_t> order);

// Replaces the written encoder's block of the N input samples with a better
// one where the search finds it. work is the job's beam work space
// (kBeamWidestTrace bytes).
void orbelN64SearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, HeapBlock& work,
                         const N64BlockSearch& plan);
