// The -q encoder of IMA ADPCM: for every block two searches over the
// starting step index and the codes (a beam of the paths with the least
// error, and the best paths to each step index), never worse than the
// written encoder's block from the index the stream has reached, nor than
// the written encoder's own stream's block.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/ima_adpcm.h"
#include "riff/heap_block.h"

// Encodes the block's samples (its first in the header) into the whole
// block, header included. The first count of them (1 to all) are the
// sound's, the rest the silence that completes the last block: the block is
// judged on the sound's alone. state.stepIndex comes in as the index the stream
// has reached and leaves as the block's last. writtenIndex is the index the
// written encoder's own stream has reached at this block (0 at the first),
// and leaves as the one it reaches at the next. work is the job's beam work
// space (kBeamWidestTrace bytes).
void imaSearchBlock(std::span<const int16_t> input, size_t count, std::span<uint8_t> block, ImaState& state,
                    int8_t& writtenIndex, HeapBlock& work);
