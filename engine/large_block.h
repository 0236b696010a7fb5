// Zero-filled memory blocks for the engine's big arrays (column arrays, the blob arena,
// packet buffers). Blocks from 2 MiB on are mapped with transparent huge pages: filling a
// fresh block then costs one fault per 2 MiB instead of one per 4 KiB, which on virtual
// machines is most of the cost of loading or writing a large table. Smaller blocks come
// from the heap, whose memory the next table of that size reuses without new faults.
#pragma once

#include <cstddef>

namespace zelvo {

// A zeroed block of `bytes`; nullptr on failure.
void* LargeAlloc(std::size_t bytes);
// Resizes a block from LargeAlloc; the new tail is zeroed. On failure returns nullptr and
// leaves the old block as it was.
void* LargeRealloc(void* block, std::size_t old_bytes, std::size_t new_bytes);
void LargeFree(void* block, std::size_t bytes);

}  // namespace zelvo
