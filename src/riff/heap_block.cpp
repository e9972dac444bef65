#include "riff/heap_block.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "host/host.h"

namespace {

// The sanitizer builds take every block from the C heap, where the
// sanitizer watches each block's bounds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPlainHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPlainHeap = true;
#else
constexpr bool kPlainHeap = false;
#endif
#else
constexpr bool kPlainHeap = false;
#endif

// Blocks from this size on are pages of the host's own (hostMapMemory),
// in whole granules. The last two released are kept for the next blocks
// that fit: a conversion's output, the WAV writer's image and every file of
// a pattern run then reuse memory whose pages are already there, instead of
// paying a page fault for each page of a fresh one.
constexpr size_t kLargeBlock = size_t{256} << 10;
constexpr size_t kGranule = size_t{64} << 10;
constexpr size_t kKeptBlocks = 2;

struct KeptBlock {
  uint8_t* bytes;
  size_t capacity;
};

KeptBlock kept[kKeptBlocks] = {};

bool isLarge(size_t size) { return !kPlainHeap && size >= kLargeBlock; }

// The smallest kept block that holds `size` bytes; when none does, all are
// handed back first, so that memory never holds blocks no file uses, and
// fresh pages are mapped. `fresh` tells whether they still read as zero.
uint8_t* takeLarge(size_t size, size_t& capacity, bool& fresh) {
  KeptBlock* best = nullptr;
  for (KeptBlock& block : kept) {
    if (block.bytes != nullptr && block.capacity >= size && (best == nullptr || block.capacity < best->capacity)) {
      best = &block;
    }
  }
  if (best != nullptr) {
    uint8_t* bytes = best->bytes;
    capacity = best->capacity;
    *best = {};
    fresh = false;
    return bytes;
  }
  for (KeptBlock& block : kept) {
    if (block.bytes != nullptr) hostUnmapMemory(block.bytes, block.capacity);
    block = {};
  }
  capacity = (size + kGranule - 1) / kGranule * kGranule;
  fresh = true;
  return static_cast<uint8_t*>(hostMapMemory(capacity));
}

// Keeps a released block in place of the smallest one kept, or hands back
// whichever of the two is smaller.
void giveLarge(uint8_t* bytes, size_t capacity) {
  KeptBlock* smallest = &kept[0];
  for (KeptBlock& block : kept) {
    if (block.bytes == nullptr) {
      block = {bytes, capacity};
      return;
    }
    if (block.capacity < smallest->capacity) smallest = &block;
  }
  if (smallest->capacity < capacity) std::swap(bytes, smallest->bytes), std::swap(capacity, smallest->capacity);
  hostUnmapMemory(bytes, capacity);
}

}  // namespace

bool HeapBlock::obtain(size_t size, bool zeroed) {
  reset();
  if (!isLarge(size)) {
    size_t bytes = size == 0 ? 1 : size;
    base_ = static_cast<uint8_t*>(zeroed ? std::calloc(bytes, 1) : std::malloc(bytes));
  } else {
    bool fresh = false;
    base_ = takeLarge(size, capacity_, fresh);
    if (base_ != nullptr && zeroed && !fresh) std::memset(base_, 0, size);
  }
  if (base_ == nullptr) {
    capacity_ = 0;
    return false;
  }
  size_ = size;
  return true;
}

void HeapBlock::reset() {
  if (base_ != nullptr) {
    if (capacity_ == 0) {
      std::free(base_);
    } else {
      giveLarge(base_, capacity_);
    }
  }
  base_ = nullptr;
  capacity_ = offset_ = size_ = 0;
}
