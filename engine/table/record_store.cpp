// Column store and blob store of a table.
#include "table/record_store.h"

#include <algorithm>

#include "fields/record_layout.h"
#include "large_block.h"

namespace zelvo {

DBResult BlobStore::BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                              std::uint32_t* length) const {
  if ((handle & 0x80000000u) != 0) return DBResult::kBlobNotFetched;
  if (handle == 0) {
    *data = nullptr;
    *length = 0;
    return DBResult::kOk;
  }
  if (handle > entries_.size()) return DBResult::kBlobHandle;
  const Entry& e = entries_[handle - 1];
  *data = arena_.data() + e.offset;
  *length = e.length;
  return DBResult::kOk;
}

DBResult BlobStore::Add(const void* data, std::uint32_t length, std::uint32_t* handle) {
  if (entries_.size() >= 0x7FFFFFFF) return DBResult::kOutOfMemory;
  ZELVO_RETURN_IF_ERROR(arena_.Reserve(length));
  const std::size_t offset = arena_.size();
  if (length != 0) arena_.AppendBytes(data, length);
  entries_.push_back({offset, length});
  *handle = static_cast<std::uint32_t>(entries_.size());
  return DBResult::kOk;
}

DBResult BlobStore::Write(std::uint32_t* handle, std::uint32_t offset, const void* data,
                          std::uint32_t length) {
  if ((*handle & 0x80000000u) != 0) return DBResult::kBlobNotFetched;
  if (*handle == 0 || *handle > entries_.size()) return DBResult::kBlobHandle;
  const Entry e = entries_[*handle - 1];
  if (offset > e.length) return DBResult::kOutOfRange;
  const std::uint64_t end = std::uint64_t{offset} + length;
  if (end > 0x7FFFFFFFu) return DBResult::kOutOfRange;
  const auto new_length = static_cast<std::uint32_t>(std::max<std::uint64_t>(e.length, end));
  const bool committed = *handle <= commit_mark_;
  const bool is_last = e.offset + e.length == arena_.size();
  if (!committed && (end <= e.length || is_last)) {
    // In place: a pending blob, overwritten within its bytes or grown at the arena's end.
    if (end > e.length) {
      ZELVO_RETURN_IF_ERROR(arena_.Reserve(end - e.length));
      arena_.Append(end - e.length);
    }
    if (length != 0) std::memcpy(arena_.data() + e.offset + offset, data, length);
    entries_[*handle - 1].length = new_length;
    return DBResult::kOk;
  }
  // A copy at the arena's end: the old bytes before the offset, then the data.
  ZELVO_RETURN_IF_ERROR(arena_.Reserve(new_length));
  const std::size_t at = arena_.size();
  std::uint8_t* copy = arena_.Append(new_length);
  std::memcpy(copy, arena_.data() + e.offset, e.length);
  if (length != 0) std::memcpy(copy + offset, data, length);
  if (committed) {
    entries_.push_back({at, new_length});
    *handle = static_cast<std::uint32_t>(entries_.size());
  } else {
    entries_[*handle - 1] = {at, new_length};
  }
  return DBResult::kOk;
}

void BlobStore::DropPending() {
  if (commit_mark_ >= entries_.size()) return;
  // Pending blobs may have been rewritten anywhere past the committed ones.
  std::size_t keep = 0;
  for (std::size_t i = 0; i < commit_mark_; ++i) {
    keep = std::max(keep, entries_[i].offset + entries_[i].length);
  }
  entries_.resize(commit_mark_);
  arena_.Truncate(keep);
}

void BlobStore::DropPendingBlob(std::uint32_t handle) {
  if (handle > commit_mark_ && handle == entries_.size()) {
    if (entries_.back().offset + entries_.back().length == arena_.size()) {
      arena_.Truncate(entries_.back().offset);
    }
    entries_.pop_back();
  }
}

void BlobStore::Clear() {
  entries_.clear();
  arena_.Clear();
  commit_mark_ = 0;
}

RecordStore::~RecordStore() { Clear(); }

void RecordStore::Clear() {
  for (std::size_t f = 0; f < columns_.size(); ++f) LargeFree(columns_[f], column_bytes_[f]);
  columns_.clear();
  column_bytes_.clear();
  bases_.clear();
  strides_.clear();
  LargeFree(field_states_, field_states_bytes_);
  field_states_ = nullptr;
  field_states_bytes_ = 0;
  states_.clear();
  fields_.clear();
  capacity_ = 0;
  next_slot_ = 1;
  record_size_ = data_size_ = 0;
  blobs_.Clear();
}

DBResult RecordStore::Define(std::vector<FieldDesc> fields, bool xml_mode) {
  Clear();
  ZELVO_RETURN_IF_ERROR(ExpandArrayFields(&fields));
  std::uint32_t record_size = 0;
  ZELVO_RETURN_IF_ERROR(ComputeRecordLayout(&fields, {.xml_mode = xml_mode}, &record_size));
  fields_ = std::move(fields);
  record_size_ = record_size;
  data_size_ = record_size - field_count();
  columns_.assign(fields_.size(), nullptr);
  column_bytes_.assign(fields_.size(), 0);
  bases_.assign(fields_.size(), nullptr);
  strides_.resize(fields_.size());
  for (std::size_t f = 0; f < fields_.size(); ++f) strides_[f] = fields_[f].length;
  return DBResult::kOk;
}

DBResult RecordStore::Reserve(std::uint32_t slots) {
  if (slots <= capacity_) return DBResult::kOk;
  const std::size_t n = slots;
  // Each array remembers its own size, so that a growth that fails half-way leaves every
  // array valid (some merely larger than needed). Grown memory arrives zeroed.
  auto grow = [&](std::uint8_t** block, std::size_t* bytes, std::size_t width) {
    if (width == 0 || *bytes >= n * width) return true;
    void* p = LargeRealloc(*block, *bytes, n * width);
    if (p == nullptr) return false;
    *block = static_cast<std::uint8_t*>(p);
    *bytes = n * width;
    return true;
  };
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    if (!grow(&columns_[f], &column_bytes_[f], fields_[f].length)) return DBResult::kOutOfMemory;
    // Fields without bytes of their own (structures) point at a shared byte nobody reads.
    bases_[f] = columns_[f] != nullptr ? columns_[f]
                                       : reinterpret_cast<const std::uint8_t*>(&capacity_);
  }
  if (!grow(&field_states_, &field_states_bytes_, fields_.size())) return DBResult::kOutOfMemory;
  states_.resize(n, 0);
  capacity_ = slots;
  return DBResult::kOk;
}

DBResult RecordStore::TakeSlot(std::uint32_t growth, std::uint32_t* slot) {
  if (next_slot_ > capacity_) {
    if (next_slot_ > 0xFFFFFFF0u - growth) return DBResult::kOutOfMemory;
    ZELVO_RETURN_IF_ERROR(Reserve(capacity_ + std::max<std::uint32_t>(growth, 1)));
  }
  *slot = next_slot_++;
  return DBResult::kOk;
}

void RecordStore::ReadRecord(std::uint32_t slot, std::uint8_t* record) const {
  for (std::uint32_t f = 0; f < field_count(); ++f) {
    const FieldDesc& d = fields_[f];
    if (d.length != 0) std::memcpy(record + d.offset, Value(slot, f), d.length);
  }
  std::memcpy(record + data_size_, FieldStates(slot), field_count());
}

void RecordStore::WriteRecord(std::uint32_t slot, const std::uint8_t* record) {
  for (std::uint32_t f = 0; f < field_count(); ++f) {
    const FieldDesc& d = fields_[f];
    if (d.length != 0) std::memcpy(Value(slot, f), record + d.offset, d.length);
  }
  std::memcpy(FieldStates(slot), record + data_size_, field_count());
}

void RecordStore::CopySlot(std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t f = 0; f < field_count(); ++f) {
    const FieldDesc& d = fields_[f];
    if (d.length != 0) std::memcpy(Value(to, f), Value(from, f), d.length);
  }
  std::memcpy(FieldStates(to), FieldStates(from), field_count());
  states_[to - 1] = states_[from - 1];
}

void RecordStore::NullSlot(std::uint32_t slot) {
  for (std::uint32_t f = 0; f < field_count(); ++f) {
    const FieldDesc& d = fields_[f];
    if (d.length != 0) std::memset(Value(slot, f), 0, d.length);
  }
  std::memset(FieldStates(slot), 1, field_count());
}

}  // namespace zelvo
