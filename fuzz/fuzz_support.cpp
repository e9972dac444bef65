#include "fuzz_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "app/error_state.h"
#include "app/file_job.h"
#include "app/job_options.h"
#include "riff/chunk_walk.h"

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
