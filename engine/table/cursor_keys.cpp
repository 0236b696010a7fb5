// The cursor's orderings by field list, key ranges and key search.
#include <algorithm>

#include "guard.h"
#include "table/cursor.h"
#include "table/record_filter.h"

namespace zelvo {

namespace {

// The first position whose entry is greater than the key (Count() + 1 when none).
std::uint32_t FirstGreater(const Ordering& o, const std::uint8_t* key, std::uint32_t fields,
                           std::uint32_t partial) {
  std::uint32_t low = o.FirstNotLess(key, fields, partial), high = o.Count() + 1;
  while (low < high) {
    const std::uint32_t mid = low + (high - low) / 2;
    if (o.CompareWithKey(mid, key, fields, partial) <= 0) low = mid + 1;
    else high = mid;
  }
  return low;
}

bool SameLeadingKeys(const IndexDesc& index, const IndexDesc& wanted) {
  if (index.field_count < wanted.field_count) return false;
  for (std::uint32_t i = 0; i < wanted.field_count; ++i) {
    if (index.fields[i] != wanted.fields[i] ||
        (index.descending[i] != 0) != (wanted.descending[i] != 0) ||
        (index.case_insensitive[i] != 0) != (wanted.case_insensitive[i] != 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void DSCursor::ComputeRange() {
  const std::uint32_t count = active_->Count();
  first_ = 1;
  last_ = count;
  if (!range_.on) return;
  const std::uint32_t k = range_.fields;
  if (range_.has_low) {
    first_ = range_.low_inclusive ? active_->FirstNotLess(range_.low.data(), k, 0)
                                  : FirstGreater(*active_, range_.low.data(), k, 0);
  }
  if (range_.has_high) {
    last_ = static_cast<std::int64_t>(range_.high_inclusive
                                          ? FirstGreater(*active_, range_.high.data(), k, 0)
                                          : active_->FirstNotLess(range_.high.data(), k, 0)) -
            1;
  }
}

DBResult DSCursor::CheckKeyFields(std::uint32_t* fields, std::uint32_t partial_length) const {
  const IndexDesc& desc = active_->desc();
  if (desc.field_count == 0) return DBResult::kNoKeyFields;
  if (*fields == 0 && partial_length == 0) *fields = desc.field_count;
  if (*fields + (partial_length != 0 ? 1 : 0) > desc.field_count) return DBResult::kOutOfRange;
  if (partial_length != 0 && fields_[desc.fields[*fields] - 1].type != FT_STRING) {
    return DBResult::kInvalidArgument;
  }
  return DBResult::kOk;
}

DBResult DSCursor::SetKeyRange(std::uint32_t fields, const std::uint8_t* low, bool low_inclusive,
                               const std::uint8_t* high, bool high_inclusive) {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  ZELVO_RETURN_IF_ERROR(CheckKeyFields(&fields, 0));
  return Guarded([&] {
    const std::size_t size = table_->store().record_size();
    KeyRange range;
    range.on = true;
    range.fields = fields;
    range.has_low = low != nullptr;
    range.low_inclusive = low_inclusive;
    range.has_high = high != nullptr;
    range.high_inclusive = high_inclusive;
    if (low != nullptr) range.low.assign(low, low + size);
    if (high != nullptr) range.high.assign(high, high + size);
    range.equal = range.has_low && range.has_high && low_inclusive == high_inclusive &&
                  range.low == range.high;
    range_ = std::move(range);
    status_ = DBResult::kBeforeFirst;
    seen_change_count_ = ~std::uint64_t{0};
    Sync();
    position_ = first_ - 1;
    Remember();
    return DBResult::kOk;
  });
}

DBResult DSCursor::ClearKeyRange() {
  if (table_ == nullptr) return DBResult::kWrongState;
  std::lock_guard guard(table_->lock());
  range_ = KeyRange{};
  seen_change_count_ = ~std::uint64_t{0};
  return DBResult::kOk;
}

DBResult DSCursor::SeekKey(std::uint32_t condition, std::uint32_t fields,
                           std::uint32_t partial_length, const std::uint8_t* key) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (key == nullptr || condition > kSeekGreaterOrEqual) return DBResult::kInvalidArgument;
  std::lock_guard guard(table_->lock());
  ZELVO_RETURN_IF_ERROR(CheckKeyFields(&fields, partial_length));
  Sync();
  const std::uint32_t p = active_->FirstNotLess(key, fields, partial_length);
  const bool found =
      p <= active_->Count() && active_->CompareWithKey(p, key, fields, partial_length) == 0;
  std::int64_t position = std::int64_t{p} - 1;
  if (condition == kSeekEqual && !found) return DBResult::kNotFound;
  if (condition == kSeekGreater && found) {
    position = std::int64_t{FirstGreater(*active_, key, fields, partial_length)} - 1;
  }
  // Just before the first match: the next forward step reaches it.
  position_ = position;
  status_ = DBResult::kNoRecord;
  if (position_ <= first_ - 1) {
    position_ = first_ - 1;
    status_ = DBResult::kBeforeFirst;
  } else if (position_ >= last_ + 1) {
    position_ = last_ + 1;
    status_ = DBResult::kAfterLast;
  }
  Remember();
  return DBResult::kOk;
}

DBResult DSCursor::FindByKey(std::uint32_t fields, std::uint32_t partial_length,
                             const std::uint8_t* key, std::uint8_t* record) {
  ZELVO_RETURN_IF_ERROR(SeekKey(kSeekEqual, fields, partial_length, key));
  std::lock_guard guard(table_->lock());
  if (!OnRecord()) ZELVO_RETURN_IF_ERROR(StepBy(1));
  return record != nullptr ? ReadCurrent(record) : DBResult::kOk;
}

DBResult DSCursor::OrderByFields(std::uint32_t count, const std::uint32_t* fields,
                                 const std::uint32_t* descending,
                                 const std::uint32_t* case_insensitive) {
  if (table_ == nullptr) return DBResult::kWrongState;
  if (count == 0 || count > kMaxKeyFields || fields == nullptr) return DBResult::kInvalidArgument;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (fields[i] == 0 || fields[i] > fields_.size()) return DBResult::kInvalidArgument;
  }
  std::lock_guard guard(table_->lock());
  return Guarded([&] {
    IndexDesc desc;
    desc.SetName(fields_[fields[0] - 1].Name());
    desc.field_count = count;
    for (std::uint32_t i = 0; i < count; ++i) {
      desc.fields[i] = fields[i];
      desc.descending[i] = descending != nullptr ? descending[i] : 0;
      desc.case_insensitive[i] = case_insensitive != nullptr ? case_insensitive[i] : 0;
    }
    range_ = KeyRange{};
    seen_change_count_ = ~std::uint64_t{0};
    Sync();
    if (SameLeadingKeys(active_->desc(), desc)) return DBResult::kOk;
    const bool on_record = OnRecord();
    const std::uint32_t slot = on_record ? CurrentSlot() : 0;

    // A listed index with the same leading keys gives the new ordering its order.
    const Ordering* source = nullptr;
    for (const Ordering* o : table_->orderings()) {
      if (!o->temporary() && o->kind() == OrderingKind::kPlain && SameLeadingKeys(o->desc(), desc)) {
        source = o;
        break;
      }
    }
    if (active_->kind() == OrderingKind::kFiltered) {
      auto* filtered = static_cast<FilteredOrdering*>(active_);
      const DBResult r = filtered->RebuildAs(desc, source);
      ReturnTo(on_record, slot);
      return r;
    }
    Ordering* ordering = NewIndex(table_, desc, true);
    if (ordering == nullptr) return DBResult::kOutOfMemory;
    const DBResult r = source != nullptr ? ordering->RebuildFrom(source) : ordering->Rebuild();
    if (!Ok(r)) {
      ordering->Release();
      return r;
    }
    table_->AddOrdering(ordering);  // the table keeps the creator's reference
    TakeOrdering(ordering);
    if (on_record) {
      SetTo(slot);
    } else {
      status_ = DBResult::kBeforeFirst;
      Sync();
    }
    return DBResult::kOk;
  });
}

}  // namespace zelvo
