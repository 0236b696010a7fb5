// Reads XML data packets: expat tokenizes; the handlers below check the packet structure,
// collect the columns and parameters and convert each row's values into a stream of row
// items; the packet is then written in binary form, which the binary reader walks.
#include "packet/xml_reader.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "fields/type_word.h"
#include "packet/xml_buffer.h"
#include "packet/xml_model.h"
#include "packet/xml_names.h"
#include "packet/xml_text.h"

namespace zelvo {

namespace {

constexpr std::uint32_t kMaxColumns = 0xFFFF;
// Row items (row states and values) a document may hold: 32 per byte of text, plus a
// million, far more than sparse tables need.
constexpr std::uint64_t kItemsPerByte = 32;
constexpr std::uint64_t kItemsFree = 1 << 20;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

using Param = XmlParam;
using Column = XmlColumn;
using Level = XmlLevel;
using Model = XmlModel;

// ---- The document handlers ---------------------------------------------------------------

enum class Frame : std::uint8_t {
  kDataPacket,
  kMetadata,
  kFields,
  kField,
  kParams,
  kParam,
  kRowData,
  kRow,
  kNested,
  kValue,
};

struct Entry {
  Frame frame;
  std::int32_t level = 0;
  std::int32_t column = 0;
  std::size_t depth = 0;  // rows: nesting depth of the row
};

// What each column of a row that waits for its end tag holds so far.
enum class ItemKind : std::uint8_t { kAbsent, kNull, kValue };
struct Item {
  ItemKind kind = ItemKind::kAbsent;
  std::size_t offset = 0;
  std::size_t length = 0;
};
struct NestedRows {
  bool seen = false;
  std::uint32_t count = 0;
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct PendingRow {
  std::int32_t level = 0;
  std::uint8_t state = 0;
  std::string values;  // decoded values, back to back
  std::vector<Item> items;
  std::vector<NestedRows> nested;
  std::int32_t open_nested = -1;
  std::string text;    // the value element being read
  XmlBuffer children;  // row items of the nested rows, complete rows back to back
};

class DocumentHandler {
 public:
  // `schema` null: the document's METADATA defines the columns. Otherwise `schema` (indexed)
  // reads the rows and METADATA is only checked.
  explicit DocumentHandler(Model* schema) : schema_(schema != nullptr ? schema : &own_) {}

  DBResult Parse(const std::uint8_t* text, std::size_t size);

  bool utf8() const { return utf8_; }
  bool has_metadata() const { return metadata_seen_; }
  Model* schema() { return schema_; }
  const XmlBuffer& rows() const { return rows_; }

 private:
  static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
    auto* h = static_cast<DocumentHandler*>(self);
    if (h->failed_ != DBResult::kOk) return;
    try {
      h->Start(name, atts);
    } catch (const std::bad_alloc&) {
      h->Fail(DBResult::kOutOfMemory);
    }
  }
  static void XMLCALL OnEnd(void* self, const XML_Char* /*name*/) {
    auto* h = static_cast<DocumentHandler*>(self);
    if (h->failed_ != DBResult::kOk) return;
    try {
      h->End();
    } catch (const std::bad_alloc&) {
      h->Fail(DBResult::kOutOfMemory);
    }
  }
  static void XMLCALL OnText(void* self, const XML_Char* s, int len) {
    auto* h = static_cast<DocumentHandler*>(self);
    if (h->failed_ != DBResult::kOk || h->stack_.empty() ||
        h->stack_.back().frame != Frame::kValue) {
      return;
    }
    try {
      h->Pending(h->stack_.back().depth).text.append(s, static_cast<std::size_t>(len));
    } catch (const std::bad_alloc&) {
      h->Fail(DBResult::kOutOfMemory);
    }
  }
  static void XMLCALL OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                                int) {
    // Entity declarations are no part of a packet; refusing them keeps expansion out.
    static_cast<DocumentHandler*>(self)->Fail(DBResult::kBadPacket);
  }

  void Fail(DBResult code) {
    if (failed_ == DBResult::kOk) failed_ = code;
    XML_StopParser(parser_, XML_FALSE);
  }

  void Push(Frame frame, std::int32_t level = 0, std::int32_t column = 0, std::size_t depth = 0) {
    stack_.push_back({frame, level, column, depth});
  }

  void Start(std::string_view name, const XML_Char** atts);
  void End();
  void StartMetadata();
  void StartRowData();
  void StartField(std::int32_t level, const XML_Char** atts);
  void StartParam(const XML_Char** atts, std::vector<Param>* params);
  void AttributeParams(const XML_Char** atts, std::vector<Param>* params);
  void AddParam(std::string_view name, std::string_view word, std::string_view text, bool roundtrip,
                std::vector<Param>* params);
  void StartRow(std::int32_t level, std::size_t depth, const XML_Char** atts);
  void EndRow(const Entry& row_entry);
  void StartInRow(const Entry& row, std::string_view name);
  bool ReadRowState(const XML_Char** atts, std::uint8_t* state);
  ItemKind ReadValue(Column* column, std::string_view text);
  XmlBuffer& Target(std::size_t depth) { return depth == 0 ? rows_ : Pending(depth - 1).children; }
  PendingRow& Pending(std::size_t depth) {
    while (pending_.size() <= depth) pending_.push_back(std::make_unique<PendingRow>());
    return *pending_[depth];
  }
  // Where METADATA goes: the schema when the document defines it, else a scratch model.
  Model* Meta() { return schema_ == &own_ ? &own_ : &checked_only_; }

  Model own_;
  Model checked_only_;
  Model* schema_;
  XML_Parser parser_ = nullptr;
  DBResult failed_ = DBResult::kOk;
  bool utf8_ = false;
  bool root_seen_ = false;
  bool metadata_seen_ = false;
  bool rowdata_seen_ = false;
  std::vector<Entry> stack_;
  std::vector<std::unique_ptr<PendingRow>> pending_;
  std::vector<const XML_Char*> row_values_;
  // Row items so far, and how many the document may have: an absent attribute costs the
  // document nothing but the packet a flag, so a few bytes of text could otherwise ask for
  // gigabytes of rows.
  std::uint64_t items_ = 0;
  std::uint64_t item_limit_ = 0;
  std::string value_;
  XmlBuffer rows_;
};

void DocumentHandler::Start(std::string_view name, const XML_Char** atts) {
  if (stack_.empty()) {
    root_seen_ = true;
    if (name == "DATAPACKET")
      Push(Frame::kDataPacket);
    else if (name == "METADATA")
      StartMetadata();
    else if (name == "ROWDATA")
      StartRowData();
    else
      Fail(DBResult::kBadPacket);
    return;
  }
  const Entry top = stack_.back();
  Model* meta = Meta();
  switch (top.frame) {
    case Frame::kDataPacket:
      if (name == "METADATA" && !metadata_seen_ && !rowdata_seen_)
        StartMetadata();
      else if (name == "ROWDATA" && !rowdata_seen_)
        StartRowData();
      else
        Fail(DBResult::kBadPacket);
      return;
    case Frame::kMetadata: {
      Level& top_level = meta->levels[0];
      if (name == "FIELDS" && !top_level.fields_seen) {
        top_level.fields_seen = true;
        Push(Frame::kFields, 0);
      } else if (name == "PARAMS" && !top_level.params_seen) {
        top_level.params_seen = true;
        AttributeParams(atts, &top_level.params);
        Push(Frame::kParams, 0);
      } else {
        Fail(DBResult::kBadPacket);
      }
      return;
    }
    case Frame::kFields:
      if (name == "FIELD")
        StartField(top.level, atts);
      else
        Fail(DBResult::kBadPacket);
      return;
    case Frame::kField: {
      Column& column = meta->levels[top.level].columns[top.column];
      if (name == "PARAM") {
        StartParam(atts, &column.params);
        return;
      }
      if (column.child < 0) {
        Fail(DBResult::kBadPacket);
        return;
      }
      const std::int32_t child = column.child;
      Level& nested = meta->levels[child];
      if (name == "FIELDS" && !nested.fields_seen) {
        nested.fields_seen = true;
        Push(Frame::kFields, child);
      } else if (name == "PARAMS" && !nested.params_seen) {
        nested.params_seen = true;
        AttributeParams(atts, &nested.params);
        Push(Frame::kParams, child);
      } else {
        Fail(DBResult::kBadPacket);
      }
      return;
    }
    case Frame::kParams:
      if (name == "PARAM")
        StartParam(atts, &meta->levels[top.level].params);
      else
        Fail(DBResult::kBadPacket);
      return;
    case Frame::kRowData:
      if (IsRowElement(name))
        StartRow(0, 0, atts);
      else
        Fail(DBResult::kBadPacket);
      return;
    case Frame::kRow:
      StartInRow(top, name);
      return;
    case Frame::kNested: {
      const Column& column = schema_->levels[top.level].columns[top.column];
      if (IsRowElement(name))
        StartRow(column.child, top.depth + 1, atts);
      else
        Fail(DBResult::kBadPacket);
      return;
    }
    case Frame::kParam:
    case Frame::kValue:
      Fail(DBResult::kBadPacket);
      return;
  }
}

void DocumentHandler::End() {
  const Entry top = stack_.back();
  stack_.pop_back();
  switch (top.frame) {
    case Frame::kDataPacket:
      if (!metadata_seen_ && !rowdata_seen_) Fail(DBResult::kBadPacket);
      return;
    case Frame::kMetadata: {
      Model* meta = Meta();
      if (!meta->levels[0].fields_seen) {
        Fail(DBResult::kBadPacket);
        return;
      }
      for (Level& level : meta->levels) {
        if (IndexXmlLevel(&level) != DBResult::kOk) {
          Fail(DBResult::kBadPacket);
          return;
        }
      }
      ApplyXmlColumnParams(meta);
      return;
    }
    case Frame::kRow:
      EndRow(top);
      return;
    case Frame::kNested: {
      PendingRow& row = Pending(top.depth);
      row.nested[top.column].end = row.children.size();
      row.open_nested = -1;
      return;
    }
    case Frame::kValue: {
      PendingRow& row = Pending(top.depth);
      Item& item = row.items[top.column];
      Column& column = schema_->levels[top.level].columns[top.column];
      item.kind = ReadValue(&column, row.text);
      if (item.kind == ItemKind::kValue) {
        item.offset = row.values.size();
        item.length = value_.size();
        row.values += value_;
      }
      return;
    }
    default:
      return;
  }
}

void DocumentHandler::StartMetadata() {
  metadata_seen_ = true;
  Model* meta = Meta();
  meta->levels.assign(1, Level{});
  meta->column_count = 0;
  Push(Frame::kMetadata);
}

void DocumentHandler::StartRowData() {
  rowdata_seen_ = true;
  // Rows need columns: the document's own, or those of the table's first packet.
  if (schema_ == &own_ && !metadata_seen_) {
    Fail(DBResult::kNoMetadata);
    return;
  }
  Push(Frame::kRowData);
}

void DocumentHandler::StartField(std::int32_t level_index, const XML_Char** atts) {
  Model* meta = Meta();
  Column column;
  const XML_Char* fieldname = nullptr;
  const XML_Char* attrname = nullptr;
  const XML_Char* tagname = nullptr;
  const XML_Char* fieldtype = nullptr;
  static constexpr struct {
    std::string_view name;
    std::uint16_t bit;
  } kFlags[] = {
      {"readonly", 0x0002}, {"required", 0x0004}, {"hidden", 0x0001}, {"linkfield", 0x0008}};
  std::vector<Param> params;
  for (const XML_Char** a = atts; *a != nullptr; a += 2) {
    const std::string_view name(a[0]);
    if (name == "fieldname") {
      fieldname = a[1];
    } else if (name == "attrname") {
      attrname = a[1];
    } else if (name == "tagname") {
      tagname = a[1];
    } else if (name == "fieldtype") {
      fieldtype = a[1];
    } else {
      bool flag = false;
      for (const auto& f : kFlags) {
        if (name == f.name) {
          flag = true;
          if (EqualsIgnoringAsciiCase(a[1], "true")) column.attributes |= f.bit;
        }
      }
      if (!flag) {
        const XmlAttributeParam* form = FindAttributeParam(name);
        AddParam(name, form != nullptr ? form->read_word : "string", a[1], false, &params);
      }
    }
    if (failed_ != DBResult::kOk) return;
  }
  const XML_Char* key = attrname != nullptr && *attrname != '\0' ? attrname : tagname;
  if (key == nullptr || *key == '\0' || fieldtype == nullptr) {
    Fail(DBResult::kBadPacket);
    return;
  }
  if (TypeOfXmlTypeWord(fieldtype, &column.type) != DBResult::kOk) {
    Fail(DBResult::kUnusableType);
    return;
  }
  if (++meta->column_count > kMaxColumns) {
    Fail(DBResult::kBadPacket);
    return;
  }
  column.key = key;
  column.in_attribute = key == attrname;
  if (column.in_attribute) column.attributes |= kAttrXmlAttribute;
  Utf8ToBytes(fieldname != nullptr ? fieldname : key, &column.name);
  column.params = std::move(params);
  if (TypeBase(column.type) == PT_NESTED) {
    if (meta->levels.size() >= kMaxPacketLevels) {
      Fail(DBResult::kBadPacket);
      return;
    }
    column.child = static_cast<std::int32_t>(meta->levels.size());
    meta->levels.emplace_back();
  }
  std::vector<Column>& columns = meta->levels[level_index].columns;
  columns.push_back(std::move(column));
  Push(Frame::kField, level_index, static_cast<std::int32_t>(columns.size() - 1));
}

void DocumentHandler::AttributeParams(const XML_Char** atts, std::vector<Param>* params) {
  for (const XML_Char** a = atts; *a != nullptr && failed_ == DBResult::kOk; a += 2) {
    const XmlAttributeParam* form = FindAttributeParam(a[0]);
    AddParam(a[0], form != nullptr ? form->read_word : "string", a[1], false, params);
  }
}

void DocumentHandler::StartParam(const XML_Char** atts, std::vector<Param>* params) {
  const XML_Char* name = nullptr;
  const XML_Char* value = "";
  const XML_Char* type = "string";
  bool roundtrip = false;
  for (const XML_Char** a = atts; *a != nullptr; a += 2) {
    const std::string_view attr(a[0]);
    if (attr == "Name")
      name = a[1];
    else if (attr == "Value")
      value = a[1];
    else if (attr == "Type")
      type = a[1];
    else if (attr == "Roundtrip")
      roundtrip = true;
  }
  if (name == nullptr) {
    Fail(DBResult::kBadPacket);
    return;
  }
  AddParam(name, type, value, roundtrip, params);
  Push(Frame::kParam);
}

void DocumentHandler::AddParam(std::string_view name, std::string_view word, std::string_view text,
                               bool roundtrip, std::vector<Param>* params) {
  Param p;
  if (TypeOfXmlTypeWord(word, &p.type) != DBResult::kOk) {
    Fail(DBResult::kUnusableType);
    return;
  }
  const XmlValueType value_type = XmlValueTypeOf(p.type, false);
  if (value_type.kind == XmlValueKind::kNone) {
    Fail(DBResult::kUnusableType);
    return;
  }
  // A parameter has no null: a value that is not of its type makes the packet unreadable.
  if (!ParseXmlValue(value_type, text, &p.value)) {
    Fail(DBResult::kBadPacket);
    return;
  }
  // String parameters end in a zero byte, as a table writes them.
  if (value_type.kind == XmlValueKind::kString) p.value.push_back('\0');
  if (TypeIsVarying(p.type)) p.type = WithTypeSize(p.type, NarrowestPrefix(p.value.size()));
  if (roundtrip) p.type |= kTypeRoundtrip;
  Utf8ToBytes(name, &p.name);
  if (p.name.size() > 255) {
    Fail(DBResult::kBadPacket);
    return;
  }
  params->push_back(std::move(p));
}

bool DocumentHandler::ReadRowState(const XML_Char** atts, std::uint8_t* state) {
  *state = 0;
  for (const XML_Char** a = atts; *a != nullptr; a += 2) {
    if (std::string_view(a[0]) != "RowState") continue;
    std::string_view text(a[1]);
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    if (text.empty() || text.size() > 3) return false;
    unsigned v = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 0xFF) return false;
    *state = static_cast<std::uint8_t>(v);
  }
  return true;
}

ItemKind DocumentHandler::ReadValue(Column* column, std::string_view text) {
  if (!ParseXmlValue(column->value_type, text, &value_)) return ItemKind::kNull;
  // An empty 8-bit string is one zero byte, as tables write it, so that it stays a value.
  if (column->value_type.kind == XmlValueKind::kString && column->value_type.size == 0 &&
      value_.empty()) {
    value_.push_back('\0');
  }
  column->longest = std::max(column->longest, value_.size());
  return ItemKind::kValue;
}

void DocumentHandler::StartRow(std::int32_t level_index, std::size_t depth, const XML_Char** atts) {
  Level& level = schema_->levels[level_index];
  items_ += level.columns.size() + 1;
  if (items_ > item_limit_) {
    Fail(DBResult::kBadPacket);
    return;
  }
  std::uint8_t state = 0;
  if (!ReadRowState(atts, &state)) {
    Fail(DBResult::kBadPacket);
    return;
  }
  // An absent attribute is a null value, except in a modified row of a change packet, where
  // it stands for a value that did not change.
  const std::uint8_t absent = (state & kRowModified) != 0 ? kItemUnchanged : kItemNull;
  const std::size_t n = level.columns.size();
  row_values_.assign(n, nullptr);
  std::size_t hint = 0;  // rows list their values in column order: try the next one first
  for (const XML_Char** a = atts; *a != nullptr; a += 2) {
    const std::string_view name(a[0]);
    std::int32_t c = -1;
    if (hint < n && level.columns[hint].key == name) {
      c = static_cast<std::int32_t>(hint);
    } else if (auto it = level.by_key.find(name); it != level.by_key.end()) {
      c = it->second;
    }
    if (c < 0) continue;  // RowState, or an attribute no column claims
    hint = static_cast<std::size_t>(c) + 1;
    const Column& column = level.columns[c];
    if (column.in_attribute && column.child < 0) row_values_[c] = a[1];
  }
  Push(Frame::kRow, level_index, 0, depth);
  if (level.simple) {
    XmlBuffer& out = Target(depth);
    PutXmlRowItem(&out, kItemValue, &state, 1);
    for (std::size_t c = 0; c < n; ++c) {
      if (row_values_[c] == nullptr) {
        PutXmlRowItem(&out, absent, nullptr, 0);
      } else if (ReadValue(&level.columns[c], row_values_[c]) == ItemKind::kValue) {
        PutXmlRowItem(&out, kItemValue, value_.data(), value_.size());
      } else {
        PutXmlRowItem(&out, kItemNull, nullptr, 0);
      }
    }
    return;
  }
  PendingRow& row = Pending(depth);
  row.level = level_index;
  row.state = state;
  row.values.clear();
  row.items.assign(n, Item{});
  row.nested.assign(n, NestedRows{});
  row.open_nested = -1;
  row.children.Reset();
  for (std::size_t c = 0; c < n; ++c) {
    if (row_values_[c] == nullptr) continue;
    Item& item = row.items[c];
    item.kind = ReadValue(&level.columns[c], row_values_[c]);
    if (item.kind == ItemKind::kValue) {
      item.offset = row.values.size();
      item.length = value_.size();
      row.values += value_;
    }
  }
}

// A child element of a row: the rows of a nested column, or an element-valued column's value.
void DocumentHandler::StartInRow(const Entry& row_entry, std::string_view name) {
  const Level& level = schema_->levels[row_entry.level];
  auto it = level.by_key.find(name);
  if (level.simple || it == level.by_key.end()) {
    Fail(DBResult::kBadPacket);
    return;
  }
  const std::int32_t c = it->second;
  const Column& column = level.columns[c];
  PendingRow& row = Pending(row_entry.depth);
  if (column.child >= 0 && !row.nested[c].seen) {
    row.nested[c].seen = true;
    row.nested[c].begin = row.children.size();
    row.open_nested = c;
    Push(Frame::kNested, row_entry.level, c, row_entry.depth);
  } else if (!column.in_attribute && row.items[c].kind == ItemKind::kAbsent) {
    row.text.clear();
    Push(Frame::kValue, row_entry.level, c, row_entry.depth);
  } else {
    Fail(DBResult::kBadPacket);
  }
}

void DocumentHandler::EndRow(const Entry& row_entry) {
  const std::size_t depth = row_entry.depth;
  if (depth > 0) {
    PendingRow& parent = Pending(depth - 1);
    ++parent.nested[parent.open_nested].count;
  }
  // A simple row went out whole at its start tag.
  const Level& level = schema_->levels[row_entry.level];
  if (level.simple) return;
  PendingRow& row = Pending(depth);
  XmlBuffer& out = Target(depth);
  const std::uint8_t absent = (row.state & kRowModified) != 0 ? kItemUnchanged : kItemNull;
  PutXmlRowItem(&out, kItemValue, &row.state, 1);
  for (std::size_t c = 0; c < level.columns.size(); ++c) {
    if (level.columns[c].child >= 0) {
      const NestedRows& nested = row.nested[c];
      PutXmlRowItem(&out, kItemValue, &nested.count, 4);
      out.PutBytes(row.children.data() + nested.begin, nested.end - nested.begin);
      continue;
    }
    const Item& item = row.items[c];
    switch (item.kind) {
      case ItemKind::kAbsent:
        PutXmlRowItem(&out, absent, nullptr, 0);
        break;
      case ItemKind::kNull:
        PutXmlRowItem(&out, kItemNull, nullptr, 0);
        break;
      case ItemKind::kValue:
        PutXmlRowItem(&out, kItemValue, row.values.data() + item.offset, item.length);
        break;
    }
  }
}

// The encoding the prolog names decides how bytes above 127 are read: as UTF-8 when it is
// UTF-8, otherwise each byte as the character of the same number.
bool PrologNamesUtf8(std::string_view text) {
  if (text.substr(0, 5) != "<?xml" || text.size() < 6 || !(IsSpace(text[5]) || text[5] == '?')) {
    return false;
  }
  const std::size_t end = text.find("?>");
  if (end == std::string_view::npos) return false;
  std::string_view decl = text.substr(0, end);
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return false;
  at += 8;
  while (at < decl.size() && IsSpace(decl[at])) ++at;
  if (at >= decl.size() || decl[at] != '=') return false;
  ++at;
  while (at < decl.size() && IsSpace(decl[at])) ++at;
  if (at >= decl.size() || (decl[at] != '"' && decl[at] != '\'')) return false;
  const char quote = decl[at++];
  const std::size_t close = decl.find(quote, at);
  if (close == std::string_view::npos) return false;
  return EqualsIgnoringAsciiCase(decl.substr(at, close - at), "UTF-8");
}

DBResult DocumentHandler::Parse(const std::uint8_t* text, std::size_t size) {
  std::size_t start = 0;
  while (start < size && IsSpace(static_cast<char>(text[start]))) ++start;
  if (start == size || text[start] != '<') return DBResult::kBadPacket;
  const char* doc = reinterpret_cast<const char*>(text) + start;
  std::size_t left = size - start;
  item_limit_ = kItemsPerByte * std::uint64_t{size} + kItemsFree;
  // The declaration lies within the first few hundred bytes of any real document.
  utf8_ = PrologNamesUtf8(std::string_view(doc, std::min<std::size_t>(left, 4096)));
  // ASCII reads the same either way, and the tokenizer is fastest on UTF-8.
  const bool ascii =
      std::all_of(doc, doc + left, [](char c) { return static_cast<unsigned char>(c) < 0x80; });

  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(
      XML_ParserCreate(utf8_ || ascii ? "UTF-8" : "ISO-8859-1"), XML_ParserFree);
  if (!parser) return DBResult::kOutOfMemory;
  parser_ = parser.get();
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser_, OnText);
  XML_SetStartDoctypeDeclHandler(parser_, OnDoctype);
  // The tokenizer copies what it is given into its own buffer: small pieces keep that
  // buffer small and warm.
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  do {
    const std::size_t n = std::min(left, kChunk);
    const bool last = n == left;
    if (XML_Parse(parser_, doc, static_cast<int>(n), last ? XML_TRUE : XML_FALSE) !=
        XML_STATUS_OK) {
      if (failed_ != DBResult::kOk) return failed_;
      return XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY ? DBResult::kOutOfMemory
                                                              : DBResult::kBadPacket;
    }
    doc += n;
    left -= n;
  } while (left > 0);
  if (failed_ != DBResult::kOk) return failed_;
  if (!root_seen_ || !stack_.empty()) return DBResult::kBadPacket;
  if (rows_.Failed()) return DBResult::kOutOfMemory;
  for (const auto& row : pending_) {
    if (row->children.Failed()) return DBResult::kOutOfMemory;
  }
  return DBResult::kOk;
}

DBResult Transcode(const std::uint8_t* text, std::size_t size, PacketBytes* packet,
                   std::uint32_t* mode, std::vector<XmlColumnHints>* hints) {
  DocumentHandler handler(nullptr);
  ZELVO_RETURN_IF_ERROR(handler.Parse(text, size));
  ZELVO_RETURN_IF_ERROR(WriteXmlModelPacket(handler.schema(), handler.rows(), packet));
  *mode = handler.utf8() ? kXmlModeUtf8 : kXmlMode;
  *hints = XmlHintsOf(*handler.schema());
  return DBResult::kOk;
}

DBResult TranscodeRows(const std::uint8_t* text, std::size_t size,
                       const std::vector<ColumnDesc>& columns,
                       const std::vector<XmlColumnHints>& hints, PacketBytes* packet) {
  if (columns.size() > kMaxColumns) return DBResult::kBadPacket;
  Model schema;
  ZELVO_RETURN_IF_ERROR(XmlSchemaOfColumns(columns, hints, &schema));
  DocumentHandler handler(&schema);
  ZELVO_RETURN_IF_ERROR(handler.Parse(text, size));
  return WriteXmlRowsPacket(columns, handler.rows(), packet);
}

}  // namespace

DBResult XmlPacketSource::Open(const std::uint8_t* text, std::size_t size) {
  Reset();
  try {
    return Transcode(text, size, &packet_, &text_mode_, &hints_);
  } catch (const std::bad_alloc&) {
    return DBResult::kOutOfMemory;
  }
}

DBResult XmlPacketSource::OpenRows(const std::uint8_t* text, std::size_t size) {
  PacketBytes rows;
  DBResult r;
  try {
    r = TranscodeRows(text, size, columns_, hints_, &rows);
  } catch (const std::bad_alloc&) {
    r = DBResult::kOutOfMemory;
  }
  if (r == DBResult::kOk) packet_ = std::move(rows);
  return r;
}

void XmlPacketSource::Reset() {
  packet_ = PacketBytes();
  text_mode_ = 0;
  columns_.clear();
  hints_.clear();
}

}  // namespace zelvo
