// DSIDX: an ordering of a table's live records as an array of slot numbers, with or without
// key fields; DSIDXCHG: the change-log ordering CHANGEINDEX.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fields/field_compare.h"
#include "table/ordering.h"

namespace zelvo {

class DSBASE;

class DSIDX : public Ordering {
 public:
  // The table outlives its orderings: it holds the first reference of each.
  DSIDX(DSBASE* table, const IndexDesc& desc, OrderingKind kind, bool temporary);

  OrderingKind kind() const override { return kind_; }
  const IndexDesc& desc() const override { return desc_; }
  bool temporary() const override { return temporary_; }
  std::uint32_t id() const override { return id_; }
  void set_id(std::uint32_t id) override { id_ = id; }
  std::uint64_t change_count() const override { return change_count_; }

  std::uint32_t Count() const override { return static_cast<std::uint32_t>(entries_.size()); }
  std::uint32_t SlotAt(std::uint32_t position) const override { return entries_[position - 1]; }
  std::uint32_t PositionOf(std::uint32_t slot) const override;

  DBResult InsertSlot(std::uint32_t slot) override;
  DBResult RemoveSlot(std::uint32_t slot) override;
  DBResult ReplaceSlot(std::uint32_t old_slot, std::uint32_t new_slot) override;
  DBResult Rebuild() override;
  DBResult Redefine(const IndexDesc& desc) override;
  // Refills from `source`'s order, record by record (ties keep the source's order).
  DBResult RebuildFrom(const Ordering* source) override;
  int CompareWithKey(std::uint32_t position, const std::uint8_t* key, std::uint32_t fields,
                     std::uint32_t partial_length) const override;
  std::uint32_t FirstNotLess(const std::uint8_t* key, std::uint32_t fields,
                             std::uint32_t partial_length) const override;
  void SetInsertionHint(std::uint32_t position) override { hint_ = position; }

  // Prepares the key comparers of the descriptor's fields. kUnusableType for a key field
  // that cannot be a key, kInvalidArgument for a field number out of range.
  DBResult PrepareKeys();
  bool has_keys() const { return desc_.field_count != 0; }
  DSBASE* table() const { return table_; }
  // Compares two stored records under the key fields: negative, 0 or positive.
  int CompareSlots(std::uint32_t a, std::uint32_t b) const;
  // Compares a stored record with a key (a record buffer with the key fields filled) on
  // the first `fields` key fields, and on the next one's first `partial_length` characters.
  int CompareSlotWithKey(std::uint32_t slot, const std::uint8_t* key, std::uint32_t fields,
                         std::uint32_t partial_length) const;

 protected:
  // Fills the entries with `slots`: sorted in bulk, or inserted one by one in their order
  // (ties keep it); without key fields they stay as given.
  DBResult FillWith(std::vector<std::uint32_t> slots, bool bulk);

  DSBASE* table_;
  IndexDesc desc_;
  std::vector<std::uint32_t> entries_;  // position p holds entries_[p - 1]
  std::uint64_t change_count_ = 0;

 private:
  // Position after the last entry not greater than `slot`'s record (0 = before all).
  std::uint32_t UpperBound(std::uint32_t slot) const;
  // Position of the first entry equal to `slot`'s record, 0 when none.
  std::uint32_t FirstEqual(std::uint32_t slot) const;
  // Bulk build: the given records, then the entries sorted.
  DBResult BuildBulk();
  // One by one in `slots` order.
  DBResult BuildOneByOne(const std::vector<std::uint32_t>& slots);

  OrderingKind kind_;
  bool temporary_;
  std::uint32_t id_ = 0;
  std::uint32_t hint_ = 0;
  std::vector<std::unique_ptr<FLDObj>> comparers_;
};

// CHANGEINDEX: the records named by the change log, restricted by the table's change view
// (bits 2 deleted, 4 inserted, 8 modified; 0 all). It is refilled from the log rather than
// maintained entry by entry.
class DSIDXCHG final : public DSIDX {
 public:
  explicit DSIDXCHG(DSBASE* table);
  DBResult InsertSlot(std::uint32_t slot) override { return DBResult::kOk; }
  DBResult RemoveSlot(std::uint32_t slot) override { return DBResult::kOk; }
  DBResult ReplaceSlot(std::uint32_t, std::uint32_t) override { return DBResult::kOk; }
  DBResult Rebuild() override;
};

}  // namespace zelvo
