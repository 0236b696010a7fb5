// Packet value converters: how one value of a type word is laid out in a packet.
// Each kind is named after the converter class of the packet format; converters are plain
// values so that the per-row code dispatches on one switch, not on virtual calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "result.h"

namespace zelvo {

enum class ConvKind : std::uint8_t {
  FLDCInt8,          // integers, booleans, dates, times and nested counts of 1 byte
  FLDCInt16,         // ... of 2 bytes
  FLDCInt32,         // ... of 4 bytes
  FLDCInt64,         // ... of 8 bytes
  FLDCFloat,         // 8-byte doubles (floats and date-times)
  FLDCFloatIEEE,     // 10-byte extended floats
  FLDCBcd,           // BCD, always 18 packet bytes
  FLDCSQLTIMESTAMP,  // 16-byte time stamps
  FLDCFixed,         // fixed bytes of the type word's size (0 for structures and arrays)
  FLDCVar8,          // 1-byte length prefix, then the bytes
  FLDCVar16,         // 2-byte length prefix
  FLDCVar32,         // 4-byte length prefix; bit 31 set: a blob not fetched, no bytes
  FLDCRepeat,        // parameters only: u32 count, then that many fixed-size elements
};

constexpr std::uint32_t kBcdPacketBytes = 18;
constexpr std::uint32_t kNotFetchedBit = 0x80000000;

// A value found in a packet: where its bytes are and how many the packet spent on it.
struct DecodedValue {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;    // value bytes; a not-fetched blob reports its raw length word
  std::uint32_t consumed = 0;  // packet bytes, prefix included
};

struct FLDConv {
  ConvKind kind = ConvKind::FLDCFixed;
  std::uint32_t size = 0;          // fixed bytes, or the prefix width of a varying kind
  std::uint32_t value_size = 0;    // bytes a fixed value has outside the packet (BCD: <= 18)
  std::uint32_t element_size = 0;  // FLDCRepeat: bytes of one element

  bool varying() const {
    return kind == ConvKind::FLDCVar8 || kind == ConvKind::FLDCVar16 ||
           kind == ConvKind::FLDCVar32;
  }
  // The largest value length the prefix can state (varying kinds).
  std::uint32_t MaxLength() const;
  // Packet bytes of a value of `length` bytes, or kInvalidArgument when it cannot be written
  // (too long for its prefix, an array value shorter than its count says).
  DBResult PacketSize(const void* value, std::uint32_t length, std::uint32_t* bytes) const;
  // Writes the value; REQUIRES: `dst` has PacketSize bytes of room.
  void Encode(const void* value, std::uint32_t length, std::uint8_t* dst) const;
  // Reads a value from `avail` bytes at `src`; kBadPacket when they end too early.
  DBResult Decode(const std::uint8_t* src, std::size_t avail, DecodedValue* out) const;
};

// The converter of a type word. Fails with kUnusableType for type words no converter
// handles: a varying array, an integer of a size other than 1, 2, 4 or 8, a date-time not
// of 8 bytes, a time stamp not of 16, a prefix width other than 1, 2 or 4, an unknown base.
DBResult ConverterFor(std::uint32_t type_word, FLDConv* conv);

}  // namespace zelvo
