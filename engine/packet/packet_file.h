// Whole-file reading and atomic writing of packet bytes: a database file is read into one
// block (huge pages for large files) and written through a synced temporary file renamed
// over the target, so a failed save never leaves a partial file in place of a good one.
#pragma once

#include <string>

#include "packet/byte_buffer.h"

namespace zelvo {

// Reads the whole file. On failure returns false with a message naming the file.
bool ReadPacketFile(const std::string& path, PacketBytes* bytes, std::string* error);

// Writes `size` bytes to `path` atomically: a temporary file beside it, flushed to disk,
// then renamed over it. On failure the target is untouched, the temporary file removed,
// and false returned with a message naming the file.
bool WritePacketFile(const std::string& path, const void* data, std::size_t size,
                     std::string* error);

}  // namespace zelvo
