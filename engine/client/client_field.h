// TField: one field of a TClientDataSet, read and written through the dataset's current
// record buffer. Field objects belong to their dataset and live while it is open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fields/field_types.h"

namespace zelvo::client {

class TClientDataSet;

class TField {
 public:
  TField(TClientDataSet* dataset, const FieldDesc& desc);

  const std::string& FieldName() const { return name_; }
  std::uint32_t FieldNo() const { return desc_.field_number; }  // from 1
  ClientFieldKind DataType() const { return kind_; }
  // Characters of a string, bytes of a bytes field, BCD precision; 0 for other kinds.
  std::uint32_t Size() const;
  bool Required() const { return (desc_.attributes & kAttrRequired) != 0; }
  bool ReadOnly() const { return (desc_.attributes & kAttrReadOnly) != 0; }
  bool IsBlob() const;
  const FieldDesc& Desc() const { return desc_; }

  // Reading: the current record's value; a null value (or no current record) reads as
  // empty text and 0. Strings and text memos give their 8-bit bytes.
  bool IsNull() const;
  std::string AsString() const;
  // Throws "'x' is not a valid integer value" for a value that is not an integer.
  std::int64_t AsInteger() const;

  // Writing, in the edit and insert states only (else EDatabaseError). An empty text stores
  // an empty string in a string field (not null); in other fields it stores null, as does
  // Clear(). A text the field cannot take raises EDatabaseError and changes nothing.
  void SetAsString(std::string_view text);
  void SetAsInteger(std::int64_t value);
  void Clear();

 private:
  TClientDataSet* dataset_;
  FieldDesc desc_;
  std::string name_;
  ClientFieldKind kind_;
};

}  // namespace zelvo::client
