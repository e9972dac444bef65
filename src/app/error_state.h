// The program-wide failure state: the failing operation records its message
// and code here, and the run prints the pending message once, at the end.
#pragma once

#include <cstdint>

inline constexpr int32_t kErrorPassedUp = -1;     // failure already reported
inline constexpr int32_t kErrorNoMemory = -2;
inline constexpr int32_t kErrorInput = -3;        // not found, not openable, not RIFF WAVE
inline constexpr int32_t kErrorRead = -5;         // a WAV file cannot be read
inline constexpr int32_t kErrorWrite = -6;        // an output cannot be created or written
inline constexpr int32_t kErrorRefused = -10;     // bad option, name or input

inline constexpr int kErrorMessageCapacity = 1024;

extern int32_t errorCode;
extern char errorMessage[kErrorMessageCapacity];

// Formats the message into errorMessage, stores code in errorCode and returns
// code, so a caller can write `return reportError(...)`.
int32_t reportError(int32_t code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Reports the system's out-of-memory message.
int32_t reportNoMemory();

// Fills an empty errorMessage from the generic text for errorCode.
void explainErrorCode();

// Back to the state at program start (used between runs inside one process).
void resetErrorState();
