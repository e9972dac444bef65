#include "app/number_text.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

bool parseWholeNumber(const char* text, int32_t* value) {
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(text, &end, 0);
  if (end == text || *end != '\0') return false;
  constexpr long long low = std::numeric_limits<int32_t>::min();
  constexpr long long high = std::numeric_limits<int32_t>::max();
  *value = static_cast<int32_t>(number < low ? low : number > high ? high : number);
  return true;
}
