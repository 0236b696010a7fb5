// How a record's field value becomes a packet row value and back, for the fields whose
// value lives in the record itself (blobs and nested tables go through their own stores).
#pragma once

#include <cstdint>

#include "fields/field_types.h"
#include "result.h"

namespace zelvo {

struct PacketValue {
  std::uint32_t state = 0;  // ItemState
  std::uint32_t length = 0;
  const void* data = nullptr;
};

// The packet value of a field whose record value is at `value` and whose field state byte
// is `field_state`. Empty 8-bit strings travel as one zero byte (so they stay distinct from
// null); empty varying bytes and wide strings travel as null.
PacketValue PacketValueOfField(const FieldDesc& field, const std::uint8_t* value,
                               std::uint8_t field_state);

// Stores a packet value into the field's record value area (`field.length` bytes at `dst`).
// 8-bit strings longer than the field are cut at its width, as a packet from elsewhere may
// hold them; every value is zero-padded to the field's length.
void StoreFieldValue(const FieldDesc& field, const std::uint8_t* data, std::uint32_t length,
                     std::uint8_t* dst);

}  // namespace zelvo
