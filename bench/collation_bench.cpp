// Benchmarks of case-insensitive sorting of card-like names through locale collation:
// sort keys (per row and deduplicated) against a comparison-per-step sort for reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "fields/collation.h"

namespace zelvo {
namespace {

constexpr std::uint32_t kEnglishUs = 0x0409;

// Windows-1252 words; a card table repeats a few hundred thousand names over a small
// vocabulary, many of them accented.
constexpr const char* kWords[] = {
    "dragon",    "knight",   "shadow",         "storm",        "fire",      "ancient",
    "crystal",   "warden",   "serpent",        "golden",       "iron",      "rune",
    "spirit",    "beast",    "crown",          "hollow",       "ember",     "frost",
    "sword",     "oracle",   "titan",          "raven",        "wolf",      "tide",
    "cr\xE8me",  "\xE9lan",  "se\xF1or",       "m\xFCller",    "\xF8rsted", "z\xFCrich",
    "gar\xE7on", "na\xEFve", "\xE5ngstr\xF6m", "r\xE9sum\xE9", "co\xF6p",   "\x8Akoda",
    "\x9Cuvre",  "ni\xF1o",  "caf\xE9",        "d\xE9j\xE0",   "of",        "the",
    "lord",      "queen",    "mage",           "golem",        "wyrm",      "ca\xF1on"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>((state_ >> 33) % bound);
  }

 private:
  std::uint64_t state_;
};

char UpperLatin1(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 32);
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return static_cast<char>(byte - 32);
  if (byte == 0x9A || byte == 0x9C || byte == 0x9E) return static_cast<char>(byte - 16);
  return c;
}

// Two or three words, 5-30 bytes, mostly title case, some all lower or all upper.
std::vector<std::string> MakeNames(std::size_t count) {
  Lcg random(20240611);
  std::vector<std::string> names;
  names.reserve(count);
  while (names.size() < count) {
    std::string name;
    const std::uint32_t words = 2 + random.Next(2);
    const std::uint32_t casing = random.Next(20);
    for (std::uint32_t w = 0; w < words; ++w) {
      if (w > 0) name += ' ';
      std::string word = kWords[random.Next(kWordCount)];
      if (casing == 0) {
        for (char& c : word) c = UpperLatin1(c);
      } else if (casing > 1) {
        word[0] = UpperLatin1(word[0]);
      }
      name += word;
    }
    if (name.size() < 5 || name.size() > 30) continue;
    names.push_back(std::move(name));
  }
  return names;
}

const std::vector<std::string>& Names() {
  static const std::vector<std::string>* const names = new auto(MakeNames(1000000));
  return *names;
}

bool KeyLess(std::string_view a, std::string_view b) {
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  return c != 0 ? c < 0 : a.size() < b.size();
}

// The straightforward way: one key string per row, then sort rows by key.
void BM_SortKeyPerRow(benchmark::State& state) {
  const std::vector<std::string>& all = Names();
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const Collation& collation = Collation::For(kEnglishUs, true);
  for (auto _ : state) {
    std::vector<std::string> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
      collation.SortKey8(all[i].data(), all[i].size(), &keys[i]);
    }
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return KeyLess(keys[a], keys[b]); });
    benchmark::DoNotOptimize(order.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// Open-addressing set of the distinct names of a column; each row gets its name's id.
// std::unordered_map's node per name and pointer chase made it the slowest step.
class DistinctNames {
 public:
  std::uint32_t Add(std::string_view name) {
    if (2 * (names_.size() + 1) > slots_.size()) Grow();
    const std::size_t mask = slots_.size() - 1;
    const std::size_t hash = std::hash<std::string_view>{}(name);
    std::size_t slot = hash & mask;
    for (;; slot = (slot + 1) & mask) {
      const std::uint32_t id = slots_[slot];
      if (id == kEmpty) {
        slots_[slot] = static_cast<std::uint32_t>(names_.size());
        names_.push_back(name);
        return slots_[slot];
      }
      if (names_[id] == name) return id;
    }
  }

  const std::vector<std::string_view>& names() const { return names_; }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;

  void Grow() {
    slots_.assign(std::max<std::size_t>(slots_.size() * 2, 1024), kEmpty);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t id = 0; id < names_.size(); ++id) {
      const std::size_t hash = std::hash<std::string_view>{}(names_[id]);
      std::size_t slot = hash & mask;
      while (slots_[slot] != kEmpty) slot = (slot + 1) & mask;
      slots_[slot] = id;
    }
  }

  std::vector<std::uint32_t> slots_;
  std::vector<std::string_view> names_;
};

// Repeated names share one key: keys are built once per distinct name into one arena,
// the distinct names are sorted by key, and rows are then placed by their name's rank in
// one counting pass (stable, so rows with equal names keep their order).
void BM_SortKeyDeduplicated(benchmark::State& state) {
  const std::vector<std::string>& all = Names();
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const Collation& collation = Collation::For(kEnglishUs, true);
  for (auto _ : state) {
    DistinctNames distinct;
    std::vector<std::uint32_t> row_ids(n);
    for (std::size_t i = 0; i < n; ++i) row_ids[i] = distinct.Add(all[i]);
    const std::vector<std::string_view>& names = distinct.names();

    std::string arena;
    arena.reserve(names.size() * 32);
    std::vector<std::uint32_t> key_offsets;
    key_offsets.reserve(names.size() + 1);
    std::string key;
    for (std::string_view name : names) {
      key_offsets.push_back(static_cast<std::uint32_t>(arena.size()));
      collation.SortKey8(name.data(), name.size(), &key);
      arena += key;
    }
    key_offsets.push_back(static_cast<std::uint32_t>(arena.size()));
    auto key_of = [&](std::uint32_t id) {
      return std::string_view(arena.data() + key_offsets[id],
                              key_offsets[id + 1] - key_offsets[id]);
    };

    std::vector<std::uint32_t> by_key(names.size());
    std::iota(by_key.begin(), by_key.end(), 0u);
    std::sort(by_key.begin(), by_key.end(),
              [&](std::uint32_t a, std::uint32_t b) { return KeyLess(key_of(a), key_of(b)); });
    // Names equal under the collation (differing only in case) share a rank.
    std::vector<std::uint32_t> rank(names.size());
    std::uint32_t ranks = 0;
    for (std::size_t i = 0; i < by_key.size(); ++i) {
      if (i == 0 || key_of(by_key[i - 1]) != key_of(by_key[i])) ++ranks;
      rank[by_key[i]] = ranks - 1;
    }

    std::vector<std::uint32_t> next(ranks + 1, 0);
    for (std::uint32_t id : row_ids) ++next[rank[id] + 1];
    std::partial_sum(next.begin(), next.end(), next.begin());
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
      order[next[rank[row_ids[i]]]++] = static_cast<std::uint32_t>(i);
    }
    benchmark::DoNotOptimize(order.data());
    state.counters["distinct"] = static_cast<double>(names.size());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// For reference: a collation call per comparison, as a sort without keys would do.
void BM_SortCompare8(benchmark::State& state) {
  const std::vector<std::string>& all = Names();
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const Collation& collation = Collation::For(kEnglishUs, true);
  for (auto _ : state) {
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return collation.Compare8(all[a].data(), all[a].size(), all[b].data(), all[b].size()) < 0;
    });
    benchmark::DoNotOptimize(order.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// Cost of one key and one comparison, to put the sorts in proportion.
void BM_SortKey8(benchmark::State& state) {
  const std::vector<std::string>& all = Names();
  const Collation& collation = Collation::For(kEnglishUs, true);
  std::string key;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& name = all[i++ % 4096];
    collation.SortKey8(name.data(), name.size(), &key);
    benchmark::DoNotOptimize(key.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Compare8(benchmark::State& state) {
  const std::vector<std::string>& all = Names();
  const Collation& collation = Collation::For(kEnglishUs, true);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& a = all[i % 4096];
    const std::string& b = all[(i * 7 + 1) % 4096];
    ++i;
    benchmark::DoNotOptimize(collation.Compare8(a.data(), a.size(), b.data(), b.size()));
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_SortKeyPerRow)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortKeyDeduplicated)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortCompare8)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SortKey8);
BENCHMARK(BM_Compare8);

}  // namespace
}  // namespace zelvo
BENCHMARK_MAIN();
