// The entry point: the banner, the options in argument order, the closing
// line or the one pending failure message, and the exit status.
#pragma once

#include <cstdint>

// 0 accepted, -1 usage shown (stop, no failure), -10 refused and reported.
// Upper-cases the argument in place, as every comparison is case-insensitive.
int32_t parseOption(char* argument);

// True when `text` holds exactly one number (any base the string-to-long
// conversion reads), stored in `value`.
bool parseNumber(const char* text, int32_t* value);

// Runs the whole program over argv; returns the exit status.
int runQuarlix(int argc, char** argv);
