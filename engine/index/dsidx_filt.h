// DSIDXFILT: an ordering that holds only the live records passing its filters, kept in
// step on every insert, modification and delete.
#pragma once

#include <memory>
#include <vector>

#include "index/dsidx.h"
#include "table/record_filter.h"

namespace zelvo {

class DSIDXFILT final : public FilteredOrdering {
 public:
  DSIDXFILT(DSBASE* table, const IndexDesc& desc);

  OrderingKind kind() const override { return OrderingKind::kFiltered; }
  const IndexDesc& desc() const override { return index_.desc(); }
  bool temporary() const override { return false; }
  std::uint32_t id() const override { return index_.id(); }
  void set_id(std::uint32_t id) override { index_.set_id(id); }
  std::uint64_t change_count() const override { return index_.change_count(); }
  std::uint32_t Count() const override { return index_.Count(); }
  std::uint32_t SlotAt(std::uint32_t position) const override { return index_.SlotAt(position); }
  std::uint32_t PositionOf(std::uint32_t slot) const override { return index_.PositionOf(slot); }

  DBResult InsertSlot(std::uint32_t slot) override;
  DBResult RemoveSlot(std::uint32_t slot) override;
  DBResult ReplaceSlot(std::uint32_t old_slot, std::uint32_t new_slot) override;
  DBResult Rebuild() override;
  DBResult Redefine(const IndexDesc& desc) override;
  DBResult RebuildFrom(const Ordering* source) override;
  void SetInsertionHint(std::uint32_t position) override { index_.SetInsertionHint(position); }
  int CompareWithKey(std::uint32_t position, const std::uint8_t* key, std::uint32_t fields,
                     std::uint32_t partial_length) const override {
    return index_.CompareWithKey(position, key, fields, partial_length);
  }
  std::uint32_t FirstNotLess(const std::uint8_t* key, std::uint32_t fields,
                             std::uint32_t partial_length) const override {
    return index_.FirstNotLess(key, fields, partial_length);
  }

  std::uint32_t AddFilter(std::unique_ptr<RecordFilter> filter) override;
  DBResult RemoveFilter(std::uint32_t handle) override;
  std::size_t FilterCount() const override { return filters_.size(); }
  RecordFilter* FilterAt(std::size_t i) const override { return filters_[i].filter.get(); }
  std::uint32_t HandleAt(std::size_t i) const override { return filters_[i].handle; }
  bool Accepts(std::uint32_t slot) override;
  DBResult RebuildAs(const IndexDesc& desc, const Ordering* source) override;

 private:
  struct Entry {
    std::uint32_t handle;
    std::unique_ptr<RecordFilter> filter;
  };
  // The passing records of `slots`, in their order.
  std::vector<std::uint32_t> Passing(const std::vector<std::uint32_t>& slots);

  // The entries and key handling of a plain index; this class decides what goes in.
  class Entries final : public DSIDX {
   public:
    using DSIDX::DSIDX;
    DBResult Fill(std::vector<std::uint32_t> slots, bool sort);
    void SetDesc(const IndexDesc& desc) { desc_ = desc; }
  };
  Entries index_;
  std::vector<Entry> filters_;
  std::uint32_t next_handle_ = 1;
};

}  // namespace zelvo
