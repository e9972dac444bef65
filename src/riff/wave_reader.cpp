#include "riff/wave_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/error_state.h"
#include "app/job_options.h"
#include "app/number_text.h"
#include "riff/byte_order.h"
#include "riff/chunk_walk.h"
#include "riff/info_comment.h"
#include "riff/pcm_layout.h"

namespace {

constexpr size_t kSmplLoopCountOffset = 28;
constexpr size_t kSmplFirstLoopOffset = 40;  // type, then start at 44, end at 48
constexpr size_t kSmplFirstLoopEnd = 52;

int32_t failRead(const char* message) { return reportError(kErrorRead, "%s", message); }

// Loads a present chunk into block; false when it cannot be loaded.
bool loadPresentChunk(WaveFile& record, const ChunkInfo& descriptor, HeapBlock& block) {
  block = loadChunk(record.riffFile, descriptor);
  return static_cast<bool>(block);
}

// A smpl chunk too short for its loop count or its first loop record holds
// no usable loop; it is kept but sets nothing.
void takeSampleLoop(WaveFile& record) {
  const HeapBlock& smpl = record.smpl;
  if (smpl.size() < kSmplFirstLoopEnd || loadLE32(smpl.data() + kSmplLoopCountOffset) == 0) return;
  record.loopType = loadLE32(smpl.data() + kSmplFirstLoopOffset);
  record.loopStart = loadLE32(smpl.data() + kSmplFirstLoopOffset + 4);
  record.loopEnd = loadLE32(smpl.data() + kSmplFirstLoopOffset + 8) + 1u;
}

// The first ICMT text of the INFO list may name a loop as "start end".
void takeCommentLoop(WaveFile& record) {
  CommentSpan comment;
  uint32_t start, end;
  if (findCommentLoop(record.info, comment, &start, &end)) {
    record.loopStart = start;
    record.loopType = 0;
    record.loopEnd = end;
  }
}

void printInformation(const WaveFile& record) {
  FormatFields f = readFormat(record);
  std::printf("\n");
  std::printf("Format            = %s\n", formatTagName(f.wFormatTag));
  std::printf("Channels          = %d\n", f.nChannels);
  std::printf("Samples-per-sec   = %d\n", static_cast<int32_t>(f.nSamplesPerSec));
  std::printf("AvgBytes-per-sec  = %d\n", static_cast<int32_t>(f.nAvgBytesPerSec));
  std::printf("Block Align       = %d\n", f.nBlockAlign);
  std::printf("Bits-per-sample   = %d\n", f.wBitsPerSample);
  if (f.wFormatTag == kFormatPcm) {
    // A PCM fmt of 0 bits per sample holds no countable samples.
    uint32_t total = f.wBitsPerSample == 0 ? 0 : record.dataChunk.cksize * 8u / f.wBitsPerSample;
    std::printf("Total Samples     = %d\n", static_cast<int32_t>(total));
  } else {
    std::printf("Total Samples     = %d\n", static_cast<int32_t>(factSampleCount(record)));
    std::printf("Samples-per-block = %d\n", f.wSamplesPerBlock);
  }
  std::printf("\n");
}

int32_t loadRecord(WaveFile& record) {
  if (walkChunks(record, nullptr, 0) != 0) return kErrorPassedUp;

  if (record.fmtChunk.ckid == 0) return failRead("Quarlix - Missing \"fmt \" chunk !\n");
  // Every fmt field up to wBitsPerSample is read at a fixed offset; a shorter
  // fmt is no WAVE format description.
  if (!loadPresentChunk(record, record.fmtChunk, record.fmt) || record.fmt.size() < kPcmFormatSize) {
    return failRead("Quarlix - Unable to read \"fmt \" chunk !\n");
  }
  FormatFields format = readFormat(record);
  if (format.wFormatTag == kFormatPcm) {
    storeLE16(record.fmt.data() + 12, static_cast<uint16_t>(((format.wBitsPerSample + 7) >> 3) * format.nChannels));
  }

  // What -m converts counts its samples by the data size, as PCM does, so
  // it needs no fact chunk (the common tools write floats and extensible
  // files without one).
  bool countedByData = format.wFormatTag == kFormatPcm || (jobOptions.makeMono16 && isPcmFamily(record));
  if (record.factChunk.ckid == 0) {
    if (!countedByData) return failRead("Quarlix - Missing \"fact\" chunk !\n");
  } else if (!loadPresentChunk(record, record.factChunk, record.fact) || record.fact.size() < 4) {
    return failRead("Quarlix - Unable to read \"fact\" chunk !\n");
  }

  if (record.dataChunk.ckid == 0) return failRead("Quarlix - Missing \"data\" chunk !\n");
  // The samples stay where they lie in the image (taken over below), so
  // they only have to lie within it.
  if (int64_t{record.dataChunk.dataOffset} + record.dataChunk.cksize > record.riffFile->dataEnd) {
    return failRead("Quarlix - Unable to read \"data\" chunk !\n");
  }

  if (record.smplChunk.ckid != 0) {
    if (!loadPresentChunk(record, record.smplChunk, record.smpl)) {
      return failRead("Quarlix - Unable to read \"smpl\" chunk !\n");
    }
    takeSampleLoop(record);
  }

  if (record.infoChunk.ckid != 0) {
    if (!loadPresentChunk(record, record.infoChunk, record.info)) {
      return failRead("Quarlix - Unable to read \"INFO\" chunk !\n");
    }
    if (jobOptions.commentLoops) takeCommentLoop(record);
  }

  // The data chunk is the image itself from here on, narrowed to the
  // samples: they are never copied.
  record.data = std::move(record.riffFile->buffer);
  record.data.narrow(record.dataChunk.dataOffset, record.dataChunk.cksize);

  if (jobOptions.showInfo) printInformation(record);
  return 0;
}

}  // namespace

bool parseCommentLoop(const char* text, uint32_t* loopStart, uint32_t* loopEnd) {
  const char* separators = " \n\r\t";
  char copy[kMaxCommentLength + 1];
  std::snprintf(copy, sizeof copy, "%s", text);
  char* rest = nullptr;
  const char* first = strtok_r(copy, separators, &rest);
  const char* second = first == nullptr ? nullptr : strtok_r(nullptr, separators, &rest);
  int32_t start, end;
  if (second == nullptr || !parseWholeNumber(first, &start) || !parseWholeNumber(second, &end)) return false;
  *loopStart = static_cast<uint32_t>(start);
  *loopEnd = static_cast<uint32_t>(end) + 1u;
  return true;
}

int32_t waveRead(WaveFile& record, const char* path, InputImage& input) {
  record = WaveFile{};
  if (input.whole) record.riffFile = riffOpenImage(path, std::move(input.bytes));
  if (record.riffFile == nullptr) {
    return reportError(kErrorRead, "Quarlix - Unable to open file \"%s\" !\n", path);
  }
  int32_t result = loadRecord(record);
  riffClose(record.riffFile);
  record.riffFile = nullptr;
  if (result != 0) {
    waveFree(record);
    return kErrorPassedUp;
  }
  return 0;
}

int32_t waveRead(WaveFile& record, const char* path) {
  InputImage input;
  riffReadInput(path, 0, input);
  return waveRead(record, path, input);
}
