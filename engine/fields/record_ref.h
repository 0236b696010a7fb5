// A read-only view of one record's values wherever they live: in a record buffer handed
// around by the client, or in the table's column arrays. Readers such as the filter
// evaluator see both through the same few pointers, without copying the record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "result.h"

namespace zelvo {

struct RecordRef {
  // Per field (0-based, in field order): the address of the value of record 0, and the
  // bytes from one record's value to the next one's (0 for a single record buffer).
  const std::uint8_t* const* bases = nullptr;
  const std::uint32_t* strides = nullptr;
  std::size_t index = 0;
  // The record's field state bytes, one per field (0 value, 1 null, 2 unchanged).
  const std::uint8_t* states = nullptr;

  const std::uint8_t* Value(std::size_t field) const { return bases[field] + strides[field] * index; }
  std::uint8_t State(std::size_t field) const { return states[field]; }
};

// Where blob values (memos and binary blobs) are found: a blob field's record value is a
// u32 handle, 1-based, into the table's blob store; 0 means no blob.
class BlobSource {
 public:
  virtual ~BlobSource() = default;
  // The bytes of blob `handle`; they stay valid until the table changes.
  // kBlobHandle for a handle outside the store, kBlobNotFetched for a negative one.
  virtual DBResult BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                             std::uint32_t* length) const = 0;
};

}  // namespace zelvo
