// The record store of a table: one fixed-width column array per field, a record state per
// slot and a field-state matrix, plus the blob store. Slots count from 1; versions are only
// ever appended, so a slot number stays valid for the change log and for bookmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fields/field_types.h"
#include "fields/record_ref.h"
#include "packet/byte_buffer.h"
#include "result.h"

namespace zelvo {

// Record state bits, also the row state byte of packets.
enum RecordState : std::uint8_t {
  RowOriginal = 0x01,
  RowDeleted = 0x02,
  RowInserted = 0x04,
  RowModified = 0x08,
  RowUnused = 0x20,
  RowDetailChanged = 0x40,
};

constexpr bool IsLive(std::uint8_t state) {
  return (state & (RowOriginal | RowDeleted | RowUnused)) == 0;
}

// Blob values: a list of byte strings addressed by 1-based handles, their bytes in one arena.
// A blob is never changed in place once a record refers to it (edits add a new blob), so the
// bytes a record points at stay as they were until the record itself changes.
class BlobStore final : public BlobSource {
 public:
  DBResult BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                     std::uint32_t* length) const override;
  // Adds a copy of `data`; returns its handle in *handle.
  DBResult Add(const void* data, std::uint32_t length, std::uint32_t* handle);
  // Writes `data` at `offset` of blob *handle: a blob no stored record refers to yet is
  // changed in place (grown when the data ends past it); a committed one is copied first,
  // so that logged versions keep their bytes, and *handle becomes the copy's.
  // kOutOfRange for an offset past the blob's end.
  DBResult Write(std::uint32_t* handle, std::uint32_t offset, const void* data,
                 std::uint32_t length);
  std::uint32_t size() const { return static_cast<std::uint32_t>(entries_.size()); }

  // Blobs past the commit mark belong to no stored record yet.
  void Commit() { commit_mark_ = size(); }
  // Frees every blob added since the last Commit.
  void DropPending();
  // Frees one pending blob if it is the newest; older ones are left for DropPending.
  void DropPendingBlob(std::uint32_t handle);
  void Clear();
  // Room for `bytes` more blob bytes, so that a load fills the arena without regrowing it.
  DBResult ReserveBytes(std::size_t bytes) { return arena_.Reserve(bytes); }

 private:
  struct Entry {
    std::size_t offset;
    std::uint32_t length;
  };
  std::vector<Entry> entries_;
  ByteBuffer arena_;
  std::uint32_t commit_mark_ = 0;
};

// Invariant: every slot past the highest used one is all zero (values, field states and
// record state), so loading can write values into fresh slots without clearing them.
class RecordStore {
 public:
  RecordStore() = default;
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;
  ~RecordStore();

  // Lays out the fields (array expansion and record layout) and allocates nothing yet.
  DBResult Define(std::vector<FieldDesc> fields, bool xml_mode);
  void Clear();

  const std::vector<FieldDesc>& fields() const { return fields_; }
  std::uint32_t field_count() const { return static_cast<std::uint32_t>(fields_.size()); }
  std::uint32_t record_size() const { return record_size_; }
  std::uint32_t data_size() const { return data_size_; }

  // Slots 1 .. next_slot() - 1 hold stored record versions.
  std::uint32_t next_slot() const { return next_slot_; }
  std::uint32_t highest_slot() const { return next_slot_ - 1; }
  std::uint32_t capacity() const { return capacity_; }
  // Makes room for slots up to `slots` (inclusive); kOutOfMemory leaves the store as it was.
  DBResult Reserve(std::uint32_t slots);
  // Takes the next slot number, growing by `growth` slots when the store is full.
  DBResult TakeSlot(std::uint32_t growth, std::uint32_t* slot);
  // Hands the highest slot back (used by undo and by freeing the highest slot).
  void GiveBackHighest() { --next_slot_; }

  std::uint8_t state(std::uint32_t slot) const { return states_[slot - 1]; }
  void set_state(std::uint32_t slot, std::uint8_t state) { states_[slot - 1] = state; }
  bool IsLiveSlot(std::uint32_t slot) const {
    return slot >= 1 && slot < next_slot_ && IsLive(states_[slot - 1]);
  }

  // The value of field index f (0-based) of a slot, and its field state.
  std::uint8_t* Value(std::uint32_t slot, std::uint32_t f) {
    return columns_[f] + std::size_t{fields_[f].length} * (slot - 1);
  }
  const std::uint8_t* Value(std::uint32_t slot, std::uint32_t f) const {
    return columns_[f] + std::size_t{fields_[f].length} * (slot - 1);
  }
  std::uint8_t* FieldStates(std::uint32_t slot) {
    return field_states_ + std::size_t{field_count()} * (slot - 1);
  }
  const std::uint8_t* FieldStates(std::uint32_t slot) const {
    return field_states_ + std::size_t{field_count()} * (slot - 1);
  }

  // Record buffer <-> slot: values at their offsets, then one field state byte per field.
  void ReadRecord(std::uint32_t slot, std::uint8_t* record) const;
  void WriteRecord(std::uint32_t slot, const std::uint8_t* record);
  void CopySlot(std::uint32_t from, std::uint32_t to);
  // Every field null (values zeroed, state 1).
  void NullSlot(std::uint32_t slot);

  // A view of a slot for readers that work in place (filters, key comparison).
  RecordRef Ref(std::uint32_t slot) const {
    return {bases_.data(), strides_.data(), slot - 1, FieldStates(slot)};
  }

  BlobStore& blobs() { return blobs_; }
  const BlobStore& blobs() const { return blobs_; }

 private:
  std::vector<FieldDesc> fields_;
  std::uint32_t record_size_ = 0;
  std::uint32_t data_size_ = 0;
  std::vector<std::uint8_t*> columns_;  // one array per field; fields of length 0 have none
  std::vector<std::size_t> column_bytes_;
  std::vector<const std::uint8_t*> bases_;
  std::vector<std::uint32_t> strides_;
  std::vector<std::uint8_t> states_;
  std::uint8_t* field_states_ = nullptr;
  std::size_t field_states_bytes_ = 0;
  std::uint32_t capacity_ = 0;
  std::uint32_t next_slot_ = 1;
  BlobStore blobs_;
};

}  // namespace zelvo
