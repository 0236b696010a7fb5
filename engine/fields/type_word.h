// Packet type words: the 32-bit type of every packet column and parameter.
// The byte layout they describe is documented in docs/packet-format.md.
#pragma once

#include <cstdint>

namespace zelvo {

// Base types, bits 16-21 of a type word.
enum PacketBaseType : std::uint32_t {
  PT_INT = 1,
  PT_UINT = 2,
  PT_BOOL = 3,
  PT_FLOAT = 4,
  PT_BCD = 5,
  PT_DATE = 6,
  PT_TIME = 7,
  PT_DATETIME = 8,
  PT_STRING = 9,
  PT_WIDESTRING = 10,
  PT_BYTES = 11,
  PT_STRUCT = 12,
  PT_ARRAY = 13,
  PT_NESTED = 14,
  PT_REF = 15,
  PT_BYTES_ALIAS = 16,  // read as PT_BYTES, never written
  PT_SQLTIMESTAMP = 17,
  PT_FMTBCD = 18,
};

constexpr std::uint32_t kTypeSizeMask = 0x0000FFFF;
constexpr std::uint32_t kTypeBaseShift = 16;
constexpr std::uint32_t kTypeBaseMask = 0x003F0000;
constexpr std::uint32_t kTypeVarying = 0x00400000;
constexpr std::uint32_t kTypeArray = 0x00800000;
constexpr std::uint32_t kTypeComposite = 0x01000000;  // informational, on struct/array/ref/nested
constexpr std::uint32_t kTypeArrayColumn = 0x02000000;
constexpr std::uint32_t kTypeNestedColumn = 0x04000000;
constexpr std::uint32_t kTypeRoundtrip = 0x80000000;  // parameter travels with change packets

// The bits readers look at; 24-26 are informational.
constexpr std::uint32_t kTypeDecodedBits = 0x80FFFFFF;

constexpr std::uint32_t TypeSize(std::uint32_t type) { return type & kTypeSizeMask; }
constexpr std::uint32_t TypeBase(std::uint32_t type) {
  return (type & kTypeBaseMask) >> kTypeBaseShift;
}
constexpr bool TypeIsVarying(std::uint32_t type) { return (type & kTypeVarying) != 0; }
constexpr bool TypeIsArray(std::uint32_t type) { return (type & kTypeArray) != 0; }
constexpr std::uint32_t MakeType(std::uint32_t base, std::uint32_t size) {
  return (base << kTypeBaseShift) | (size & kTypeSizeMask);
}
constexpr std::uint32_t MakeVaryingType(std::uint32_t base, std::uint32_t prefix) {
  return MakeType(base, prefix) | kTypeVarying;
}

}  // namespace zelvo
