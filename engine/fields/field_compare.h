// Value comparison: the comparison objects of index key fields (FLDObj and its classes) and
// the index-free CompareFieldValues.
#pragma once

#include <cstdint>
#include <memory>

#include "fields/field_types.h"
#include "result.h"

namespace zelvo {

class Collation;

// Compares values of one key field. A null value is passed as nullptr: two nulls are equal
// and a null is less than any value; a descending object negates every result, so nulls
// come last in a descending key.
class FLDObj {
 public:
  FLDObj(std::uint32_t field_type, std::uint32_t length, bool descending);
  virtual ~FLDObj() = default;

  // Negative, 0 or positive.
  int Compare(const void* a, const void* b) const;
  // Copies the value's bytes into a key buffer; returns the number of bytes copied.
  virtual std::uint32_t Copy(const void* value, void* key) const;

  std::uint32_t field_type() const { return field_type_; }
  std::uint32_t length() const { return length_; }
  bool descending() const { return descending_; }

 protected:
  // Compares two present values: negative, 0 or positive, before the descending flag.
  virtual int ComparePresent(const void* a, const void* b) const;

 private:
  std::uint32_t field_type_;
  std::uint32_t length_;
  bool descending_;
};

class FLDInt8 : public FLDObj {
 public:
  using FLDObj::FLDObj;
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDUInt8 : public FLDInt8 {
 public:
  using FLDInt8::FLDInt8;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDInt16 : public FLDObj {
 public:
  using FLDObj::FLDObj;
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDUInt16 : public FLDInt16 {
 public:
  using FLDInt16::FLDInt16;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDInt32 : public FLDObj {
 public:
  using FLDObj::FLDObj;
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDUInt32 : public FLDInt32 {
 public:
  using FLDInt32::FLDInt32;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDInt64 : public FLDObj {
 public:
  using FLDObj::FLDObj;
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDUInt64 : public FLDInt64 {
 public:
  using FLDInt64::FLDInt64;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDFloat : public FLDObj {
 public:
  using FLDObj::FLDObj;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};
class FLDBcd : public FLDObj {
 public:
  using FLDObj::FLDObj;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};

// Zero-terminated Windows-1252 text under the table's locale collation.
class FLDString : public FLDObj {
 public:
  FLDString(std::uint32_t length, bool descending, bool case_insensitive, std::uint32_t lcid);
  std::uint32_t Copy(const void* value, void* key) const override;
  const Collation& collation() const { return *collation_; }
  bool case_insensitive() const { return case_insensitive_; }
 protected:
  int ComparePresent(const void* a, const void* b) const override;
 private:
  const Collation* collation_;
  bool case_insensitive_;
};

// u16 byte length, then UTF-16LE text, under the table's locale collation.
class FLDUniCode : public FLDObj {
 public:
  FLDUniCode(std::uint32_t length, bool descending, bool case_insensitive, std::uint32_t lcid);
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
 private:
  const Collation* collation_;
};

// u16 length, then bytes.
class FLDVarBytes : public FLDObj {
 public:
  using FLDObj::FLDObj;
  std::uint32_t Copy(const void* value, void* key) const override;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};

class FLDTimeStamp : public FLDObj {
 public:
  using FLDObj::FLDObj;
 protected:
  int ComparePresent(const void* a, const void* b) const override;
};

// Values that have no order of their own: any two present values are equal.
class FLDBlob : public FLDObj {
 public:
  using FLDObj::FLDObj;
 protected:
  int ComparePresent(const void* a, const void* b) const override { return 0; }
};
class FLDComposite : public FLDObj {
 public:
  using FLDObj::FLDObj;
 protected:
  int ComparePresent(const void* a, const void* b) const override { return 0; }
};

// The table's owner decides the order through its own function.
using ExtendedCompareFn = int (*)(void* owner, const void* a, const void* b);
class FLDExtended : public FLDObj {
 public:
  FLDExtended(std::uint32_t field_type, std::uint32_t length, bool descending,
              ExtendedCompareFn compare, void* owner);
 protected:
  int ComparePresent(const void* a, const void* b) const override;
 private:
  ExtendedCompareFn compare_;
  void* owner_;
};

struct KeyFieldOptions {
  bool descending = false;
  bool case_insensitive = false;
  std::uint32_t lcid = 0;
};

// The comparison object of a key field. Fails with kUnusableType for types that cannot be
// keys (blobs, structures, arrays, references, nested tables).
DBResult MakeFieldComparer(const FieldDesc& field, const KeyFieldOptions& options,
                           std::unique_ptr<FLDObj>* out);

// Compares two values of a field type without an index: -1, 0 or 1 (nullptr is absent, and
// less than any value). Floats and date-times only test equality: 0 equal, 1 not.
// `units` is the first unit count; strings use the collation of `lcid`, case-sensitively.
int CompareFieldValues(std::uint32_t field_type, const void* a, const void* b,
                       std::uint32_t units, std::uint32_t lcid);

}  // namespace zelvo
