// The depth-first walk over a RIFF file's chunks: records the descriptors
// the WAV reader needs and, under -vf, prints the chunk tree.
#pragma once

#include <cstdint>

#include "riff/wave_file.h"

inline constexpr int kMaxChunkDepth = 15;

// Walks the contents of `parent` (the whole file when null). 0, or -5 after a
// reported failure.
int32_t walkChunks(WaveFile& record, const ChunkInfo* parent, int depth);

// Clears the tree printer's state between runs inside one process.
void resetChunkWalk();
