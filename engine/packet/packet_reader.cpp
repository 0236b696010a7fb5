// The binary packet reader: walks a packet in place, in the order columns, parameters, rows.
#include "packet/packet_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fields/type_word.h"

namespace zelvo {

namespace {

template <typename T>
T LoadAt(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

constexpr std::uint16_t kMaxFormatLevel = 3;

}  // namespace

TDATAPACKET_READ* NewPacketReader() { return new (std::nothrow) DSEXTRACT(); }

DBResult DSEXTRACT::GetErrorText(DBResult code, char* text, std::size_t capacity) const {
  return zelvo::GetErrorText(code, text, capacity);
}

DBResult DSEXTRACT::ParseHeader(const std::uint8_t* data, std::size_t size, bool* binary) {
  *binary = false;
  if (size < 4) return DBResult::kOk;
  const std::uint32_t signature = LoadAt<std::uint32_t>(data);
  if (signature == kPacketSignature) {
    // A format level or reserved word above 3 marks text that merely starts like a packet.
    if (size >= 8 && (LoadAt<std::uint16_t>(data + 4) > kMaxFormatLevel ||
                      LoadAt<std::uint16_t>(data + 6) > kMaxFormatLevel)) {
      return DBResult::kOk;
    }
  } else if (signature != kPacketSignatureAlt) {
    return DBResult::kOk;
  }
  *binary = true;
  if (size < kPacketHeaderSize) return DBResult::kBadPacket;
  PacketHeader h;
  h.format_level = LoadAt<std::uint16_t>(data + 4);
  h.first_element = LoadAt<std::uint32_t>(data + 8);
  h.column_count = LoadAt<std::uint16_t>(data + 12);
  h.row_count = LoadAt<std::uint32_t>(data + 14);
  h.flags = LoadAt<std::uint32_t>(data + 18);
  h.row_offset = LoadAt<std::uint16_t>(data + 22);
  if (h.first_element < kPacketHeaderSize || h.first_element > size) return DBResult::kBadPacket;
  header_ = h;
  return DBResult::kOk;
}

DBResult DSEXTRACT::OpenPacket(const std::uint8_t* data, std::size_t size) {
  open_ = false;
  if (data == nullptr) return DBResult::kWrongState;
  bool binary = false;
  ZELVO_RETURN_IF_ERROR(ParseHeader(data, size, &binary));
  if (binary) {
    xml_.Reset();
  } else {
    ZELVO_RETURN_IF_ERROR(xml_.Open(data, size));
    data = xml_.data();
    size = xml_.size();
    ZELVO_RETURN_IF_ERROR(ParseHeader(data, size, &binary));
  }
  if ((header_.flags & kHeaderMetadata) == 0) return DBResult::kNoMetadata;
  data_ = data;
  size_ = size;
  pos_ = header_.first_element;
  levels_.assign(1, Level{});
  current_ = 0;
  pending_nested_ = -1;
  phase_ = Phase::kColumnParams;
  param_count_ = param_index_ = columns_read_ = 0;
  metadata_done_ = items_failed_ = rows_done_ = false;
  top_rows_read_ = 0;
  open_ = true;
  return DBResult::kOk;
}

DBResult DSEXTRACT::OpenRowPacket(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr) return DBResult::kInvalidArgument;
  if (!open_) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(SkipMetadata());
  bool binary = false;
  ZELVO_RETURN_IF_ERROR(ParseHeader(data, size, &binary));
  if (!binary) {
    // The XML source keeps the bytes data_ points into until the new rows are ready.
    ZELVO_RETURN_IF_ERROR(xml_.OpenRows(data, size));
    data = xml_.data();
    size = xml_.size();
    ZELVO_RETURN_IF_ERROR(ParseHeader(data, size, &binary));
  }
  std::size_t rows_at = kPacketHeaderSize;
  if ((header_.flags & kHeaderRowOffset) != 0) {
    rows_at = header_.row_offset;
  } else if ((header_.flags & kHeaderMetadata) != 0) {
    // Rows behind metadata we do not parse again cannot be found without the offset.
    if (header_.row_count != 0) return DBResult::kBadPacket;
    rows_at = size;
  }
  if (rows_at < kPacketHeaderSize || rows_at > size) return DBResult::kBadPacket;
  data_ = data;
  size_ = size;
  pos_ = rows_at;
  ResetRows();
  return DBResult::kOk;
}

void DSEXTRACT::ResetRows() {
  for (Level& level : levels_) {
    level.next_item = -1;
    level.rows_remaining = 0;
  }
  current_ = 0;
  rows_done_ = false;
  top_rows_read_ = 0;
}

bool DSEXTRACT::LevelComplete(const Level& level) const {
  if (level.parent < 0) return columns_read_ >= header_.column_count;
  return level.columns_read >= level.column_count;
}

DBResult DSEXTRACT::ReadTableCount() {
  if (size_ - pos_ < 2) return DBResult::kBadPacket;
  param_count_ = LoadAt<std::uint16_t>(data_ + pos_);
  param_index_ = 0;
  pos_ += 2;
  phase_ = Phase::kTableParams;
  return DBResult::kOk;
}

DBResult DSEXTRACT::NextColumn(ColumnDesc* column) {
  if (!open_) return DBResult::kWrongState;
  if (metadata_done_) return DBResult::kAfterLast;
  // Table parameters may still be unread here: they follow the level's last column, so
  // the answer is simply that the level has no more columns.
  if (phase_ == Phase::kColumnParams && param_index_ < param_count_) return DBResult::kWrongState;
  if (pending_nested_ >= 0) {
    current_ = pending_nested_;
    pending_nested_ = -1;
    phase_ = Phase::kColumnParams;
    param_count_ = param_index_ = 0;
  }
  Level& level = levels_[current_];
  if (LevelComplete(level)) {
    if (phase_ == Phase::kColumnParams) ZELVO_RETURN_IF_ERROR(ReadTableCount());
    return DBResult::kAfterLast;
  }
  if (columns_read_ >= header_.column_count) return DBResult::kBadPacket;

  std::size_t p = pos_;
  if (size_ - p < 1) return DBResult::kBadPacket;
  const std::uint32_t name_length = data_[p++];
  if (size_ - p < name_length + 8u) return DBResult::kBadPacket;
  ColumnDesc c;
  // Names longer than a field name can hold keep their first 31 bytes.
  std::memcpy(c.name, data_ + p, std::min<std::uint32_t>(name_length, sizeof(c.name) - 1));
  p += name_length;
  c.type = LoadAt<std::uint32_t>(data_ + p);
  c.attributes = LoadAt<std::uint16_t>(data_ + p + 4);
  const std::uint16_t params = LoadAt<std::uint16_t>(data_ + p + 6);
  p += 8;

  if (TypeBase(c.type) == PT_NESTED && levels_.size() >= kMaxPacketLevels) {
    return DBResult::kWrongState;
  }
  pos_ = p;
  xml_.NoteColumn(c);
  level.columns.types.push_back(c.type);
  level.columns.child_levels.push_back(-1);
  ++level.columns_read;
  ++columns_read_;
  phase_ = Phase::kColumnParams;
  param_count_ = params;
  param_index_ = 0;
  if (TypeBase(c.type) == PT_NESTED) {
    Level nested;
    nested.column_count = TypeSize(c.type);
    nested.parent = current_;
    pending_nested_ = static_cast<std::int32_t>(levels_.size());
    levels_[current_].columns.child_levels.back() = pending_nested_;
    levels_.push_back(std::move(nested));
  }
  if (column != nullptr) *column = c;
  return DBResult::kOk;
}

DBResult DSEXTRACT::ParseParameter(Parameter* param) const {
  std::size_t p = pos_;
  if (size_ - p < 1) return DBResult::kBadPacket;
  param->name_length = data_[p++];
  if (size_ - p < param->name_length + 4u) return DBResult::kBadPacket;
  param->name = data_ + p;
  p += param->name_length;
  param->type = LoadAt<std::uint32_t>(data_ + p);
  p += 4;
  FLDConv conv;
  ZELVO_RETURN_IF_ERROR(ConverterFor(param->type & kTypeDecodedBits, &conv));
  ZELVO_RETURN_IF_ERROR(conv.Decode(data_ + p, size_ - p, &param->value));
  param->end = p + param->value.consumed;
  return DBResult::kOk;
}

DBResult DSEXTRACT::PeekParameterSize(std::uint32_t* length) {
  if (!open_) return DBResult::kWrongState;
  if (metadata_done_ || param_index_ >= param_count_) return DBResult::kAfterLast;
  Parameter param;
  ZELVO_RETURN_IF_ERROR(ParseParameter(&param));
  *length = param.value.length;
  return DBResult::kOk;
}

DBResult DSEXTRACT::NextParameter(char* name, std::uint32_t* type, std::uint32_t* length,
                                  void* value) {
  if (!open_) return DBResult::kWrongState;
  if (metadata_done_) return DBResult::kAfterLast;
  if (param_index_ >= param_count_) {
    ZELVO_RETURN_IF_ERROR(AfterParameters());
    return DBResult::kAfterLast;
  }
  Parameter param;
  ZELVO_RETURN_IF_ERROR(ParseParameter(&param));
  const std::uint32_t bytes = param.value.data != nullptr ? param.value.length : 0;
  if (length == nullptr || (bytes != 0 && (value == nullptr || *length < bytes))) {
    if (length != nullptr) *length = param.value.length;
    return DBResult::kInvalidArgument;
  }
  if (name != nullptr) {
    std::memcpy(name, param.name, param.name_length);
    name[param.name_length] = '\0';
  }
  if (type != nullptr) *type = param.type;
  if (bytes != 0) std::memcpy(value, param.value.data, bytes);
  *length = param.value.length;
  pos_ = param.end;
  ++param_index_;
  return DBResult::kOk;
}

DBResult DSEXTRACT::AfterParameters() {
  if (phase_ == Phase::kColumnParams) {
    if (pending_nested_ < 0 && LevelComplete(levels_[current_])) return ReadTableCount();
    return DBResult::kOk;
  }
  const std::int32_t parent = levels_[current_].parent;
  if (parent < 0) return FinishMetadata();
  current_ = parent;
  phase_ = Phase::kColumnParams;
  param_count_ = param_index_ = 0;
  if (LevelComplete(levels_[current_])) return ReadTableCount();
  return DBResult::kOk;
}

DBResult DSEXTRACT::FinishMetadata() {
  metadata_done_ = true;
  for (Level& level : levels_) {
    if (BuildRowItems(level.columns, &level.items) != DBResult::kOk) items_failed_ = true;
    level.flag_bytes = RowFlagBytes(level.items.size());
  }
  ResetRows();
  return DBResult::kOk;
}

DBResult DSEXTRACT::SkipMetadata() {
  while (!metadata_done_) {
    if (param_index_ < param_count_) {
      Parameter param;
      ZELVO_RETURN_IF_ERROR(ParseParameter(&param));
      pos_ = param.end;
      ++param_index_;
    } else if (phase_ == Phase::kTableParams ||
               (pending_nested_ < 0 && LevelComplete(levels_[current_]))) {
      ZELVO_RETURN_IF_ERROR(AfterParameters());
    } else {
      DBResult r = NextColumn(nullptr);
      if (r != DBResult::kOk && r != DBResult::kAfterLast) return r;
    }
  }
  return DBResult::kOk;
}

DBResult DSEXTRACT::PeekItem(Item* item) {
  if (!open_) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(SkipMetadata());
  if (items_failed_) return DBResult::kRowLayout;
  if (rows_done_) return DBResult::kAfterLast;
  const Level& level = levels_[current_];
  *item = Item{};
  if (level.next_item < 0) {
    if (current_ == 0 && top_rows_read_ >= header_.row_count) {
      // Bytes after the last counted row mean the count or the rows are damaged.
      if (pos_ != size_) return DBResult::kBadPacket;
      rows_done_ = true;
      return DBResult::kAfterLast;
    }
    if (size_ - pos_ < 1u + level.flag_bytes) return DBResult::kBadPacket;
    item->row_start = true;
    item->value = {data_ + pos_, 1, 1 + level.flag_bytes};
    return DBResult::kOk;
  }
  const RowItem& it = level.items[static_cast<std::size_t>(level.next_item)];
  const std::uint8_t flags = data_[level.flags_pos + it.flag_byte];
  if ((flags & it.null_bit) != 0) {
    item->state = kItemNull;
  } else if ((flags & (it.null_bit << 1)) != 0) {
    item->state = kItemUnchanged;
  } else {
    ZELVO_RETURN_IF_ERROR(it.conv.Decode(data_ + pos_, size_ - pos_, &item->value));
  }
  return DBResult::kOk;
}

void DSEXTRACT::ConsumeItem(const Item& item) {
  Level& level = levels_[current_];
  if (item.row_start) {
    level.flags_pos = pos_ + 1;
    pos_ += item.value.consumed;
    level.next_item = 0;
    if (current_ == 0) ++top_rows_read_;
    if (level.items.empty()) CompleteRow(current_);
    return;
  }
  pos_ += item.value.consumed;
  const RowItem& it = level.items[static_cast<std::size_t>(level.next_item)];
  ++level.next_item;
  if (it.child_level >= 0 && item.state == kItemValue) {
    const std::uint32_t count = LoadAt<std::uint32_t>(item.value.data);
    if (count != 0 && (count & kNotFetchedBit) == 0) {
      Level& nested = levels_[it.child_level];
      nested.rows_remaining = count;
      nested.next_item = -1;
      current_ = it.child_level;
      return;
    }
  }
  if (level.next_item == static_cast<std::int64_t>(level.items.size())) CompleteRow(current_);
}

void DSEXTRACT::CompleteRow(std::int32_t index) {
  for (;;) {
    Level& level = levels_[index];
    level.next_item = -1;
    if (level.parent < 0 || --level.rows_remaining != 0) return;
    index = current_ = level.parent;
    const Level& parent = levels_[index];
    if (parent.next_item < static_cast<std::int64_t>(parent.items.size())) return;
  }
}

DBResult DSEXTRACT::PeekValueSize(std::uint32_t* length) {
  Item item;
  ZELVO_RETURN_IF_ERROR(PeekItem(&item));
  *length = item.value.length;
  return DBResult::kOk;
}

DBResult DSEXTRACT::NextValueRef(const std::uint8_t** data, std::uint32_t* length,
                                 std::uint32_t* state) {
  Item item;
  ZELVO_RETURN_IF_ERROR(PeekItem(&item));
  *data = item.value.data;
  *length = item.value.length;
  *state = item.state;
  ConsumeItem(item);
  return item.state == kItemNull ? DBResult::kValueIsNull : DBResult::kOk;
}

DBResult DSEXTRACT::NextValue(std::uint32_t* length, void* value, std::uint32_t* state) {
  Item item;
  ZELVO_RETURN_IF_ERROR(PeekItem(&item));
  const std::uint32_t bytes = item.value.data != nullptr ? item.value.length : 0;
  if (length == nullptr || (bytes != 0 && (value == nullptr || *length < bytes))) {
    if (length != nullptr) *length = item.value.length;
    return DBResult::kInvalidArgument;
  }
  if (bytes != 0) std::memcpy(value, item.value.data, bytes);
  *length = item.value.length;
  if (state != nullptr) *state = item.state;
  ConsumeItem(item);
  return item.state == kItemNull ? DBResult::kValueIsNull : DBResult::kOk;
}

}  // namespace zelvo
