// An append-only byte sink over ByteBuffer for the XML writer and reader. A failed growth
// is remembered instead of returned, so that formatting code can append freely and check
// once at the end (Failed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "packet/byte_buffer.h"

namespace zelvo {

class XmlBuffer {
 public:
  // Room for `n` more bytes; false (and Failed() from then on) when memory runs out.
  bool Room(std::size_t n) {
    if (failed_) return false;
    if (buffer_.Reserve(n) != DBResult::kOk) failed_ = true;
    return !failed_;
  }
  void Put(char c) {
    if (Room(1)) *buffer_.Append(1) = static_cast<std::uint8_t>(c);
  }
  void Put(std::string_view s) { PutBytes(s.data(), s.size()); }
  void PutBytes(const void* bytes, std::size_t n) {
    if (n != 0 && Room(n)) buffer_.AppendBytes(bytes, n);
  }
  // REQUIRES: Room(n) returned true and nothing was appended since.
  char* Raw(std::size_t n) { return reinterpret_cast<char*>(buffer_.Append(n)); }

  std::uint8_t* data() { return buffer_.data(); }
  const std::uint8_t* data() const { return const_cast<ByteBuffer&>(buffer_).data(); }
  std::size_t size() const { return buffer_.size(); }
  std::string_view View() const { return {reinterpret_cast<const char*>(data()), size()}; }
  void Truncate(std::size_t size) { buffer_.Truncate(size); }
  bool Failed() const { return failed_; }
  // Empties the buffer and forgets a failure; keeps the memory for reuse.
  void Reset() {
    buffer_.Truncate(0);
    failed_ = false;
  }
  PacketBytes Release() { return buffer_.Release(); }

 private:
  ByteBuffer buffer_;
  bool failed_ = false;
};

}  // namespace zelvo
