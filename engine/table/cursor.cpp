// The cursor: synchronisation with its ordering, moves, bookmarks, field access and edits.
#include "table/cursor.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "fields/bcd.h"
#include "guard.h"

namespace zelvo {

namespace {

constexpr std::uint64_t kStale = ~std::uint64_t{0};

}  // namespace

DSCursor* NewCursor() { return new (std::nothrow) DSCursor(); }

DSCursor::~DSCursor() {
  if (table_ != nullptr) {
    std::lock_guard guard(table_->lock());
    ReleaseActive();
  }
  if (table_ != nullptr) table_->Release();
}

void DSCursor::ReleaseActive() {
  if (active_ == nullptr) return;
  Ordering* old = active_;
  active_ = nullptr;
  old->Release();
  // An ordering made for this cursor alone goes when the cursor leaves it.
  table_->DropUnusedOrdering(old);
}

DBResult DSCursor::AttachToTable(DSBASE* table) {
  if (table == nullptr) return DBResult::kInvalidArgument;
  if (table_ != nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table->lock());
  if (!table->defined()) return DBResult::kWrongState;
  return Guarded([&] {
    table->AddRef();
    table_ = table;
    fields_ = table->store().fields();
    scratch_.assign(table->store().record_size(), 0);
    TakeOrdering(table->default_order());
    status_ = DBResult::kBeforeFirst;
    position_ = 0;
    Remember();
    return DBResult::kOk;
  });
}

void DSCursor::TakeOrdering(Ordering* ordering) {
  ordering->AddRef();
  ReleaseActive();
  active_ = ordering;
  seen_change_count_ = kStale;
}

void DSCursor::Sync() {
  if (active_->change_count() == seen_change_count_) return;
  ComputeRange();
  if (status_ != DBResult::kBeforeFirst && status_ != DBResult::kAfterLast) {
    const bool still_there = last_position_ >= 1 && last_position_ <= last_ &&
                             active_->SlotAt(static_cast<std::uint32_t>(last_position_)) == last_slot_;
    if (still_there) {
      position_ = last_position_;
    } else if (std::uint32_t p = last_slot_ != 0 ? active_->PositionOf(last_slot_) : 0; p != 0) {
      position_ = p;
    } else {
      // The record is gone: the position now names the record that took its place.
      status_ = DBResult::kDeletedPosition;
    }
    if (position_ <= first_ - 1) {
      status_ = DBResult::kBeforeFirst;
      position_ = first_ - 1;
    } else if (position_ >= last_ + 1) {
      status_ = DBResult::kAfterLast;
      position_ = last_ + 1;
    }
  } else {
    position_ = status_ == DBResult::kBeforeFirst ? first_ - 1 : last_ + 1;
  }
  seen_change_count_ = active_->change_count();
  Remember();
}

void DSCursor::Remember() {
  const bool changed = last_position_ != position_;
  last_position_ = position_;
  // At a deleted position the vanished record is what the cursor still stands for.
  if (status_ != DBResult::kDeletedPosition) {
    last_slot_ = (position_ >= 1 && position_ <= active_->Count())
                     ? active_->SlotAt(static_cast<std::uint32_t>(position_))
                     : 0;
  }
  if (changed) ++position_changes_;
}

DBResult DSCursor::CopyCursor(DSCursor* source) {
  if (source == nullptr || source->table_ == nullptr) return DBResult::kInvalidArgument;
  if (table_ == nullptr) {
    ZELVO_RETURN_IF_ERROR(AttachToTable(source->table_));
  } else if (table_ != source->table_) {
    return DBResult::kWrongState;
  }
  std::lock_guard guard(table_->lock());
  return Guarded([&] {
    // The source's ordering: a listed one is shared; a temporary or filtered one is made
    // again from its key definition, with the source's filters re-added.
    Ordering* ordering = source->active_;
    const bool own = ordering->temporary() || ordering->kind() == OrderingKind::kFiltered;
    if (!own) {
      if (ordering != active_) TakeOrdering(ordering);
    } else {
      const IndexDesc& desc = ordering->desc();
      if (desc.field_count != 0) {
        ZELVO_RETURN_IF_ERROR(OrderByFields(desc.field_count, desc.fields, desc.descending,
                                            desc.case_insensitive));
      } else if (active_ != table_->default_order()) {
        TakeOrdering(table_->default_order());
      }
      if (ordering->kind() == OrderingKind::kFiltered) {
        auto* filtered = static_cast<FilteredOrdering*>(ordering);
        for (std::size_t i = 0; i < filtered->FilterCount(); ++i) {
          std::unique_ptr<RecordFilter> copy;
          ZELVO_RETURN_IF_ERROR(filtered->FilterAt(i)->Clone(&copy));
          std::uint32_t handle = 0;
          ZELVO_RETURN_IF_ERROR(AddFilter(std::move(copy), &handle));
        }
      }
    }
    range_ = source->range_;
    seen_change_count_ = kStale;
    Bookmark mark;
    ZELVO_RETURN_IF_ERROR(source->MarkPosition(&mark));
    return GoToMark(mark);
  });
}

DBResult DSCursor::DescribeCursor(TableDesc* desc) const {
  if (table_ == nullptr) return DBResult::kWrongState;
  ZELVO_RETURN_IF_ERROR(table_->DescribeTable(desc));
  desc->record_size = table_->store().record_size();
  desc->bookmark_size = sizeof(Bookmark);
  return DBResult::kOk;
}

DBResult DSCursor::DescribeIndexes(bool current_only, std::vector<IndexDesc>* indexes) const {
  if (table_ == nullptr || indexes == nullptr) return DBResult::kInvalidArgument;
  if (!current_only) return table_->DescribeIndexes(indexes);
  std::lock_guard guard(table_->lock());
  return Guarded([&] {
    indexes->assign(1, active_->desc());
    return DBResult::kOk;
  });
}

DBResult DSCursor::DescribeFields(std::vector<FieldDesc>* fields) const {
  if (table_ == nullptr || fields == nullptr) return DBResult::kInvalidArgument;
  return Guarded([&] {
    *fields = fields_;
    return DBResult::kOk;
  });
}

DBResult DSCursor::ReadCurrent(std::uint8_t* record) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  if (!OnRecord()) return status_;
  if (record != nullptr) table_->store().ReadRecord(CurrentSlot(), record);
  return DBResult::kOk;
}

DBResult DSCursor::MarkPosition(Bookmark* mark) {
  if (table_ == nullptr || mark == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  Sync();
  mark->position = static_cast<std::uint32_t>(position_);
  mark->status = Code(status_);
  mark->slot = (position_ >= 1 && position_ <= last_ && status_ != DBResult::kDeletedPosition)
                   ? CurrentSlot()
                   : (status_ == DBResult::kDeletedPosition ? last_slot_ : 0);
  mark->change_count = static_cast<std::uint32_t>(active_->change_count());
  mark->index_id = active_->id();
  return DBResult::kOk;
}

DBResult DSCursor::PositionNumber(std::uint32_t* number) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  if (!OnRecord()) return status_;
  *number = static_cast<std::uint32_t>(position_ - first_ + 1);
  return DBResult::kOk;
}

DBResult DSCursor::RecordStateOf(std::uint8_t* state) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  if (!OnRecord()) return status_;
  const std::uint32_t slot = CurrentSlot();
  const RecordStore& store = table_->store();
  std::uint8_t s = store.state(slot);
  // A record inserted and then modified still shows as inserted.
  if ((s & RowModified) != 0 && (store.state(table_->OldestVersion(slot)) & RowInserted) != 0) {
    s = RowInserted;
  }
  *state = s;
  return DBResult::kOk;
}

DBResult DSCursor::CountRecords(std::uint32_t* count) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  *count = static_cast<std::uint32_t>(std::max<std::int64_t>(0, last_ - first_ + 1));
  return DBResult::kOk;
}

DBResult DSCursor::GoBeforeFirst() {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  status_ = DBResult::kBeforeFirst;
  Sync();
  position_ = first_ - 1;
  Remember();
  return DBResult::kOk;
}

DBResult DSCursor::GoAfterLast() {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  status_ = DBResult::kAfterLast;
  Sync();
  position_ = last_ + 1;
  Remember();
  return DBResult::kOk;
}

DBResult DSCursor::StepBy(std::int32_t count) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  if (count == 0) return status_;
  const std::int64_t n = count;
  if (n > 0) {
    if (status_ == DBResult::kBeforeFirst) position_ = first_ - 1;
    // At a deleted position the position already names the record that followed.
    const std::int64_t step = status_ == DBResult::kDeletedPosition ? n - 1 : n;
    if (position_ < last_ + 1 && position_ + step < last_ + 1) {
      position_ += step;
      status_ = DBResult::kOk;
    } else {
      position_ = last_ + 1;
      status_ = DBResult::kAfterLast;
    }
  } else {
    if (status_ == DBResult::kBeforeFirst) return status_;
    if (status_ == DBResult::kAfterLast) position_ = last_ + 1;
    // From no record the cursor stands just after its position, not on it.
    const std::int64_t m = status_ == DBResult::kNoRecord ? -n - 1 : -n;
    if (first_ - 1 < position_ - m && first_ - 1 < position_) {
      position_ -= m;
      status_ = DBResult::kOk;
    } else {
      position_ = first_ - 1;
      status_ = DBResult::kBeforeFirst;
    }
  }
  Remember();
  return status_;
}

DBResult DSCursor::GoToNumber(std::uint32_t number) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  position_ = std::int64_t{number} + first_ - 1;
  if (position_ <= first_ - 1) {
    position_ = first_ - 1;
    status_ = DBResult::kBeforeFirst;
  } else if (position_ >= last_ + 1) {
    position_ = last_ + 1;
    status_ = DBResult::kAfterLast;
  } else {
    status_ = DBResult::kOk;
  }
  Remember();
  return status_;
}

DBResult DSCursor::GoToMark(const Bookmark& mark) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  const bool same = mark.index_id == active_->id() &&
                    mark.change_count == static_cast<std::uint32_t>(active_->change_count());
  std::int64_t position = same ? std::int64_t{mark.position}
                               : (mark.slot != 0 ? active_->PositionOf(mark.slot) : 0);
  if (!same && position == 0) position = first_ - 1;  // the record is not here any more
  if (position >= last_ + 1) return GoAfterLast();
  if (position <= first_ - 1) return GoBeforeFirst();
  position_ = position;
  status_ = static_cast<DBResult>(mark.status);
  Remember();
  if (status_ == DBResult::kDeletedPosition) last_slot_ = mark.slot;
  // Re-verify at the next operation when the mark is older than the ordering.
  if (!same) seen_change_count_ = kStale;
  return DBResult::kOk;
}

int DSCursor::CompareMarks(const Bookmark& a, const Bookmark& b) {
  return a.position < b.position ? -1 : (a.position > b.position ? 1 : 0);
}

DBResult DSCursor::CheckField(std::uint32_t field) const {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (field == 0 || field > fields_.size()) return DBResult::kInvalidArgument;
  return DBResult::kOk;
}

DBResult DSCursor::ReadField(const std::uint8_t* record, std::uint32_t field, void* value,
                             std::uint8_t* state) {
  ZELVO_RETURN_IF_ERROR(CheckField(field));
  std::lock_guard guard(table_->lock());
  const FieldDesc& d = fields_[field - 1];
  if (record != nullptr) {
    if (value != nullptr && d.length != 0) std::memcpy(value, record + d.offset, d.length);
    if (state != nullptr) *state = record[d.state_offset];
    return DBResult::kOk;
  }
  Sync();
  if (!OnRecord()) return status_;
  const RecordStore& store = table_->store();
  const std::uint32_t slot = CurrentSlot();
  if (value != nullptr && d.length != 0) std::memcpy(value, store.Value(slot, field - 1), d.length);
  if (state != nullptr) *state = store.FieldStates(slot)[field - 1];
  return DBResult::kOk;
}

DBResult DSCursor::WriteField(std::uint8_t* record, std::uint32_t field, const void* value) {
  ZELVO_RETURN_IF_ERROR(CheckField(field));
  if (record == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  const FieldDesc& d = fields_[field - 1];
  if (value == nullptr) {
    if (d.length != 0) std::memset(record + d.offset, 0, d.length);
    return table_->SetSlotFieldState(record, 0, field, kFieldNull);
  }
  std::uint8_t* dst = record + d.offset;
  switch (d.type) {
    case FT_STRING: {
      const char* text = static_cast<const char*>(value);
      std::size_t n = std::strlen(text);
      if (table_->trimming()) {
        while (n > 0 && text[n - 1] == ' ') --n;
      }
      if (n > d.length - 1) return DBResult::kTextTooLong;
      std::memset(dst, 0, d.length);
      std::memcpy(dst, text, n);
      break;
    }
    case FT_BCD:
    case FT_FMTBCD: {
      // The value may come with another precision and scale than the field stores.
      std::string text;
      ZELVO_RETURN_IF_ERROR(BcdToText(static_cast<const std::uint8_t*>(value), kBcdMaxBytes, &text));
      ZELVO_RETURN_IF_ERROR(BcdFromText(text, d.units1, d.units2, dst, d.length));
      break;
    }
    default:
      if (d.length != 0) std::memcpy(dst, value, d.length);
      break;
  }
  record[d.state_offset] = kFieldValue;
  return DBResult::kOk;
}

DBResult DSCursor::BlobLength(const std::uint8_t* record, std::uint32_t field,
                              std::uint32_t* length) {
  ZELVO_RETURN_IF_ERROR(CheckField(field));
  if (record == nullptr || length == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  const FieldDesc& d = fields_[field - 1];
  *length = 0;
  if (d.type != FT_BLOB) return DBResult::kUnusableType;
  if (record[d.state_offset] != kFieldValue) return DBResult::kOk;
  std::uint32_t handle = 0;
  std::memcpy(&handle, record + d.offset, 4);
  const std::uint8_t* data = nullptr;
  return table_->store().blobs().BlobBytes(handle, &data, length);
}

DBResult DSCursor::ReadBlob(const std::uint8_t* record, std::uint32_t field,
                            std::uint32_t offset, void* data, std::uint32_t* length) {
  ZELVO_RETURN_IF_ERROR(CheckField(field));
  if (record == nullptr || length == nullptr || (data == nullptr && *length != 0)) {
    return DBResult::kInvalidArgument;
  }
  std::lock_guard guard(table_->lock());
  const FieldDesc& d = fields_[field - 1];
  if (d.type != FT_BLOB) return DBResult::kUnusableType;
  if (record[d.state_offset] != kFieldValue) return DBResult::kValueIsNull;
  std::uint32_t handle = 0;
  std::memcpy(&handle, record + d.offset, 4);
  const std::uint8_t* bytes = nullptr;
  std::uint32_t size = 0;
  ZELVO_RETURN_IF_ERROR(table_->store().blobs().BlobBytes(handle, &bytes, &size));
  const std::uint32_t n = offset >= size ? 0 : std::min(*length, size - offset);
  if (n != 0) std::memcpy(data, bytes + offset, n);
  *length = n;
  return DBResult::kOk;
}

DBResult DSCursor::WriteBlob(std::uint8_t* record, std::uint32_t field, std::uint32_t offset,
                             const void* data, std::uint32_t length) {
  ZELVO_RETURN_IF_ERROR(CheckField(field));
  if (record == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  const FieldDesc& d = fields_[field - 1];
  if (d.type != FT_BLOB) return DBResult::kUnusableType;
  if (data == nullptr || length == 0) return WriteField(record, field, nullptr);
  return Guarded([&] {
    BlobStore& blobs = table_->store().blobs();
    std::uint32_t handle = 0;
    if (offset == 0) {
      ZELVO_RETURN_IF_ERROR(blobs.Add(data, length, &handle));
    } else {
      if (record[d.state_offset] != kFieldValue) return DBResult::kValueIsNull;
      std::memcpy(&handle, record + d.offset, 4);
      ZELVO_RETURN_IF_ERROR(blobs.Write(&handle, offset, data, length));
    }
    std::memcpy(record + d.offset, &handle, 4);
    record[d.state_offset] = kFieldValue;
    return DBResult::kOk;
  });
}

DBResult DSCursor::BlankRecord(std::uint8_t* record) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (record == nullptr) return DBResult::kInvalidArgument;
  const RecordStore& store = table_->store();
  std::memset(record, 0, store.data_size());
  std::memset(record + store.data_size(), kFieldUnchanged, store.field_count());
  return DBResult::kOk;
}

void DSCursor::SetTo(std::uint32_t slot) {
  // The cursor stands on `slot` once it has re-validated against its ordering.
  last_slot_ = slot;
  last_position_ = 0;
  status_ = DBResult::kOk;
  seen_change_count_ = kStale;
  ++position_changes_;
  Sync();
}

DBResult DSCursor::AddRecord(const std::uint8_t* record) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (record == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  if (active_ == table_->change_index()) return DBResult::kChangeLogEdit;
  if (table_->delta()) return DBResult::kWrongState;
  return Guarded([&] {
    Sync();
    const RecordStore& store = table_->store();
    std::memcpy(scratch_.data(), record, store.record_size());
    std::uint8_t* states = scratch_.data() + store.data_size();
    if (const std::uint32_t f = table_->auto_inc_field(); f != 0) {
      const std::int32_t value = table_->next_auto_inc();
      std::memcpy(scratch_.data() + fields_[f - 1].offset, &value, 4);
      states[f - 1] = kFieldValue;
    }
    for (std::uint32_t f = 0; f < fields_.size(); ++f) {
      const FieldDesc& d = fields_[f];
      if ((d.attributes & kAttrRequired) == 0) continue;
      if (states[f] != kFieldValue ||
          (d.type == FT_STRING && scratch_[d.offset] == 0)) {
        return DBResult::kRequiredField;
      }
    }
    active_->SetInsertionHint(OnRecord() ? static_cast<std::uint32_t>(position_) : 0);
    std::uint32_t slot = 0;
    DBResult r = table_->StoreNewRecord(scratch_.data(), &slot);
    active_->SetInsertionHint(0);
    ZELVO_RETURN_IF_ERROR(r);
    if (table_->auto_inc_field() != 0) table_->AdvanceAutoIncrement();
    SetTo(slot);
    // A filtered ordering may not take the new record.
    if (!OnRecord()) status_ = DBResult::kNoRecord;
    return DBResult::kOk;
  });
}

DBResult DSCursor::UpdateCurrent(const std::uint8_t* record) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (record == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  if (active_ == table_->change_index()) return DBResult::kChangeLogEdit;
  return Guarded([&] {
    Sync();
    if (!OnRecord()) return status_;
    const RecordStore& store = table_->store();
    const std::uint32_t slot = CurrentSlot();
    store.ReadRecord(slot, scratch_.data());
    if (std::memcmp(scratch_.data(), record, store.record_size()) == 0) return DBResult::kOk;
    const std::uint8_t* in_states = record + store.data_size();
    std::uint8_t* states = scratch_.data() + store.data_size();
    for (std::uint32_t f = 0; f < fields_.size(); ++f) {
      const FieldDesc& d = fields_[f];
      if (d.type == FT_TABLE || (d.attributes & kAttrLinkField) != 0) continue;
      const std::uint8_t in = in_states[f];
      if ((d.attributes & kAttrReadOnly) != 0 && in == kFieldValue &&
          (states[f] != kFieldValue ||
           std::memcmp(record + d.offset, scratch_.data() + d.offset, d.length) != 0)) {
        return DBResult::kReadOnlyField;
      }
      if ((d.attributes & kAttrRequired) != 0 &&
          (in != kFieldValue || (d.type == FT_STRING && record[d.offset] == 0))) {
        return DBResult::kRequiredField;
      }
      if (in == kFieldValue && d.length != 0) {
        std::memcpy(scratch_.data() + d.offset, record + d.offset, d.length);
      }
      states[f] = in;
    }
    std::uint32_t new_slot = 0;
    ZELVO_RETURN_IF_ERROR(table_->ModifyRecord(slot, scratch_.data(), &new_slot));
    SetTo(new_slot);
    return DBResult::kOk;
  });
}

DBResult DSCursor::RemoveCurrent() {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  if (active_ == table_->change_index()) return DBResult::kChangeLogEdit;
  if (table_->delta()) return DBResult::kWrongState;
  Sync();
  if (!OnRecord()) return status_;
  ZELVO_RETURN_IF_ERROR(table_->DeleteRecord(CurrentSlot()));
  status_ = DBResult::kDeletedPosition;
  ++position_changes_;
  return DBResult::kOk;
}

DBResult DSCursor::UndoNewestChange(bool follow) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  std::uint32_t restored = 0;
  ZELVO_RETURN_IF_ERROR(table_->UndoNewestChange(&restored));
  if (follow && restored != 0) SetTo(restored);
  return DBResult::kOk;
}

DBResult DSCursor::RestoreCurrent() {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  std::uint32_t slot = 0;
  if (OnRecord()) slot = CurrentSlot();
  else if (status_ == DBResult::kDeletedPosition) slot = last_slot_;
  else return status_;
  std::uint32_t restored = 0;
  ZELVO_RETURN_IF_ERROR(table_->RestoreRecord(slot, &restored));
  if (restored == 0) {
    status_ = DBResult::kDeletedPosition;
    last_slot_ = slot;
    return DBResult::kOk;
  }
  SetTo(restored);
  return DBResult::kOk;
}

DBResult DSCursor::ReadOriginal(std::uint8_t* record) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Sync();
  if (!OnRecord()) return status_;
  const std::uint32_t slot = CurrentSlot();
  const std::uint32_t oldest = table_->OldestVersion(slot);
  if (oldest == slot) return DBResult::kNotFound;
  if (record != nullptr) table_->store().ReadRecord(oldest, record);
  return DBResult::kOk;
}

DBResult DSCursor::WriteCursorOption(std::uint32_t option, std::uint64_t value) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  switch (option) {
    case kCursorStatus:
      Sync();
      if (OnRecord()) {
        status_ = value == 0 ? DBResult::kNoRecord : static_cast<DBResult>(value);
      }
      return DBResult::kOk;
    case kCursorFieldWritable:
    case kCursorFieldReadOnly:
      if (value == 0 || value > fields_.size()) return DBResult::kInvalidArgument;
      if (option == kCursorFieldReadOnly) fields_[value - 1].attributes |= kAttrReadOnly;
      else fields_[value - 1].attributes &= ~std::uint32_t{kAttrReadOnly};
      return DBResult::kOk;
    default:
      return DBResult::kInvalidArgument;
  }
}

DBResult DSCursor::OrderByIndex(std::string_view name) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  Ordering* target = table_->FindOrdering(name);
  if (target == nullptr || target->temporary()) return DBResult::kIndexNotFound;
  if (target == active_) return DBResult::kOk;
  range_ = KeyRange{};
  Sync();
  const bool on_record = OnRecord();
  const std::uint32_t slot = on_record ? CurrentSlot() : 0;
  if (active_->kind() == OrderingKind::kFiltered) {
    // A filtered ordering stays active and takes the named index's keys and order.
    auto* filtered = static_cast<FilteredOrdering*>(active_);
    const DBResult r =
        filtered->RebuildAs(target->desc(), target->desc().field_count != 0 ? target : nullptr);
    ReturnTo(on_record, slot);
    return r;
  }
  if (target == table_->change_index()) ZELVO_RETURN_IF_ERROR(target->Rebuild());
  TakeOrdering(target);
  if (on_record) {
    SetTo(slot);
    return DBResult::kOk;
  }
  status_ = DBResult::kBeforeFirst;
  Sync();
  return DBResult::kOk;
}

}  // namespace zelvo
