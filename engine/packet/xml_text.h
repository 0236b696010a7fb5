// Text forms of packet values in XML: how the writer spells a value of each type word in an
// attribute, and how the reader turns an attribute's text back into packet value bytes.
// The forms are listed in docs/packet-xml.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "packet/xml_buffer.h"
#include "result.h"

namespace zelvo {

enum class XmlValueKind : std::uint8_t {
  kNone,        // no text: nested-table counts, structures
  kInt,         // signed decimal of the stored bits (PT_INT and PT_UINT alike)
  kBool,        // TRUE / FALSE
  kFloat,       // 8-byte double
  kExtended,    // 10-byte float (read only)
  kBcd,         // decimal digits with the scale's decimal point
  kDate,        // YYYYMMDD
  kTime,        // HH:MM:mmmmm
  kDateTime,    // date [T time]
  kTimeStamp,   // date [T time] from the 16-byte structure
  kString,      // 8-bit text; a zero byte ends it
  kText,        // 8-bit text of a memo (bytes with SUBTYPE Text); a zero byte is refused
  kWideString,  // UTF-16 code units
  kBytes,       // Base64
  kArray,       // u32 count, then integers separated by one blank
};

// How the values of one column or parameter are spelled.
struct XmlValueType {
  XmlValueKind kind = XmlValueKind::kNone;
  std::uint32_t size = 0;          // value bytes of a fixed-size value; 0 for varying ones
  std::uint32_t element_size = 0;  // kArray: bytes per element
  bool unsigned_elements = false;  // kArray: PT_UINT elements are written without a sign
  // kBcd when reading: the column's WIDTH and DECIMALS; 0 and false when not known.
  std::uint32_t precision = 0;
  std::uint32_t places = 0;
  bool places_known = false;
};

// The spelling of values of packet type word `type`. `text_memo` marks a bytes column whose
// SUBTYPE is Text: its values are written and read as text. Types without a text form
// (structures, arrays, references, opaque bytes) give kNone for nested counts and
// structures and kBytes for the rest (only the reader of rows-only packets meets them).
XmlValueType XmlValueTypeOf(std::uint32_t type, bool text_memo);

// Appends the text of a value (its packet bytes: `length` bytes at `data`) to `out`, escaped
// for a double-quoted attribute value, with characters above 127 as UTF-8 when `utf8` and
// as numeric character references otherwise. Fails with kXmlBadValue for a value the text
// form cannot carry so that it reads back as itself: control characters other than tab, CR
// and LF, zero characters (outside 8-bit strings, which end at their first zero byte), lone
// UTF-16 surrogates, U+FFFE and U+FFFF, non-finite floats, non-finite or out-of-range
// date-times, times outside a day, damaged BCD values and time stamps whose parts are out
// of range.
// Out-of-memory is left in `out` (Failed()).
DBResult AppendXmlValue(const XmlValueType& type, const std::uint8_t* data, std::uint32_t length,
                        bool utf8, XmlBuffer* out);

// Appends 8-bit text (a name) escaped as AppendXmlValue escapes strings; stops at a zero.
DBResult AppendEscapedText(std::string_view bytes, bool utf8, XmlBuffer* out);

// Replaces `*value` by the packet value bytes of an attribute's text (UTF-8, as the
// tokenizer delivers it). Returns false when the text is read as null: a number, time or
// time stamp whose first letter or digit is a letter (or that has no digit), a date or time
// stamp that does not fit its form, a BCD value that is not a decimal number or does not fit
// its precision, bad Base64, an array with a token that is not a number. Strings and bytes
// of a fixed size are cut or zero-padded to it; an empty string stays empty.
bool ParseXmlValue(const XmlValueType& type, std::string_view text, std::string* value);

// UTF-8 text as 8-bit characters: code points up to 255 as that byte, the Windows-1252
// characters (such as U+20AC) as their byte, anything else as "?".
void Utf8ToBytes(std::string_view utf8, std::string* out);

}  // namespace zelvo
