// Card-like rows for the benchmarks: the fields the card text update writes, plus Version,
// with deterministic values of realistic lengths (many repeated names, types and costs as in
// a real card table; rules texts of a few to thirty-odd words).
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fields/field_types.h"
#include "packet/data_packet.h"

namespace zelvo::bench {

struct CardColumn {
  const char* name;
  std::uint32_t type;   // engine field type
  std::uint32_t width;  // characters of a string field
  std::uint32_t subtype;
};

inline const std::vector<CardColumn>& CardColumns() {
  static const std::vector<CardColumn> columns = {
      {"Name", FT_STRING, 40, 0},     {"Color", FT_STRING, 3, 0},
      {"ColorID", FT_INT32, 0, 0},    {"Cost", FT_STRING, 20, 0},
      {"Mana", FT_INT32, 0, 0},       {"Type", FT_STRING, 40, 0},
      {"TypeIndex", FT_INT32, 0, 0},  {"Power", FT_STRING, 4, 0},
      {"Toughness", FT_STRING, 4, 0}, {"Text", FT_BLOB, 0, kSubtypeText},
      {"Version", FT_STRING, 10, 0},
  };
  return columns;
}

inline std::vector<FieldDesc> CardFieldDescs() {
  std::vector<FieldDesc> fields;
  for (const CardColumn& c : CardColumns()) {
    FieldDesc f;
    f.SetName(c.name);
    f.type = c.type;
    f.units1 = c.width;
    f.subtype = c.subtype;
    fields.push_back(f);
  }
  return fields;
}

// Column-major values: text[c][row] for text and memo columns, number[c][row] for integers.
struct CardRows {
  int rows = 0;
  std::vector<std::vector<std::string>> text;
  std::vector<std::vector<std::int32_t>> number;
  bool IsNumber(std::size_t c) const { return !number[c].empty(); }
};

inline std::string CardWord(std::mt19937& rng, int min_len, int max_len) {
  std::uniform_int_distribution<int> len(min_len, max_len), letter(0, 25);
  std::string w(static_cast<std::size_t>(len(rng)), 'a');
  for (char& c : w) c = static_cast<char>('a' + letter(rng));
  w[0] = static_cast<char>(w[0] - 'a' + 'A');
  return w;
}

inline const CardRows& CardData(int rows) {
  static std::map<int, CardRows> cache;
  auto found = cache.find(rows);
  if (found != cache.end()) return found->second;
  CardRows d;
  d.rows = rows;
  const std::size_t n = CardColumns().size();
  d.text.resize(n);
  d.number.resize(n);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> small(0, 9), words(4, 30), name_pick(0, 19999);
  const char* colors[] = {"W", "U", "B", "R", "G", "Gld", "Art", "Lnd", "--", "Spl"};
  const char* types[] = {"Creature -- Elf Warrior", "Instant", "Sorcery", "Enchantment",
                         "Artifact", "Land", "Creature -- Human Wizard", "Enchant Creature"};
  // About 20,000 distinct names, as a collection holds many printings of each card.
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) {
    names.push_back(i % 97 == 0 ? "Plains" : CardWord(rng, 4, 12) + " " + CardWord(rng, 3, 10));
  }
  for (int r = 0; r < rows; ++r) {
    d.text[0].push_back(names[static_cast<std::size_t>(name_pick(rng))]);
    d.text[1].push_back(colors[small(rng)]);
    d.number[2].push_back(small(rng));
    d.text[3].push_back(std::to_string(small(rng)) + "WU");
    d.number[4].push_back(small(rng));
    d.text[5].push_back(types[small(rng) % 8]);
    d.number[6].push_back(small(rng) + 1);
    d.text[7].push_back(std::to_string(small(rng)));
    d.text[8].push_back(std::to_string(small(rng)));
    std::string rules = r % 13 == 0 ? "Flying. " : "";
    for (int w = words(rng); w > 0; --w) rules += CardWord(rng, 2, 9) + " ";
    d.text[9].push_back(rules);
    d.text[10].push_back(r % 3 == 0 ? "" : "M" + std::to_string(small(rng)));
  }
  return cache.emplace(rows, std::move(d)).first->second;
}

// Writes every row of `d` through `writer` (after its columns, one per CardColumns entry):
// texts with their lengths, an empty text as one zero byte, integers as 4 bytes.
inline void PutCardRows(TDATAPACKET_WRITE* writer, const CardRows& d) {
  static const std::uint8_t kEmpty[1] = {0};
  const std::uint8_t row_state = 0;
  const std::size_t columns = CardColumns().size();
  for (int r = 0; r < d.rows; ++r) {
    (void)writer->PutValue(kItemValue, 1, &row_state);
    for (std::size_t c = 0; c < columns; ++c) {
      if (d.IsNumber(c)) {
        (void)writer->PutValue(kItemValue, 4, &d.number[c][r]);
        continue;
      }
      const std::string& s = d.text[c][r];
      if (s.empty()) (void)writer->PutValue(kItemValue, 1, kEmpty);
      else (void)writer->PutValue(kItemValue, static_cast<std::uint32_t>(s.size()), s.data());
    }
  }
}

}  // namespace zelvo::bench
