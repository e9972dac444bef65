// Listing folders and reading inputs on POSIX hosts.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "host/host.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

// Names beginning with "." count as hidden, as this host's tools treat them.
bool hostListDirectory(const std::string& directory, std::vector<HostEntry>& entries) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    bool known = ::fstatat(::dirfd(dir.get()), name.c_str(), &info, 0) == 0;
    bool directory = known && S_ISDIR(info.st_mode);
    bool regular = known && S_ISREG(info.st_mode);
    entries.push_back({name, directory, name[0] == '.', !directory && !regular});
  }
  return true;
}

bool hostEntryExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool hostOpenInput(const char* path, HostInput& input) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  input = {fd, static_cast<uint64_t>(info.st_size)};
  return true;
}

int64_t hostReadInput(const HostInput& input, uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::read(static_cast<int>(input.handle), bytes + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

void hostCloseInput(const HostInput& input) { ::close(static_cast<int>(input.handle)); }
