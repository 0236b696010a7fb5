// The binary packet writer: header, column descriptors, parameters and rows in one buffer.
#include "packet/packet_writer.h"

#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "fields/type_word.h"
#include "packet/xml_names.h"
#include "packet/xml_writer.h"

namespace zelvo {

namespace {

constexpr std::size_t kAtColumnCount = 12;
constexpr std::size_t kAtRowCount = 14;
constexpr std::size_t kAtFlags = 18;
constexpr std::size_t kAtRowOffset = 22;
constexpr std::uint32_t kUnknownRowCount = 0xFFFFFFFF;

std::string_view ColumnName(const ColumnDesc& column) {
  return {column.name, ::strnlen(column.name, sizeof(column.name) - 1)};
}

}  // namespace

TDATAPACKET_WRITE* NewPacketWriter() { return new (std::nothrow) DSDATAPACKET(); }

void DSDATAPACKET::WriteU16(std::size_t pos, std::uint16_t v) {
  std::memcpy(buffer_.data() + pos, &v, 2);
}

void DSDATAPACKET::WriteU32(std::size_t pos, std::uint32_t v) {
  std::memcpy(buffer_.data() + pos, &v, 4);
}

DBResult DSDATAPACKET::SetTextMode(std::uint32_t mode) {
  if (begun_) return DBResult::kWrongState;
  text_mode_ = mode;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::Begin(std::uint32_t version, std::uint16_t column_count,
                             std::uint32_t flags) {
  if (version > kPacketVersion) return DBResult::kBadPacket;
  buffer_.Clear();
  levels_.assign(1, Level{});
  levels_[0].column_count = column_count;
  all_columns_.clear();
  current_ = 0;
  begun_ = true;
  metadata_done_ = rows_begun_ = column_params_open_ = false;
  header_flags_ = flags;
  row_count_ = 0;
  format_level_ = 1;
  ZELVO_RETURN_IF_ERROR(buffer_.Reserve(kPacketHeaderSize));
  std::uint8_t* h = buffer_.Append(kPacketHeaderSize);
  std::memset(h, 0, kPacketHeaderSize);
  std::memcpy(h, &kPacketSignature, 4);
  WriteU32(8, kPacketHeaderSize);
  return DBResult::kOk;
}

DBResult DSDATAPACKET::BeginPacket(std::uint32_t version, std::uint16_t column_count) {
  ZELVO_RETURN_IF_ERROR(Begin(version, column_count, kHeaderMetadata));
  full_packet_ = true;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::BeginRowPacket(std::uint32_t version, std::uint16_t column_count,
                                      const ColumnDesc* columns) {
  if (column_count != 0 && columns == nullptr) return DBResult::kInvalidArgument;
  ZELVO_RETURN_IF_ERROR(Begin(version, column_count, 0));
  full_packet_ = false;
  for (std::uint16_t i = 0; i < column_count; ++i) {
    DBResult r = RegisterColumn(columns[i], false);
    if (!Ok(r)) {
      begun_ = false;
      return r;
    }
  }
  return FinishMetadata();
}

bool DSDATAPACKET::LevelFull(const Level& level) const {
  if (level.parent < 0) return all_columns_.size() >= level.column_count;
  return level.columns_added >= level.column_count;
}

DBResult DSDATAPACKET::AddColumn(const ColumnDesc& column) {
  if (!begun_ || !full_packet_ || metadata_done_) return DBResult::kWrongState;
  return RegisterColumn(column, true);
}

DBResult DSDATAPACKET::RegisterColumn(const ColumnDesc& column, bool write) {
  if (XmlTextOutput(text_mode_)) ZELVO_RETURN_IF_ERROR(XmlCheckType(column.type));
  const std::uint32_t base = TypeBase(column.type);
  if (base > PT_FMTBCD || ColumnName(column) == "RowState") return DBResult::kWrongState;
  FLDConv conv;
  ZELVO_RETURN_IF_ERROR(ConverterFor(column.type, &conv));
  if (LevelFull(levels_[0])) return DBResult::kWrongState;
  // A nested level whose columns are all there ends where the next column begins.
  while (LevelFull(levels_[current_])) ZELVO_RETURN_IF_ERROR(CloseLevel(current_));
  if (base == PT_NESTED && levels_.size() >= kMaxPacketLevels) return DBResult::kWrongState;

  if (write) {
    std::string_view name = ColumnName(column);
    ZELVO_RETURN_IF_ERROR(buffer_.Reserve(1 + name.size() + 8));
    *buffer_.Append(1) = static_cast<std::uint8_t>(name.size());
    buffer_.AppendBytes(name.data(), name.size());
    buffer_.AppendBytes(&column.type, 4);
    buffer_.AppendBytes(&column.attributes, 2);
    column_param_pos_ = buffer_.size();
    std::memset(buffer_.Append(2), 0, 2);
    column_params_open_ = true;
  }
  if (base >= PT_STRUCT && base <= PT_FMTBCD) format_level_ = 2;

  Level& level = levels_[current_];
  level.columns.types.push_back(column.type);
  level.columns.child_levels.push_back(-1);
  ++level.columns_added;
  all_columns_.push_back(column);
  if (base == PT_NESTED) {
    Level nested;
    nested.column_count = TypeSize(column.type);
    nested.parent = current_;
    levels_[current_].columns.child_levels.back() = static_cast<std::int32_t>(levels_.size());
    levels_.push_back(std::move(nested));
    current_ = static_cast<std::int32_t>(levels_.size() - 1);
  }
  return DBResult::kOk;
}

DBResult DSDATAPACKET::WriteTableCount(Level* level) {
  if (level->table_count_pos != 0 || !full_packet_) return DBResult::kOk;
  ZELVO_RETURN_IF_ERROR(buffer_.Reserve(2));
  level->table_count_pos = buffer_.size();
  std::memset(buffer_.Append(2), 0, 2);
  column_params_open_ = false;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::CloseLevel(std::int32_t index) {
  Level& level = levels_[index];
  if (level.parent < 0) return DBResult::kWrongState;
  if (!LevelFull(level)) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(WriteTableCount(&level));
  level.closed = true;
  current_ = level.parent;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::AddParameter(ParamLevel which, const char* name, std::uint32_t type,
                                    std::uint32_t length, const void* value) {
  if (!begun_ || !full_packet_ || rows_begun_ || metadata_done_) return DBResult::kWrongState;
  if (value == nullptr) {
    // Closing the top level leaves nothing in the packet.
    return current_ == 0 ? DBResult::kOk : CloseLevel(current_);
  }
  if (name == nullptr) return DBResult::kInvalidArgument;
  if (XmlTextOutput(text_mode_)) ZELVO_RETURN_IF_ERROR(XmlCheckType(type));
  std::string_view param_name(name);
  if (param_name.size() > 255) return DBResult::kInvalidArgument;
  FLDConv conv;
  ZELVO_RETURN_IF_ERROR(ConverterFor(type, &conv));
  std::uint32_t value_bytes = 0;
  ZELVO_RETURN_IF_ERROR(conv.PacketSize(value, length, &value_bytes));

  std::size_t count_pos = 0;
  if (which == kParamColumn) {
    if (!column_params_open_) return DBResult::kWrongState;
    count_pos = column_param_pos_;
  } else {
    Level& level = levels_[current_];
    if (!LevelFull(level)) return DBResult::kWrongState;
    ZELVO_RETURN_IF_ERROR(WriteTableCount(&level));
    count_pos = level.table_count_pos;
  }
  std::uint16_t count = 0;
  std::memcpy(&count, buffer_.data() + count_pos, 2);
  if (count == 0xFFFF) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(buffer_.Reserve(1 + param_name.size() + 4 + value_bytes));
  *buffer_.Append(1) = static_cast<std::uint8_t>(param_name.size());
  buffer_.AppendBytes(param_name.data(), param_name.size());
  buffer_.AppendBytes(&type, 4);
  conv.Encode(value, length, buffer_.Append(value_bytes));
  WriteU16(count_pos, static_cast<std::uint16_t>(count + 1));
  return DBResult::kOk;
}

DBResult DSDATAPACKET::FinishMetadata() {
  if (metadata_done_) return DBResult::kOk;
  if (all_columns_.size() != levels_[0].column_count) return DBResult::kWrongState;
  while (current_ != 0) ZELVO_RETURN_IF_ERROR(CloseLevel(current_));
  for (Level& level : levels_) {
    if (level.parent >= 0 && !LevelFull(level)) return DBResult::kWrongState;
  }
  ZELVO_RETURN_IF_ERROR(WriteTableCount(&levels_[0]));
  metadata_done_ = true;
  column_params_open_ = false;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::BuildItems(Level* level) {
  if (level->items_built) return DBResult::kOk;
  ZELVO_RETURN_IF_ERROR(BuildRowItems(level->columns, &level->items));
  level->flag_bytes = RowFlagBytes(level->items.size());
  level->items_built = true;
  return DBResult::kOk;
}

DBResult DSDATAPACKET::StartRow(Level* level, const void* value) {
  if (!rows_begun_) {
    if (level->parent >= 0) return DBResult::kRowLayout;
    if (buffer_.size() <= 0xFFFF) {
      WriteU16(kAtRowOffset, static_cast<std::uint16_t>(buffer_.size()));
      header_flags_ |= kHeaderRowOffset;
    }
    rows_begun_ = true;
  }
  ZELVO_RETURN_IF_ERROR(buffer_.Reserve(1 + level->flag_bytes));
  level->row_start = buffer_.size();
  *buffer_.Append(1) = *static_cast<const std::uint8_t*>(value);
  std::memset(buffer_.Append(level->flag_bytes), 0, level->flag_bytes);
  level->next_item = 0;
  return DBResult::kOk;
}

void DSDATAPACKET::CompleteRow(std::int32_t index) {
  for (;;) {
    Level& level = levels_[index];
    level.next_item = -1;
    if (level.parent < 0) {
      ++row_count_;
      return;
    }
    if (--level.rows_expected != 0) return;
    // The nested table is complete: the enclosing row goes on, or ends here too.
    index = current_ = level.parent;
    Level& parent = levels_[index];
    if (parent.next_item < static_cast<std::int64_t>(parent.items.size())) return;
  }
}

DBResult DSDATAPACKET::PutValue(std::uint32_t state, std::uint32_t length, const void* value) {
  if (!begun_) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(FinishMetadata());
  Level* level = &levels_[current_];
  ZELVO_RETURN_IF_ERROR(BuildItems(level));

  if (level->next_item < 0) {
    if (state != kItemValue || value == nullptr) return DBResult::kInvalidArgument;
    ZELVO_RETURN_IF_ERROR(StartRow(level, value));
    if (level->items.empty()) CompleteRow(current_);
    return DBResult::kOk;
  }

  const RowItem& item = level->items[static_cast<std::size_t>(level->next_item)];
  if (state != kItemValue || value == nullptr) {
    const std::uint8_t bit = state == kItemUnchanged
                                 ? static_cast<std::uint8_t>(item.null_bit << 1)
                                 : item.null_bit;
    buffer_.data()[level->row_start + 1 + item.flag_byte] |= bit;
  } else {
    if (XmlTextOutput(text_mode_)) ZELVO_RETURN_IF_ERROR(XmlCheckValue(item, length, value));
    std::uint32_t bytes = 0;
    ZELVO_RETURN_IF_ERROR(item.conv.PacketSize(value, length, &bytes));
    ZELVO_RETURN_IF_ERROR(buffer_.Reserve(bytes));
    std::size_t at = buffer_.size();
    item.conv.Encode(value, length, buffer_.Append(bytes));
    if (item.child_level >= 0) {
      std::uint32_t count = 0;
      std::memcpy(&count, value, 4);
      if (count == kUnknownRowCount || (count != 0 && (count & kNotFetchedBit) == 0)) {
        ++level->next_item;
        Level& nested = levels_[item.child_level];
        ZELVO_RETURN_IF_ERROR(BuildItems(&nested));
        nested.rows_expected = count == kUnknownRowCount ? std::int64_t{-1} : std::int64_t{count};
        nested.count_pos = at;
        nested.next_item = -1;
        current_ = item.child_level;
        return DBResult::kOk;
      }
    }
  }
  if (++level->next_item == static_cast<std::int64_t>(level->items.size())) {
    CompleteRow(current_);
  }
  return DBResult::kOk;
}

DBResult DSDATAPACKET::CloseNestedRows() {
  if (!begun_ || current_ == 0) return DBResult::kWrongState;
  Level& level = levels_[current_];
  if (level.rows_expected >= 0 || level.next_item >= 0) return DBResult::kWrongState;
  WriteU32(level.count_pos, static_cast<std::uint32_t>(-1 - level.rows_expected));
  level.rows_expected = 0;
  current_ = level.parent;
  Level& parent = levels_[current_];
  if (parent.next_item == static_cast<std::int64_t>(parent.items.size())) {
    CompleteRow(current_);
  }
  return DBResult::kOk;
}

DBResult DSDATAPACKET::FinishPacket(PacketBytes* packet) {
  if (!begun_) return DBResult::kInvalidArgument;
  ZELVO_RETURN_IF_ERROR(FinishMetadata());
  if (current_ != 0 || levels_[0].next_item >= 0) return DBResult::kWrongState;
  if (!rows_begun_ && buffer_.size() <= 0xFFFF) {
    WriteU16(kAtRowOffset, static_cast<std::uint16_t>(buffer_.size()));
    header_flags_ |= kHeaderRowOffset;
  }
  WriteU16(4, format_level_);
  WriteU16(kAtColumnCount, static_cast<std::uint16_t>(all_columns_.size()));
  WriteU32(kAtRowCount, row_count_);
  // A text mode without text output leaves a binary packet that says so.
  const bool xml = XmlTextOutput(text_mode_);
  WriteU32(kAtFlags, header_flags_ | (text_mode_ != 0 && !xml ? std::uint32_t{kHeaderXml} : 0));
  PacketBytes binary = buffer_.Release();
  begun_ = false;
  levels_.clear();
  if (xml) return WriteXmlPacket(binary, std::exchange(all_columns_, {}), text_mode_, packet);
  all_columns_.clear();
  *packet = std::move(binary);
  return DBResult::kOk;
}

DBResult DSDATAPACKET::ResetPacket() {
  if (all_columns_.empty()) return DBResult::kWrongState;
  std::vector<ColumnDesc> columns = std::move(all_columns_);
  return BeginRowPacket(kPacketVersion, static_cast<std::uint16_t>(columns.size()),
                        columns.data());
}

std::uint32_t DSDATAPACKET::GetColumnCount() const {
  return static_cast<std::uint32_t>(all_columns_.size());
}

DBResult DSDATAPACKET::GetColumnList(ColumnDesc* columns) const {
  if (columns == nullptr) return DBResult::kInvalidArgument;
  std::copy(all_columns_.begin(), all_columns_.end(), columns);
  return DBResult::kOk;
}

DBResult DSDATAPACKET::GetErrorText(DBResult code, char* text, std::size_t capacity) const {
  return zelvo::GetErrorText(code, text, capacity);
}

}  // namespace zelvo
