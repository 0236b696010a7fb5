// The packet of an XML document: its column forms and prefixes, and its writing in binary.
#include "packet/xml_model.h"

#include <algorithm>
#include <cstring>

#include "fields/field_types.h"
#include "fields/type_word.h"
#include "packet/xml_names.h"

namespace zelvo {

namespace {

// The value of a parameter of a 1-, 2- or 4-byte integer type, taken as unsigned (widths and
// decimals are u16 in packets, whatever type the XML form reads them back as).
bool IntegerParam(const XmlParam& p, std::uint32_t* v) {
  const std::uint32_t base = TypeBase(p.type);
  const std::uint32_t size = TypeSize(p.type);
  if ((base != PT_INT && base != PT_UINT) || TypeIsArray(p.type) || p.value.size() != size ||
      (size != 1 && size != 2 && size != 4)) {
    return false;
  }
  *v = 0;
  std::memcpy(v, p.value.data(), size);  // little-endian host and packet
  return true;
}

const XmlParam* FindParam(const std::vector<XmlParam>& params, std::string_view name) {
  for (const XmlParam& p : params) {
    if (EqualsIgnoringAsciiCase(p.name, name)) return &p;
  }
  return nullptr;
}

// The length prefix of a varying column: wide enough for the values read, and for the width
// its WIDTH parameter gives, as a table would write it; bytes without WIDTH or with a blob
// subtype are blobs.
std::uint32_t ColumnPrefix(const XmlColumn& c) {
  std::uint32_t prefix = NarrowestPrefix(c.longest);
  std::uint32_t width = 0;
  const XmlParam* w = FindParam(c.params, "WIDTH");
  const bool has_width = w != nullptr && IntegerParam(*w, &width);
  switch (TypeBase(c.type)) {
    case PT_STRING:
      if (has_width && width + 1 > 254) prefix = std::max(prefix, 2u);
      break;
    case PT_WIDESTRING:
      if (has_width && width + 2 > 254) prefix = std::max(prefix, 2u);
      break;
    default: {
      const XmlParam* subtype = FindParam(c.params, "SUBTYPE");
      const std::uint32_t code =
          subtype != nullptr ? SubtypeOfName(std::string_view(subtype->value.c_str())) : 0;
      if (!has_width || (code >= 22 && code <= 28) || code == 33 || code == 34) return 4;
      if (width + 2 > 254) prefix = std::max(prefix, 2u);
      break;
    }
  }
  return prefix;
}

DBResult AddParams(TDATAPACKET_WRITE* writer, ParamLevel which,
                   const std::vector<XmlParam>& params) {
  for (const XmlParam& p : params) {
    ZELVO_RETURN_IF_ERROR(writer->AddParameter(
        which, p.name.c_str(), p.type, static_cast<std::uint32_t>(p.value.size()), p.value.data()));
  }
  return DBResult::kOk;
}

ColumnDesc DescOf(const XmlColumn& c) {
  ColumnDesc desc;
  std::memcpy(desc.name, c.name.data(), std::min(c.name.size(), sizeof(desc.name) - 1));
  desc.type = c.type;
  desc.attributes = c.attributes;
  return desc;
}

DBResult AddLevel(TDATAPACKET_WRITE* writer, const XmlModel& model, std::int32_t index) {
  for (const XmlColumn& c : model.levels[index].columns) {
    ZELVO_RETURN_IF_ERROR(writer->AddColumn(DescOf(c)));
    ZELVO_RETURN_IF_ERROR(AddParams(writer, kParamColumn, c.params));
    if (c.child >= 0) {
      ZELVO_RETURN_IF_ERROR(AddLevel(writer, model, c.child));
      ZELVO_RETURN_IF_ERROR(AddParams(writer, kParamTable, model.levels[c.child].params));
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamTable, nullptr, 0, 0, nullptr));
    }
  }
  return DBResult::kOk;
}

// Replays the item stream into the writer.
DBResult PutRows(TDATAPACKET_WRITE* writer, const XmlBuffer& rows) {
  const std::uint8_t* p = rows.data();
  const std::uint8_t* end = p + rows.size();
  while (p < end) {
    const std::uint8_t op = *p++;
    DBResult r;
    if (op == kItemValue) {
      std::uint32_t length = 0;
      std::memcpy(&length, p, 4);
      r = writer->PutValue(kItemValue, length, p + 4);
      p += 4 + length;
    } else {
      r = writer->PutValue(op, 0, nullptr);
    }
    // A value longer than its column's prefix allows: only rows-only packets, whose columns
    // are fixed by the table, meet it.
    if (r == DBResult::kInvalidArgument) return DBResult::kBadPacket;
    ZELVO_RETURN_IF_ERROR(r);
  }
  return DBResult::kOk;
}

void CollectHints(const XmlModel& model, std::int32_t index, std::vector<XmlColumnHints>* hints) {
  for (const XmlColumn& c : model.levels[index].columns) {
    hints->push_back(
        {c.key, c.value_type.precision, c.value_type.places, c.value_type.places_known});
    if (c.child >= 0) CollectHints(model, c.child, hints);
  }
}

// The columns of level `index`: to the end of the list for the top level, else `count`.
DBResult SchemaOfLevel(const std::vector<ColumnDesc>& columns,
                       const std::vector<XmlColumnHints>& hints, XmlModel* model, std::size_t* pos,
                       std::int32_t index, std::uint32_t count) {
  const bool with_hints = hints.size() == columns.size();
  const bool to_end = index == 0;
  for (std::uint32_t taken = 0; to_end ? *pos < columns.size() : taken < count; ++taken) {
    if (*pos >= columns.size()) return DBResult::kBadPacket;
    const std::size_t at = (*pos)++;
    const ColumnDesc& desc = columns[at];
    const std::uint32_t base = TypeBase(desc.type);
    // Their row items are not one per column; XML has no form for them.
    if (base == PT_STRUCT || base == PT_ARRAY) return DBResult::kUnusableType;
    XmlColumn c;
    c.name.assign(desc.name, ::strnlen(desc.name, sizeof(desc.name)));
    c.type = desc.type;
    c.attributes = desc.attributes;
    c.value_type = XmlValueTypeOf(desc.type, false);
    if (with_hints) {
      c.key = hints[at].key;
      c.value_type.precision = hints[at].precision;
      c.value_type.places = hints[at].places;
      c.value_type.places_known = hints[at].places_known;
    }
    if (base == PT_NESTED) {
      if (model->levels.size() >= kMaxPacketLevels) return DBResult::kBadPacket;
      c.child = static_cast<std::int32_t>(model->levels.size());
      model->levels.emplace_back();
    }
    const std::int32_t child = c.child;
    model->levels[index].columns.push_back(std::move(c));
    if (child >= 0) {
      ZELVO_RETURN_IF_ERROR(SchemaOfLevel(columns, hints, model, pos, child, TypeSize(desc.type)));
    }
  }
  XmlLevel& level = model->levels[index];
  if (!with_hints) {
    std::vector<std::string_view> names;
    for (const XmlColumn& c : level.columns) names.push_back(c.name);
    std::vector<std::string> keys = XmlAttributeNames(names);
    for (std::size_t i = 0; i < keys.size(); ++i) level.columns[i].key = std::move(keys[i]);
  }
  return DBResult::kOk;
}

}  // namespace

DBResult IndexXmlLevel(XmlLevel* level) {
  level->by_key.clear();
  level->simple = true;
  for (std::size_t i = 0; i < level->columns.size(); ++i) {
    const XmlColumn& c = level->columns[i];
    if (!level->by_key.emplace(c.key, static_cast<std::int32_t>(i)).second) {
      return DBResult::kBadPacket;
    }
    if (c.child >= 0 || !c.in_attribute) level->simple = false;
  }
  return DBResult::kOk;
}

void ApplyXmlColumnParams(XmlModel* model) {
  for (XmlLevel& level : model->levels) {
    for (XmlColumn& c : level.columns) {
      if (c.child >= 0) {
        c.type =
            WithTypeSize(c.type, static_cast<std::uint32_t>(model->levels[c.child].columns.size()));
      }
      const XmlParam* subtype = FindParam(c.params, "SUBTYPE");
      const bool text_memo =
          subtype != nullptr && TypeBase(subtype->type) == PT_STRING &&
          EqualsIgnoringAsciiCase(std::string_view(subtype->value.c_str()), "Text");
      c.value_type = XmlValueTypeOf(c.type, text_memo);
      if (c.value_type.kind != XmlValueKind::kBcd) continue;
      std::uint32_t width = 0, decimals = 0;
      const XmlParam* w = FindParam(c.params, "WIDTH");
      const XmlParam* d = FindParam(c.params, "DECIMALS");
      if (w != nullptr && IntegerParam(*w, &width) && width <= 64) c.value_type.precision = width;
      if (d != nullptr && IntegerParam(*d, &decimals)) c.value_type.places = decimals;
      // A table writes DECIMALS only when it is not 0.
      c.value_type.places_known = c.value_type.precision != 0 || d != nullptr;
    }
  }
}

void PutXmlRowItem(XmlBuffer* out, std::uint8_t state, const void* data, std::size_t length) {
  out->Put(static_cast<char>(state));
  if (state != kItemValue) return;
  const auto n = static_cast<std::uint32_t>(length);
  out->PutBytes(&n, 4);
  out->PutBytes(data, length);
}

std::uint32_t NarrowestPrefix(std::size_t length) {
  return length <= 0xFF ? 1 : (length <= 0xFFFF ? 2 : 4);
}

std::uint32_t WithTypeSize(std::uint32_t type, std::uint32_t size) {
  return (type & ~kTypeSizeMask) | (size & kTypeSizeMask);
}

DBResult XmlSchemaOfColumns(const std::vector<ColumnDesc>& columns,
                            const std::vector<XmlColumnHints>& hints, XmlModel* model) {
  model->levels.assign(1, XmlLevel{});
  model->column_count = static_cast<std::uint32_t>(columns.size());
  std::size_t pos = 0;
  ZELVO_RETURN_IF_ERROR(SchemaOfLevel(columns, hints, model, &pos, 0, 0));
  for (XmlLevel& level : model->levels) {
    if (IndexXmlLevel(&level) != DBResult::kOk) return DBResult::kBadPacket;
  }
  return DBResult::kOk;
}

std::vector<XmlColumnHints> XmlHintsOf(const XmlModel& model) {
  std::vector<XmlColumnHints> hints;
  CollectHints(model, 0, &hints);
  return hints;
}

DBResult WriteXmlModelPacket(XmlModel* model, const XmlBuffer& rows, PacketBytes* packet) {
  for (XmlLevel& level : model->levels) {
    for (XmlColumn& c : level.columns) {
      if (TypeIsVarying(c.type)) c.type = WithTypeSize(c.type, ColumnPrefix(c));
    }
  }
  auto writer = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  if (!writer) return DBResult::kOutOfMemory;
  ZELVO_RETURN_IF_ERROR(
      writer->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(model->column_count)));
  ZELVO_RETURN_IF_ERROR(AddLevel(writer.get(), *model, 0));
  ZELVO_RETURN_IF_ERROR(AddParams(writer.get(), kParamTable, model->levels[0].params));
  ZELVO_RETURN_IF_ERROR(PutRows(writer.get(), rows));
  return writer->FinishPacket(packet);
}

DBResult WriteXmlRowsPacket(const std::vector<ColumnDesc>& columns, const XmlBuffer& rows,
                            PacketBytes* packet) {
  auto writer = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  if (!writer) return DBResult::kOutOfMemory;
  ZELVO_RETURN_IF_ERROR(writer->BeginRowPacket(
      kPacketVersion, static_cast<std::uint16_t>(columns.size()), columns.data()));
  ZELVO_RETURN_IF_ERROR(PutRows(writer.get(), rows));
  return writer->FinishPacket(packet);
}

}  // namespace zelvo
