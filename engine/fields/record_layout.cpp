// Record layout of a table's fields.
#include "fields/record_layout.h"

#include <string>

namespace zelvo {

DBResult ExpandArrayFields(std::vector<FieldDesc>* fields) {
  std::vector<FieldDesc> out;
  out.reserve(fields->size());
  std::size_t i = 0;
  while (i < fields->size()) {
    const FieldDesc array = (*fields)[i];
    out.push_back(array);
    ++i;
    if (array.type != FT_ARRAY) continue;
    const std::uint32_t elements = array.units1;
    if (elements == 0 || array.units2 % elements != 0) return DBResult::kUnusableType;
    const std::uint32_t per_element = array.units2 / elements;
    if (per_element == 0 || i + per_element > fields->size()) return DBResult::kUnusableType;
    for (std::uint32_t e = 0; e < elements; ++e) {
      std::string suffix = "[" + std::to_string(e) + "]";
      std::string base(array.Name());
      if (base.size() + suffix.size() > kMaxFieldName) {
        base.resize(kMaxFieldName > suffix.size() ? kMaxFieldName - suffix.size() : 0);
      }
      for (std::uint32_t k = 0; k < per_element; ++k) {
        FieldDesc copy = (*fields)[i + k];
        if (k == 0) copy.SetName(base + suffix);
        out.push_back(copy);
      }
    }
    i += per_element;
  }
  *fields = std::move(out);
  return DBResult::kOk;
}

namespace {

// The record length of one field, with its first unit count settled.
DBResult FieldLength(FieldDesc* f, const RecordLayoutOptions& options) {
  if (f->type == FT_VARBYTES) {
    if (f->subtype == kSubtypeText ||
        (options.xml_mode && f->subtype >= kSubtypeText && f->subtype <= kSubtypeTypedBinary)) {
      f->type = FT_BLOB;
    } else if (options.xml_mode && f->subtype == kSubtypeNone) {
      f->type = FT_BYTES;
    }
  }
  switch (f->type) {
    case FT_STRING:
      if (f->length != 0) f->units1 = f->length - 1;
      else if (f->units1 != 0) f->length = f->units1 + 1;
      else return DBResult::kInvalidArgument;
      break;
    case FT_DATE: case FT_INT32: case FT_TIME: case FT_UINT32: case FT_BOOL32: case FT_BLOB:
      f->length = 4;
      break;
    case FT_BOOL: case FT_INT16: case FT_UINT16: case FT_INT8: case FT_UINT8: case FT_BOOL8:
      f->length = 2;
      break;
    case FT_FLOAT: case FT_DATETIME: case FT_INT64: case FT_UINT64:
      f->length = 8;
      break;
    case FT_BCD: case FT_FMTBCD: {
      std::uint32_t bytes = (f->units1 + 1) / 2;
      f->length = bytes == 0 ? 34 : bytes + 2;
      break;
    }
    case FT_EXTENDED:
      f->length = 10;
      break;
    case FT_BYTES:
      if (f->length != 0) f->units1 = f->length;
      else if (f->units1 != 0) f->length = f->units1;
      else return DBResult::kInvalidArgument;
      break;
    case FT_SQLTIMESTAMP:
      f->length = 16;
      break;
    case FT_TABLE:
      if (f->units1 == 0) return DBResult::kUnusableType;
      f->length = 4;
      break;
    case FT_STRUCT:
    case FT_ARRAY:
      if (f->units1 == 0) return DBResult::kUnusableType;
      f->length = 0;
      break;
    case FT_WIDESTRING:
      f->length = f->units1 + 2;
      break;
    case FT_VARBYTES:
      f->length = f->units1 + 2;
      break;
    default:  // FT_UNKNOWN, FT_REF and unlisted codes keep the length they were given
      break;
  }
  if (f->units1 == 0 && f->type != FT_BLOB) f->units1 = 1;
  const bool composite = f->type == FT_STRUCT || f->type == FT_ARRAY;
  if ((f->length == 0 && !composite) || f->length > kMaxFieldLength) {
    return DBResult::kUnusableType;
  }
  return DBResult::kOk;
}

}  // namespace

DBResult ComputeRecordLayout(std::vector<FieldDesc>* fields, const RecordLayoutOptions& options,
                             std::uint32_t* record_size) {
  if (fields->size() > 0xFFFF) return DBResult::kInvalidArgument;
  std::uint32_t offset = 0;
  // Open structures and arrays: field number and the descendants still to come.
  struct Open {
    std::uint16_t number;
    std::uint32_t remaining;
  };
  std::vector<Open> open;
  for (std::size_t i = 0; i < fields->size(); ++i) {
    FieldDesc& f = (*fields)[i];
    ZELVO_RETURN_IF_ERROR(FieldLength(&f, options));
    while (!open.empty() && open.back().remaining == 0) open.pop_back();
    f.field_number = static_cast<std::uint16_t>(i + 1);
    f.parent_number = open.empty() ? 0 : open.back().number;
    for (Open& o : open) --o.remaining;
    if ((f.type == FT_STRUCT || f.type == FT_ARRAY) && f.units2 != 0) {
      open.push_back({f.field_number, f.units2});
    }
    f.offset = offset;
    offset += f.length;
    if (offset > 0x7FFFFFFF) return DBResult::kUnusableType;
  }
  for (std::size_t i = 0; i < fields->size(); ++i) {
    (*fields)[i].state_offset = offset + static_cast<std::uint32_t>(i);
  }
  *record_size = offset + static_cast<std::uint32_t>(fields->size());
  return DBResult::kOk;
}

}  // namespace zelvo
