#include "riff/wave_writer.h"

#include "app/error_state.h"
#include "riff/byte_order.h"

namespace {

int32_t failWrite() {
  reportError(kErrorWrite, "Quarlix - Unable the write chunk !\n");
  return kErrorPassedUp;
}

bool writeChunk(RiffFile* file, ChunkInfo& descriptor, const HeapBlock& contents) {
  if (descriptor.ckid == 0) return true;
  return riffCreateChunk(file, &descriptor, 0) == 0 &&
         riffWrite(file, contents.data(), descriptor.cksize) == static_cast<int64_t>(descriptor.cksize) &&
         riffAscend(file, &descriptor) == 0;
}

// The length of the file the record makes, headers and pad bytes included.
int64_t imageLength(const WaveFile& record) {
  int64_t length = 12;
  for (const ChunkInfo* chunk :
       {&record.fmtChunk, &record.factChunk, &record.dataChunk, &record.smplChunk, &record.infoChunk}) {
    if (chunk->ckid != 0) length += 8 + int64_t{chunk->cksize} + (chunk->cksize & 1);
  }
  return length;
}

}  // namespace

int32_t waveWrite(WaveFile& record, const char* path) {
  if (record.fmtChunk.ckid == 0 || record.dataChunk.ckid == 0) {
    return reportError(kErrorWrite, "Quarlix - Output file is missing vital RIFF chunk !\n");
  }
  // The buffer is no larger than the image, which may not pass the fixed
  // limit the layer keeps to.
  record.riffFile = riffOpen(path, kRiffWriterFlags, imageLength(record));
  if (record.riffFile == nullptr) {
    return reportError(kErrorWrite, "Quarlix - Unable to open file \"%s\" !\n", path);
  }
  RiffFile* file = record.riffFile;
  record.riffFile = nullptr;

  ChunkInfo riff{0, 0, kFourCCWave, 0, 0};
  bool written = riffCreateChunk(file, &riff, RIFF_CREATERIFF) == 0 &&
                 writeChunk(file, record.fmtChunk, record.fmt) &&
                 writeChunk(file, record.factChunk, record.fact) &&
                 writeChunk(file, record.dataChunk, record.data) &&
                 writeChunk(file, record.smplChunk, record.smpl) &&
                 writeChunk(file, record.infoChunk, record.info) && riffAscend(file, &riff) == 0;
  if (!written) {
    // An incomplete image is never stored: the output path may be the input.
    riffDiscard(file);
    return failWrite();
  }
  if (riffClose(file) != 0) return failWrite();
  return 0;
}
