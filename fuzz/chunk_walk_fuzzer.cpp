// The chunk walk and the WAV reader's chunk loading on arbitrary images.
#include <cstdint>
#include <cstring>

#include "app/job_options.h"
#include "fuzz_support.h"
#include "riff/chunk_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  enterFuzzScratch();
  resetProgramState();
  jobOptions.showStructure = true;
  // The image is held exactly as the layer holds an input file.
  RiffFile file;
  if (!file.buffer.allocate(size)) return 0;
  if (size > 0) std::memcpy(file.buffer.data(), bytes, size);
  file.dataEnd = file.bufferEnd = static_cast<int64_t>(size);
  WaveFile wave;
  wave.riffFile = &file;
  if (walkChunks(wave, nullptr, 0) == 0) {
    for (const ChunkInfo* descriptor : {&wave.fmtChunk, &wave.factChunk, &wave.dataChunk, &wave.smplChunk,
                                        &wave.infoChunk}) {
      loadChunk(&file, *descriptor);
    }
  }
  return 0;
}
