// Large blocks: calloc below the threshold, mapped memory with huge pages above it.
#include "large_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zelvo {

namespace {

// One huge page: below it mapping pays no faults back, and a small table would fault in
// whole 2 MiB pages.
constexpr std::size_t kMapThreshold = std::size_t{2} << 20;

bool Mapped(std::size_t bytes) { return bytes >= kMapThreshold; }

void* Map(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Advice only: without it the block still works.
  (void)::madvise(p, bytes, MADV_HUGEPAGE);
  return p;
}

}  // namespace

void* LargeAlloc(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  return Mapped(bytes) ? Map(bytes) : std::calloc(1, bytes);
}

void* LargeRealloc(void* block, std::size_t old_bytes, std::size_t new_bytes) {
  if (block == nullptr) return LargeAlloc(new_bytes);
  if (new_bytes == 0) new_bytes = 1;
  if (old_bytes == 0) old_bytes = 1;
  if (Mapped(old_bytes) && Mapped(new_bytes)) {
    void* p = ::mremap(block, old_bytes, new_bytes, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
    (void)::madvise(p, new_bytes, MADV_HUGEPAGE);
    return p;  // anonymous pages that grow in are zero already
  }
  if (!Mapped(old_bytes) && !Mapped(new_bytes)) {
    auto* p = static_cast<unsigned char*>(std::realloc(block, new_bytes));
    if (p != nullptr && new_bytes > old_bytes) std::memset(p + old_bytes, 0, new_bytes - old_bytes);
    return p;
  }
  void* p = LargeAlloc(new_bytes);
  if (p == nullptr) return nullptr;
  std::memcpy(p, block, std::min(old_bytes, new_bytes));
  LargeFree(block, old_bytes);
  return p;
}

void LargeFree(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  if (bytes == 0) bytes = 1;
  if (Mapped(bytes)) ::munmap(block, bytes);
  else std::free(block);
}

}  // namespace zelvo
