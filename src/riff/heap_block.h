// An owned heap block whose allocation failure is a result, not an
// exception, so every caller can report "Not enough memory" itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

class HeapBlock {
 public:
  HeapBlock() = default;
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  HeapBlock(HeapBlock&& other) noexcept { take(other); }
  HeapBlock& operator=(HeapBlock&& other) noexcept {
    if (this != &other) {
      reset();
      take(other);
    }
    return *this;
  }
  ~HeapBlock() { reset(); }

  // Replaces the contents with `size` zero bytes (the old contents are
  // released first); false when memory is short. A block of size 0 is
  // still a present, allocated block.
  bool allocate(size_t size) { return obtain(size, true); }

  // As allocate, but the bytes are left as they come: for a block that its
  // caller fills completely, so that nothing is zeroed only to be
  // overwritten.
  bool allocateUnfilled(size_t size) { return obtain(size, false); }

  // Shows only the `size` bytes from `offset` on (within what it shows
  // now); the whole allocation stays owned until the block is released.
  void narrow(size_t offset, size_t size) {
    offset_ += offset;
    size_ = size;
  }

  void reset();

  explicit operator bool() const { return base_ != nullptr; }
  uint8_t* data() { return base_ + offset_; }
  const uint8_t* data() const { return base_ + offset_; }
  size_t size() const { return size_; }
  std::span<uint8_t> bytes() { return {data(), size_}; }
  std::span<const uint8_t> bytes() const { return {data(), size_}; }

 private:
  bool obtain(size_t size, bool zeroed);
  void take(HeapBlock& other) {
    base_ = other.base_;
    capacity_ = other.capacity_;
    offset_ = other.offset_;
    size_ = other.size_;
    other.base_ = nullptr;
    other.capacity_ = other.offset_ = other.size_ = 0;
  }

  uint8_t* base_ = nullptr;
  size_t capacity_ = 0;  // what was allocated; 0 for a block from the C heap
  size_t offset_ = 0;
  size_t size_ = 0;
};
