// Output replacement on POSIX hosts: a temporary file beside the target,
// renamed over it. The replacement keeps an existing file's permission bits
// and, where this user may set them, its owner and group; "may not write" is
// what opening the file for writing says, so root may replace a read-only
// file. Through a symbolic link the file it names is replaced.
#include "host/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using Image = std::initializer_list<std::span<const uint8_t>>;

// All parts with one call, as a rule; a call that stores less is followed
// by another for the rest. An image comes in a few parts (at most 8).
bool writeAll(int fd, Image image) {
  constexpr size_t kMostParts = 8;
  iovec parts[kMostParts];
  size_t count = 0;
  for (std::span<const uint8_t> part : image) {
    if (part.empty()) continue;
    if (count == kMostParts) return false;
    parts[count++] = {const_cast<uint8_t*>(part.data()), part.size()};
  }
  iovec* next = parts;
  while (count > 0) {
    ssize_t put = ::writev(fd, next, static_cast<int>(count));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    size_t done = static_cast<size_t>(put);
    for (; count > 0 && done >= next->iov_len; --count) done -= next++->iov_len;
    if (count > 0) {
      next->iov_base = static_cast<uint8_t*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
  return true;
}

// Opening without truncating asks the system whether this user may write
// the file (root may write a read-only one) and changes nothing in it.
int openExisting(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); }

// Writes through an open descriptor and closes it; a regular file is emptied
// first. A failure here can leave part of the image behind.
bool writeInPlace(int fd, bool truncate, Image image) {
  bool ok = (!truncate || ::ftruncate(fd, 0) == 0) && writeAll(fd, image);
  return ::close(fd) == 0 && ok;
}

std::string directoryOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// The replacement takes the old file's owner and group where this user may
// set them, then its permission bits (a change of owner clears set-id bits).
bool takeOver(int fd, const struct stat& old) {
  bool owned = ::fchown(fd, old.st_uid, old.st_gid) == 0 ||
               (errno == EPERM && (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 || errno == EPERM));
  return owned && ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Through a symbolic link the file it names is replaced, not the link.
// `exists` tells whether the target is there, `info` then describes it.
std::string resolvedTarget(const char* path, struct stat& info, bool& exists) {
  exists = ::lstat(path, &info) == 0;
  if (!exists || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  std::string target = ::realpath(path, resolved) != nullptr ? resolved : path;
  exists = ::stat(target.c_str(), &info) == 0;
  return target;
}

// A new file beside the target under a short name of its own, hidden from
// pattern runs, so that every name the host allows can be the target. It
// is created with `mode` as the process's umask leaves it. -1 with errno
// set when none can be created.
int createTemporary(const std::string& directory, mode_t mode, std::string& name) {
  static uint64_t sequence = 0;
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t mix = (uint64_t{static_cast<uint32_t>(::getpid())} << 32 ^ static_cast<uint64_t>(now.tv_nsec) ^
                    ++sequence * 0x9E3779B97F4A7C15u);
    mix ^= mix >> 31;
    mix *= 0xBF58476D1CE4E5B9u;
    mix ^= mix >> 27;
    name = directory + ".quarlix-";
    for (int i = 0; i < 6; ++i, mix /= 36) name += "0123456789abcdefghijklmnopqrstuvwxyz"[mix % 36];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool hostCanReplaceFile(const char* path) {
  struct stat info;
  bool exists;
  std::string target = resolvedTarget(path, info, exists);
  if (!exists) {
    std::string directory = directoryOf(target);
    return ::access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0;
  }
  if (S_ISDIR(info.st_mode)) return false;
  // A device or pipe is not opened twice: opening one can have effects.
  if (!S_ISREG(info.st_mode)) return ::access(target.c_str(), W_OK) == 0;
  int fd = openExisting(target);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool hostReplaceFile(const char* path, Image image) {
  struct stat old;
  bool exists;
  std::string target = resolvedTarget(path, old, exists);
  int existing = -1;
  if (exists) {
    if (S_ISDIR(old.st_mode)) return false;
    existing = openExisting(target);
    if (existing < 0) return false;
    if (!S_ISREG(old.st_mode)) return writeInPlace(existing, false, image);
  }

  // A replacement takes the old file's permissions once it is complete; a
  // new file gets the usual ones at once.
  std::string temporary;
  int fd = createTemporary(directoryOf(target), exists ? 0600 : 0666, temporary);
  if (fd < 0) {
    // The folder forbids a new file beside the target: write it in place.
    bool forbidden = errno == EACCES || errno == EPERM || errno == EROFS;
    if (exists && forbidden) return writeInPlace(existing, true, image);
    if (exists) ::close(existing);
    return false;
  }
  if (exists) ::close(existing);
  bool ok = (!exists || takeOver(fd, old)) && writeAll(fd, image);
  ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}
