// Path syntax on Windows: a drive prefix, "\" and "/" both separate, and
// names that differ in letter case only name the same file.
#include "host/host.h"

size_t hostDriveLength(const std::string& path) { return path.size() >= 2 && path[1] == ':' ? 2 : 0; }

bool hostIsSeparator(char c) { return c == '\\' || c == '/'; }

bool hostNamesIgnoreCase() { return true; }

// No path begins with "/" here: every such argument is an option.
bool hostSlashArgumentIsPath(const char*) { return false; }
