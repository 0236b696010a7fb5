// Comparison objects of key fields and the index-free value comparison.
#include "fields/field_compare.h"

#include <cstring>
#include <vector>

#include "fields/bcd.h"
#include "fields/collation.h"

namespace zelvo {

namespace {

// Record values sit at arbitrary offsets, so every load goes through memcpy.
template <typename T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

// The text of an 8-bit string value: up to its terminator, never past the field.
std::size_t StringLength(const void* v, std::uint32_t length) {
  return ::strnlen(static_cast<const char*>(v), length);
}

// A UTF-16 value's code units, copied out so that the collator sees aligned memory.
void WideText(const void* v, std::uint32_t length, std::u16string* out) {
  std::uint16_t bytes = Load<std::uint16_t>(v);
  std::uint32_t capacity = length >= 2 ? length - 2 : 0;
  if (bytes > capacity) bytes = static_cast<std::uint16_t>(capacity);
  out->resize(bytes / 2);
  if (!out->empty()) std::memcpy(out->data(), static_cast<const char*>(v) + 2, bytes / 2 * 2);
}

int CompareVarBytes(const void* a, const void* b, std::uint32_t length) {
  std::uint32_t capacity = length >= 2 ? length - 2 : 0;
  std::uint32_t la = std::min<std::uint32_t>(Load<std::uint16_t>(a), capacity);
  std::uint32_t lb = std::min<std::uint32_t>(Load<std::uint16_t>(b), capacity);
  int c = std::memcmp(static_cast<const char*>(a) + 2, static_cast<const char*>(b) + 2,
                      std::min(la, lb));
  if (c != 0) return Sign(c);
  return Order(la, lb);
}

int CompareTimeStamp(const void* a, const void* b) {
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  for (int i = 0; i < 6; ++i) {
    int c = Order(Load<std::uint16_t>(pa + 2 * i), Load<std::uint16_t>(pb + 2 * i));
    if (c != 0) return c;
  }
  return Order(Load<std::uint32_t>(pa + 12), Load<std::uint32_t>(pb + 12));
}

int CompareStrings(const Collation& collation, const void* a, const void* b,
                   std::uint32_t length) {
  return collation.Compare8(static_cast<const char*>(a), StringLength(a, length),
                            static_cast<const char*>(b), StringLength(b, length));
}

int CompareWide(const Collation& collation, const void* a, const void* b, std::uint32_t length) {
  std::u16string ta, tb;
  WideText(a, length, &ta);
  WideText(b, length, &tb);
  return collation.Compare16(ta.data(), ta.size(), tb.data(), tb.size());
}

}  // namespace

FLDObj::FLDObj(std::uint32_t field_type, std::uint32_t length, bool descending)
    : field_type_(field_type), length_(length), descending_(descending) {}

int FLDObj::Compare(const void* a, const void* b) const {
  int c = (a == nullptr || b == nullptr) ? (a == b ? 0 : (a == nullptr ? -1 : 1))
                                         : ComparePresent(a, b);
  return descending_ ? -c : c;
}

std::uint32_t FLDObj::Copy(const void* value, void* key) const {
  std::memcpy(key, value, length_);
  return length_;
}

int FLDObj::ComparePresent(const void* a, const void* b) const {
  return Sign(std::memcmp(a, b, length_));
}

std::uint32_t FLDInt8::Copy(const void* value, void* key) const {
  std::memcpy(key, value, 1);
  return 1;
}
int FLDInt8::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::int8_t>(a), Load<std::int8_t>(b));
}
int FLDUInt8::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::uint8_t>(a), Load<std::uint8_t>(b));
}

std::uint32_t FLDInt16::Copy(const void* value, void* key) const {
  std::memcpy(key, value, 2);
  return 2;
}
int FLDInt16::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::int16_t>(a), Load<std::int16_t>(b));
}
int FLDUInt16::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::uint16_t>(a), Load<std::uint16_t>(b));
}

std::uint32_t FLDInt32::Copy(const void* value, void* key) const {
  std::memcpy(key, value, 4);
  return 4;
}
int FLDInt32::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::int32_t>(a), Load<std::int32_t>(b));
}
int FLDUInt32::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::uint32_t>(a), Load<std::uint32_t>(b));
}

std::uint32_t FLDInt64::Copy(const void* value, void* key) const {
  std::memcpy(key, value, 8);
  return 8;
}
int FLDInt64::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::int64_t>(a), Load<std::int64_t>(b));
}
int FLDUInt64::ComparePresent(const void* a, const void* b) const {
  return Order(Load<std::uint64_t>(a), Load<std::uint64_t>(b));
}

int FLDFloat::ComparePresent(const void* a, const void* b) const {
  return Order(Load<double>(a), Load<double>(b));
}

int FLDBcd::ComparePresent(const void* a, const void* b) const {
  return CompareBcd(static_cast<const std::uint8_t*>(a), static_cast<const std::uint8_t*>(b),
                    length());
}

FLDString::FLDString(std::uint32_t length, bool descending, bool case_insensitive,
                     std::uint32_t lcid)
    : FLDObj(FT_STRING, length, descending),
      collation_(&Collation::For(lcid, case_insensitive)),
      case_insensitive_(case_insensitive) {}

std::uint32_t FLDString::Copy(const void* value, void* key) const {
  std::size_t n = StringLength(value, length());
  std::memcpy(key, value, n);
  if (n < length()) static_cast<char*>(key)[n] = '\0';
  return static_cast<std::uint32_t>(n < length() ? n + 1 : n);
}

int FLDString::ComparePresent(const void* a, const void* b) const {
  return CompareStrings(*collation_, a, b, length());
}

FLDUniCode::FLDUniCode(std::uint32_t length, bool descending, bool case_insensitive,
                       std::uint32_t lcid)
    : FLDObj(FT_WIDESTRING, length, descending),
      collation_(&Collation::For(lcid, case_insensitive)) {}

std::uint32_t FLDUniCode::Copy(const void* value, void* key) const {
  std::uint32_t n = 2 + std::min<std::uint32_t>(Load<std::uint16_t>(value),
                                                length() >= 2 ? length() - 2 : 0);
  std::memcpy(key, value, n);
  return n;
}

int FLDUniCode::ComparePresent(const void* a, const void* b) const {
  return CompareWide(*collation_, a, b, length());
}

std::uint32_t FLDVarBytes::Copy(const void* value, void* key) const {
  std::uint32_t n = 2 + std::min<std::uint32_t>(Load<std::uint16_t>(value),
                                                length() >= 2 ? length() - 2 : 0);
  std::memcpy(key, value, n);
  return n;
}

int FLDVarBytes::ComparePresent(const void* a, const void* b) const {
  return CompareVarBytes(a, b, length());
}

int FLDTimeStamp::ComparePresent(const void* a, const void* b) const {
  return CompareTimeStamp(a, b);
}

FLDExtended::FLDExtended(std::uint32_t field_type, std::uint32_t length, bool descending,
                         ExtendedCompareFn compare, void* owner)
    : FLDObj(field_type, length, descending), compare_(compare), owner_(owner) {}

int FLDExtended::ComparePresent(const void* a, const void* b) const {
  return compare_ != nullptr ? compare_(owner_, a, b) : 0;
}

DBResult MakeFieldComparer(const FieldDesc& field, const KeyFieldOptions& options,
                           std::unique_ptr<FLDObj>* out) {
  const std::uint32_t t = field.type;
  const std::uint32_t len = field.length;
  const bool desc = options.descending;
  std::unique_ptr<FLDObj> c;
  switch (t) {
    case FT_INT8: c = std::make_unique<FLDInt8>(t, len, desc); break;
    case FT_UINT8:
    case FT_BOOL8: c = std::make_unique<FLDUInt8>(t, len, desc); break;
    case FT_INT16: c = std::make_unique<FLDInt16>(t, len, desc); break;
    case FT_BOOL:
    case FT_UINT16: c = std::make_unique<FLDUInt16>(t, len, desc); break;
    case FT_INT32: c = std::make_unique<FLDInt32>(t, len, desc); break;
    case FT_DATE:
    case FT_TIME:
    case FT_UINT32:
    case FT_BOOL32: c = std::make_unique<FLDUInt32>(t, len, desc); break;
    case FT_INT64: c = std::make_unique<FLDInt64>(t, len, desc); break;
    case FT_UINT64: c = std::make_unique<FLDUInt64>(t, len, desc); break;
    case FT_FLOAT:
    case FT_DATETIME: c = std::make_unique<FLDFloat>(t, len, desc); break;
    case FT_BCD:
    case FT_FMTBCD: c = std::make_unique<FLDBcd>(t, len, desc); break;
    case FT_STRING:
      c = std::make_unique<FLDString>(len, desc, options.case_insensitive, options.lcid);
      break;
    case FT_WIDESTRING:
      c = std::make_unique<FLDUniCode>(len, desc, options.case_insensitive, options.lcid);
      break;
    case FT_VARBYTES: c = std::make_unique<FLDVarBytes>(t, len, desc); break;
    case FT_SQLTIMESTAMP: c = std::make_unique<FLDTimeStamp>(t, len, desc); break;
    case FT_BLOB:
    case FT_STRUCT:
    case FT_ARRAY:
    case FT_REF:
    case FT_TABLE: return DBResult::kUnusableType;
    default: c = std::make_unique<FLDObj>(t, len, desc); break;  // bytes, extended, unknown
  }
  *out = std::move(c);
  return DBResult::kOk;
}

int CompareFieldValues(std::uint32_t field_type, const void* a, const void* b,
                       std::uint32_t units, std::uint32_t lcid) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  switch (field_type) {
    case FT_STRING:
      return Sign(CompareStrings(Collation::For(lcid, false), a, b, units + 1));
    case FT_DATE:
    case FT_INT32:
    case FT_TIME:
    case FT_UINT32:
    case FT_BOOL32:
      // A signed order, as the stored 32-bit numbers are compared; computed without the
      // overflow a plain difference would have at the ends of the range.
      return Order(Load<std::int32_t>(a), Load<std::int32_t>(b));
    case FT_BOOL:
    case FT_UINT16: return Order(Load<std::uint16_t>(a), Load<std::uint16_t>(b));
    case FT_INT16: return Order(Load<std::int16_t>(a), Load<std::int16_t>(b));
    case FT_FLOAT:
    case FT_DATETIME: return Load<double>(a) == Load<double>(b) ? 0 : 1;
    case FT_BCD:
    case FT_FMTBCD: return Sign(std::memcmp(a, b, (units + 1) / 2 + 2));
    case FT_VARBYTES:
    case FT_WIDESTRING: return Sign(std::memcmp(a, b, units + 2));
    case FT_INT64:
    case FT_UINT64: return Sign(std::memcmp(a, b, 8));
    case FT_SQLTIMESTAMP: return CompareTimeStamp(a, b);
    case FT_INT8: return Order(Load<std::int8_t>(a), Load<std::int8_t>(b));
    case FT_UINT8:
    case FT_BOOL8: return Order(Load<std::uint8_t>(a), Load<std::uint8_t>(b));
    default: return Sign(std::memcmp(a, b, units));
  }
}

}  // namespace zelvo
