#include "riff/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Image = std::initializer_list<std::span<const uint8_t>>;

bool writeAll(int fd, Image image) {
  for (std::span<const uint8_t> part : image) {
    size_t done = 0;
    while (done < part.size()) {
      ssize_t put = ::write(fd, part.data() + done, part.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<size_t>(put);
    }
  }
  return true;
}

bool writeInPlace(const char* path, Image image) {
  int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = writeAll(fd, image);
  return ::close(fd) == 0 && ok;
}

mode_t creationMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool replaceFile(const char* path, Image image) {
  // Through a symbolic link the file it names is replaced, not the link.
  std::string target = path;
  char resolved[PATH_MAX];
  struct stat info;
  if (::lstat(path, &info) == 0 && S_ISLNK(info.st_mode) && ::realpath(path, resolved) != nullptr) {
    target = resolved;
  }
  if (::stat(target.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return false;
    if (!S_ISREG(info.st_mode)) return writeInPlace(target.c_str(), image);
  }

  std::string temporary = target + ".quarlix-XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, creationMode()) == 0 && writeAll(fd, image);
  ok = ::close(fd) == 0 && ok;
  ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}
