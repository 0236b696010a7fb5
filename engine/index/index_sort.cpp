// Bulk sort of index entries.
#include "index/index_sort.h"

#include <utility>

namespace zelvo {

namespace {

constexpr std::int64_t kSmallPart = 10;

class Sorter {
 public:
  Sorter(const SlotOrder& order, std::vector<std::uint32_t>* entries)
      : order_(order), e_(*entries) {}

  // The sentinels at both ends decide before any record is compared.
  int Compare(std::uint32_t a, std::uint32_t b) const {
    if (a == b) return 0;
    if (a == 0 || b == kSortTop) return -1;
    if (a == kSortTop || b == 0) return 1;
    return order_.Compare(a, b);
  }
  bool Greater(std::int64_t i, std::int64_t j) const { return Compare(e_[i], e_[j]) > 0; }
  void Swap(std::int64_t i, std::int64_t j) { std::swap(e_[i], e_[j]); }

  void QuickSort(std::int64_t low, std::int64_t high) {
    for (;;) {
      const std::int64_t middle = low + (high - low) / 2;
      if (high - low <= 3) {
        Swap(low, middle);
      } else {
        if (Greater(low, high)) Swap(low, high);
        if (Greater(middle, low)) {
          Swap(low, middle);
          if (Greater(low, high)) Swap(low, high);
        }
      }
      const std::uint32_t pivot = e_[low];
      std::int64_t i = low;
      std::int64_t j = high + 1;
      for (;;) {
        do ++i; while (Compare(e_[i], pivot) < 0);
        do --j; while (Compare(pivot, e_[j]) < 0);
        if (i >= j) break;
        Swap(i, j);
      }
      Swap(low, j);
      const std::int64_t left = j - low;     // low .. j - 1
      const std::int64_t right = high - j;   // j + 1 .. high
      if (right < left) {
        if (right > kSmallPart) QuickSort(j + 1, high);
        if (left <= kSmallPart) return;
        high = j - 1;
      } else {
        if (left > kSmallPart) QuickSort(low, j - 1);
        if (right <= kSmallPart) return;
        low = j + 1;
      }
    }
  }

  void InsertionSort(std::int64_t count) {
    for (std::int64_t i = 1; i < count; ++i) {
      if (!Greater(i, i + 1)) continue;
      const std::uint32_t v = e_[i + 1];
      std::int64_t gap = i + 1;
      while (Compare(e_[gap - 1], v) > 0) {  // the sentinel at 0 stops the scan
        e_[gap] = e_[gap - 1];
        --gap;
      }
      e_[gap] = v;
    }
  }

 private:
  const SlotOrder& order_;
  std::vector<std::uint32_t>& e_;
};

}  // namespace

void SortEntries(const SlotOrder& order, std::vector<std::uint32_t>* slots) {
  const auto count = static_cast<std::int64_t>(slots->size());
  if (count < 2) return;
  // Positions 0 and count + 1 hold the sentinels while sorting.
  std::vector<std::uint32_t> entries;
  entries.reserve(slots->size() + 2);
  entries.push_back(0);
  entries.insert(entries.end(), slots->begin(), slots->end());
  entries.push_back(kSortTop);
  Sorter sorter(order, &entries);
  if (count > kSmallPart) sorter.QuickSort(1, count);
  sorter.InsertionSort(count);
  std::copy(entries.begin() + 1, entries.end() - 1, slots->begin());
}

}  // namespace zelvo
