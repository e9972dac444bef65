// The whole per-file job on the fuzzer's bytes as an input file, once for
// every option set that drives a different path through the stages.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_job.h"
#include "fuzz_support.h"

namespace {

const std::vector<std::vector<const char*>> kOptionSets = {
    {"-vf"},
    {"-d"},
    {"-c"},
    {"-cadpcmn64"},
    {"-cadpcmima"},
    {"-cadpcmms"},
    {"-c", "-d", "-b17"},
    {"-d", "-ob"},
    {"-d", "-oc"},
    {"-d", "-or"},
    {"-d", "-rl", "-t"},
    {"-ta"},
    {"-tu", "-d"},
    {"-tb", "-ob"},
    {"-m", "-cadpcmima"},
    {"-m", "-or"},
    {"-s11025", "-ob"},
};

// The search encoder costs more than all the sets above together: each
// input drives one of its formats, chosen by the input's length.
const std::vector<std::vector<const char*>> kSearchSets = {
    {"-q", "-c", "-d"},
    {"-q", "-cadpcmn64", "-b16"},
    {"-q", "-cadpcmima", "-d"},
    {"-q", "-cadpcmms", "-b16"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  enterFuzzScratch();
  std::vector<std::vector<const char*>> sets = kOptionSets;
  sets.push_back(kSearchSets[size % kSearchSets.size()]);
  for (const std::vector<const char*>& options : sets) {
    // Every set starts from the fuzzer's bytes: a WAV output replaces the input.
    writeScratchFile("input.wav", bytes, size);
    resetProgramState();
    for (const char* option : options) {
      char text[16];
      std::strcpy(text, option);
      parseOption(text);
    }
    processFile("input.wav");
  }
  return 0;
}
