// Everything quarlix asks of the operating system. The build compiles one
// implementation of this header: src/host/posix or src/host/windows. Paths
// and names are UTF-8 text on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

// Sets the process up before anything is printed: standard output passes
// bytes through unchanged, and a store cut short by a limit fails like a
// short write instead of ending the process. Where the host hands the
// program no UTF-8 arguments, argv is replaced by UTF-8 copies that live
// until the process ends.
void hostStart(int& argc, char**& argv);

// Path syntax. The drive prefix ("C:") is 0 characters long where the host
// has no drives; a separator ends the directory part of a path.
size_t hostDriveLength(const std::string& path);
bool hostIsSeparator(char c);

// Whether an argument that begins with "/", the option mark, is a file name
// on this host instead.
bool hostSlashArgumentIsPath(const char* argument);

// Whether the host's file names differ in letter case only where they name
// different files; wildcard patterns match the same way.
bool hostNamesIgnoreCase();

struct HostEntry {
  std::string name;
  bool directory;
  bool hidden;
  bool system;  // the system attribute; where there is none, anything but a
                // regular file or a directory
};

// Every entry of `directory` ("" is the current one) but "." and "..", in
// the order the host delivers them. False when it cannot be listed.
bool hostListDirectory(const std::string& directory, std::vector<HostEntry>& entries);

// True when `path` names an existing entry.
bool hostEntryExists(const std::string& path);

// An input opened for reading. Only regular files open: a pipe or a device
// is never read, as a read could block or never end.
struct HostInput {
  intptr_t handle;
  uint64_t size;
};

bool hostOpenInput(const char* path, HostInput& input);
// Reads until `count` bytes are in or the file ends: the bytes read, or -1
// when reading fails.
int64_t hostReadInput(const HostInput& input, uint8_t* bytes, size_t count);
void hostCloseInput(const HostInput& input);

// True when hostReplaceFile may store under `path`, as far as can be told
// beforehand: an existing file that this user may write, or a new name in a
// folder that takes one.
bool hostCanReplaceFile(const char* path);

// Stores the image (which may come in parts, at most 8) under `path` through a
// temporary file beside it that then takes the target's place, so a failure
// never leaves a partial file nor destroys the old one; the replacement
// keeps what the host lets it keep of the old file (permissions, owner,
// attributes). An existing file this user may not write is refused and left
// as it is. Where the folder forbids a new file, and for a target that is no
// regular file, the target is written in place, which a failure can leave
// partly written. False when anything fails; no temporary file is left.
bool hostReplaceFile(const char* path, std::initializer_list<std::span<const uint8_t>> image);

// Memory for a large block, taken from the system and handed back to it
// whole: its pages read as zero until written, and come in huge pages
// where the host has them, so that filling a block of tens of megabytes
// costs few page faults. Null when memory is short; `size` is at least 1.
void* hostMapMemory(size_t size);
void hostUnmapMemory(void* bytes, size_t size);
