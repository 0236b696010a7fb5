// A growable byte buffer for packets, and the finished packet's owner. Large buffers are
// mapped blocks (large_block.h): growth remaps pages instead of copying bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "result.h"

namespace zelvo {

// The bytes of a finished packet. Move-only; frees its memory.
class PacketBytes {
 public:
  PacketBytes() = default;
  // Takes over a block from LargeAlloc of `allocated` bytes holding `size` packet bytes.
  PacketBytes(std::uint8_t* data, std::size_t size, std::size_t allocated)
      : data_(data), size_(size), allocated_(allocated) {}
  PacketBytes(PacketBytes&& other) noexcept;
  PacketBytes& operator=(PacketBytes&& other) noexcept;
  PacketBytes(const PacketBytes&) = delete;
  PacketBytes& operator=(const PacketBytes&) = delete;
  ~PacketBytes();

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t allocated_ = 0;
};

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer();

  // Makes room for `extra` more bytes; kOutOfMemory leaves the buffer as it was.
  DBResult Reserve(std::size_t extra) {
    return capacity_ - size_ >= extra ? DBResult::kOk : Grow(extra);
  }
  // REQUIRES: Reserve(n) succeeded since the last append.
  std::uint8_t* Append(std::size_t n) {
    std::uint8_t* p = data_ + size_;
    size_ += n;
    return p;
  }
  void AppendBytes(const void* bytes, std::size_t n) { std::memcpy(Append(n), bytes, n); }

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  void Truncate(std::size_t size) { size_ = size; }
  void Clear();

  // Trims to the exact size and hands the bytes over; the buffer is empty afterwards.
  PacketBytes Release();

  // Test hook: the n-th allocation from now on fails (n = 1 is the next one); 0 switches off.
  static void FailAllocationForTesting(int n);

 private:
  DBResult Grow(std::size_t extra);

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zelvo
