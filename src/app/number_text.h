// Numbers written the way the standard string-to-long conversion with an
// automatic base reads them: optional sign, "0x" hexadecimal, leading-0 octal.
#pragma once

#include <cstdint>

// True when `text` is exactly one such number, nothing before or after it
// (leading white space aside). Values beyond the signed 32-bit range are
// clamped to its nearest limit.
bool parseWholeNumber(const char* text, int32_t* value);
