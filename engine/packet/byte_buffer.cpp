// Packet buffer growth and hand-over.
#include "packet/byte_buffer.h"

#include <cstdlib>
#include <utility>

namespace zelvo {

namespace {

constexpr std::size_t kInitialCapacity = 32768;
int fail_allocation_countdown = 0;

void* Reallocate(void* old, std::size_t size) {
  if (fail_allocation_countdown > 0 && --fail_allocation_countdown == 0) return nullptr;
  return std::realloc(old, size);
}

}  // namespace

PacketBytes::PacketBytes(PacketBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PacketBytes& PacketBytes::operator=(PacketBytes&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

PacketBytes::~PacketBytes() { std::free(data_); }

ByteBuffer::~ByteBuffer() { std::free(data_); }

void ByteBuffer::FailAllocationForTesting(int n) { fail_allocation_countdown = n; }

DBResult ByteBuffer::Grow(std::size_t extra) {
  // Doubling keeps the number of reallocations logarithmic; realloc of a large block moves
  // pages rather than bytes, so growing a big packet costs little.
  std::size_t needed = size_ + extra;
  if (needed < size_) return DBResult::kOutOfMemory;
  std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
  while (capacity < needed) {
    if (capacity > SIZE_MAX / 2) return DBResult::kOutOfMemory;
    capacity *= 2;
  }
  void* p = Reallocate(data_, capacity);
  if (p == nullptr) return DBResult::kOutOfMemory;
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = capacity;
  return DBResult::kOk;
}

void ByteBuffer::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

PacketBytes ByteBuffer::Release() {
  if (size_ < capacity_ && size_ > 0) {
    // A failed shrink keeps the larger block, which is still correct.
    if (void* p = std::realloc(data_, size_)) data_ = static_cast<std::uint8_t*>(p);
  }
  PacketBytes bytes(data_, size_);
  data_ = nullptr;
  size_ = capacity_ = 0;
  return bytes;
}

}  // namespace zelvo
