// What every harness needs: a quiet, private working directory and the
// program-wide state set back between runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sends standard output to /dev/null and moves into a fresh scratch
// directory, once per process. Returns that directory.
const std::string& enterFuzzScratch();

// Stores the bytes as a file in the scratch directory.
void writeScratchFile(const char* name, const uint8_t* bytes, size_t size);

// The state a run of the program starts from.
void resetProgramState();

struct qx_decoder;

// Reads all an opened image holds, `chunk` samples at a time, and stops the
// run unless that is its sample count (none when qx_open refused it, with
// `opened` its result); a refused image must read nothing looped either.
std::vector<int16_t> readImageStraight(qx_decoder& decoder, int opened, size_t chunk);

// Reads the image looped, up to its loop's end and then a few passes of the
// loop (as long as that is short), in reads of `chunk`: every sample must be
// the straight one it repeats. Without a loop, a looped read is a straight
// one.
void checkLoopedReads(qx_decoder& decoder, const std::vector<int16_t>& straight, size_t chunk);
