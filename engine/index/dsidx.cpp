// Orderings of a table's records: maintenance, key comparison and rebuilding.
#include "index/dsidx.h"

#include <algorithm>
#include <cstring>

#include "fields/collation.h"
#include "index/index_sort.h"
#include "index/text_ranks.h"
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

int DSIDX::CompareSlotWithKey(std::uint32_t slot, const std::uint8_t* key, std::uint32_t fields,
                              std::uint32_t partial_length) const {
  const RecordStore& store = table_->store();
  const auto& descs = store.fields();
  const std::uint8_t* states = store.FieldStates(slot);
  const std::uint32_t n = std::min<std::uint32_t>(fields, static_cast<std::uint32_t>(comparers_.size()));
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t f = desc_.fields[i] - 1;
    const void* v = states[f] == kFieldValue ? store.Value(slot, f) : nullptr;
    const void* k = key[descs[f].state_offset] == kFieldValue ? key + descs[f].offset : nullptr;
    if (int c = comparers_[i]->Compare(v, k); c != 0) return c;
  }
  if (partial_length == 0 || n >= comparers_.size()) return 0;
  // The next key field on its first characters only: a prefix search.
  const std::uint32_t f = desc_.fields[n] - 1;
  const auto* text = dynamic_cast<const FLDString*>(comparers_[n].get());
  if (text == nullptr) return 0;
  const bool v_null = states[f] != kFieldValue;
  const bool k_null = key[descs[f].state_offset] != kFieldValue;
  int c = 0;
  if (v_null || k_null) {
    c = v_null == k_null ? 0 : (v_null ? -1 : 1);
  } else {
    const char* a = reinterpret_cast<const char*>(store.Value(slot, f));
    const char* b = reinterpret_cast<const char*>(key + descs[f].offset);
    const std::size_t la = std::min<std::size_t>(::strnlen(a, descs[f].length), partial_length);
    const std::size_t lb = std::min<std::size_t>(::strnlen(b, descs[f].length), partial_length);
    c = text->collation().Compare8(a, la, b, lb);
  }
  return text->descending() ? -c : c;
}

int DSIDX::CompareWithKey(std::uint32_t position, const std::uint8_t* key, std::uint32_t fields,
                          std::uint32_t partial_length) const {
  return CompareSlotWithKey(entries_[position - 1], key, fields, partial_length);
}

std::uint32_t DSIDX::FirstNotLess(const std::uint8_t* key, std::uint32_t fields,
                                  std::uint32_t partial_length) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), 0u,
                             [&](std::uint32_t slot, std::uint32_t) {
                               return CompareSlotWithKey(slot, key, fields, partial_length) < 0;
                             });
  return static_cast<std::uint32_t>(it - entries_.begin()) + 1;
}

namespace {

// Key order for a bulk build: text key fields by precomputed rank, others by comparer.
class RankedOrder final : public SlotOrder {
 public:
  RankedOrder(const DSIDX& index, const RecordStore& store,
              const std::vector<std::unique_ptr<FLDObj>>& comparers)
      : index_(index), store_(store), comparers_(comparers) {
    const IndexDesc& desc = index.desc();
    for (std::uint32_t i = 0; i < comparers.size(); ++i) {
      const std::uint32_t f = desc.fields[i] - 1;
      if (const auto* text = dynamic_cast<const FLDString*>(comparers[i].get())) {
        ranks_.push_back(RankTexts(store, f, text->collation()));
      } else {
        ranks_.push_back(RankNumbers(store, f));
      }
    }
  }

  // Integers of up to 32 bits (dates, times and booleans among them) rank as themselves,
  // shifted so that unsigned order is their order. Other types compare by their objects.
  static std::vector<std::uint32_t> RankNumbers(const RecordStore& store, std::uint32_t f) {
    const FieldDesc& d = store.fields()[f];
    std::uint32_t bias = 0;
    std::uint32_t width = 0;
    switch (d.type) {
      case FT_INT8: width = 1; bias = 0x80; break;
      case FT_INT16: width = 2; bias = 0x8000; break;
      case FT_INT32: width = 4; bias = 0x80000000u; break;
      case FT_UINT8: case FT_BOOL8: width = 1; break;
      case FT_UINT16: case FT_BOOL: width = 2; break;
      case FT_UINT32: case FT_BOOL32: case FT_DATE: case FT_TIME: width = 4; break;
      default: return {};
    }
    std::vector<std::uint32_t> ranks(store.highest_slot() + 1, 0);
    for (std::uint32_t slot = 1; slot <= store.highest_slot(); ++slot) {
      const std::uint8_t* v = store.Value(slot, f);
      std::uint32_t u = 0;
      if (width == 1) u = v[0];
      else if (width == 2) u = static_cast<std::uint32_t>(v[0] | (v[1] << 8));
      else std::memcpy(&u, v, 4);
      if (bias != 0) {
        // Sign-extend the narrow types, then shift the signed range onto the unsigned one.
        const std::uint32_t sign = bias;
        if ((u & sign) != 0 && width < 4) u |= ~((sign << 1) - 1);
        u += 0x80000000u;
      }
      ranks[slot] = u;
    }
    return ranks;
  }

  bool FoldsIntoKeys() const { return ranks_.size() == 1 && !ranks_[0].empty(); }
  // The single ranked key as one number ordered as Compare orders: 1 for null (below every
  // value), 2 + rank for a value; descending turns it round, nulls then above everything.
  std::uint64_t FoldedKey(std::uint32_t slot) const {
    const std::uint32_t f = index_.desc().fields[0] - 1;
    const bool null = store_.FieldStates(slot)[f] != kFieldValue;
    if (!comparers_[0]->descending()) return null ? 1 : 2 + std::uint64_t{ranks_[0][slot]};
    return null ? (std::uint64_t{1} << 33) : 2 + (std::uint64_t{0xFFFFFFFF} - ranks_[0][slot]);
  }

  int Compare(std::uint32_t a, std::uint32_t b) const override {
    const IndexDesc& desc = index_.desc();
    const std::uint8_t* sa = store_.FieldStates(a);
    const std::uint8_t* sb = store_.FieldStates(b);
    for (std::uint32_t i = 0; i < comparers_.size(); ++i) {
      const std::uint32_t f = desc.fields[i] - 1;
      int c;
      if (!ranks_[i].empty() && sa[f] == kFieldValue && sb[f] == kFieldValue) {
        const std::uint32_t ra = ranks_[i][a], rb = ranks_[i][b];
        c = ra < rb ? -1 : (ra > rb ? 1 : 0);
        if (comparers_[i]->descending()) c = -c;
      } else {
        c = comparers_[i]->Compare(sa[f] == kFieldValue ? store_.Value(a, f) : nullptr,
                                   sb[f] == kFieldValue ? store_.Value(b, f) : nullptr);
      }
      if (c != 0) return c;
    }
    return 0;
  }

 private:
  const DSIDX& index_;
  const RecordStore& store_;
  const std::vector<std::unique_ptr<FLDObj>>& comparers_;
  std::vector<std::vector<std::uint32_t>> ranks_;
};

}  // namespace

DBResult DSIDX::FillWith(std::vector<std::uint32_t> slots, bool bulk) {
  ZELVO_RETURN_IF_ERROR(PrepareKeys());
  ++change_count_;
  hint_ = 0;
  DBResult r = DBResult::kOk;
  if (!has_keys()) {
    entries_ = std::move(slots);
  } else if (bulk) {
    entries_ = std::move(slots);
    r = BuildBulk();
  } else {
    r = BuildOneByOne(slots);
  }
  ++change_count_;
  return r;
}

DBResult DSIDX::BuildBulk() {
  const RecordStore& store = table_->store();
  RankedOrder order(*this, store, comparers_);
  if (!order.FoldsIntoKeys()) {
    SortEntries(order, &entries_);
  } else {
    // One ranked key field: the sort runs over the keys themselves, in step with the
    // slots, instead of looking each record up per comparison.
    std::vector<KeyedSlot> keyed;
    keyed.reserve(entries_.size() + 2);
    for (std::uint32_t slot : entries_) keyed.push_back({order.FoldedKey(slot), slot});
    SortKeyedEntries(&keyed);
    for (std::size_t i = 0; i < keyed.size(); ++i) entries_[i] = keyed[i].slot;
  }
  if (desc_.unique != 0) {
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      if (order.Compare(entries_[i - 1], entries_[i]) == 0) return DBResult::kKeyViolation;
    }
  }
  return DBResult::kOk;
}

DBResult DSIDX::BuildOneByOne(const std::vector<std::uint32_t>& slots) {
  entries_.clear();
  entries_.reserve(slots.size() + 10);
  for (std::uint32_t slot : slots) ZELVO_RETURN_IF_ERROR(InsertSlot(slot));
  return DBResult::kOk;
}

DBResult DSIDX::Rebuild() {
  const RecordStore& store = table_->store();
  std::vector<std::uint32_t> slots;
  slots.reserve(table_->live_count() + 10);
  for (std::uint32_t slot = 1; slot <= store.highest_slot(); ++slot) {
    if (IsLive(store.state(slot))) slots.push_back(slot);
  }
  // The default order takes records one by one, so ties keep the order they arrived in.
  return FillWith(std::move(slots), desc_.Name() != kDefaultOrderName);
}

DBResult DSIDX::RebuildFrom(const Ordering* source) {
  if (source == nullptr || !has_keys()) return Rebuild();
  std::vector<std::uint32_t> slots;
  slots.reserve(source->Count());
  for (std::uint32_t p = 1; p <= source->Count(); ++p) slots.push_back(source->SlotAt(p));
  return FillWith(std::move(slots), false);
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
