// Large blocks on POSIX hosts: anonymous mappings, aligned to 2 MiB and
// advised into transparent huge pages once they span one, since the first
// touch of each page is what filling a fresh block costs.
#include <sys/mman.h>

#include <cstdint>

#include "host/host.h"

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void* hostMapMemory(size_t size) {
  if (size < kHugePage) {
    void* bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return bytes == MAP_FAILED ? nullptr : bytes;
  }
  // Over-allocate by one huge page, then trim both ends to the alignment.
  size_t length = (size + kHugePage - 1) & ~(kHugePage - 1);
  void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) ::munmap(mapped, aligned - start);
  uintptr_t end = start + length + kHugePage;
  if (end > aligned + length) ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void hostUnmapMemory(void* bytes, size_t size) {
  if (size >= kHugePage) size = (size + kHugePage - 1) & ~(kHugePage - 1);
  ::munmap(bytes, size);
}
