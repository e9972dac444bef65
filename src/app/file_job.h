// The per-file job: identify, load, convert, name and write one file.
#pragma once

#include <cstdint>
#include <string>

// The name parts of the file being processed, read by the sample writers.
struct JobNames {
  std::string drive;      // "C:", or empty where the host has no drives
  std::string directory;  // up to and including the last separator
  std::string baseName;   // final component without its extension
  std::string inputPath;
  std::string outputPath;
};

extern JobNames jobNames;

inline constexpr size_t kMaxPathLength = 260;

// Splits a path into drive, directory and base name.
void splitPath(const std::string& path, std::string& drive, std::string& directory, std::string& baseName);

// Processes every file a (possibly wildcard) argument names. 0, or the first
// failing job's negative result.
int32_t processFileArgument(const char* argument);

// One file through every stage. 0, or negative after a reported failure.
int32_t processFile(const std::string& path);
