// Orderings of a table's records: maintenance, key comparison and rebuilding.
#include "index/dsidx.h"

#include <algorithm>
#include <cstring>

#include "table/dsbase.h"

namespace zelvo {

std::string_view IndexDesc::Name() const { return {name, ::strnlen(name, sizeof(name))}; }

void IndexDesc::SetName(std::string_view text) {
  std::memset(name, 0, sizeof(name));
  std::memcpy(name, text.data(), std::min(text.size(), sizeof(name) - 1));
}

bool IndexDesc::SameDefinition(const IndexDesc& o) const {
  if (field_count != o.field_count || (unique != 0) != (o.unique != 0) || unique != o.unique) {
    return false;
  }
  for (std::uint32_t i = 0; i < field_count && i < kMaxKeyFields; ++i) {
    if (fields[i] != o.fields[i] || (descending[i] != 0) != (o.descending[i] != 0) ||
        (case_insensitive[i] != 0) != (o.case_insensitive[i] != 0)) {
      return false;
    }
  }
  return true;
}

DSIDX::DSIDX(DSBASE* table, const IndexDesc& desc, OrderingKind kind, bool temporary)
    : table_(table), desc_(desc), kind_(kind), temporary_(temporary) {}

DBResult DSIDX::PrepareKeys() {
  comparers_.clear();
  const auto& fields = table_->store().fields();
  if (desc_.field_count > kMaxKeyFields) return DBResult::kInvalidArgument;
  desc_.key_length = 0;
  for (std::uint32_t i = 0; i < desc_.field_count; ++i) {
    const std::uint32_t number = desc_.fields[i];
    if (number == 0 || number > fields.size()) return DBResult::kInvalidArgument;
    const FieldDesc& field = fields[number - 1];
    std::unique_ptr<FLDObj> comparer;
    ZELVO_RETURN_IF_ERROR(MakeFieldComparer(
        field,
        {.descending = desc_.descending[i] != 0,
         .case_insensitive = desc_.case_insensitive[i] != 0,
         .lcid = table_->lcid()},
        &comparer));
    desc_.key_length += field.length;
    comparers_.push_back(std::move(comparer));
  }
  return DBResult::kOk;
}

int DSIDX::CompareSlots(std::uint32_t a, std::uint32_t b) const {
  const RecordStore& store = table_->store();
  const std::uint8_t* states_a = store.FieldStates(a);
  const std::uint8_t* states_b = store.FieldStates(b);
  for (std::uint32_t i = 0; i < comparers_.size(); ++i) {
    const std::uint32_t f = desc_.fields[i] - 1;
    const void* va = states_a[f] == kFieldValue ? store.Value(a, f) : nullptr;
    const void* vb = states_b[f] == kFieldValue ? store.Value(b, f) : nullptr;
    if (int c = comparers_[i]->Compare(va, vb); c != 0) return c;
  }
  return 0;
}

std::uint32_t DSIDX::PositionOf(std::uint32_t slot) const {
  // From the end: the record a cursor looks for right after an insert is usually there.
  auto it = std::find(entries_.rbegin(), entries_.rend(), slot);
  return it == entries_.rend() ? 0 : static_cast<std::uint32_t>(entries_.rend() - it);
}

std::uint32_t DSIDX::UpperBound(std::uint32_t slot) const {
  auto it = std::upper_bound(entries_.begin(), entries_.end(), slot,
                             [this](std::uint32_t s, std::uint32_t e) {
                               return CompareSlots(s, e) < 0;
                             });
  return static_cast<std::uint32_t>(it - entries_.begin());
}

std::uint32_t DSIDX::FirstEqual(std::uint32_t slot) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), slot,
                             [this](std::uint32_t e, std::uint32_t s) {
                               return CompareSlots(e, s) < 0;
                             });
  if (it == entries_.end() || CompareSlots(*it, slot) != 0) return 0;
  return static_cast<std::uint32_t>(it - entries_.begin()) + 1;
}

DBResult DSIDX::InsertSlot(std::uint32_t slot) {
  std::uint32_t position;  // the new entry goes after this many entries
  if (!has_keys()) {
    position = (hint_ >= 1 && hint_ <= Count()) ? hint_ - 1 : Count();
    hint_ = 0;
  } else {
    if (desc_.unique != 0 && FirstEqual(slot) != 0) return DBResult::kKeyViolation;
    position = UpperBound(slot);  // after every equal key
  }
  entries_.insert(entries_.begin() + position, slot);
  ++change_count_;
  return DBResult::kOk;
}

DBResult DSIDX::RemoveSlot(std::uint32_t slot) {
  const std::uint32_t position = PositionOf(slot);
  if (position == 0) return DBResult::kWrongState;
  entries_.erase(entries_.begin() + (position - 1));
  ++change_count_;
  return DBResult::kOk;
}

DBResult DSIDX::ReplaceSlot(std::uint32_t old_slot, std::uint32_t new_slot) {
  const std::uint32_t position = PositionOf(old_slot);
  if (position == 0) return DBResult::kWrongState;
  if (!has_keys() || CompareSlots(new_slot, old_slot) == 0) {
    entries_[position - 1] = new_slot;  // keeps its place among equal keys
    ++change_count_;
    return DBResult::kOk;
  }
  entries_.erase(entries_.begin() + (position - 1));
  DBResult r = InsertSlot(new_slot);
  if (!Ok(r)) {
    entries_.insert(entries_.begin() + (position - 1), old_slot);
    return r;
  }
  ++change_count_;
  return DBResult::kOk;
}

DBResult DSIDX::Rebuild() {
  ZELVO_RETURN_IF_ERROR(PrepareKeys());
  const RecordStore& store = table_->store();
  entries_.clear();
  entries_.reserve(table_->live_count() + 10);
  ++change_count_;
  hint_ = 0;
  // Records one by one in slot order: ties keep the order in which they arrived.
  for (std::uint32_t slot = 1; slot <= store.highest_slot(); ++slot) {
    if (!IsLive(store.state(slot))) continue;
    if (!has_keys()) {
      entries_.push_back(slot);
    } else {
      ZELVO_RETURN_IF_ERROR(InsertSlot(slot));
    }
  }
  ++change_count_;
  return DBResult::kOk;
}

DBResult DSIDX::Redefine(const IndexDesc& desc) {
  const IndexDesc old = desc_;
  const std::string_view name = old.Name();
  desc_ = desc;
  desc_.SetName(name);
  DBResult r = Rebuild();
  if (!Ok(r)) {
    desc_ = old;
    (void)Rebuild();
  }
  return r;
}

Ordering* NewIndex(DSBASE* table, const IndexDesc& desc, bool temporary) {
  return new DSIDX(table, desc, OrderingKind::kPlain, temporary);
}

Ordering* NewChangeIndex(DSBASE* table) { return new DSIDXCHG(table); }

DSIDXCHG::DSIDXCHG(DSBASE* table)
    : DSIDX(table, [] {
        IndexDesc d;
        d.SetName(kChangeIndexName);
        return d;
      }(), OrderingKind::kChangeLog, false) {}

DBResult DSIDXCHG::Rebuild() {
  const RecordStore& store = table_->store();
  std::uint64_t view = 0;
  (void)table_->ReadTableOption(kOptChangeView, &view);
  entries_.clear();
  for (const ChangeEntry& e : table_->change_log().entries()) {
    if (e.slot == 0 || e.slot > store.highest_slot()) continue;
    const std::uint8_t state = store.state(e.slot);
    if ((state & (RowOriginal | RowUnused)) != 0) continue;
    if (view != 0 && (state & view) == 0) continue;
    if (std::find(entries_.begin(), entries_.end(), e.slot) == entries_.end()) {
      entries_.push_back(e.slot);
    }
  }
  ++change_count_;
  return DBResult::kOk;
}

}  // namespace zelvo
