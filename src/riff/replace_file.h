// Stores a complete file image under a name without ever leaving a partial
// file there or destroying the old one on failure.
#pragma once

#include <cstdint>
#include <span>

#include <initializer_list>

// A regular target (or none) is replaced by writing a temporary file beside
// it and renaming that over it. A target that exists but is not a regular
// file (a device, a pipe) is written in place. The image may come in parts,
// stored one after another. False when anything fails; the temporary file is
// then removed.
bool replaceFile(const char* path, std::initializer_list<std::span<const uint8_t>> image);
