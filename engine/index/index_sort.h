// The bulk sort of an index's entries: a quicksort taken part by part down to parts of ten
// entries, then one insertion sort over everything. The order that equal keys end up in
// follows from these exact steps, so they are kept as they are.
#pragma once

#include <cstdint>
#include <vector>

namespace zelvo {

// Compares two slots under an index's keys: negative, 0 or positive. Slot 0 stands below
// every record and kSortTop above every record (the sentinels).
class SlotOrder {
 public:
  virtual ~SlotOrder() = default;
  virtual int Compare(std::uint32_t a, std::uint32_t b) const = 0;
};

constexpr std::uint32_t kSortTop = 0xFFFFFFFF;

// Sorts `slots` (the entries of positions 1 .. n) in place.
void SortEntries(const SlotOrder& order, std::vector<std::uint32_t>* slots);

}  // namespace zelvo
