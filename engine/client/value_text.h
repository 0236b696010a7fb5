// Text forms of field values as the table component's fields read and write them: decimal
// numbers, True/False, ISO dates and times, shortest round-trip floats, hexadecimal bytes.
// 8-bit strings stay Windows-1252 bytes here; wide strings are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fields/field_types.h"

namespace zelvo::client {

// The text of the fixed-width value of `field` at `value` (the field's record bytes).
// REQUIRES: the field is not a blob, structure, array or nested table.
std::string ValueToText(const FieldDesc& field, const std::uint8_t* value);

// Converts `text` into the value bytes WriteField takes for `field` (`out` is resized to the
// value's width; strings come back zero-terminated). Returns an empty string on success,
// otherwise the message for the user ("'x' is not a valid integer value").
std::string TextToValue(const FieldDesc& field, std::string_view text, std::string* out);

// Lowercase hexadecimal, two digits per byte, and back (false for odd or non-hex text).
std::string HexOf(const std::uint8_t* data, std::size_t size);
bool BytesOfHex(std::string_view text, std::string* bytes);

// UTF-8 <-> UTF-16LE for wide strings. False for malformed UTF-8 / lone surrogates.
bool Utf8ToUtf16(std::string_view text, std::u16string* out);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 <-> Windows-1252, the program edge for 8-bit text. Utf8ToCp1252 fails (false) on
// malformed UTF-8 or a character the code page cannot hold; *bad then names it ("U+0410").
bool Utf8ToCp1252(std::string_view text, std::string* out, std::string* bad);
std::string Cp1252ToUtf8(std::string_view bytes);

// The shortest text that reads back to the same double (std::to_chars without a format).
std::string DoubleText(double value);

}  // namespace zelvo::client
