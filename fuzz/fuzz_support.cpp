#include "fuzz_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "riff/chunk_walk.h"
#include "quarlix_decode.h"

const std::string& enterFuzzScratch() {
  static const std::string scratch = [] {
    int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 1);
    ::close(devNull);
    char pattern[] = "/tmp/quarlix-fuzz-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr || ::chdir(made) != 0) std::abort();
    return std::string(made);
  }();
  return scratch;
}

void writeScratchFile(const char* name, const uint8_t* bytes, size_t size) {
  FILE* file = std::fopen(name, "wb");
  if (file == nullptr || std::fwrite(bytes, 1, size, file) != size) std::abort();
  std::fclose(file);
}

void resetProgramState() {
  jobOptions = JobOptions{};
  jobNames = JobNames{};
  resetErrorState();
  resetChunkWalk();
}

std::vector<int16_t> readImageStraight(qx_decoder& decoder, int opened, size_t chunk) {
  std::vector<int16_t> straight;
  std::vector<int16_t> part(chunk);
  for (size_t n; (n = qx_read(&decoder, part.data(), chunk)) > 0;) {
    if (n > chunk) std::abort();
    straight.insert(straight.end(), part.begin(), part.begin() + static_cast<long>(n));
  }
  if (straight.size() != (opened == QX_OK ? qx_sample_count(&decoder) : 0)) std::abort();
  if (opened != QX_OK && qx_read_looped(&decoder, part.data(), chunk) != 0) std::abort();
  return straight;
}

void checkLoopedReads(qx_decoder& decoder, const std::vector<int16_t>& straight, size_t chunk) {
  uint32_t start = qx_loop_start(&decoder);
  uint32_t end = qx_loop_end(&decoder);
  qx_rewind(&decoder);
  if (end == 0) {
    std::vector<int16_t> again(straight.size() + 1);
    if (qx_read_looped(&decoder, again.data(), again.size()) != straight.size()) std::abort();
    if (!std::equal(straight.begin(), straight.end(), again.begin())) std::abort();
    return;
  }
  if (start >= end || end > straight.size()) std::abort();
  std::vector<int16_t> part(chunk);
  size_t total = std::min<size_t>(end + 3 * size_t{end - start} + chunk, 1u << 18);
  for (size_t done = 0; done < total;) {
    if (qx_read_looped(&decoder, part.data(), chunk) != chunk) std::abort();
    for (size_t i = 0; i < chunk; ++i, ++done) {
      size_t at = done < end ? done : start + (done - end) % (end - start);
      if (part[i] != straight[at]) std::abort();
    }
  }
}
