// The cursor's filters (its filtered ordering) and locate (FindNextMatch).
#include <memory>
#include <vector>

#include "guard.h"
#include "table/cursor.h"
#include "table/record_filter.h"

namespace zelvo {

namespace {

class HookFilter final : public RecordFilter {
 public:
  HookFilter(DSBASE* table, void* datum, FilterHookFn hook)
      : table_(table), datum_(datum), hook_(hook), record_(table->store().record_size()) {}

  bool Accepts(std::uint32_t slot) override {
    table_->store().ReadRecord(slot, record_.data());
    return hook_(datum_, record_.data()) != 0;
  }
  DBResult Clone(std::unique_ptr<RecordFilter>* copy) const override {
    *copy = std::make_unique<HookFilter>(table_, datum_, hook_);
    return DBResult::kOk;
  }

 private:
  DSBASE* table_;
  void* datum_;
  FilterHookFn hook_;
  std::vector<std::uint8_t> record_;
};

bool SameKeys(const IndexDesc& a, const IndexDesc& b) {
  if (a.field_count != b.field_count) return false;
  for (std::uint32_t i = 0; i < a.field_count; ++i) {
    if (a.fields[i] != b.fields[i] || (a.descending[i] != 0) != (b.descending[i] != 0) ||
        (a.case_insensitive[i] != 0) != (b.case_insensitive[i] != 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<RecordFilter> NewHookFilter(DSBASE* table, void* datum, FilterHookFn hook) {
  return std::make_unique<HookFilter>(table, datum, hook);
}

void DSCursor::ReturnTo(bool on_record, std::uint32_t slot) {
  // The cursor stays on its record while the ordering holds it, else goes before the first.
  if (on_record && active_->PositionOf(slot) != 0) {
    SetTo(slot);
    return;
  }
  status_ = DBResult::kBeforeFirst;
  seen_change_count_ = ~std::uint64_t{0};
  Sync();
  position_ = first_ - 1;
  Remember();
}

DBResult DSCursor::AttachFilter(const std::uint8_t* expression, std::uint32_t length,
                                std::uint32_t* handle) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (handle == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  return Guarded([&] {
    std::unique_ptr<RecordFilter> filter;
    ZELVO_RETURN_IF_ERROR(NewExpressionFilter(table_, expression, length, &filter));
    return AddFilter(std::move(filter), handle);
  });
}

DBResult DSCursor::AttachFilterHook(void* datum, FilterHookFn hook, std::uint32_t* handle) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (hook == nullptr || handle == nullptr) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  return Guarded([&] { return AddFilter(NewHookFilter(table_, datum, hook), handle); });
}

DBResult DSCursor::AddFilter(std::unique_ptr<RecordFilter> filter, std::uint32_t* handle) {
  Sync();
  const bool on_record = OnRecord();
  const std::uint32_t slot = on_record ? CurrentSlot() : 0;
  if (active_->kind() != OrderingKind::kFiltered) {
    // A new filtered ordering in the active ordering's order.
    FilteredOrdering* filtered = NewFilteredIndex(table_, active_->desc());
    if (filtered == nullptr) return DBResult::kOutOfMemory;
    const std::uint32_t h = filtered->AddFilter(std::move(filter));
    const DBResult r = filtered->RebuildFrom(active_);
    if (!Ok(r)) {
      filtered->Release();
      return r;
    }
    table_->AddOrdering(filtered);
    TakeOrdering(filtered);
    *handle = h;
  } else {
    auto* filtered = static_cast<FilteredOrdering*>(active_);
    const std::uint32_t h = filtered->AddFilter(std::move(filter));
    const DBResult r = filtered->Rebuild();
    if (!Ok(r)) {
      (void)filtered->RemoveFilter(h);
      (void)filtered->Rebuild();
      return r;
    }
    *handle = h;
  }
  ++filter_count_;
  ReturnTo(on_record, slot);
  return DBResult::kOk;
}

DBResult DSCursor::DetachFilter(std::uint32_t handle) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  if (handle == 0 || active_->kind() != OrderingKind::kFiltered) return DBResult::kOk;
  return Guarded([&] {
    Sync();
    const bool on_record = OnRecord();
    const std::uint32_t slot = on_record ? CurrentSlot() : 0;
    auto* filtered = static_cast<FilteredOrdering*>(active_);
    ZELVO_RETURN_IF_ERROR(filtered->RemoveFilter(handle));
    // The records of a listed index with the same keys, in its order, when there is one.
    const Ordering* source = nullptr;
    for (const Ordering* o : table_->orderings()) {
      if (o->kind() == OrderingKind::kPlain && !o->temporary() &&
          SameKeys(o->desc(), filtered->desc())) {
        source = o;
        break;
      }
    }
    const DBResult r = source != nullptr && source->desc().field_count != 0
                           ? filtered->RebuildFrom(source)
                           : filtered->Rebuild();
    if (filter_count_ > 0) --filter_count_;
    ReturnTo(on_record, slot);
    return r;
  });
}

DBResult DSCursor::FindNextMatch(const std::uint8_t* expression, std::uint32_t length) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  return Guarded([&] {
    if (expression != nullptr) {
      std::unique_ptr<RecordFilter> filter;
      ZELVO_RETURN_IF_ERROR(NewExpressionFilter(table_, expression, length, &filter));
      locate_ = std::move(filter);
    }
    if (!locate_) return DBResult::kInvalidArgument;
    for (;;) {
      const DBResult r = StepBy(1);
      if (r == DBResult::kAfterLast) return DBResult::kNotFound;
      if (r != DBResult::kOk) return r;
      if (locate_->Accepts(CurrentSlot())) return DBResult::kOk;
    }
  });
}

}  // namespace zelvo
