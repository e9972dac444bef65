// The first ICMT sub-chunk of an INFO list, whose text may name a loop as
// "start end" (end inclusive).
#pragma once

#include <cstddef>
#include <cstdint>

#include "riff/heap_block.h"

inline constexpr size_t kMaxCommentLength = 255;

struct CommentSpan {
  size_t at;   // its header, within the INFO contents
  size_t end;  // where the sub-chunk and its pad byte end, cut to the block
};

// The loop named by the first ICMT text (its end exclusive) and where that
// sub-chunk lies. False when there is no ICMT sub-chunk, or its text (up
// to its first zero byte, within the block) is longer than 255 characters
// or does not begin with two whole numbers.
bool findCommentLoop(const HeapBlock& info, CommentSpan& span, uint32_t* loopStart, uint32_t* loopEnd);
