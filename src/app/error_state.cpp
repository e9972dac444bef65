#include "app/error_state.h"

#include <cstdarg>
#include <cstdio>

int32_t errorCode = 0;
char errorMessage[kErrorMessageCapacity] = {};

int32_t reportError(int32_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(errorMessage, sizeof errorMessage, format, args);
  va_end(args);
  errorCode = code;
  return code;
}

int32_t reportNoMemory() { return reportError(kErrorNoMemory, "Quarlix - Not enough memory !\n"); }

void explainErrorCode() {
  if (errorMessage[0] != '\0' || errorCode == 0) return;
  const char* text;
  switch (errorCode) {
    case -1: text = "Error : Error during diagnostic printout.\n"; break;
    case -2: text = "Error : Not enough memory to complete this operation.\n"; break;
    case -3: text = "Error : File not found.\n"; break;
    case -4: text = "Error : Unexpected end-of-file.\n"; break;
    case -5: text = "Error : I/O read failure (file corrupted ?).\n"; break;
    case -6: text = "Error : I/O write failure (disk full ?).\n"; break;
    case -7: text = "Error : I/O seek failure (file corrupted ?).\n"; break;
    case -8: text = "Error : A program error has occurred.\n"; break;
    default: text = "Error : Unknown error number.\n"; break;
  }
  std::snprintf(errorMessage, sizeof errorMessage, "%s", text);
}

void resetErrorState() {
  errorCode = 0;
  errorMessage[0] = '\0';
}
