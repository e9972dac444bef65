// Stores a complete file image under a name without ever leaving a partial
// file there or destroying the old one on failure, where the folder allows.
#pragma once

#include <cstdint>
#include <span>

#include <initializer_list>

// True when replaceFile may store under `path`: an existing file that this
// user may open for writing, or a new name in a folder that allows one.
bool canReplaceFile(const char* path);

// A new or regular target is stored by writing a temporary file beside it
// and renaming that over it; the replacement keeps an existing file's
// permission bits and, where this user may set them, its owner and group.
// An existing file that this user may not write is refused and left as it
// is. Where the folder forbids a new file, and for a target that is not a
// regular file (a device, a pipe), the target is written in place, which a
// failure can leave partly written. The image may come in parts, stored one
// after another. False when anything fails; the temporary file is then
// removed.
bool replaceFile(const char* path, std::initializer_list<std::span<const uint8_t>> image);
