// Column store and blob store of a table.
#include "table/record_store.h"

#include <algorithm>
#include <cstdlib>

#include "fields/record_layout.h"

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
  std::size_t offset = arena_.size();
  arena_.resize(offset + length);
  if (length != 0) std::memcpy(arena_.data() + offset, data, length);
  entries_.push_back({offset, length});
  *handle = static_cast<std::uint32_t>(entries_.size());
  return DBResult::kOk;
}

DBResult BlobStore::Write(std::uint32_t* handle, std::uint32_t offset, const void* data,
                          std::uint32_t length) {
  if ((*handle & 0x80000000u) != 0) return DBResult::kBlobNotFetched;
  if (*handle == 0 || *handle > entries_.size()) return DBResult::kBlobHandle;
  Entry e = entries_[*handle - 1];
  if (offset > e.length) return DBResult::kOutOfRange;
  const std::uint64_t end = std::uint64_t{offset} + length;
  if (end > 0xFFFFFFFFu) return DBResult::kOutOfRange;
  const bool committed = *handle <= commit_mark_;
  const bool is_last = e.offset + e.length == arena_.size();
  if (!committed && (end <= e.length || is_last)) {
    // In place: a pending blob, overwritten within its bytes or grown at the arena's end.
    if (end > e.length) arena_.resize(e.offset + end);
    std::memcpy(arena_.data() + e.offset + offset, data, length);
    entries_[*handle - 1].length = std::max<std::uint32_t>(e.length, static_cast<std::uint32_t>(end));
    return DBResult::kOk;
  }
  std::vector<std::uint8_t> bytes(arena_.begin() + static_cast<std::ptrdiff_t>(e.offset),
                                  arena_.begin() + static_cast<std::ptrdiff_t>(e.offset + e.length));
  bytes.resize(std::max<std::uint64_t>(e.length, end));
  if (length != 0) std::memcpy(bytes.data() + offset, data, length);
  if (committed) return Add(bytes.data(), static_cast<std::uint32_t>(bytes.size()), handle);
  // A pending blob in the middle of the arena: its new bytes go to the end.
  std::size_t at = arena_.size();
  arena_.insert(arena_.end(), bytes.begin(), bytes.end());
  entries_[*handle - 1] = {at, static_cast<std::uint32_t>(bytes.size())};
  return DBResult::kOk;
}

void BlobStore::DropPending() {
  if (commit_mark_ >= entries_.size()) return;
  std::size_t keep = commit_mark_ == 0 ? 0
                                       : entries_[commit_mark_ - 1].offset +
                                             entries_[commit_mark_ - 1].length;
  // Pending blobs written in place may sit anywhere past the committed ones.
  for (std::size_t i = 0; i < commit_mark_; ++i) {
    keep = std::max(keep, entries_[i].offset + entries_[i].length);
  }
  entries_.resize(commit_mark_);
  arena_.resize(keep);
}

void BlobStore::DropPendingBlob(std::uint32_t handle) {
  if (handle > commit_mark_ && handle == entries_.size()) {
    arena_.resize(entries_.back().offset);
    entries_.pop_back();
  }
}

void BlobStore::Clear() {
  entries_.clear();
  arena_.clear();
  commit_mark_ = 0;
}

RecordStore::~RecordStore() { Clear(); }

void RecordStore::Clear() {
  for (std::uint8_t* column : columns_) std::free(column);
  columns_.clear();
  bases_.clear();
  strides_.clear();
  std::free(field_states_);
  field_states_ = nullptr;
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
  bases_.assign(fields_.size(), nullptr);
  strides_.resize(fields_.size());
  for (std::size_t f = 0; f < fields_.size(); ++f) strides_[f] = fields_[f].length;
  return DBResult::kOk;
}

DBResult RecordStore::Reserve(std::uint32_t slots) {
  if (slots <= capacity_) return DBResult::kOk;
  const std::size_t n = slots;
  // Fresh memory arrives zeroed from calloc; growth zeroes the new tail itself.
  auto grow = [&](std::uint8_t* old, std::size_t width) -> std::uint8_t* {
    if (width == 0) return old;
    if (old == nullptr) return static_cast<std::uint8_t*>(std::calloc(n, width));
    auto* p = static_cast<std::uint8_t*>(std::realloc(old, n * width));
    if (p != nullptr) std::memset(p + std::size_t{capacity_} * width, 0, (n - capacity_) * width);
    return p;
  };
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    std::uint8_t* p = grow(columns_[f], fields_[f].length);
    if (p == nullptr && fields_[f].length != 0) return DBResult::kOutOfMemory;
    columns_[f] = p;
    // Fields without bytes of their own (structures) point at a shared byte nobody reads.
    bases_[f] = p != nullptr ? p : reinterpret_cast<const std::uint8_t*>(&capacity_);
  }
  std::uint8_t* states = grow(field_states_, fields_.size());
  if (states == nullptr && !fields_.empty()) return DBResult::kOutOfMemory;
  field_states_ = states;
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
