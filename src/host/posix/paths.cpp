// Path syntax on POSIX hosts: no drives, "/" alone separates, and letter
// case tells names apart.
#include <sys/stat.h>

#include <cstring>

#include "host/host.h"

size_t hostDriveLength(const std::string&) { return 0; }

bool hostIsSeparator(char c) { return c == '/'; }

bool hostNamesIgnoreCase() { return false; }

// Here every absolute path begins with "/", the option mark. Such an
// argument is a file name when no option could be written so (it holds a
// further "/" or a ".") or when it names an existing entry, a dangling link
// too; the root folder itself, a lone "/", stays an option.
bool hostSlashArgumentIsPath(const char* argument) {
  if (argument[1] == '\0') return false;
  struct stat info;
  return std::strpbrk(argument + 1, "/.") != nullptr || ::lstat(argument, &info) == 0;
}
