// The engine table: definition, store operations with ordering maintenance, the change log
// (undo, restore, merge, number of changes) and table options.
#include "table/dsbase.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "fields/field_compare.h"
#include "guard.h"

namespace zelvo {

namespace {

constexpr std::uint32_t kStoreGrowth = 100;

}  // namespace

DSBASE* NewTable() { return new (std::nothrow) DSBASE(); }

DSBASE::DSBASE() = default;

DSBASE::~DSBASE() { Reset(); }

void DSBASE::Reset() {
  for (Ordering* o : orderings_) o->Release();
  orderings_.clear();
  if (change_index_ != nullptr) change_index_->Release();
  change_index_ = nullptr;
  store_.Clear();
  change_log_.Clear();
  kept_.clear();
  packet_attributes_.clear();
  reader_ = Ref<TDATAPACKET_READ>();
  nested_.clear();
  nested_groups_.clear();
  live_count_ = freed_count_ = 0;
  auto_inc_field_ = 0;
  next_auto_inc_ = 1;
  lcid_ = 0;
  default_order_defined_ = false;
  next_ordering_id_ = 1;
}

DBResult DSBASE::DefineTable(const FieldDesc* fields, std::uint32_t count,
                             std::string_view name) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (defined()) return DBResult::kWrongState;
    if (fields == nullptr || count == 0) return DBResult::kInvalidArgument;
    std::vector<FieldDesc> list(fields, fields + count);
    DBResult r = store_.Define(std::move(list), false);
    if (Ok(r)) r = FinishDefinition();
    if (!Ok(r)) {
      Reset();
      return r;
    }
    for (const FieldDesc& f : store_.fields()) {
      packet_attributes_.push_back(static_cast<std::uint16_t>(f.attributes));
    }
    name_.assign(name.substr(0, 260));
    return DBResult::kOk;
  });
}

DBResult DSBASE::FinishDefinition() {
  const auto& fields = store_.fields();
  auto_inc_field_ = 0;
  for (const FieldDesc& f : fields) {
    if (f.length == 4 && f.subtype == kSubtypeAutoinc) {
      auto_inc_field_ = f.field_number;
      break;
    }
  }
  IndexDesc order;
  order.SetName(kDefaultOrderName);
  Ordering* default_order = NewIndex(this, order, false);
  if (default_order == nullptr) return DBResult::kOutOfMemory;
  default_order->set_id(next_ordering_id_++);
  orderings_.push_back(default_order);
  change_index_ = NewChangeIndex(this);
  if (change_index_ == nullptr) return DBResult::kOutOfMemory;
  change_index_->set_id(next_ordering_id_++);
  return store_.Reserve(kStoreGrowth);
}

Ordering* DSBASE::FindOrdering(std::string_view name) const {
  if (name.empty()) name = kDefaultOrderName;
  if (name == kChangeIndexName) return change_index_;
  for (Ordering* o : orderings_) {
    if (!o->temporary() && o->kind() == OrderingKind::kPlain && o->desc().Name() == name) return o;
  }
  return nullptr;
}

DBResult DSBASE::RunCalcHook(std::uint32_t slot) {
  if (calc_hook_ == nullptr) return DBResult::kOk;
  std::vector<std::uint8_t> record(store_.record_size());
  store_.ReadRecord(slot, record.data());
  ZELVO_RETURN_IF_ERROR(calc_hook_(calc_datum_, record.data()));
  store_.WriteRecord(slot, record.data());
  return DBResult::kOk;
}

DBResult DSBASE::EnterOrderings(std::uint32_t slot) {
  for (std::size_t i = 0; i < orderings_.size(); ++i) {
    DBResult r = orderings_[i]->InsertSlot(slot);
    if (!Ok(r)) {
      while (i-- > 0) (void)orderings_[i]->RemoveSlot(slot);
      return r;
    }
  }
  return DBResult::kOk;
}

void DSBASE::LeaveOrderings(std::uint32_t slot) {
  for (Ordering* o : orderings_) (void)o->RemoveSlot(slot);
}

DBResult DSBASE::RebuildOrderings() {
  for (Ordering* o : orderings_) ZELVO_RETURN_IF_ERROR(o->Rebuild());
  if (change_index_ != nullptr) ZELVO_RETURN_IF_ERROR(change_index_->Rebuild());
  return DBResult::kOk;
}

void DSBASE::RefreshChangeIndex() {
  // Only a cursor that shows the pending changes needs the ordering up to date.
  if (change_index_ != nullptr && logging_ && change_index_->RefCount() > 1) {
    (void)change_index_->Rebuild();
  }
}

DBResult DSBASE::StoreNewRecord(const std::uint8_t* record, std::uint32_t* slot) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (logging_ && (read_only_ || no_inserts_)) return DBResult::kTableReadOnly;
    std::uint32_t s = 0;
    ZELVO_RETURN_IF_ERROR(store_.TakeSlot(kStoreGrowth, &s));
    store_.WriteRecord(s, record);
    store_.set_state(s, logging_ ? RowInserted : 0);
    DBResult r = RunCalcHook(s);
    if (Ok(r)) r = EnterOrderings(s);
    if (!Ok(r)) {
      store_.NullSlot(s);
      store_.set_state(s, 0);
      store_.GiveBackHighest();
      return r;
    }
    ++live_count_;
    if (logging_) change_log_.Append({s, 0, kChangeInsert});
    store_.blobs().Commit();
    NoteChange();
    RefreshChangeIndex();
    *slot = s;
    return DBResult::kOk;
  });
}

DBResult DSBASE::ModifyRecord(std::uint32_t slot, const std::uint8_t* record,
                              std::uint32_t* new_slot) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (!store_.IsLiveSlot(slot)) {
      return slot == 0 || slot > store_.highest_slot() ? DBResult::kOutOfRange
                                                      : DBResult::kWrongState;
    }
    if (logging_) {
      if (read_only_ || no_edits_) return DBResult::kTableReadOnly;
      std::uint32_t n = 0;
      ZELVO_RETURN_IF_ERROR(store_.TakeSlot(kStoreGrowth, &n));
      const std::uint8_t old_state = store_.state(slot);
      store_.WriteRecord(n, record);
      store_.set_state(n, static_cast<std::uint8_t>(RowModified | (old_state & RowInserted)));
      DBResult r = RunCalcHook(n);
      std::size_t done = 0;
      for (; Ok(r) && done < orderings_.size(); ++done) {
        r = orderings_[done]->ReplaceSlot(slot, n);
        if (!Ok(r)) break;
      }
      if (!Ok(r)) {
        while (done-- > 0) (void)orderings_[done]->ReplaceSlot(n, slot);
        store_.NullSlot(n);
        store_.set_state(n, 0);
        store_.GiveBackHighest();
        return r;
      }
      store_.set_state(slot, static_cast<std::uint8_t>(old_state | RowOriginal));
      change_log_.Append({n, slot, kChangeModify});
      store_.blobs().Commit();
      NoteChange();
      RefreshChangeIndex();
      *new_slot = n;
      return DBResult::kOk;
    }

    // In place, through the scratch slot after the highest one, so that every ordering
    // can place the new values before the slot takes them.
    const std::uint32_t scratch = store_.next_slot();
    ZELVO_RETURN_IF_ERROR(store_.Reserve(std::max(store_.capacity(), scratch)));
    if (scratch > store_.capacity()) {
      ZELVO_RETURN_IF_ERROR(store_.Reserve(store_.capacity() + kStoreGrowth));
    }
    store_.CopySlot(slot, scratch);
    bool applied = false;
    const auto& fields = store_.fields();
    const std::uint8_t* states = record + store_.data_size();
    for (std::uint32_t f = 0; f < fields.size(); ++f) {
      if (states[f] == kFieldUnchanged) continue;
      if (fields[f].length != 0) {
        std::memcpy(store_.Value(scratch, f), record + fields[f].offset, fields[f].length);
      }
      store_.FieldStates(scratch)[f] = states[f];
      applied = true;
    }
    *new_slot = slot;
    if (!applied) return DBResult::kOk;
    DBResult r = RunCalcHook(scratch);
    std::size_t done = 0;
    for (; Ok(r) && done < orderings_.size(); ++done) {
      r = orderings_[done]->ReplaceSlot(slot, scratch);
      if (!Ok(r)) break;
    }
    if (!Ok(r)) {
      while (done-- > 0) (void)orderings_[done]->ReplaceSlot(scratch, slot);
      store_.NullSlot(scratch);
      store_.set_state(scratch, 0);
      return r;
    }
    const std::uint8_t state = store_.state(slot);
    store_.CopySlot(scratch, slot);
    store_.set_state(slot, state);
    for (Ordering* o : orderings_) (void)o->ReplaceSlot(scratch, slot);
    store_.NullSlot(scratch);
    store_.set_state(scratch, 0);
    store_.blobs().Commit();
    NoteChange();
    return DBResult::kOk;
  });
}

DBResult DSBASE::DeleteRecord(std::uint32_t slot) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (logging_ && (read_only_ || no_deletes_)) return DBResult::kTableReadOnly;
    if (!store_.IsLiveSlot(slot)) return DBResult::kWrongState;
    store_.set_state(slot, static_cast<std::uint8_t>(store_.state(slot) | RowDeleted));
    LeaveOrderings(slot);
    --live_count_;
    if (logging_) change_log_.Append({slot, 0, kChangeDelete});
    NoteChange();
    RefreshChangeIndex();
    return DBResult::kOk;
  });
}

void DSBASE::FreeSlot(std::uint32_t slot) {
  if (slot == 0 || slot > store_.highest_slot()) return;
  if ((store_.state(slot) & RowUnused) != 0) return;
  store_.NullSlot(slot);
  if (slot == store_.highest_slot()) {
    store_.set_state(slot, 0);
    store_.GiveBackHighest();
  } else {
    store_.set_state(slot, RowUnused);
    ++freed_count_;
  }
}

std::uint32_t DSBASE::OldestVersion(std::uint32_t slot) const {
  return change_log_.OldestVersion(slot);
}

DBResult DSBASE::UndoNewestChange(std::uint32_t* restored_slot) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (delta_) return DBResult::kWrongState;
    *restored_slot = 0;
    while (!change_log_.empty() && change_log_.entries().back().kind == kChangeSkip) {
      change_log_.PopNewest();
    }
    if (change_log_.empty()) return DBResult::kEmptyChangeLog;
    const ChangeEntry e = change_log_.entries().back();
    switch (e.kind) {
      case kChangeInsert: {
        LeaveOrderings(e.slot);
        const bool highest = e.slot == store_.highest_slot();
        FreeSlot(e.slot);
        if (highest && auto_inc_field_ != 0) --next_auto_inc_;
        --live_count_;
        break;
      }
      case kChangeDelete: {
        const std::uint8_t state = store_.state(e.slot);
        store_.set_state(e.slot, static_cast<std::uint8_t>(state & ~RowDeleted));
        DBResult r = RunCalcHook(e.slot);
        if (Ok(r)) r = EnterOrderings(e.slot);
        if (!Ok(r)) {
          store_.set_state(e.slot, state);
          return r;
        }
        ++live_count_;
        *restored_slot = e.slot;
        break;
      }
      case kChangeModify: {
        const std::uint8_t state = store_.state(e.previous);
        store_.set_state(e.previous, static_cast<std::uint8_t>(state & ~RowOriginal));
        DBResult r = RunCalcHook(e.previous);
        std::size_t done = 0;
        for (; Ok(r) && done < orderings_.size(); ++done) {
          r = orderings_[done]->ReplaceSlot(e.slot, e.previous);
          if (!Ok(r)) break;
        }
        if (!Ok(r)) {
          while (done-- > 0) (void)orderings_[done]->ReplaceSlot(e.previous, e.slot);
          store_.set_state(e.previous, state);
          return r;
        }
        FreeSlot(e.slot);
        *restored_slot = e.previous;
        break;
      }
      default:  // a nested table's change: nothing of ours to undo
        break;
    }
    change_log_.PopNewest();
    store_.blobs().DropPending();
    NoteChange();
    RefreshChangeIndex();
    return DBResult::kOk;
  });
}

DBResult DSBASE::RestoreRecord(std::uint32_t slot, std::uint32_t* restored_slot) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (delta_) return DBResult::kWrongState;
    *restored_slot = slot;
    if (change_log_.empty() || slot == 0 || slot > store_.highest_slot()) return DBResult::kOk;
    const std::uint8_t state = store_.state(slot);
    if ((state & (RowInserted | RowModified | RowDeleted)) == 0) return DBResult::kOk;
    const std::vector<std::uint32_t> versions = change_log_.VersionsOf(slot);  // newest first
    const std::uint32_t oldest = versions.back();
    const bool inserted = (store_.state(oldest) & RowInserted) != 0 &&
                          std::any_of(change_log_.entries().begin(), change_log_.entries().end(),
                                      [&](const ChangeEntry& e) {
                                        return e.kind == kChangeInsert && e.slot == oldest;
                                      });
    const bool live = IsLive(state);
    if (inserted) {
      if (live) {
        LeaveOrderings(slot);
        --live_count_;
      }
      for (std::uint32_t v : versions) FreeSlot(v);
      *restored_slot = 0;
    } else {
      const std::uint8_t oldest_state = store_.state(oldest);
      store_.set_state(oldest, static_cast<std::uint8_t>(oldest_state & ~(RowOriginal | RowDeleted)));
      // A live record takes its oldest version back at its place in every ordering.
      DBResult r = DBResult::kOk;
      if (live) {
        for (Ordering* o : orderings_) {
          if (o->PositionOf(slot) != 0) r = o->ReplaceSlot(slot, oldest);
          if (!Ok(r)) break;
        }
      } else {
        r = EnterOrderings(oldest);
      }
      if (!Ok(r)) {
        store_.set_state(oldest, oldest_state);
        (void)RebuildOrderings();
        return r;
      }
      for (std::uint32_t v : versions) {
        if (v != oldest) FreeSlot(v);
      }
      if (!live) ++live_count_;
      *restored_slot = oldest;
    }
    change_log_.RemoveEntriesOf(versions);
    NoteChange();
    RefreshChangeIndex();
    return DBResult::kOk;
  });
}

DBResult DSBASE::MergeChanges() {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (delta_ || change_log_.empty()) return DBResult::kOk;
    // Free the highest slots last, so that freeing gives them back to the store.
    std::vector<std::uint32_t> slots;
    for (const ChangeEntry& e : change_log_.entries()) {
      slots.push_back(e.slot);
      if (e.previous != 0) slots.push_back(e.previous);
    }
    std::sort(slots.begin(), slots.end(), std::greater<>());
    slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
    for (std::uint32_t s : slots) {
      if (s == 0 || s > store_.highest_slot()) continue;
      if (IsLive(store_.state(s))) store_.set_state(s, 0);
    }
    for (std::uint32_t s : slots) {
      if (s != 0 && s <= store_.highest_slot() && !IsLive(store_.state(s))) FreeSlot(s);
    }
    change_log_.Clear();
    if (change_index_ != nullptr) (void)change_index_->Rebuild();
    return DBResult::kOk;
  });
}

DBResult DSBASE::DefineIndex(const IndexDesc& in) {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (!defined()) return DBResult::kWrongState;
    if (in.field_count > kMaxKeyFields) return DBResult::kInvalidArgument;
    for (std::uint32_t i = 0; i < in.field_count; ++i) {
      if (in.fields[i] == 0 || in.fields[i] > store_.field_count()) return DBResult::kInvalidArgument;
    }
    IndexDesc desc = in;
    if (desc.Name().empty()) desc.SetName(kDefaultOrderName);
    Ordering* found = FindOrdering(desc.Name());
    if (found == default_order()) {
      // The default order takes key fields once, and only while it has none.
      if (default_order_defined_ || found->desc().field_count != 0) return DBResult::kIndexInUse;
      if (desc.field_count == 0) return DBResult::kOk;
      ZELVO_RETURN_IF_ERROR(found->Redefine(desc));
      default_order_defined_ = true;
      return DBResult::kOk;
    }
    if (found != nullptr) {
      return found->desc().SameDefinition(desc) ? DBResult::kOk : DBResult::kIndexExists;
    }
    Ordering* index = NewIndex(this, desc, false);
    if (index == nullptr) return DBResult::kOutOfMemory;
    DBResult r = index->Rebuild();
    if (!Ok(r)) {
      index->Release();
      return r;
    }
    index->set_id(next_ordering_id_++);
    orderings_.push_back(index);
    return DBResult::kOk;
  });
}

DBResult DSBASE::DropIndex(std::string_view name) {
  std::lock_guard guard(lock_);
  if (name.empty() || name == kDefaultOrderName) return DBResult::kIndexInUse;
  Ordering* found = FindOrdering(name);
  if (found == nullptr || found == change_index_) {
    return found == nullptr ? DBResult::kIndexNotFound : DBResult::kIndexInUse;
  }
  if (found->RefCount() > 1) return DBResult::kIndexInUse;
  orderings_.erase(std::find(orderings_.begin(), orderings_.end(), found));
  found->Release();
  return DBResult::kOk;
}

void DSBASE::AddOrdering(Ordering* ordering) {
  std::lock_guard guard(lock_);
  ordering->set_id(next_ordering_id_++);
  orderings_.push_back(ordering);
}

void DSBASE::DropUnusedOrdering(Ordering* ordering) {
  std::lock_guard guard(lock_);
  if (ordering == nullptr || !(ordering->temporary() || ordering->kind() == OrderingKind::kFiltered)) {
    return;
  }
  if (ordering->RefCount() > 1) return;
  auto it = std::find(orderings_.begin(), orderings_.end(), ordering);
  if (it == orderings_.end()) return;
  orderings_.erase(it);
  ordering->Release();
}

bool DSBASE::VersionsEqual(std::uint32_t newest, std::uint32_t older) const {
  const auto& fields = store_.fields();
  const std::uint8_t* sn = store_.FieldStates(newest);
  const std::uint8_t* so = store_.FieldStates(older);
  for (std::uint32_t f = 0; f < fields.size(); ++f) {
    const FieldDesc& d = fields[f];
    if (d.calculated != kStoredField || sn[f] == kFieldUnchanged || d.length == 0) continue;
    const bool null_n = sn[f] != kFieldValue, null_o = so[f] != kFieldValue;
    if (null_n || null_o) {
      if (null_n != null_o) return false;
      continue;
    }
    if (d.type == FT_BLOB) {
      std::uint32_t hn = 0, ho = 0;
      std::memcpy(&hn, store_.Value(newest, f), 4);
      std::memcpy(&ho, store_.Value(older, f), 4);
      const std::uint8_t *bn = nullptr, *bo = nullptr;
      std::uint32_t ln = 0, lo = 0;
      if (!Ok(store_.blobs().BlobBytes(hn, &bn, &ln)) ||
          !Ok(store_.blobs().BlobBytes(ho, &bo, &lo))) {
        if (hn != ho) return false;
        continue;
      }
      if (ln != lo || (ln != 0 && std::memcmp(bn, bo, ln) != 0)) return false;
      continue;
    }
    if (zelvo::CompareFieldValues(d.type, store_.Value(newest, f), store_.Value(older, f),
                                  d.units1, lcid_) != 0) {
      return false;
    }
  }
  return true;
}

std::uint32_t DSBASE::CountChanges() const {
  if (delta_) return store_.highest_slot();
  const auto& entries = change_log_.entries();
  std::vector<bool> absorbed(entries.size(), false);
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (absorbed[i]) continue;
    const ChangeEntry& e = entries[i];
    if (e.kind == kChangeDelete) {
      ++count;
      continue;
    }
    if (e.kind != kChangeInsert && e.kind != kChangeModify) continue;
    // Follow the record's later versions; a delete of the newest one ends the chain.
    std::uint32_t newest = e.slot;
    bool deleted = false;
    for (std::size_t j = i + 1; j < entries.size(); ++j) {
      if (absorbed[j]) continue;
      if (entries[j].kind == kChangeModify && entries[j].previous == newest) {
        newest = entries[j].slot;
        absorbed[j] = true;
      } else if (entries[j].kind == kChangeDelete && entries[j].slot == newest) {
        absorbed[j] = true;
        deleted = true;
        break;
      }
    }
    if (e.kind == kChangeInsert) {
      if (!deleted) ++count;
    } else if (deleted || !VersionsEqual(newest, e.previous)) {
      ++count;
    }
  }
  return count;
}

DBResult DSBASE::DescribeTable(TableDesc* desc) const {
  std::lock_guard guard(lock_);
  if (desc == nullptr) return DBResult::kInvalidArgument;
  *desc = TableDesc{};
  std::memcpy(desc->name, name_.data(), std::min<std::size_t>(name_.size(), 260));
  desc->field_count = store_.field_count();
  desc->record_size = store_.record_size();
  desc->read_only = read_only_;
  desc->index_count = 0;
  for (const Ordering* o : orderings_) {
    if (!o->temporary() && o->kind() != OrderingKind::kFiltered) ++desc->index_count;
  }
  desc->param_count = static_cast<std::uint32_t>(kept_.size());
  desc->delta = delta_;
  desc->lcid = lcid_;
  return DBResult::kOk;
}

DBResult DSBASE::DescribeFields(std::vector<FieldDesc>* fields) const {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (fields == nullptr) return DBResult::kInvalidArgument;
    *fields = store_.fields();
    for (FieldDesc& f : *fields) {
      f.param_count = static_cast<std::uint32_t>(
          std::count_if(kept_.begin(), kept_.end(),
                        [&](const KeptParameter& p) { return p.field_number == f.field_number; }));
    }
    return DBResult::kOk;
  });
}

DBResult DSBASE::DescribeIndexes(std::vector<IndexDesc>* indexes) const {
  std::lock_guard guard(lock_);
  return Guarded([&] {
    if (indexes == nullptr) return DBResult::kInvalidArgument;
    indexes->clear();
    for (const Ordering* o : orderings_) {
      if (!o->temporary() && o->kind() == OrderingKind::kPlain) indexes->push_back(o->desc());
    }
    return DBResult::kOk;
  });
}

DBResult DSBASE::SetSlotFieldState(std::uint8_t* record, std::uint32_t slot,
                                   std::uint32_t field, std::uint8_t state) {
  std::lock_guard guard(lock_);
  if (field == 0 || field > store_.field_count()) return DBResult::kInvalidArgument;
  if (record == nullptr && (slot == 0 || slot >= store_.next_slot())) return DBResult::kOutOfRange;
  const auto& fields = store_.fields();
  auto set = [&](std::uint32_t f) {
    if (record != nullptr) record[fields[f].state_offset] = state;
    else store_.FieldStates(slot)[f] = state;
  };
  set(field - 1);
  // A null structure takes its descendants with it.
  const FieldDesc& d = fields[field - 1];
  if (state == kFieldNull && (d.type == FT_STRUCT || d.type == FT_ARRAY)) {
    for (std::uint32_t f = field; f < field + d.units2 && f < fields.size(); ++f) set(f);
  }
  return DBResult::kOk;
}

DBResult DSBASE::GetErrorText(DBResult code, char* text, std::size_t capacity) const {
  return zelvo::GetErrorText(code, text, capacity);
}

int DSBASE::CompareFieldValues(std::uint32_t field_type, const void* a, const void* b,
                               std::uint32_t units) const {
  return zelvo::CompareFieldValues(field_type, a, b, units, lcid_);
}

DBResult DSBASE::DropPendingBlobs(std::uint32_t handle) {
  std::lock_guard guard(lock_);
  if (handle == 0) store_.blobs().DropPending();
  else store_.blobs().DropPendingBlob(handle);
  return DBResult::kOk;
}

DBResult DSBASE::SetCalcHook(void* datum, CalcHookFn hook) {
  std::lock_guard guard(lock_);
  calc_datum_ = datum;
  calc_hook_ = hook;
  return DBResult::kOk;
}

DBResult DSBASE::ReadTableOption(std::uint32_t option, std::uint64_t* value) {
  std::lock_guard guard(lock_);
  if (value == nullptr) return DBResult::kInvalidArgument;
  switch (option) {
    case kOptLogChanges: *value = logging_; break;
    case kOptReadOnly: *value = read_only_; break;
    case kOptChangeCount: *value = CountChanges(); break;
    case kOptNoConstraints: *value = no_constraints_; break;
    case kOptPartialPacket: *value = 0; break;
    case kOptLiveCount: *value = live_count_; break;
    case kOptNoAutoIncrement: *value = auto_inc_field_ == 0; break;
    case kOptDelta: *value = delta_; break;
    case kOptNoMetadata: *value = no_metadata_; break;
    case kOptBlobsInDelta: *value = blobs_in_delta_; break;
    case kOptSavePoint: *value = change_log_.size(); break;
    case kOptFieldCountMode: *value = field_count_mode_; break;
    case kOptMasterDetail: *value = master_detail_; break;
    case kOptChangeView: *value = change_view_; break;
    case kOptUpdateMode: *value = update_mode_; break;
    case kOptXmlMode: *value = xml_mode_; break;
    case kOptNoDeletes: *value = no_deletes_; break;
    case kOptNoInserts: *value = no_inserts_; break;
    case kOptNoEdits: *value = no_edits_; break;
    case kOptNoTrim: *value = no_trim_; break;
    case kOptHasChanged:
      *value = has_changed_;
      has_changed_ = 0;
      break;
    case 15: {  // parent field of the field number given in *value
      if (*value == 0 || *value > store_.field_count()) return DBResult::kInvalidArgument;
      *value = store_.fields()[*value - 1].parent_number;
      break;
    }
    case 17: {  // the first listed plain unique index: its position in DescribeIndexes
      std::uint64_t position = 0;
      for (const Ordering* o : orderings_) {
        if (o->temporary() || o->kind() != OrderingKind::kPlain) continue;
        ++position;
        if (o->desc().unique != 0) {
          *value = position;
          return DBResult::kOk;
        }
      }
      return DBResult::kIndexNotFound;
    }
    default:
      return DBResult::kInvalidArgument;
  }
  return DBResult::kOk;
}

DBResult DSBASE::WriteTableOption(std::uint32_t option, std::uint64_t value) {
  std::lock_guard guard(lock_);
  switch (option) {
    case kOptLogChanges: logging_ = value != 0; break;
    case kOptReadOnly: read_only_ = value != 0; break;
    case kOptNoConstraints: no_constraints_ = value != 0; break;
    case kOptPartialPacket: return DBResult::kWrongState;  // no packet is ever pending
    case kOptNoAutoIncrement:
      if (auto_inc_field_ == 0) return DBResult::kWrongState;
      if (value != 0) auto_inc_field_ = 0;
      break;
    case kOptNoMetadata: no_metadata_ = value != 0; break;
    case kOptBlobsInDelta: blobs_in_delta_ = value != 0; break;
    case kOptFieldCountMode: field_count_mode_ = value; break;
    case kOptMasterDetail: master_detail_ |= value; break;
    case kOptChangeView:
      change_view_ = value;
      if (change_index_ != nullptr) return change_index_->Rebuild();
      break;
    case kOptUpdateMode: update_mode_ = value; break;
    case kOptXmlMode: xml_mode_ = value; break;
    case kOptNoDeletes: no_deletes_ = value != 0; break;
    case kOptNoInserts: no_inserts_ = value != 0; break;
    case kOptNoEdits: no_edits_ = value != 0; break;
    case kOptNoTrim: no_trim_ = value != 0; break;
    case kOptHasChanged: has_changed_ = value; break;
    default: return DBResult::kInvalidArgument;
  }
  return DBResult::kOk;
}

}  // namespace zelvo
