// Record layout: where each field's value and field state byte live in a record buffer.
#pragma once

#include <cstdint>
#include <vector>

#include "fields/field_types.h"
#include "result.h"

namespace zelvo {

// Expands every array field into the array followed by one copy of its element's fields per
// element; the copies' top fields are named after the array with "[i]" appended.
// Fails with kUnusableType for an array without elements or with a malformed element count.
DBResult ExpandArrayFields(std::vector<FieldDesc>* fields);

struct RecordLayoutOptions {
  bool xml_mode = false;  // the table writes XML: varying bytes turn into blobs or fixed bytes
};

// Fills in every field's length, offset, state offset, field number and parent number, and
// returns the record size (all values, then one field state byte per field).
// Fails with kInvalidArgument for a string or bytes field with neither length nor width and
// kUnusableType for a length of 0 or above 65531 or a composite field without units.
// On failure the fields are left partly filled and must not be used.
DBResult ComputeRecordLayout(std::vector<FieldDesc>* fields, const RecordLayoutOptions& options,
                             std::uint32_t* record_size);

}  // namespace zelvo
