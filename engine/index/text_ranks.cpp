// Distinct texts, their sort keys and ranks.
#include "index/text_ranks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "fields/collation.h"
#include "table/record_store.h"

namespace zelvo {

namespace {

// Open addressing over the distinct texts: a card table repeats most of its names and
// types, so the table stays small while every record is looked up once.
class DistinctTexts {
 public:
  explicit DistinctTexts(std::size_t expected) {
    std::size_t capacity = 64;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, kEmpty);
  }

  std::uint32_t IdOf(std::string_view text) {
    if (texts_.size() * 2 >= slots_.size()) Grow();
    std::size_t i = Hash(text) & (slots_.size() - 1);
    while (slots_[i] != kEmpty) {
      if (texts_[slots_[i]] == text) return slots_[i];
      i = (i + 1) & (slots_.size() - 1);
    }
    slots_[i] = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(text);
    return slots_[i];
  }
  const std::vector<std::string_view>& texts() const { return texts_; }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

  static std::size_t Hash(std::string_view text) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
  void Grow() {
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(old.size() * 2, kEmpty);
    for (std::uint32_t id : old) {
      if (id == kEmpty) continue;
      std::size_t i = Hash(texts_[id]) & (slots_.size() - 1);
      while (slots_[i] != kEmpty) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = id;
    }
  }

  std::vector<std::uint32_t> slots_;
  std::vector<std::string_view> texts_;
};

}  // namespace

std::vector<std::uint32_t> RankTexts(const RecordStore& store, std::uint32_t field_index,
                                     const Collation& collation) {
  const std::uint32_t highest = store.highest_slot();
  const std::uint32_t width = store.fields()[field_index].length;
  std::vector<std::uint32_t> ids(highest + 1, 0);
  DistinctTexts distinct(1024);
  for (std::uint32_t slot = 1; slot <= highest; ++slot) {
    if (!IsLive(store.state(slot)) || store.FieldStates(slot)[field_index] != 0) continue;
    const char* text = reinterpret_cast<const char*>(store.Value(slot, field_index));
    ids[slot] = distinct.IdOf({text, ::strnlen(text, width)});
  }
  const auto& texts = distinct.texts();
  std::vector<std::string> keys(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    collation.SortKey8(texts[i].data(), texts[i].size(), &keys[i]);
  }
  std::vector<std::uint32_t> order(texts.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  std::vector<std::uint32_t> rank_of(texts.size());
  std::uint32_t rank = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i == 0 || keys[order[i]] != keys[order[i - 1]]) ++rank;
    rank_of[order[i]] = rank;
  }
  for (std::uint32_t slot = 1; slot <= highest; ++slot) {
    if (IsLive(store.state(slot)) && store.FieldStates(slot)[field_index] == 0) {
      ids[slot] = rank_of[ids[slot]];
    }
  }
  return ids;
}

}  // namespace zelvo
