// Process set-up and memory advice on POSIX hosts.
#include <sys/mman.h>

#include <csignal>
#include <cstdint>

#include "host/host.h"

void hostStart(int&, char**&) {
  // A store cut short by the file-size limit fails like any short write
  // (EFBIG), so the writer reports it and removes its temporary file,
  // instead of the signal ending the process half way.
  std::signal(SIGXFSZ, SIG_IGN);
}

// Long samples fill tens of megabytes; in huge pages the first touch of
// each costs one fault per 2 MiB instead of one per 4 KiB.
void hostAdviseHugePages(void* bytes, size_t size) {
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size < 2 * kHugePage) return;
  uintptr_t start = (reinterpret_cast<uintptr_t>(bytes) + kHugePage - 1) & ~(kHugePage - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(bytes) + size) & ~(kHugePage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}
