// Packet buffer growth and hand-over.
#include "packet/byte_buffer.h"

#include <utility>

#include "large_block.h"

namespace zelvo {

namespace {

constexpr std::size_t kInitialCapacity = 32768;
int fail_allocation_countdown = 0;

void* Reallocate(void* old, std::size_t old_size, std::size_t size) {
  if (fail_allocation_countdown > 0 && --fail_allocation_countdown == 0) return nullptr;
  return LargeRealloc(old, old_size, size);
}

}  // namespace

PacketBytes::PacketBytes(PacketBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      allocated_(std::exchange(other.allocated_, 0)) {}

PacketBytes& PacketBytes::operator=(PacketBytes&& other) noexcept {
  if (this != &other) {
    LargeFree(data_, allocated_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    allocated_ = std::exchange(other.allocated_, 0);
  }
  return *this;
}

PacketBytes::~PacketBytes() { LargeFree(data_, allocated_); }

ByteBuffer::~ByteBuffer() { LargeFree(data_, capacity_); }

void ByteBuffer::FailAllocationForTesting(int n) { fail_allocation_countdown = n; }

DBResult ByteBuffer::Grow(std::size_t extra) {
  // Doubling keeps the number of reallocations logarithmic; a large block grows by
  // remapping its pages, so growing a big packet costs little.
  std::size_t needed = size_ + extra;
  if (needed < size_) return DBResult::kOutOfMemory;
  std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
  while (capacity < needed) {
    if (capacity > SIZE_MAX / 2) return DBResult::kOutOfMemory;
    capacity *= 2;
  }
  void* p = Reallocate(data_, capacity_, capacity);
  if (p == nullptr) return DBResult::kOutOfMemory;
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = capacity;
  return DBResult::kOk;
}

void ByteBuffer::Clear() {
  LargeFree(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

PacketBytes ByteBuffer::Release() {
  if (size_ < capacity_ && size_ > 0) {
    // A failed shrink keeps the larger block, which is still correct.
    if (void* p = LargeRealloc(data_, capacity_, size_)) {
      data_ = static_cast<std::uint8_t*>(p);
      capacity_ = size_;
    }
  }
  PacketBytes bytes(data_, size_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
  return bytes;
}

}  // namespace zelvo
