// Names of the XML form of a data packet: text mode bits, field type words, the parameters
// written as attributes, and the attribute names under which column values appear in rows.
// The document structure is described in docs/packet-xml.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fields/field_types.h"
#include "result.h"

namespace zelvo {

// Text mode bits given to the writer's SetTextMode and reported by GetTextMode.
enum XmlTextModeBit : std::uint32_t {
  kXmlTextBits = 0x0003,  // either bit: the packet is XML text instead of binary
  kXmlMetadata = 0x0004,  // write METADATA (FIELDS and PARAMS)
  kXmlUtf8 = 0x0008,      // the prolog names UTF-8; characters above 127 are written as UTF-8
};
constexpr std::uint32_t kXmlMode = 5;       // XML with metadata, characters above 127 as references
constexpr std::uint32_t kXmlModeUtf8 = 13;  // the same in UTF-8

constexpr bool XmlTextOutput(std::uint32_t mode) { return (mode & kXmlTextBits) != 0; }

// The column attribute bit a FIELD with attrname gives its column: its values travel as
// attributes of the row elements. Reading sets it; writing implies it.
constexpr std::uint16_t kAttrXmlAttribute = 0x0010;

// The row state bit under which an absent row attribute means "unchanged" rather than null.
constexpr std::uint8_t kRowModified = 0x08;

// The field type word that writes values of packet type word `type`. Fails with
// kXmlBadValue for types the XML form cannot carry: integers of 8 bytes, 10-byte floats,
// structures, arrays, references, opaque bytes (base 0), base types above 18, and array
// parameters of anything but 1-, 2- or 4-byte integers.
DBResult XmlTypeWordOf(std::uint32_t type, std::string_view* word);

// The packet type word of a field type word, compared case-insensitively. Varying types get
// a 1-byte prefix here; the reader widens it when the column's width or values need more.
// "nested" and "struct" get a size of 0, which the reader replaces by the child count.
// Fails with kUnusableType for a word that is not in the table.
DBResult TypeOfXmlTypeWord(std::string_view word, std::uint32_t* type);

// The parameters with a fixed attribute form on FIELD (column parameters) and PARAMS
// (table parameters), matched case-sensitively, with the type they are read back as.
struct XmlAttributeParam {
  std::string_view name;
  std::string_view read_word;  // field type word when read; "string" for MINVALUE and kin
  bool any_type;               // written from any type (MINVALUE, MAXVALUE, DEFVALUE)
};
const XmlAttributeParam* FindAttributeParam(std::string_view name);

// True when a parameter of type word `type` written as the attribute `param` reads back as
// the same value: an attribute has no room for a type or the round-trip bit, so any other
// parameter is written as a PARAM element instead.
bool FitsAttributeForm(const XmlAttributeParam& param, std::uint32_t type);

// The attribute names of one level's columns, in column order. A name is kept when it is a
// plain ASCII XML name; otherwise blank, !, #, $, %, (, ), *, ? and every other character an
// XML name cannot hold become "_" (a leading digit, "-" or "." gets a "_" in front). A name
// left empty, or equal to an earlier one or to "RowState", becomes "xF" and the column's
// 0-based position, extended by "_" until it is unique.
std::vector<std::string> XmlAttributeNames(const std::vector<std::string_view>& names);

// True when `name` is a row element name (it begins with "ROW").
inline bool IsRowElement(std::string_view name) { return name.substr(0, 3) == "ROW"; }

}  // namespace zelvo
