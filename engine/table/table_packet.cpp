// What a table puts into a data packet and takes from one: columns with their parameters,
// table parameters (well-known ones take effect, the rest are kept and written back in
// place), and rows chosen by the change log.
#include <algorithm>
#include <cstring>

#include "fields/collation.h"
#include "fields/type_word.h"
#include "guard.h"
#include "packet/field_values.h"
#include "table/dsbase.h"

namespace zelvo {

namespace {

constexpr std::uint32_t kTypeUInt16 = 0x00020002;
constexpr std::uint32_t kTypeInt32 = 0x00010004;
constexpr std::uint32_t kTypeSubtype = 0x00490002;
constexpr std::uint32_t kTypeFieldList = 0x00820002;
constexpr std::uint32_t kTypeChangeLog = 0x00820004;
constexpr std::uint16_t kOrderDescending = 0x8000;
constexpr std::uint16_t kOrderCaseInsensitive = 0x4000;

// An integer parameter value; widths 1, 2, 4 and 8 are all taken.
bool ParamNumber(std::uint32_t type, const std::uint8_t* value, std::uint32_t length,
                 std::uint64_t* out) {
  const std::uint32_t base = TypeBase(type);
  if (TypeIsArray(type) || TypeIsVarying(type) ||
      (base != PT_INT && base != PT_UINT && base != PT_BOOL)) {
    return false;
  }
  const std::uint32_t size = TypeSize(type);
  if ((size != 1 && size != 2 && size != 4 && size != 8) || length < size) return false;
  std::uint64_t v = 0;
  std::memcpy(&v, value, size);
  if (base == PT_INT && size < 8 && (v >> (size * 8 - 1)) != 0) {
    v |= ~std::uint64_t{0} << (size * 8);  // sign-extend
  }
  *out = v;
  return true;
}

// The entries of an array parameter of 2- or 4-byte integers.
bool ParamList(std::uint32_t type, const std::uint8_t* value, std::uint32_t length,
               std::vector<std::uint32_t>* out) {
  const std::uint32_t size = TypeSize(type);
  if (!TypeIsArray(type) || (size != 2 && size != 4) || length < 4) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, value, 4);
  if (std::uint64_t{count} * size > length - 4) return false;
  out->clear();
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t v = 0;
    std::memcpy(&v, value + 4 + std::size_t{i} * size, size);
    out->push_back(v);
  }
  return true;
}

enum class Known {
  kNone,
  kUniqueKey,
  kDefaultOrder,
  kChangeLog,
  kDelta,
  kReadOnly,
  kLcid,
  kAutoIncValue,
  kFieldLinks,
  kUpdateMode,
  kMdSemantics,
  kPrimaryKey,
  kDisableDeletes,
  kDisableInserts,
  kDisableEdits,
};

Known KnownParameter(std::string_view name) {
  static constexpr std::pair<std::string_view, Known> kNames[] = {
      {"UNIQUE_KEY", Known::kUniqueKey},       {"DEFAULT_ORDER", Known::kDefaultOrder},
      {"CHANGE_LOG", Known::kChangeLog},       {"DATASET_DELTA", Known::kDelta},
      {"DELTA", Known::kDelta},                {"READONLY", Known::kReadOnly},
      {"LCID", Known::kLcid},                  {"AUTOINCVALUE", Known::kAutoIncValue},
      {"MD_FIELDLINKS", Known::kFieldLinks},   {"UPDATEMODE", Known::kUpdateMode},
      {"MD_SEMANTICS", Known::kMdSemantics},   {"PRIMARY_KEY", Known::kPrimaryKey},
      {"DISABLE_DELETES", Known::kDisableDeletes},
      {"DISABLE_INSERTS", Known::kDisableInserts},
      {"DISABLE_EDITS", Known::kDisableEdits},
  };
  for (const auto& [known, value] : kNames) {
    if (EqualsIgnoringAsciiCase(known, name)) return value;
  }
  return Known::kNone;
}

bool HasWidthParameter(std::uint32_t type) {
  switch (type) {
    case FT_STRING: case FT_VARBYTES: case FT_WIDESTRING: case FT_BLOB: case FT_FMTBCD:
    case FT_BCD:
      return true;
    default:
      return false;
  }
}

// Structures and arrays count the fields that follow them as descendants; the packet only
// says how many children or elements they have.
DBResult CountDescendants(std::vector<FieldDesc>* fields, std::size_t pos, int depth,
                          std::size_t* end) {
  if (pos >= fields->size() || depth > 64) return DBResult::kUnusableType;
  FieldDesc& f = (*fields)[pos];
  std::size_t p = pos + 1;
  if (f.type == FT_STRUCT) {
    for (std::uint32_t k = 0; k < f.units1; ++k) {
      ZELVO_RETURN_IF_ERROR(CountDescendants(fields, p, depth + 1, &p));
    }
    (*fields)[pos].units2 = static_cast<std::uint32_t>(p - pos - 1);
  } else if (f.type == FT_ARRAY) {
    ZELVO_RETURN_IF_ERROR(CountDescendants(fields, p, depth + 1, &p));
    (*fields)[pos].units2 = static_cast<std::uint32_t>((p - pos - 1) * (*fields)[pos].units1);
  }
  *end = p;
  return DBResult::kOk;
}

}  // namespace

DBResult DSBASE::LoadPacket(const std::uint8_t* data, std::size_t size, bool last_packet) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (data == nullptr) return DBResult::kNoPacket;
    if (!defined()) {
      Ref<TDATAPACKET_READ> reader = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
      if (!reader) return DBResult::kOutOfMemory;
      DBResult r = reader->OpenPacket(data, size);
      if (Ok(r)) r = LoadFirstPacket(reader.get(), reader->Header().row_count, size);
      if (!Ok(r)) {
        Reset();
        return r;
      }
      xml_mode_ = reader->GetTextMode();
      if (!last_packet) reader_ = reader;
      return DBResult::kOk;
    }
    if (!reader_) return DBResult::kWrongState;
    ZELVO_RETURN_IF_ERROR(reader_->OpenRowPacket(data, size));
    const std::uint32_t first_new = store_.next_slot();
    DBResult r = LoadRows(reader_.get(), reader_->Header().row_count, size, true);
    if (Ok(r)) r = RebuildOrderings();
    if (!Ok(r)) {
      // Take the partly loaded rows out again: the table is as it was.
      while (store_.next_slot() > first_new) {
        if (IsLive(store_.state(store_.highest_slot()))) --live_count_;
        store_.NullSlot(store_.highest_slot());
        store_.set_state(store_.highest_slot(), 0);
        store_.GiveBackHighest();
      }
      (void)RebuildOrderings();
      return r;
    }
    if (last_packet) reader_ = Ref<TDATAPACKET_READ>();
    return DBResult::kOk;
  });
}

DBResult DSBASE::LoadFirstPacket(TDATAPACKET_READ* reader, std::uint32_t row_count,
                                 std::size_t packet_size) {
  ZELVO_RETURN_IF_ERROR(DefineFromColumns(reader));
  // Every row takes at least its state byte, so a count beyond the packet's size is a lie
  // that must not size the store.
  if (row_count > packet_size) return DBResult::kBadPacket;
  ZELVO_RETURN_IF_ERROR(store_.blobs().ReserveBytes(packet_size));
  ZELVO_RETURN_IF_ERROR(LoadRows(reader, row_count, packet_size, true));
  return RebuildOrderings();
}

DBResult DSBASE::DefineFromColumns(TDATAPACKET_READ* reader) {
  std::vector<FieldDesc> fields;
  std::vector<KeptParameter> kept;
  std::vector<std::uint16_t> attributes;
  std::vector<Ref<DSBASE>> nested;
  ZELVO_RETURN_IF_ERROR(ReadColumns(reader, &fields, &kept, &attributes, &nested));
  if (fields.empty()) return DBResult::kBadPacket;
  std::size_t end = 0;
  for (std::size_t pos = 0; pos < fields.size(); pos = end) {
    ZELVO_RETURN_IF_ERROR(CountDescendants(&fields, pos, 0, &end));
  }
  // Arrays would shift the nested tables' places; the two are not combined in one table.
  const bool has_nested = std::any_of(nested.begin(), nested.end(), [](auto& t) { return bool(t); });
  const bool has_array = std::any_of(fields.begin(), fields.end(),
                                     [](const FieldDesc& f) { return f.type == FT_ARRAY; });
  if (has_nested && has_array) return DBResult::kUnusableType;
  ZELVO_RETURN_IF_ERROR(store_.Define(std::move(fields), false));
  ZELVO_RETURN_IF_ERROR(FinishDefinition());
  kept_ = std::move(kept);
  packet_attributes_ = std::move(attributes);
  packet_attributes_.resize(store_.field_count());
  nested_ = std::move(nested);
  nested_.resize(store_.field_count());
  nested_groups_.assign(store_.field_count(), {});
  return ReadTableParameters(reader);
}

DBResult DSBASE::ValidateChangeLog() const {
  // The change log must name only slots the rows created.
  for (const ChangeEntry& e : change_log_.entries()) {
    const bool kind_ok = e.kind == kChangeSkip || e.kind == kChangeDelete ||
                         e.kind == kChangeInsert || e.kind == kChangeModify ||
                         e.kind == kChangeDetail;
    if (!kind_ok || e.slot > store_.highest_slot() || e.previous > store_.highest_slot() ||
        (e.kind != kChangeSkip && e.slot == 0) || (e.kind == kChangeModify && e.previous == 0)) {
      return DBResult::kBadPacket;
    }
  }
  return DBResult::kOk;
}

DBResult DSBASE::ReadColumns(TDATAPACKET_READ* reader, std::vector<FieldDesc>* fields,
                             std::vector<KeptParameter>* kept,
                             std::vector<std::uint16_t>* attributes,
                             std::vector<Ref<DSBASE>>* nested) {
  std::vector<std::uint8_t> value(256);
  char name[256];
  for (;;) {
    ColumnDesc column;
    DBResult r = reader->NextColumn(&column);
    if (r == DBResult::kAfterLast) break;
    ZELVO_RETURN_IF_ERROR(r);
    FieldTypeOfPacket t;
    ZELVO_RETURN_IF_ERROR(FieldTypeOfPacketType(column.type, &t));
    FieldDesc f;
    f.SetName(column.name);
    f.type = t.type;
    f.length = t.length;
    f.units1 = t.units1;
    f.attributes = column.attributes;
    const auto number = static_cast<std::uint32_t>(fields->size() + 1);
    for (;;) {
      std::uint32_t type = 0, length = 0;
      r = reader->PeekParameterSize(&length);
      if (r == DBResult::kAfterLast) {
        r = reader->NextParameter(name, &type, &length, nullptr);
        if (r == DBResult::kAfterLast) break;
      }
      ZELVO_RETURN_IF_ERROR(r);
      if (value.size() < length) value.resize(length);
      length = static_cast<std::uint32_t>(value.size());
      ZELVO_RETURN_IF_ERROR(reader->NextParameter(name, &type, &length, value.data()));
      const std::string_view param(name);
      std::uint64_t n = 0;
      bool consumed = true;
      if (EqualsIgnoringAsciiCase(param, "SUBTYPE")) {
        if (TypeBase(type) != PT_STRING) return DBResult::kInvalidArgument;
        const std::string_view text(reinterpret_cast<const char*>(value.data()),
                                    ::strnlen(reinterpret_cast<const char*>(value.data()), length));
        f.subtype = SubtypeOfName(text);
        if (f.subtype == kSubtypeAutoinc) f.attributes |= kAttrReadOnly;
        consumed = f.subtype != kSubtypeUnknownName;
      } else if (EqualsIgnoringAsciiCase(param, "DECIMALS") && ParamNumber(type, value.data(), length, &n)) {
        f.units2 = static_cast<std::uint32_t>(n);
      } else if ((EqualsIgnoringAsciiCase(param, "WIDTH") || EqualsIgnoringAsciiCase(param, "ELEMENTS")) &&
                 ParamNumber(type, value.data(), length, &n)) {
        f.units1 = static_cast<std::uint32_t>(n);
      } else if (EqualsIgnoringAsciiCase(param, "CALCULATED") &&
                 ParamNumber(type, value.data(), length, &n)) {
        f.calculated = static_cast<std::uint32_t>(n);
      } else {
        consumed = false;
      }
      if (!consumed) {
        kept->push_back({number, std::string(param), type,
                         std::vector<std::uint8_t>(value.begin(), value.begin() + length)});
      }
    }
    Ref<DSBASE> child;
    if (f.type == FT_TABLE) {
      // The nested level's columns and table parameters follow the column directly.
      child = Ref<DSBASE>::Adopt(NewTable());
      if (!child) return DBResult::kOutOfMemory;
      ZELVO_RETURN_IF_ERROR(child->DefineFromColumns(reader));
    }
    fields->push_back(f);
    attributes->push_back(column.attributes);
    nested->push_back(std::move(child));
  }
  return DBResult::kOk;
}

DBResult DSBASE::ReadTableParameters(TDATAPACKET_READ* reader) {
  std::vector<std::uint8_t> value(256);
  char name[256];
  for (;;) {
    std::uint32_t type = 0, length = 0;
    DBResult r = reader->PeekParameterSize(&length);
    if (r == DBResult::kAfterLast) {
      r = reader->NextParameter(name, &type, &length, nullptr);
      if (r == DBResult::kAfterLast) return DBResult::kOk;
    }
    ZELVO_RETURN_IF_ERROR(r);
    if (value.size() < length) value.resize(length);
    length = static_cast<std::uint32_t>(value.size());
    ZELVO_RETURN_IF_ERROR(reader->NextParameter(name, &type, &length, value.data()));
    ZELVO_RETURN_IF_ERROR(AddPacketOption(name, type, value.data(), length));
  }
}

DBResult DSBASE::AddPacketOption(std::string_view name, std::uint32_t type, const void* value,
                                 std::uint32_t length) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (value == nullptr && length != 0) return DBResult::kInvalidArgument;
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    std::uint64_t n = 0;
    const bool number = ParamNumber(type, bytes, length, &n);
    bool keep = true;
    switch (KnownParameter(name)) {
      case Known::kDefaultOrder:
        ZELVO_RETURN_IF_ERROR(ApplyDefaultOrder(value, length, type));
        break;
      case Known::kUniqueKey:
      case Known::kPrimaryKey:
        ZELVO_RETURN_IF_ERROR(ApplyKeyParameter(KnownParameter(name) == Known::kPrimaryKey,
                                                value, length, type));
        break;
      case Known::kChangeLog: {
        std::vector<std::uint32_t> list;
        if (TypeSize(type) != 4 || !ParamList(type, bytes, length, &list) || list.size() < 3) {
          return DBResult::kInvalidArgument;
        }
        for (std::size_t i = 0; i + 2 < list.size(); i += 3) {
          change_log_.Append({list[i], list[i + 1], list[i + 2]});
        }
        keep = false;
        break;
      }
      case Known::kAutoIncValue:
        if (number) next_auto_inc_ = static_cast<std::int32_t>(n);
        keep = !number;
        break;
      case Known::kLcid:
        if (number) lcid_ = IsKnownLocale(static_cast<std::uint32_t>(n)) ? static_cast<std::uint32_t>(n) : 0;
        break;
      case Known::kReadOnly:
        if (number) read_only_ = n != 0;
        break;
      case Known::kUpdateMode:
        if (number) update_mode_ = n;
        break;
      case Known::kMdSemantics:
        if (number) master_detail_ |= n & 7;
        break;
      case Known::kDelta:
        delta_ = true;
        break;
      case Known::kDisableDeletes:
        if (number) no_deletes_ = n != 0;
        break;
      case Known::kDisableInserts:
        if (number) no_inserts_ = n != 0;
        break;
      case Known::kDisableEdits:
        if (number) no_edits_ = n != 0;
        break;
      case Known::kFieldLinks:
      case Known::kNone:
        break;
    }
    if (keep) {
      kept_.push_back({0, std::string(name), type,
                       std::vector<std::uint8_t>(bytes, bytes + length)});
    }
    return DBResult::kOk;
  });
}

DBResult DSBASE::KeyListOf(const void* value, std::uint32_t length, std::uint32_t type,
                           IndexDesc* desc) const {
  std::vector<std::uint32_t> list;
  if (!ParamList(type, static_cast<const std::uint8_t*>(value), length, &list) ||
      list.size() > kMaxKeyFields) {
    return DBResult::kInvalidArgument;
  }
  desc->field_count = static_cast<std::uint32_t>(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::uint32_t entry = list[i];
    desc->fields[i] = entry & 0x3FFF;
    desc->descending[i] = (entry & kOrderDescending) != 0;
    desc->case_insensitive[i] = (entry & kOrderCaseInsensitive) != 0;
    if (desc->fields[i] == 0 || desc->fields[i] > store_.field_count()) {
      return DBResult::kInvalidArgument;
    }
  }
  return DBResult::kOk;
}

DBResult DSBASE::ApplyDefaultOrder(const void* value, std::uint32_t length, std::uint32_t type) {
  IndexDesc desc;
  ZELVO_RETURN_IF_ERROR(KeyListOf(value, length, type, &desc));
  desc.unique = default_order()->desc().unique;
  return default_order()->Redefine(desc);
}

DBResult DSBASE::ApplyKeyParameter(bool primary, const void* value, std::uint32_t length,
                                   std::uint32_t type) {
  IndexDesc key;
  ZELVO_RETURN_IF_ERROR(KeyListOf(value, length, type, &key));
  key.unique = primary ? 2 : 1;
  Ordering* order = default_order();
  IndexDesc current = order->desc();
  bool same = current.field_count == key.field_count;
  for (std::uint32_t i = 0; same && i < key.field_count; ++i) {
    same = current.fields[i] == key.fields[i] &&
           (current.case_insensitive[i] != 0) == (key.case_insensitive[i] != 0);
  }
  if (same && key.field_count != 0) {
    current.unique = key.unique;
    return order->Redefine(current);
  }
  key.SetName(primary ? "PRIMARY_KEY" : "UNIQUE_KEY");
  ZELVO_RETURN_IF_ERROR(DefineIndex(key));
  if (primary && current.field_count != 0 && current.unique == 0 &&
      current.field_count + key.field_count <= kMaxKeyFields) {
    for (std::uint32_t i = 0; i < key.field_count; ++i) {
      const std::uint32_t at = current.field_count + i;
      current.fields[at] = key.fields[i];
      current.descending[at] = key.descending[i];
      current.case_insensitive[at] = key.case_insensitive[i];
    }
    current.field_count += key.field_count;
    current.unique = 2;
    return order->Redefine(current);
  }
  return DBResult::kOk;
}

DBResult DSBASE::ReadPacketOption(std::string_view name, std::uint32_t* type,
                                  std::vector<std::uint8_t>* value) const {
  std::lock_guard guard(lock_);
  for (const KeptParameter& p : kept_) {
    if (p.field_number == 0 && EqualsIgnoringAsciiCase(p.name, name)) {
      *type = p.type;
      *value = p.value;
      return DBResult::kOk;
    }
  }
  return DBResult::kNotFound;
}

DBResult DSBASE::LoadRows(TDATAPACKET_READ* reader, std::uint32_t row_count,
                          std::size_t packet_size, bool top_level) {
  if (row_count > packet_size) return DBResult::kBadPacket;
  ZELVO_RETURN_IF_ERROR(store_.Reserve(store_.highest_slot() + row_count + 25));
  const auto& fields = store_.fields();
  for (std::uint32_t row = 0; row < row_count; ++row) {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, item_state = 0;
    DBResult r = reader->NextValueRef(&data, &length, &item_state);
    if (r == DBResult::kAfterLast) return DBResult::kBadPacket;
    ZELVO_RETURN_IF_ERROR(r);
    if (item_state != kItemValue || length != 1) return DBResult::kBadPacket;
    const std::uint8_t row_state = data[0];
    std::uint32_t slot = 0;
    const std::uint32_t growth = store_.capacity() > 1000 ? store_.capacity() / 2 : store_.capacity();
    ZELVO_RETURN_IF_ERROR(store_.TakeSlot(growth, &slot));
    store_.set_state(slot, row_state);
    std::uint8_t* states = store_.FieldStates(slot);
    for (std::uint32_t f = 0; f < fields.size(); ++f) {
      const FieldDesc& d = fields[f];
      r = reader->NextValueRef(&data, &length, &item_state);
      if (r == DBResult::kValueIsNull) r = DBResult::kOk;
      if (r == DBResult::kAfterLast) return DBResult::kBadPacket;
      ZELVO_RETURN_IF_ERROR(r);
      std::uint8_t state = static_cast<std::uint8_t>(item_state);
      if (state == kFieldValue) {
        std::uint8_t* dst = store_.Value(slot, f);
        // Slots past the highest are all zero, so values go in without clearing first.
        switch (d.type) {
          case FT_STRING:
            std::memcpy(dst, data, std::min(length, d.length - 1));
            break;
          case FT_VARBYTES:
          case FT_WIDESTRING: {
            const auto n = static_cast<std::uint16_t>(std::min(length, d.length - 2));
            std::memcpy(dst, &n, 2);
            std::memcpy(dst + 2, data, n);
            break;
          }
          case FT_BLOB: {
            std::uint32_t handle = length;  // a blob not fetched keeps its length word
            if ((length & 0x80000000u) == 0) {
              if (length == 0) state = kFieldNull;
              else ZELVO_RETURN_IF_ERROR(store_.blobs().Add(data, length, &handle));
            }
            if (state == kFieldValue) std::memcpy(dst, &handle, 4);
            break;
          }
          case FT_TABLE: {
            std::uint32_t count = 0;
            std::memcpy(&count, data, 4);
            std::uint32_t group = kNestedNotFetched;
            if ((count & kNestedNotFetched) == 0) {
              DSBASE* child = nested_[f].get();
              std::vector<NestedGroup>& groups = nested_groups_[f];
              groups.push_back({child->store_.next_slot(), count});
              group = static_cast<std::uint32_t>(groups.size());
              ZELVO_RETURN_IF_ERROR(child->LoadRows(reader, count, packet_size, false));
            }
            std::memcpy(dst, &group, 4);
            break;
          }
          default:
            if (d.length != 0) std::memcpy(dst, data, std::min(length, d.length));
            break;
        }
      }
      states[f] = state;
    }
    if (IsLive(row_state) || delta_) ++live_count_;
  }
  if (top_level) {
    // The header's count must cover every row: bytes left over mean a damaged count.
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, item_state = 0;
    if (reader->NextValueRef(&data, &length, &item_state) != DBResult::kAfterLast) {
      return DBResult::kBadPacket;
    }
  }
  store_.blobs().Commit();
  ZELVO_RETURN_IF_ERROR(ValidateChangeLog());
  for (const Ref<DSBASE>& child : nested_) {
    if (child) ZELVO_RETURN_IF_ERROR(child->RebuildOrderings());
  }
  return DBResult::kOk;
}

DBResult DSBASE::WritePacket(PacketBytes* packet) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (packet == nullptr) return DBResult::kInvalidArgument;
    if (!defined()) return DBResult::kBadPacket;
    Ref<TDATAPACKET_WRITE> writer = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
    if (!writer) return DBResult::kOutOfMemory;
    ZELVO_RETURN_IF_ERROR(writer->SetTextMode(static_cast<std::uint32_t>(xml_mode_)));
    std::vector<ColumnDesc> columns;
    CollectColumns(&columns);
    if (columns.size() > 0xFFFF) return DBResult::kUnusableType;
    const auto count = static_cast<std::uint16_t>(columns.size());
    if (no_metadata_) {
      ZELVO_RETURN_IF_ERROR(writer->BeginRowPacket(kPacketVersion, count, columns.data()));
    } else {
      ZELVO_RETURN_IF_ERROR(writer->BeginPacket(kPacketVersion, count));
      ZELVO_RETURN_IF_ERROR(AddColumns(writer.get()));
      ZELVO_RETURN_IF_ERROR(WriteTableParameters(writer.get(), false));
    }
    ZELVO_RETURN_IF_ERROR(WriteRows(writer.get()));
    return writer->FinishPacket(packet);
  });
}

std::vector<bool> DSBASE::ColumnFields() const {
  const auto& fields = store_.fields();
  // Not the engine's own calculated fields, and of an array's element copies only the
  // first: the packet repeats it in rows.
  std::vector<bool> column(fields.size(), true);
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (!column[f]) continue;
    if (fields[f].calculated == kCalculatedByEngine) column[f] = false;
    if (fields[f].type == FT_ARRAY && fields[f].units1 != 0) {
      const std::size_t per_element = fields[f].units2 / fields[f].units1;
      for (std::size_t c = f + 1 + per_element; c < f + 1 + fields[f].units2 && c < fields.size(); ++c) {
        column[c] = false;
      }
    }
  }
  return column;
}

ColumnDesc DSBASE::ColumnOf(std::size_t f) const {
  const FieldDesc& d = store_.fields()[f];
  ColumnDesc c;
  std::memcpy(c.name, d.name, sizeof(c.name));
  const DSBASE* child = f < nested_.size() ? nested_[f].get() : nullptr;
  c.type = PacketTypeOfField(d.type, d.length,
                             child != nullptr ? child->store_.field_count() : d.units1);
  c.attributes = f < packet_attributes_.size() ? packet_attributes_[f]
                                               : static_cast<std::uint16_t>(d.attributes);
  return c;
}

void DSBASE::CollectColumns(std::vector<ColumnDesc>* columns) const {
  const std::vector<bool> column = ColumnFields();
  for (std::size_t f = 0; f < column.size(); ++f) {
    if (!column[f]) continue;
    columns->push_back(ColumnOf(f));
    // A nested table's columns follow its column, as the packet lists them.
    if (f < nested_.size() && nested_[f]) nested_[f]->CollectColumns(columns);
  }
}

DBResult DSBASE::AddColumns(TDATAPACKET_WRITE* writer) {
  const auto& fields = store_.fields();
  const std::vector<bool> column = ColumnFields();
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (!column[f]) continue;
    const FieldDesc& d = fields[f];
    ZELVO_RETURN_IF_ERROR(writer->AddColumn(ColumnOf(f)));
    const std::string_view subtype = SubtypeName(d.subtype);
    if (!subtype.empty()) {
      std::string text(subtype);
      text.push_back('\0');
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamColumn, "SUBTYPE", kTypeSubtype,
                                                 static_cast<std::uint32_t>(text.size()),
                                                 text.data()));
    }
    if (d.units2 != 0 && d.type != FT_STRUCT && d.type != FT_ARRAY) {
      const auto decimals = static_cast<std::uint16_t>(d.units2);
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamColumn, "DECIMALS", kTypeUInt16, 2, &decimals));
    }
    if (d.units1 != 0 && HasWidthParameter(d.type)) {
      const auto width = static_cast<std::uint16_t>(d.units1);
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamColumn, "WIDTH", kTypeUInt16, 2, &width));
    }
    if (d.calculated != kStoredField && (d.attributes & kAttrLinkField) == 0) {
      const std::uint16_t one = 1;
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamColumn, "CALCULATED", kTypeUInt16, 2, &one));
    }
    for (const KeptParameter& p : kept_) {
      if (p.field_number != d.field_number) continue;
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamColumn, p.name.c_str(), p.type,
                                                 static_cast<std::uint32_t>(p.value.size()),
                                                 p.value.data()));
    }
    if (f < nested_.size() && nested_[f]) {
      ZELVO_RETURN_IF_ERROR(nested_[f]->AddColumns(writer));
      ZELVO_RETURN_IF_ERROR(nested_[f]->WriteTableParameters(writer, true));
    }
  }
  return DBResult::kOk;
}

DBResult DSBASE::WriteTableParameters(TDATAPACKET_WRITE* writer, bool nested) {
  const IndexDesc& order = default_order()->desc();
  if (default_order_defined_ && order.field_count != 0) {
    std::vector<std::uint8_t> list(4 + 2 * order.field_count);
    std::vector<std::uint8_t> keys(list.size());
    std::memcpy(list.data(), &order.field_count, 4);
    std::memcpy(keys.data(), &order.field_count, 4);
    for (std::uint32_t i = 0; i < order.field_count; ++i) {
      auto entry = static_cast<std::uint16_t>(order.fields[i]);
      std::memcpy(keys.data() + 4 + 2 * i, &entry, 2);
      if (order.descending[i] != 0) entry |= kOrderDescending;
      if (order.case_insensitive[i] != 0) entry |= kOrderCaseInsensitive;
      std::memcpy(list.data() + 4 + 2 * i, &entry, 2);
    }
    ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamTable, "DEFAULT_ORDER", kTypeFieldList,
                                               static_cast<std::uint32_t>(list.size()), list.data()));
    if (order.unique != 0) {
      ZELVO_RETURN_IF_ERROR(writer->AddParameter(
          kParamTable, order.unique == 2 ? "PRIMARY_KEY" : "UNIQUE_KEY", kTypeFieldList,
          static_cast<std::uint32_t>(keys.size()), keys.data()));
    }
  }
  if (!change_log_.empty()) {
    const auto& entries = change_log_.entries();
    std::vector<std::uint32_t> log = {static_cast<std::uint32_t>(entries.size() * 3)};
    for (const ChangeEntry& e : entries) log.insert(log.end(), {e.slot, e.previous, e.kind});
    ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamTable, "CHANGE_LOG", kTypeChangeLog,
                                               static_cast<std::uint32_t>(log.size() * 4),
                                               log.data()));
  }
  if (auto_inc_field_ != 0) {
    ZELVO_RETURN_IF_ERROR(
        writer->AddParameter(kParamTable, "AUTOINCVALUE", kTypeInt32, 4, &next_auto_inc_));
  }
  bool kept_written = false;
  for (const KeptParameter& p : kept_) {
    if (p.field_number != 0) continue;
    ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamTable, p.name.c_str(), p.type,
                                               static_cast<std::uint32_t>(p.value.size()),
                                               p.value.data()));
    kept_written = true;
  }
  // Closes a nested level; at the top this leaves nothing in the packet.
  if (nested || !kept_written) return writer->AddParameter(kParamTable, nullptr, 0, 0, nullptr);
  return DBResult::kOk;
}

DBResult DSBASE::WriteRows(TDATAPACKET_WRITE* writer) {
  const Ordering* order = default_order();
  if (change_log_.empty() && order->Count() != 0) {
    for (std::uint32_t p = 1; p <= order->Count(); ++p) {
      const std::uint32_t slot = order->SlotAt(p);
      std::uint8_t state = store_.state(slot);
      if (!logging_ && (state & (RowInserted | RowModified)) != 0) state = 0;
      ZELVO_RETURN_IF_ERROR(WriteRow(writer, slot, state));
    }
    return DBResult::kOk;
  }
  // Every version in slot order, so that the change log's slot numbers stay row numbers.
  for (std::uint32_t slot = 1; slot <= store_.highest_slot(); ++slot) {
    const std::uint8_t state = store_.state(slot);
    if (change_log_.empty()) {
      if ((state & RowUnused) != 0) continue;
      if (!logging_ && (state & (RowDeleted | RowOriginal)) != 0) continue;
    }
    ZELVO_RETURN_IF_ERROR(WriteRow(writer, slot, state));
  }
  return DBResult::kOk;
}

DBResult DSBASE::WriteRow(TDATAPACKET_WRITE* writer, std::uint32_t slot, std::uint8_t state) {
  ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, 1, &state));
  const auto& fields = store_.fields();
  const std::uint8_t* states = store_.FieldStates(slot);
  static const std::uint8_t kNoBytes = 0;
  for (std::uint32_t f = 0; f < fields.size(); ++f) {
    const FieldDesc& d = fields[f];
    if (d.calculated == kCalculatedByEngine) continue;
    if (states[f] != kFieldValue) {
      ZELVO_RETURN_IF_ERROR(writer->PutValue(states[f], 0, nullptr));
      continue;
    }
    if (d.type == FT_BLOB) {
      std::uint32_t handle = 0;
      std::memcpy(&handle, store_.Value(slot, f), 4);
      if ((handle & 0x80000000u) != 0) {
        ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, handle, &kNoBytes));
        continue;
      }
      const std::uint8_t* data = nullptr;
      std::uint32_t length = 0;
      ZELVO_RETURN_IF_ERROR(store_.blobs().BlobBytes(handle, &data, &length));
      if (length == 0) {
        ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemNull, 0, nullptr));
      } else {
        ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, length, data));
      }
      continue;
    }
    if (d.type == FT_TABLE && f < nested_.size() && nested_[f]) {
      std::uint32_t group = 0;
      std::memcpy(&group, store_.Value(slot, f), 4);
      if (group == kNestedNotFetched || group == 0 || group > nested_groups_[f].size()) {
        const std::uint32_t count = group == kNestedNotFetched ? kNestedNotFetched : 0;
        ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, 4, &count));
        continue;
      }
      // The count, then that many rows of the nested table, before the next value.
      const NestedGroup& rows = nested_groups_[f][group - 1];
      ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, 4, &rows.count));
      DSBASE* child = nested_[f].get();
      for (std::uint32_t s = rows.first_slot; s < rows.first_slot + rows.count; ++s) {
        ZELVO_RETURN_IF_ERROR(child->WriteRow(writer, s, child->store_.state(s)));
      }
      continue;
    }
    if (d.length == 0) {  // structures and arrays: no bytes of their own
      ZELVO_RETURN_IF_ERROR(writer->PutValue(kItemValue, 0, &kNoBytes));
      continue;
    }
    const PacketValue v = PacketValueOfField(d, store_.Value(slot, f), kFieldValue);
    ZELVO_RETURN_IF_ERROR(writer->PutValue(v.state, v.length, v.data));
  }
  return DBResult::kOk;
}

}  // namespace zelvo
