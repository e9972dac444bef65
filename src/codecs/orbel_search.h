// The -q encoder of Orbel ADPCM: for every block a search over the
// coefficient set, the starting step and the codes, never worse than the
// written encoder's block from the same history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/orbel_adpcm.h"
#include "riff/heap_block.h"

// What runs on from block to block.
struct OrbelSearchState {
  AdpcmHistory history{};
  int32_t step = QX_ORBEL_STEP_FLOOR;  // where the last block's step ended
};

// Encodes count samples (1 to the block's capacity; input as for
// orbelEncodeBlock) into block, writing orbelCodedBytes(count) bytes. work
// is the job's beam work space (kBeamWidestTrace bytes).
void orbelSearchBlock(std::span<const int16_t> input, std::span<uint8_t> block, size_t count,
                      OrbelSearchState& state, HeapBlock& work);
