// Packed decimal (BCD) values: byte 0 precision, byte 1 sign (0x80), special marker (0x40)
// and decimal places (bits 0-5), then the digits two to a byte, most significant first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

namespace zelvo {

constexpr std::uint32_t kBcdMaxDigits = 64;
constexpr std::uint32_t kBcdMaxBytes = 34;
constexpr std::uint8_t kBcdNegative = 0x80;
constexpr std::uint8_t kBcdSpecial = 0x40;
constexpr std::uint8_t kBcdPlacesMask = 0x3F;

// Compares two BCD values of `length` bytes (either may be null: null is less).
// Byte-identical values are equal; otherwise the negative one is less, else by value.
int CompareBcd(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t length);

// Writes the decimal text `text` ("-12.50", "0", "+3") as a BCD value with `precision`
// digits of which `places` are decimals into `out` (`length` bytes, zero-filled first).
// Fails with kOutOfRange when the value does not fit, kInvalidArgument for text that is not
// a decimal number. Extra decimals beyond `places` are cut, as a fixed-point field holds them.
DBResult BcdFromText(std::string_view text, std::uint32_t precision, std::uint32_t places,
                     std::uint8_t* out, std::uint32_t length);

// The decimal text of a BCD value ("-12.5", "0"); trailing fraction zeros are dropped.
// Fails with kInvalidArgument for a value whose header does not fit `length`.
DBResult BcdToText(const std::uint8_t* value, std::uint32_t length, std::string* text);

}  // namespace zelvo
