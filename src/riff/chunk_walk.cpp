#include "riff/chunk_walk.h"

#include <algorithm>
#include <cstdio>

#include "app/error_state.h"
#include "app/job_options.h"
#include "riff/byte_order.h"

namespace {

// Set once a chunk line is printed since the last closing blank line; shared
// by all levels so that only the innermost finished level closes with one.
bool chunkLinePrinted = false;

struct FourCCText {
  char text[5];
};

FourCCText fourCCText(uint32_t code) {
  FourCCText t{};
  storeLE32(reinterpret_cast<uint8_t*>(t.text), code);
  return t;
}

void printChunkLine(const ChunkInfo& chunk, int depth) {
  static constexpr char kSpaces[] = "               ";
  static_assert(sizeof kSpaces == kMaxChunkDepth + 1);
  const char* indent = kSpaces + (kMaxChunkDepth - depth);
  if (chunk.ckid == kFourCCRiff || chunk.ckid == kFourCCList) {
    std::printf("\n%s%s\n", indent, fourCCText(chunk.ckid).text);
    std::printf("%s%s 0x%08X\n", indent, fourCCText(chunk.fccType).text, chunk.cksize);
  } else {
    std::printf("%s%s 0x%08X\n", indent, fourCCText(chunk.ckid).text, chunk.cksize);
  }
  chunkLinePrinted = true;
}

void recordChunk(WaveFile& record, const ChunkInfo& chunk) {
  switch (chunk.ckid) {
    case kFourCCFmt: record.fmtChunk = chunk; break;
    case kFourCCFact: record.factChunk = chunk; break;
    case kFourCCData: record.dataChunk = chunk; break;
    case kFourCCSmpl: record.smplChunk = chunk; break;
    case kFourCCList:
      if (chunk.fccType == kFourCCInfo) record.infoChunk = chunk;
      break;
    default: break;
  }
}

}  // namespace

int32_t walkChunks(WaveFile& record, const ChunkInfo* parent, int depth) {
  // The indentation holds 15 levels; deeper nesting only comes from damaged
  // or hostile files, and would otherwise let the recursion run unbounded.
  if (depth > kMaxChunkDepth) return reportError(kErrorRead, "Quarlix - Chunks nested too deep !\n");
  RiffFile* file = record.riffFile;
  // Nothing of this level lies past its parent or past the image.
  int64_t levelEnd = parent != nullptr ? std::min(riffChunkEnd(*parent), file->dataEnd) : file->dataEnd;
  ChunkInfo chunk{};
  while (riffDescend(file, &chunk, parent, 0) == 0) {
    if (parent != nullptr && parent->fccType == kFourCCWave) recordChunk(record, chunk);
    if (jobOptions.showStructure) printChunkLine(chunk, depth);
    bool list = chunk.ckid == kFourCCRiff || chunk.ckid == kFourCCList;
    if (list) {
      int32_t result = walkChunks(record, &chunk, depth + 1);
      if (result != 0) return result;
    }
    // A chunk that runs past the end (trailing padding or junk with any
    // size at all) ends the level like a short header would; its stated end
    // may lie beyond every position the layer can seek to.
    if (riffChunkEnd(chunk) > levelEnd) break;
    if (!list && riffAscend(file, &chunk) != 0) {
      return reportError(kErrorRead, "Quarlix - Unable to ascend from chunk !\n");
    }
  }
  if (jobOptions.showStructure && chunkLinePrinted) {
    chunkLinePrinted = false;
    std::printf("\n");
  }
  riffSeek(file, parent != nullptr ? riffChunkEnd(*parent) : file->dataEnd, 0);
  return 0;
}

void resetChunkWalk() { chunkLinePrinted = false; }
