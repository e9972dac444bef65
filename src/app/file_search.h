// Expands a file argument whose last component may hold "*" and "?".
#pragma once

#include <string>
#include <vector>

struct FoundEntry {
  std::string name;  // as the file system reports it
  bool skipped;      // a directory, hidden or special entry: not processed
};

// The entries the argument names, sorted by name so that every run takes
// them in the same order. Empty when nothing matches or the directory does
// not exist. A name without wildcards stands for itself and is never skipped:
// the job refuses it with a message when it is no file it can read. Among
// wildcard matches, directories, hidden and system entries are skipped.
std::vector<FoundEntry> searchFiles(const std::string& directory, const std::string& pattern);
