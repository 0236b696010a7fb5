// Bulk sort of index entries.
#include "index/index_sort.h"

#include <algorithm>

namespace zelvo {

namespace {

constexpr std::uint32_t kSortTop = 0xFFFFFFFF;

}  // namespace

void SortEntries(const SlotOrder& order, std::vector<std::uint32_t>* slots) {
  const auto count = static_cast<std::int64_t>(slots->size());
  if (count < 2) return;
  // Positions 0 and count + 1 hold the sentinels while sorting: slot 0 below every record,
  // kSortTop above.
  std::vector<std::uint32_t> entries;
  entries.reserve(slots->size() + 2);
  entries.push_back(0);
  entries.insert(entries.end(), slots->begin(), slots->end());
  entries.push_back(kSortTop);
  auto compare = [&order](std::uint32_t a, std::uint32_t b) {
    if (a == b) return 0;
    if (a == 0 || b == kSortTop) return -1;
    if (a == kSortTop || b == 0) return 1;
    return order.Compare(a, b);
  };
  sort_internal::Sorter<std::uint32_t, decltype(compare)>(entries, compare).Sort(count);
  std::copy(entries.begin() + 1, entries.end() - 1, slots->begin());
}

void SortKeyedEntries(std::vector<KeyedSlot>* entries) {
  const auto count = static_cast<std::int64_t>(entries->size());
  if (count < 2) return;
  entries->insert(entries->begin(), KeyedSlot{0, 0});
  entries->push_back(KeyedSlot{~std::uint64_t{0}, kSortTop});
  auto compare = [](const KeyedSlot& a, const KeyedSlot& b) {
    return a.key < b.key ? -1 : (a.key > b.key ? 1 : 0);
  };
  sort_internal::Sorter<KeyedSlot, decltype(compare)>(*entries, compare).Sort(count);
  entries->pop_back();
  entries->erase(entries->begin());
}

}  // namespace zelvo
