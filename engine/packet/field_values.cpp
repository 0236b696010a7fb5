// Record values <-> packet row values.
#include "packet/field_values.h"

#include <algorithm>
#include <cstring>

#include "packet/data_packet.h"

namespace zelvo {

namespace {

constexpr std::uint8_t kEmptyString[1] = {0};

}  // namespace

PacketValue PacketValueOfField(const FieldDesc& field, const std::uint8_t* value,
                               std::uint8_t field_state) {
  if (field_state == kFieldNull) return {kItemNull, 0, nullptr};
  if (field_state == kFieldUnchanged) return {kItemUnchanged, 0, nullptr};
  switch (field.type) {
    case FT_STRING: {
      auto n = static_cast<std::uint32_t>(
          ::strnlen(reinterpret_cast<const char*>(value), field.length));
      if (n == 0) return {kItemValue, 1, kEmptyString};
      return {kItemValue, n, value};
    }
    case FT_VARBYTES:
    case FT_WIDESTRING: {
      std::uint16_t n = 0;
      std::memcpy(&n, value, 2);
      std::uint32_t length = std::min<std::uint32_t>(n, field.units1);
      length = std::min<std::uint32_t>(length, field.length - 2);
      if (length == 0) return {kItemNull, 0, nullptr};
      return {kItemValue, length, value + 2};
    }
    default:
      return {kItemValue, field.length, value};
  }
}

void StoreFieldValue(const FieldDesc& field, const std::uint8_t* data, std::uint32_t length,
                     std::uint8_t* dst) {
  std::memset(dst, 0, field.length);
  switch (field.type) {
    case FT_STRING: {
      std::uint32_t n = std::min(length, field.length - 1);
      std::memcpy(dst, data, n);
      return;
    }
    case FT_VARBYTES:
    case FT_WIDESTRING: {
      auto n = static_cast<std::uint16_t>(std::min(length, field.length - 2));
      std::memcpy(dst, &n, 2);
      std::memcpy(dst + 2, data, n);
      return;
    }
    default:
      std::memcpy(dst, data, std::min(length, field.length));
      return;
  }
}

}  // namespace zelvo
