#include "riff/wave_loops.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/error_state.h"
#include "riff/byte_order.h"
#include "riff/info_comment.h"

namespace {

constexpr size_t kSmplPeriodOffset = 8;  // nanoseconds per sample
constexpr size_t kSmplLoopCountOffset = 28;
constexpr size_t kSmplLoopsOffset = 36;  // loop records: id, type, start, end (inclusive), ...
constexpr size_t kSmplLoopBytes = 24;

struct Loop {
  uint32_t start;
  uint32_t end;  // exclusive; 0 = no loop
};

// A loop keeps an end of at least 1 (it stays a loop) and at most count,
// and a start before its end.
Loop rescaleLoop(Loop loop, uint32_t fromRate, uint32_t toRate, uint32_t count) {
  uint64_t start = std::min<uint64_t>(rescaledPosition(loop.start, fromRate, toRate), count);
  if (loop.end == 0 || count == 0) return {static_cast<uint32_t>(loop.end == 0 ? start : 0), 0};
  uint64_t end = std::clamp<uint64_t>(rescaledPosition(loop.end, fromRate, toRate), 1, count);
  return {static_cast<uint32_t>(std::min(start, end - 1)), static_cast<uint32_t>(end)};
}

void rescaleSampleChunk(HeapBlock& smpl, uint32_t fromRate, uint32_t toRate, uint32_t count) {
  if (smpl.size() >= kSmplPeriodOffset + 4) storeLE32(smpl.data() + kSmplPeriodOffset, (1000000000u + toRate / 2) / toRate);
  if (smpl.size() < kSmplLoopCountOffset + 4) return;
  uint32_t loops = loadLE32(smpl.data() + kSmplLoopCountOffset);
  for (size_t k = 0; k < loops && kSmplLoopsOffset + (k + 1) * kSmplLoopBytes <= smpl.size(); ++k) {
    uint8_t* record = smpl.data() + kSmplLoopsOffset + k * kSmplLoopBytes;
    Loop loop = rescaleLoop({loadLE32(record + 8), loadLE32(record + 12) + 1u}, fromRate, toRate, count);
    storeLE32(record + 8, loop.start);
    storeLE32(record + 12, loop.end - 1u);
  }
}

// The ICMT text that named the loop names the moved one: the sub-chunk is
// written anew in its place, the rest of the list as it was.
bool rewriteCommentLoop(WaveFile& wave, Loop loop) {
  CommentSpan comment;
  uint32_t start, end;
  if (!findCommentLoop(wave.info, comment, &start, &end)) return true;
  char text[32];
  size_t textBytes = static_cast<size_t>(std::snprintf(text, sizeof text, "%u %u", loop.start, loop.end - 1u)) + 1;
  size_t subChunk = 8 + textBytes + (textBytes & 1);
  size_t rest = wave.info.size() - comment.end;
  HeapBlock info;
  if (!info.allocate(comment.at + subChunk + rest)) {
    reportNoMemory();
    return false;
  }
  std::memcpy(info.data(), wave.info.data(), comment.at);
  uint8_t* header = info.data() + comment.at;
  storeLE32(header, kFourCCIcmt);
  storeLE32(header + 4, static_cast<uint32_t>(textBytes));
  std::memcpy(header + 8, text, textBytes);
  std::memcpy(header + subChunk, wave.info.data() + comment.end, rest);
  wave.infoChunk.cksize = static_cast<uint32_t>(info.size());
  wave.info = std::move(info);
  return true;
}

}  // namespace

uint64_t rescaledPosition(uint64_t position, uint32_t fromRate, uint32_t toRate) {
  return (2 * position * toRate + fromRate) / (2 * uint64_t{fromRate});
}

bool rescaleLoops(WaveFile& wave, uint32_t fromRate, uint32_t toRate, uint32_t count) {
  Loop loop = rescaleLoop({wave.loopStart, wave.loopEnd}, fromRate, toRate, count);
  wave.loopStart = loop.start;
  wave.loopEnd = loop.end;
  if (wave.smpl) rescaleSampleChunk(wave.smpl, fromRate, toRate, count);
  return !wave.info || rewriteCommentLoop(wave, loop);
}
