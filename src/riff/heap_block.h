// An owned, zero-filled heap block whose allocation failure is a result, not
// an exception, so every caller can report "Not enough memory" itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <utility>

#include "host/host.h"

class HeapBlock {
 public:
  HeapBlock() = default;
  HeapBlock(HeapBlock&& other) noexcept : bytes_(std::move(other.bytes_)), size_(other.size_) { other.size_ = 0; }
  HeapBlock& operator=(HeapBlock&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    size_ = other.size_;
    other.size_ = 0;
    return *this;
  }

  // Replaces the contents with `size` zero bytes; false when memory is short.
  // A block of size 0 is still a present, allocated block.
  bool allocate(size_t size) {
    void* bytes = std::calloc(size == 0 ? 1 : size, 1);
    if (bytes == nullptr) return false;
    hostAdviseHugePages(bytes, size);
    bytes_.reset(static_cast<uint8_t*>(bytes));
    size_ = size;
    return true;
  }

  void reset() {
    bytes_.reset();
    size_ = 0;
  }

  explicit operator bool() const { return bytes_ != nullptr; }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  std::span<uint8_t> bytes() { return {bytes_.get(), size_}; }
  std::span<const uint8_t> bytes() const { return {bytes_.get(), size_}; }

 private:
  struct Release {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<uint8_t, Release> bytes_;
  size_t size_ = 0;
};
