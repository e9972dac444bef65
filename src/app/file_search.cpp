#include "app/file_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace {

bool hasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

// "*" stands for any run of characters, "?" for any one; every other
// character, "[", "]" and "\" included, stands for itself. A mismatch after a
// "*" lets that star take one more character, so the work stays bounded by
// the product of the two lengths.
bool matchesPattern(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t starAt = std::string::npos, starTook = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      starTook = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
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

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::vector<FoundEntry> searchFiles(const std::string& directory, const std::string& pattern) {
  std::vector<FoundEntry> found;
  struct stat info;
  if (!hasWildcard(pattern)) {
    if (!pattern.empty() && ::stat((directory + pattern).c_str(), &info) == 0) {
      found.push_back({pattern, false});
    }
    return found;
  }
  std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || !matchesPattern(pattern, name)) continue;
    bool regular = ::fstatat(::dirfd(dir.get()), name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode);
    found.push_back({name, name[0] == '.' || !regular});
  }
  std::sort(found.begin(), found.end(), [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
  return found;
}

bool namesFileSystemEntry(const char* path) {
  struct stat info;
  return ::lstat(path, &info) == 0;
}
