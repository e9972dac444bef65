#include "app/file_search.h"

#include <algorithm>

#include "host/host.h"

namespace {

bool hasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

char folded(char c, bool ignoreCase) { return ignoreCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The position after the character at `at`: a byte and the UTF-8
// continuation bytes that follow it.
size_t nextCharacter(const std::string& name, size_t at) {
  do {
    ++at;
  } while (at < name.size() && (static_cast<unsigned char>(name[at]) & 0xC0) == 0x80);
  return at;
}

// "*" stands for any run of characters, "?" for any one (a whole UTF-8
// sequence); every other character, "[", "]" and "\" included, stands for
// itself (ASCII letters in either case where the host's names ignore case).
// A mismatch after a "*" lets that star take one more byte, so the work
// stays bounded by the product of the two lengths.
bool matchesPattern(const std::string& pattern, const std::string& name, bool ignoreCase) {
  size_t p = 0, n = 0;
  size_t starAt = std::string::npos, starTook = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      starTook = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n = nextCharacter(name, n);
    } else if (p < pattern.size() && folded(pattern[p], ignoreCase) == folded(name[n], ignoreCase)) {
      ++p;
      ++n;
    } else if (starAt != std::string::npos) {
      p = starAt + 1;
      n = ++starTook;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

std::vector<FoundEntry> searchFiles(const std::string& directory, const std::string& pattern) {
  std::vector<FoundEntry> found;
  if (!hasWildcard(pattern)) {
    if (!pattern.empty() && hostEntryExists(directory + pattern)) found.push_back({pattern, false});
    return found;
  }
  std::vector<HostEntry> entries;
  if (!hostListDirectory(directory, entries)) return found;
  bool ignoreCase = hostNamesIgnoreCase();
  for (const HostEntry& entry : entries) {
    if (!matchesPattern(pattern, entry.name, ignoreCase)) continue;
    found.push_back({entry.name, entry.directory || entry.hidden || entry.system});
  }
  std::sort(found.begin(), found.end(), [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
  return found;
}
