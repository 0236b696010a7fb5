// Filtered orderings: membership by filters, maintenance on every edit.
#include "index/dsidx_filt.h"

#include <algorithm>

#include "table/dsbase.h"

namespace zelvo {

FilteredOrdering* NewFilteredIndex(DSBASE* table, const IndexDesc& desc) {
  return new DSIDXFILT(table, desc);
}

DSIDXFILT::DSIDXFILT(DSBASE* table, const IndexDesc& desc)
    : index_(table, desc, OrderingKind::kFiltered, false) {}

DBResult DSIDXFILT::Entries::Fill(std::vector<std::uint32_t> slots, bool sort) {
  return FillWith(std::move(slots), sort);
}

bool DSIDXFILT::Accepts(std::uint32_t slot) {
  for (Entry& e : filters_) {
    if (!e.filter->Accepts(slot)) return false;
  }
  return true;
}

std::vector<std::uint32_t> DSIDXFILT::Passing(const std::vector<std::uint32_t>& slots) {
  std::vector<std::uint32_t> passing;
  passing.reserve(slots.size());
  for (std::uint32_t slot : slots) {
    if (Accepts(slot)) passing.push_back(slot);
  }
  return passing;
}

DBResult DSIDXFILT::InsertSlot(std::uint32_t slot) {
  return Accepts(slot) ? index_.InsertSlot(slot) : DBResult::kOk;
}

DBResult DSIDXFILT::RemoveSlot(std::uint32_t slot) {
  return index_.PositionOf(slot) != 0 ? index_.RemoveSlot(slot) : DBResult::kOk;
}

DBResult DSIDXFILT::ReplaceSlot(std::uint32_t old_slot, std::uint32_t new_slot) {
  // The old and the new version each pass or not: the entry is replaced, added or removed.
  const bool was_in = index_.PositionOf(old_slot) != 0;
  const bool passes = Accepts(new_slot);
  if (was_in && passes) return index_.ReplaceSlot(old_slot, new_slot);
  if (was_in) return index_.RemoveSlot(old_slot);
  if (passes) return index_.InsertSlot(new_slot);
  return DBResult::kOk;
}

DBResult DSIDXFILT::Rebuild() {
  // From the store in slot order; sorted in bulk when there are keys to sort by.
  const RecordStore& store = index_.table()->store();
  std::vector<std::uint32_t> slots;
  for (std::uint32_t slot = 1; slot <= store.highest_slot(); ++slot) {
    if (IsLive(store.state(slot)) && Accepts(slot)) slots.push_back(slot);
  }
  return index_.Fill(std::move(slots), index_.desc().Name() != kDefaultOrderName);
}

DBResult DSIDXFILT::RebuildFrom(const Ordering* source) {
  if (source == nullptr || index_.desc().field_count == 0) return Rebuild();
  std::vector<std::uint32_t> slots;
  slots.reserve(source->Count());
  for (std::uint32_t p = 1; p <= source->Count(); ++p) slots.push_back(source->SlotAt(p));
  return index_.Fill(Passing(slots), false);
}

DBResult DSIDXFILT::Redefine(const IndexDesc& desc) { return RebuildAs(desc, nullptr); }

DBResult DSIDXFILT::RebuildAs(const IndexDesc& desc, const Ordering* source) {
  const IndexDesc old = index_.desc();
  index_.SetDesc(desc);
  DBResult r = source != nullptr ? RebuildFrom(source) : Rebuild();
  if (!Ok(r)) {
    index_.SetDesc(old);
    (void)Rebuild();
  }
  return r;
}

std::uint32_t DSIDXFILT::AddFilter(std::unique_ptr<RecordFilter> filter) {
  filters_.push_back({next_handle_, std::move(filter)});
  return next_handle_++;
}

DBResult DSIDXFILT::RemoveFilter(std::uint32_t handle) {
  if (filters_.empty()) return DBResult::kWrongState;
  auto it = std::find_if(filters_.begin(), filters_.end(),
                         [handle](const Entry& e) { return e.handle == handle; });
  if (it == filters_.end()) return DBResult::kNoMessage;
  filters_.erase(it);
  return DBResult::kOk;
}

}  // namespace zelvo
