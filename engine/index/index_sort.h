// The bulk sort of an index's entries: a quicksort taken part by part down to parts of ten
// entries, then one insertion sort over everything. The order that equal keys end up in
// follows from these exact steps, so they are kept as they are, whatever the entries hold.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace zelvo {

// Compares two slots under an index's keys: negative, 0 or positive.
class SlotOrder {
 public:
  virtual ~SlotOrder() = default;
  virtual int Compare(std::uint32_t a, std::uint32_t b) const = 0;
};

// Sorts `slots` (the entries of positions 1 .. n) in place.
void SortEntries(const SlotOrder& order, std::vector<std::uint32_t>* slots);

// A slot with its whole key folded into one number: the fast path for one-field keys whose
// values have ranks. Keys 0 and ~0 are reserved for the sentinels.
struct KeyedSlot {
  std::uint64_t key;
  std::uint32_t slot;
};
void SortKeyedEntries(std::vector<KeyedSlot>* entries);

namespace sort_internal {

// The sort over positions 0 .. count + 1 of `e`, where 0 and count + 1 hold sentinels that
// `compare` orders below and above everything.
template <typename T, typename Compare>
class Sorter {
 public:
  Sorter(std::vector<T>& e, Compare compare) : e_(e), compare_(compare) {}

  void Sort(std::int64_t count) {
    if (count > kSmallPart) QuickSort(1, count);
    InsertionSort(count);
  }

 private:
  static constexpr std::int64_t kSmallPart = 10;

  bool Greater(std::int64_t i, std::int64_t j) const { return compare_(e_[i], e_[j]) > 0; }
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
      const T pivot = e_[low];
      std::int64_t i = low;
      std::int64_t j = high + 1;
      for (;;) {
        do ++i; while (compare_(e_[i], pivot) < 0);
        do --j; while (compare_(pivot, e_[j]) < 0);
        if (i >= j) break;
        Swap(i, j);
      }
      Swap(low, j);
      const std::int64_t left = j - low;    // low .. j - 1
      const std::int64_t right = high - j;  // j + 1 .. high
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
      const T v = e_[i + 1];
      std::int64_t gap = i + 1;
      while (compare_(e_[gap - 1], v) > 0) {  // the sentinel at 0 stops the scan
        e_[gap] = e_[gap - 1];
        --gap;
      }
      e_[gap] = v;
    }
  }

  std::vector<T>& e_;
  Compare compare_;
};

}  // namespace sort_internal
}  // namespace zelvo
