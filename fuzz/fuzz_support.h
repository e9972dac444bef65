// What every harness needs: a quiet, private working directory and the
// program-wide state set back between runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Sends standard output to /dev/null and moves into a fresh scratch
// directory, once per process. Returns that directory.
const std::string& enterFuzzScratch();

// Stores the bytes as a file in the scratch directory.
void writeScratchFile(const char* name, const uint8_t* bytes, size_t size);

// The state a run of the program starts from.
void resetProgramState();
