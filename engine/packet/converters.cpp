// Packet value converters.
#include "packet/converters.h"

#include <cstring>

#include "fields/type_word.h"

namespace zelvo {

namespace {

std::uint32_t LoadPrefix(const std::uint8_t* p, std::uint32_t width) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, width);  // little-endian host and packet
  return v;
}

DBResult FixedConverter(std::uint32_t size, FLDConv* c) {
  switch (size) {
    case 1: c->kind = ConvKind::FLDCInt8; break;
    case 2: c->kind = ConvKind::FLDCInt16; break;
    case 4: c->kind = ConvKind::FLDCInt32; break;
    case 8: c->kind = ConvKind::FLDCInt64; break;
    default: return DBResult::kUnusableType;
  }
  c->size = c->value_size = size;
  return DBResult::kOk;
}

DBResult ElementConverter(std::uint32_t type, FLDConv* c) {
  const std::uint32_t size = TypeSize(type);
  auto fixed = [&](ConvKind kind, std::uint32_t bytes) {
    c->kind = kind;
    c->size = c->value_size = bytes;
    return DBResult::kOk;
  };
  if (TypeIsVarying(type)) {
    switch (TypeBase(type)) {
      case PT_STRING: case PT_WIDESTRING: case PT_BYTES: case PT_BYTES_ALIAS:
        break;
      default:
        return DBResult::kUnusableType;
    }
    switch (size) {
      case 1: c->kind = ConvKind::FLDCVar8; break;
      case 2: c->kind = ConvKind::FLDCVar16; break;
      case 4: c->kind = ConvKind::FLDCVar32; break;
      default: return DBResult::kUnusableType;
    }
    c->size = size;
    return DBResult::kOk;
  }
  switch (TypeBase(type)) {
    case PT_INT:
    case PT_UINT:
      return FixedConverter(size, c);
    case PT_BOOL:
      return size == 8 ? DBResult::kUnusableType : FixedConverter(size, c);
    case PT_DATE:
    case PT_TIME:
      return size == 4 ? FixedConverter(4, c) : DBResult::kUnusableType;
    case PT_NESTED:
      return FixedConverter(4, c);  // the count of nested rows
    case PT_FLOAT:
      if (size == 8) return fixed(ConvKind::FLDCFloat, 8);
      if (size == 10) return fixed(ConvKind::FLDCFloatIEEE, 10);
      return DBResult::kUnusableType;
    case PT_DATETIME:
      return size == 8 ? fixed(ConvKind::FLDCFloat, 8) : DBResult::kUnusableType;
    case PT_SQLTIMESTAMP:
      return size == 16 ? fixed(ConvKind::FLDCSQLTIMESTAMP, 16) : DBResult::kUnusableType;
    case PT_BCD:
    case PT_FMTBCD:
      // The size is the field's own length: only its first 18 bytes travel.
      c->kind = ConvKind::FLDCBcd;
      c->size = kBcdPacketBytes;
      c->value_size = (size == 0 || size > kBcdPacketBytes) ? kBcdPacketBytes : size;
      return DBResult::kOk;
    case PT_STRUCT:
    case PT_ARRAY:
      return fixed(ConvKind::FLDCFixed, 0);  // children or elements carry the values
    case 0:
    case PT_STRING:
    case PT_WIDESTRING:
    case PT_BYTES:
    case PT_BYTES_ALIAS:
    case PT_REF:
      return fixed(ConvKind::FLDCFixed, size);
    default:
      return DBResult::kUnusableType;
  }
}

}  // namespace

DBResult ConverterFor(std::uint32_t type_word, FLDConv* conv) {
  FLDConv c;
  if (TypeIsArray(type_word)) {
    if (TypeIsVarying(type_word)) return DBResult::kUnusableType;
    FLDConv element;
    ZELVO_RETURN_IF_ERROR(ElementConverter(type_word & ~kTypeArray, &element));
    c.kind = ConvKind::FLDCRepeat;
    c.element_size = element.size;
    *conv = c;
    return DBResult::kOk;
  }
  ZELVO_RETURN_IF_ERROR(ElementConverter(type_word, &c));
  *conv = c;
  return DBResult::kOk;
}

std::uint32_t FLDConv::MaxLength() const {
  switch (kind) {
    case ConvKind::FLDCVar8: return 0xFF;
    case ConvKind::FLDCVar16: return 0xFFFF;
    case ConvKind::FLDCVar32: return 0x7FFFFFFF;
    default: return value_size;
  }
}

DBResult FLDConv::PacketSize(const void* value, std::uint32_t length,
                             std::uint32_t* bytes) const {
  switch (kind) {
    case ConvKind::FLDCVar32:
      if ((length & kNotFetchedBit) != 0) {
        *bytes = 4;
        return DBResult::kOk;
      }
      [[fallthrough]];
    case ConvKind::FLDCVar8:
    case ConvKind::FLDCVar16:
      if (length > MaxLength()) return DBResult::kInvalidArgument;
      *bytes = size + length;
      return DBResult::kOk;
    case ConvKind::FLDCRepeat: {
      if (length < 4) return DBResult::kInvalidArgument;
      std::uint32_t count = 0;
      std::memcpy(&count, value, 4);
      std::uint64_t total = 4 + static_cast<std::uint64_t>(count) * element_size;
      if (total > length) return DBResult::kInvalidArgument;
      *bytes = static_cast<std::uint32_t>(total);
      return DBResult::kOk;
    }
    default:
      *bytes = size;
      return DBResult::kOk;
  }
}

void FLDConv::Encode(const void* value, std::uint32_t length, std::uint8_t* dst) const {
  switch (kind) {
    case ConvKind::FLDCVar8:
    case ConvKind::FLDCVar16:
    case ConvKind::FLDCVar32: {
      std::memcpy(dst, &length, size);
      if (kind == ConvKind::FLDCVar32 && (length & kNotFetchedBit) != 0) return;
      if (length != 0) std::memcpy(dst + size, value, length);
      return;
    }
    case ConvKind::FLDCBcd:
      std::memcpy(dst, value, value_size);
      std::memset(dst + value_size, 0, kBcdPacketBytes - value_size);
      return;
    case ConvKind::FLDCRepeat: {
      std::uint32_t count = 0;
      std::memcpy(&count, value, 4);
      std::memcpy(dst, value, 4 + static_cast<std::size_t>(count) * element_size);
      return;
    }
    default:
      if (size != 0) std::memcpy(dst, value, size);
      return;
  }
}

DBResult FLDConv::Decode(const std::uint8_t* src, std::size_t avail, DecodedValue* out) const {
  switch (kind) {
    case ConvKind::FLDCVar8:
    case ConvKind::FLDCVar16:
    case ConvKind::FLDCVar32: {
      if (avail < size) return DBResult::kBadPacket;
      std::uint32_t length = LoadPrefix(src, size);
      if (kind == ConvKind::FLDCVar32 && (length & kNotFetchedBit) != 0) {
        *out = {nullptr, length, 4};
        return DBResult::kOk;
      }
      if (avail - size < length) return DBResult::kBadPacket;
      *out = {src + size, length, size + length};
      return DBResult::kOk;
    }
    case ConvKind::FLDCRepeat: {
      if (avail < 4) return DBResult::kBadPacket;
      std::uint32_t count = LoadPrefix(src, 4);
      std::uint64_t total = 4 + static_cast<std::uint64_t>(count) * element_size;
      if (total > avail) return DBResult::kBadPacket;
      *out = {src, static_cast<std::uint32_t>(total), static_cast<std::uint32_t>(total)};
      return DBResult::kOk;
    }
    default:
      if (avail < size) return DBResult::kBadPacket;
      *out = {src, value_size, size};
      return DBResult::kOk;
  }
}

}  // namespace zelvo
