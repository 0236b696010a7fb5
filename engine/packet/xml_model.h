// The packet an XML document describes, as the XML reader collects it: levels of columns with
// their parameters, and the row items as a stream; and the writing of that packet in binary
// form. For packet/ only: the document handlers in xml_reader.cpp fill the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "packet/data_packet.h"
#include "packet/xml_buffer.h"
#include "packet/xml_text.h"

namespace zelvo {

struct XmlParam {
  std::string name;  // 8-bit
  std::uint32_t type = 0;
  std::string value;  // packet value bytes, without a length prefix
};

struct XmlColumn {
  std::string name;  // 8-bit column name: fieldname, else the key
  std::string key;   // attrname (or tagname) as the tokenizer delivers names (UTF-8)
  bool in_attribute = true;
  std::uint32_t type = 0;
  std::uint16_t attributes = 0;
  std::vector<XmlParam> params;
  std::int32_t child = -1;  // the level of a nested column's table
  XmlValueType value_type;
  std::size_t longest = 0;  // longest value read, for the length prefix of varying types
};

struct XmlLevel {
  std::vector<XmlColumn> columns;
  std::vector<XmlParam> params;
  bool fields_seen = false;
  bool params_seen = false;
  // No nested or element-valued columns: a row is complete at its start tag.
  bool simple = true;
  // Column by key; the views point into the columns, which must not move once indexed.
  std::unordered_map<std::string_view, std::int32_t> by_key;
};

struct XmlModel {
  std::vector<XmlLevel> levels;  // 0 is the top
  std::uint32_t column_count = 0;
};

// What a column of a table's first XML packet needs for reading rows-only documents later:
// its attribute name and the precision and scale of its BCD values.
struct XmlColumnHints {
  std::string key;
  std::uint32_t precision = 0;
  std::uint32_t places = 0;
  bool places_known = false;
};

// The row item stream: per item one byte, its ItemState; a value (kItemValue) then has a u32
// length and that many bytes. Rows follow each other; a nested column's value is its row
// count, followed by that many rows of its level.
void PutXmlRowItem(XmlBuffer* out, std::uint8_t state, const void* data, std::size_t length);

// The narrowest length prefix (1, 2 or 4) that states `length`.
std::uint32_t NarrowestPrefix(std::size_t length);
// `type` with its size bits (a varying type's prefix) replaced by `size`.
std::uint32_t WithTypeSize(std::uint32_t type, std::uint32_t size);

// Indexes a level's keys and decides whether it is simple; kBadPacket when two columns
// share a key.
DBResult IndexXmlLevel(XmlLevel* level);

// Turns the parameters a document gave its columns into the columns' value forms: nested
// column sizes, Text memos, and the precision and scale of BCD values.
void ApplyXmlColumnParams(XmlModel* model);

// The schema for reading rows-only documents of a table whose columns (all levels, in
// descriptor order) are `columns`: keys from `hints` when it has one per column (a first
// packet that was XML), else derived from the names as the writer derives them. Indexed.
// kUnusableType for structure and array columns, kBadPacket for an inconsistent list.
DBResult XmlSchemaOfColumns(const std::vector<ColumnDesc>& columns,
                            const std::vector<XmlColumnHints>& hints, XmlModel* model);

// The hints of every column of `model`, in descriptor order.
std::vector<XmlColumnHints> XmlHintsOf(const XmlModel& model);

// Gives the varying columns of `model` their length prefixes, then writes the packet: the
// columns and parameters of `model` and the rows of the item stream `rows`.
DBResult WriteXmlModelPacket(XmlModel* model, const XmlBuffer& rows, PacketBytes* packet);

// Writes a rows-only packet of `columns` holding the rows of the item stream `rows`.
// kBadPacket for a value longer than its column's prefix allows.
DBResult WriteXmlRowsPacket(const std::vector<ColumnDesc>& columns, const XmlBuffer& rows,
                            PacketBytes* packet);

}  // namespace zelvo
