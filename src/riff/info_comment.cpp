#include "riff/info_comment.h"

#include <algorithm>
#include <cstring>

#include "riff/byte_order.h"
#include "riff/wave_reader.h"

bool findCommentLoop(const HeapBlock& info, CommentSpan& span, uint32_t* loopStart, uint32_t* loopEnd) {
  const uint8_t* block = info.data();
  uint64_t size = info.size();
  for (uint64_t at = 4; at + 8 <= size;) {
    uint32_t length = loadLE32(block + at + 4);
    uint64_t next = at + 8ull + length + (length & 1);
    if (loadLE32(block + at) == kFourCCIcmt) {
      uint64_t textEnd = std::min<uint64_t>(size, at + 8 + length);
      const char* text = reinterpret_cast<const char*>(block + at + 8);
      size_t textLength = strnlen(text, static_cast<size_t>(textEnd - (at + 8)));
      if (textLength > kMaxCommentLength) return false;
      char copy[kMaxCommentLength + 1];
      std::memcpy(copy, text, textLength);
      copy[textLength] = '\0';
      span.at = static_cast<size_t>(at);
      span.end = static_cast<size_t>(std::min(size, next));
      return parseCommentLoop(copy, loopStart, loopEnd);
    }
    at = next;
  }
  return false;
}
