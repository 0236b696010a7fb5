// Prints a finished binary packet as an XML document, walking it with a packet reader.
#include "packet/xml_writer.h"

#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "fields/type_word.h"
#include "packet/xml_buffer.h"
#include "packet/xml_names.h"
#include "packet/xml_text.h"

namespace zelvo {

namespace {

constexpr std::uint32_t kCountedLater = 0xFFFFFFFF;

struct Param {
  std::string name;
  std::uint32_t type = 0;
  std::string value;
};

struct Column {
  std::string name;
  std::string key;  // the attribute (and nested element) name in rows
  std::uint32_t type = 0;
  std::uint16_t attributes = 0;
  std::vector<Param> params;
  XmlValueType value_type;
  std::int32_t child = -1;
};

struct Level {
  std::vector<Column> columns;
  std::vector<Param> params;
  std::string row_name;  // "ROW", or "ROW" and the nested column's key
};

// The text of a string parameter, up to its terminating zero.
std::string_view StringParam(const Param& p) {
  if (TypeBase(p.type) != PT_STRING) return {};
  return {p.value.data(), ::strnlen(p.value.data(), p.value.size())};
}

const Param* FindParam(const std::vector<Param>& params, std::string_view name) {
  for (const Param& p : params) {
    if (EqualsIgnoringAsciiCase(p.name, name)) return &p;
  }
  return nullptr;
}

class XmlFormatter {
 public:
  explicit XmlFormatter(std::uint32_t mode)
      : utf8_((mode & kXmlUtf8) != 0), metadata_((mode & kXmlMetadata) != 0) {}

  DBResult ReadMetadata(TDATAPACKET_READ* reader) {
    levels_.emplace_back();
    levels_[0].row_name = "ROW";
    return ReadLevel(reader, 0);
  }

  DBResult Write(TDATAPACKET_READ* reader, bool full_packet, PacketBytes* xml) {
    out_.Put(utf8_ ? "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                   : "<?xml version=\"1.0\" standalone=\"yes\"?>");
    out_.Put("  <DATAPACKET Version=\"2.0\">");
    if (full_packet && metadata_) {
      out_.Put("<METADATA>");
      ZELVO_RETURN_IF_ERROR(WriteLevelMetadata(0, 0, &out_));
      out_.Put("</METADATA>");
    }
    const std::size_t rows_at = out_.size();
    out_.Put("<ROWDATA>");
    bool any_row = false;
    ZELVO_RETURN_IF_ERROR(WriteRows(reader, 0, 0, 0, &out_, &any_row));
    if (any_row) {
      out_.Put("</ROWDATA>");
    } else {
      out_.Truncate(rows_at);
      out_.Put("<ROWDATA/>");
    }
    out_.Put("</DATAPACKET>");
    if (out_.Failed()) return DBResult::kOutOfMemory;
    *xml = out_.Release();
    return DBResult::kOk;
  }

 private:
  DBResult ReadParams(TDATAPACKET_READ* reader, std::vector<Param>* params) {
    char name[256];
    for (;;) {
      std::uint32_t length = 0;
      DBResult r = reader->PeekParameterSize(&length);
      if (r == DBResult::kAfterLast) {
        std::uint32_t type = 0;
        r = reader->NextParameter(name, &type, &length, nullptr);
        return r == DBResult::kAfterLast ? DBResult::kOk : r;
      }
      ZELVO_RETURN_IF_ERROR(r);
      // A blob that was not fetched has no bytes to write.
      if ((length & kNotFetchedBit) != 0) return DBResult::kXmlNegativeLength;
      Param p;
      p.value.resize(length);
      std::uint32_t capacity = static_cast<std::uint32_t>(p.value.size());
      ZELVO_RETURN_IF_ERROR(reader->NextParameter(name, &p.type, &capacity, p.value.data()));
      p.name = name;
      params->push_back(std::move(p));
    }
  }

  DBResult ReadLevel(TDATAPACKET_READ* reader, std::int32_t index) {
    for (;;) {
      ColumnDesc desc;
      DBResult r = reader->NextColumn(&desc);
      if (r == DBResult::kAfterLast) break;
      ZELVO_RETURN_IF_ERROR(r);
      ZELVO_RETURN_IF_ERROR(XmlCheckType(desc.type));
      Column column;
      column.name.assign(desc.name, ::strnlen(desc.name, sizeof(desc.name)));
      column.type = desc.type;
      column.attributes = desc.attributes;
      ZELVO_RETURN_IF_ERROR(ReadParams(reader, &column.params));
      const Param* subtype = FindParam(column.params, "SUBTYPE");
      const bool text_memo =
          subtype != nullptr && EqualsIgnoringAsciiCase(StringParam(*subtype), "Text");
      column.value_type = XmlValueTypeOf(desc.type, text_memo);
      if (TypeBase(desc.type) == PT_NESTED) {
        column.child = static_cast<std::int32_t>(levels_.size());
        levels_.emplace_back();
        levels_[index].columns.push_back(std::move(column));
        ZELVO_RETURN_IF_ERROR(ReadLevel(reader, levels_[index].columns.back().child));
      } else {
        levels_[index].columns.push_back(std::move(column));
      }
    }
    ZELVO_RETURN_IF_ERROR(ReadParams(reader, &levels_[index].params));
    std::vector<std::string_view> names;
    for (const Column& c : levels_[index].columns) names.push_back(c.name);
    std::vector<std::string> keys = XmlAttributeNames(names);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      Column& c = levels_[index].columns[i];
      c.key = std::move(keys[i]);
      if (c.child >= 0) levels_[c.child].row_name = "ROW" + c.key;
    }
    return DBResult::kOk;
  }

  void PutAttribute(std::string_view name, std::string_view value, XmlBuffer* out) {
    out->Put(' ');
    out->Put(name);
    out->Put("=\"");
    out->Put(value);
    out->Put('"');
  }

  DBResult PutValueAttribute(std::string_view name, std::uint32_t type, const std::string& value,
                             XmlBuffer* out) {
    out->Put(' ');
    out->Put(name);
    out->Put("=\"");
    ZELVO_RETURN_IF_ERROR(AppendXmlValue(XmlValueTypeOf(type, false),
                                         reinterpret_cast<const std::uint8_t*>(value.data()),
                                         static_cast<std::uint32_t>(value.size()), utf8_, out));
    out->Put('"');
    return DBResult::kOk;
  }

  // Writes the parameters that have an attribute form as attributes of the open start tag and
  // collects the others, as PARAM elements, into `children`. `used` holds the attribute names
  // the element already carries.
  DBResult PutParams(const std::vector<Param>& params, std::set<std::string, std::less<>>* used,
                     XmlBuffer* out, XmlBuffer* children) {
    for (const Param& p : params) {
      ZELVO_RETURN_IF_ERROR(XmlCheckType(p.type));
      const XmlAttributeParam* form = FindAttributeParam(p.name);
      if (form != nullptr && FitsAttributeForm(*form, p.type) && used->insert(p.name).second) {
        ZELVO_RETURN_IF_ERROR(PutValueAttribute(p.name, p.type, p.value, out));
        continue;
      }
      children->Put("<PARAM Name=\"");
      ZELVO_RETURN_IF_ERROR(AppendEscapedText(p.name, utf8_, children));
      children->Put('"');
      ZELVO_RETURN_IF_ERROR(PutValueAttribute("Value", p.type, p.value, children));
      if (TypeBase(p.type) != PT_STRING) {
        std::string_view word;
        ZELVO_RETURN_IF_ERROR(XmlTypeWordOf(p.type & ~kTypeRoundtrip, &word));
        PutAttribute("Type", word, children);
      }
      if ((p.type & kTypeRoundtrip) != 0) PutAttribute("Roundtrip", "True", children);
      children->Put("/>");
    }
    return DBResult::kOk;
  }

  DBResult WriteField(const Column& c, std::size_t depth, XmlBuffer* out) {
    std::string_view word;
    ZELVO_RETURN_IF_ERROR(XmlTypeWordOf(c.type, &word));
    out->Put("<FIELD");
    if (c.key != c.name) {
      out->Put(" fieldname=\"");
      ZELVO_RETURN_IF_ERROR(AppendEscapedText(c.name, utf8_, out));
      out->Put('"');
    }
    PutAttribute("attrname", c.key, out);
    PutAttribute("fieldtype", word, out);
    static constexpr struct {
      std::uint16_t bit;
      std::string_view name;
    } kFlags[] = {
        {0x0002, "readonly"}, {0x0004, "required"}, {0x0001, "hidden"}, {0x0008, "linkfield"}};
    for (const auto& flag : kFlags) {
      if ((c.attributes & flag.bit) != 0) PutAttribute(flag.name, "true", out);
    }
    std::set<std::string, std::less<>> used;
    const std::uint32_t base = TypeBase(c.type);
    if ((base == PT_BYTES || base == PT_BYTES_ALIAS) && !TypeIsVarying(c.type) &&
        FindParam(c.params, "WIDTH") == nullptr) {
      // "bin.hex" reads back as varying bytes; the width keeps the column's size.
      PutAttribute("WIDTH", std::to_string(TypeSize(c.type)), out);
      used.insert("WIDTH");
    }
    XmlBuffer& children = Scratch(depth + 1);
    const std::size_t children_at = children.size();
    ZELVO_RETURN_IF_ERROR(PutParams(c.params, &used, out, &children));
    if (c.child >= 0) ZELVO_RETURN_IF_ERROR(WriteLevelMetadata(c.child, depth + 1, &children));
    if (children.size() == children_at) {
      out->Put("/>");
    } else {
      out->Put('>');
      out->Put(children.View().substr(children_at));
      out->Put("</FIELD>");
    }
    children.Truncate(children_at);
    return DBResult::kOk;
  }

  // FIELDS and PARAMS of a level.
  DBResult WriteLevelMetadata(std::int32_t index, std::size_t depth, XmlBuffer* out) {
    const Level& level = levels_[index];
    if (level.columns.empty()) {
      out->Put("<FIELDS/>");
    } else {
      out->Put("<FIELDS>");
      for (const Column& c : level.columns) ZELVO_RETURN_IF_ERROR(WriteField(c, depth, out));
      out->Put("</FIELDS>");
    }
    out->Put("<PARAMS");
    std::set<std::string, std::less<>> used;
    XmlBuffer& children = Scratch(depth + 1);
    const std::size_t children_at = children.size();
    ZELVO_RETURN_IF_ERROR(PutParams(level.params, &used, out, &children));
    if (children.size() == children_at) {
      out->Put("/>");
    } else {
      out->Put('>');
      out->Put(children.View().substr(children_at));
      out->Put("</PARAMS>");
    }
    children.Truncate(children_at);
    return DBResult::kOk;
  }

  // A buffer per nesting depth for content that must wait until its element's start tag is
  // complete (PARAM children, nested rows after the row's remaining attributes).
  XmlBuffer& Scratch(std::size_t depth) {
    while (scratch_.size() <= depth) scratch_.push_back(std::make_unique<XmlBuffer>());
    return *scratch_[depth];
  }

  // Rows of level `index` until the reader's rows end (`count` 0, the top level) or `count`
  // rows are written. Nested rows wait in the scratch buffer of the next depth until the
  // row's remaining attributes are written.
  DBResult WriteRows(TDATAPACKET_READ* reader, std::int32_t index, std::uint32_t count,
                     std::size_t depth, XmlBuffer* out, bool* any_row) {
    const Level& level = levels_[index];
    for (std::uint32_t row = 0; count == 0 || row < count; ++row) {
      const std::uint8_t* data = nullptr;
      std::uint32_t length = 0, state = 0;
      DBResult r = reader->NextValueRef(&data, &length, &state);
      if (r == DBResult::kAfterLast && count == 0) return DBResult::kOk;
      ZELVO_RETURN_IF_ERROR(r);
      if (state != kItemValue || length != 1) return DBResult::kBadPacket;
      *any_row = true;
      out->Put('<');
      out->Put(level.row_name);
      if (data[0] != 0) PutAttribute("RowState", std::to_string(data[0]), out);
      XmlBuffer& content = Scratch(depth + 1);
      const std::size_t content_at = content.size();
      for (const Column& c : level.columns) {
        r = reader->NextValueRef(&data, &length, &state);
        if (r != DBResult::kOk && r != DBResult::kValueIsNull) return r;
        if (state != kItemValue) continue;  // null and unchanged leave the attribute out
        if (c.child >= 0) {
          std::uint32_t rows = 0;
          std::memcpy(&rows, data, 4);
          if (rows == 0 || (rows & 0x80000000) != 0) continue;
          content.Put('<');
          content.Put(c.key);
          content.Put('>');
          bool nested_any = false;
          ZELVO_RETURN_IF_ERROR(WriteRows(reader, c.child, rows, depth + 1, &content, &nested_any));
          content.Put("</");
          content.Put(c.key);
          content.Put('>');
          continue;
        }
        out->Put(' ');
        out->Put(c.key);
        out->Put("=\"");
        ZELVO_RETURN_IF_ERROR(AppendXmlValue(c.value_type, data, length, utf8_, out));
        out->Put('"');
      }
      if (content.size() == content_at) {
        out->Put("/>");
      } else {
        out->Put('>');
        out->Put(content.View().substr(content_at));
        out->Put("</");
        out->Put(level.row_name);
        out->Put('>');
        content.Truncate(content_at);
      }
      if (out->Failed()) return DBResult::kOutOfMemory;
    }
    return DBResult::kOk;
  }

  const bool utf8_;
  const bool metadata_;
  std::vector<Level> levels_;
  std::vector<std::unique_ptr<XmlBuffer>> scratch_;
  XmlBuffer out_;
};

// A packet holding only the descriptors of `columns`, so that a reader can walk the rows of
// a rows-only packet of the same columns.
DBResult MetadataPacket(const std::vector<ColumnDesc>& columns, PacketBytes* packet) {
  auto writer = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  if (!writer) return DBResult::kOutOfMemory;
  if (columns.size() > 0xFFFF) return DBResult::kBadPacket;
  ZELVO_RETURN_IF_ERROR(
      writer->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(columns.size())));
  for (const ColumnDesc& c : columns) ZELVO_RETURN_IF_ERROR(writer->AddColumn(c));
  return writer->FinishPacket(packet);
}

DBResult Format(const PacketBytes& binary, const std::vector<ColumnDesc>& columns,
                std::uint32_t mode, PacketBytes* xml) {
  auto reader = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
  if (!reader) return DBResult::kOutOfMemory;
  const bool full_packet =
      binary.size() >= kPacketHeaderSize && (binary.data()[18] & kHeaderMetadata) != 0;
  XmlFormatter formatter(mode);
  PacketBytes metadata;
  if (full_packet) {
    ZELVO_RETURN_IF_ERROR(reader->OpenPacket(binary.data(), binary.size()));
    ZELVO_RETURN_IF_ERROR(formatter.ReadMetadata(reader.get()));
  } else {
    ZELVO_RETURN_IF_ERROR(MetadataPacket(columns, &metadata));
    ZELVO_RETURN_IF_ERROR(reader->OpenPacket(metadata.data(), metadata.size()));
    ZELVO_RETURN_IF_ERROR(formatter.ReadMetadata(reader.get()));
    ZELVO_RETURN_IF_ERROR(reader->OpenRowPacket(binary.data(), binary.size()));
  }
  return formatter.Write(reader.get(), full_packet, xml);
}

}  // namespace

DBResult XmlCheckType(std::uint32_t type) {
  std::string_view word;
  return XmlTypeWordOf(type & ~kTypeRoundtrip, &word);
}

DBResult XmlCheckValue(const RowItem& item, std::uint32_t length, const void* value) {
  if (item.conv.kind == ConvKind::FLDCVar32 && (length & kNotFetchedBit) != 0) {
    return DBResult::kXmlNegativeLength;
  }
  if (item.child_level >= 0 && length >= 4) {
    std::uint32_t count = 0;
    std::memcpy(&count, value, 4);
    if ((count & kNotFetchedBit) != 0 && count != kCountedLater) {
      return DBResult::kXmlNegativeLength;
    }
  }
  return DBResult::kOk;
}

DBResult WriteXmlPacket(const PacketBytes& binary, const std::vector<ColumnDesc>& columns,
                        std::uint32_t mode, PacketBytes* xml) {
  try {
    return Format(binary, columns, mode, xml);
  } catch (const std::bad_alloc&) {
    return DBResult::kOutOfMemory;
  }
}

}  // namespace zelvo
