// Writing and reading a packet of one million card-like rows, against a memcpy of the same
// bytes into freshly allocated memory (on these machines page faults, not the copy, bound
// that rate, and the packet paths pay the same faults).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fields/field_types.h"
#include "fields/type_word.h"
#include "packet/data_packet.h"

namespace zelvo {
namespace {

constexpr int kRows = 1000000;

struct CardColumn {
  const char* name;
  std::uint32_t type;  // packet type word
  std::uint32_t width; // record width of the engine field
};

// The fields the card text update writes, plus Version.
const CardColumn kColumns[] = {
    {"Name", 0x00490001, 64},   {"Color", 0x00490001, 4},    {"ColorID", 0x00010004, 4},
    {"Cost", 0x00490001, 24},   {"Mana", 0x00010004, 4},     {"Type", 0x00490001, 64},
    {"TypeIndex", 0x00010004, 4}, {"Power", 0x00490001, 6},  {"Toughness", 0x00490001, 6},
    {"Text", 0x004B0004, 4},    {"Version", 0x00490001, 12},
};
constexpr int kColumnCount = sizeof(kColumns) / sizeof(kColumns[0]);

struct CardData {
  // Row-major values as they would be handed to the writer.
  std::vector<std::string> text[kColumnCount];
  std::vector<std::int32_t> number[kColumnCount];
};

std::string Word(std::mt19937& rng, int min_len, int max_len) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz";
  std::uniform_int_distribution<int> len(min_len, max_len), letter(0, 25);
  std::string w(len(rng), 'a');
  for (char& c : w) c = kLetters[letter(rng)];
  w[0] = static_cast<char>(w[0] - 'a' + 'A');
  return w;
}

const CardData& Cards() {
  static const CardData data = [] {
    CardData d;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> small(0, 9), words(8, 30);
    const char* colors[] = {"W", "U", "B", "R", "G", "Gld", "Art", "Lnd", "--", "Spl"};
    const char* types[] = {"Creature -- Elf Warrior", "Instant", "Sorcery", "Enchantment",
                           "Artifact", "Land", "Creature -- Human Wizard", "Enchant Creature"};
    for (int c = 0; c < kColumnCount; ++c) {
      if (TypeBase(kColumns[c].type) == PT_INT) d.number[c].reserve(kRows);
      else d.text[c].reserve(kRows);
    }
    for (int r = 0; r < kRows; ++r) {
      d.text[0].push_back(Word(rng, 4, 12) + " " + Word(rng, 3, 10));
      d.text[1].push_back(colors[small(rng)]);
      d.number[2].push_back(small(rng));
      d.text[3].push_back(std::to_string(small(rng)) + "WU");
      d.number[4].push_back(small(rng));
      d.text[5].push_back(types[small(rng) % 8]);
      d.number[6].push_back(small(rng) + 1);
      d.text[7].push_back(std::to_string(small(rng)));
      d.text[8].push_back(std::to_string(small(rng)));
      std::string rules;
      for (int w = words(rng) / 4; w > 0; --w) rules += Word(rng, 2, 9) + " ";
      d.text[9].push_back(rules);
      d.text[10].push_back(r % 3 == 0 ? "" : "M" + std::to_string(small(rng)));
    }
    return d;
  }();
  return data;
}

PacketBytes WriteCards() {
  const CardData& d = Cards();
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  (void)w->BeginPacket(kPacketVersion, kColumnCount);
  for (const CardColumn& column : kColumns) {
    ColumnDesc c;
    std::snprintf(c.name, sizeof(c.name), "%s", column.name);
    c.type = column.type;
    (void)w->AddColumn(c);
  }
  static const std::uint8_t kEmpty[1] = {0};
  const std::uint8_t row_state = 0;
  for (int r = 0; r < kRows; ++r) {
    (void)w->PutValue(kItemValue, 1, &row_state);
    for (int c = 0; c < kColumnCount; ++c) {
      if (!d.number[c].empty()) {
        (void)w->PutValue(kItemValue, 4, &d.number[c][r]);
      } else {
        const std::string& s = d.text[c][r];
        if (s.empty()) (void)w->PutValue(kItemValue, 1, kEmpty);
        else (void)w->PutValue(kItemValue, static_cast<std::uint32_t>(s.size()), s.data());
      }
    }
  }
  PacketBytes packet;
  (void)w->FinishPacket(&packet);
  return packet;
}

const PacketBytes& CardPacket() {
  static const PacketBytes packet = WriteCards();
  return packet;
}

void BM_MemcpyReference(benchmark::State& state) {
  const PacketBytes& packet = CardPacket();
  for (auto _ : state) {
    void* fresh = std::malloc(packet.size());
    std::memcpy(fresh, packet.data(), packet.size());
    benchmark::DoNotOptimize(fresh);
    std::free(fresh);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

void BM_WritePacket(benchmark::State& state) {
  Cards();
  std::size_t size = 0;
  for (auto _ : state) {
    PacketBytes packet = WriteCards();
    size = packet.size();
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["packet_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_WritePacket)->Unit(benchmark::kMillisecond);

// Every value into freshly allocated column arrays laid out as the engine's record store
// keeps them: fixed-width slots per field, memo bytes in one arena.
void BM_ReadPacketIntoColumns(benchmark::State& state) {
  const PacketBytes& packet = CardPacket();
  for (auto _ : state) {
    std::uint8_t* columns[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) {
      columns[c] = static_cast<std::uint8_t*>(std::calloc(kRows, kColumns[c].width));
    }
    std::size_t arena_size = 0;
    std::uint8_t* arena = static_cast<std::uint8_t*>(std::malloc(packet.size()));
    auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
    (void)r->OpenPacket(packet.data(), packet.size());
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, item_state = 0;
    for (int row = 0; row < kRows; ++row) {
      (void)r->NextValueRef(&data, &length, &item_state);
      for (int c = 0; c < kColumnCount; ++c) {
        (void)r->NextValueRef(&data, &length, &item_state);
        const std::uint32_t width = kColumns[c].width;
        std::uint8_t* slot = columns[c] + std::size_t{width} * row;
        if (c == 9) {  // memo: bytes to the blob arena, the handle to the record
          std::memcpy(arena + arena_size, data, length);
          arena_size += length;
          std::memcpy(slot, &row, 4);
        } else if (width == 4 && TypeBase(kColumns[c].type) == PT_INT) {
          std::memcpy(slot, data, 4);
        } else {
          const std::uint32_t n = length < width ? length : width - 1;
          std::memcpy(slot, data, n);
          slot[n] = 0;
        }
      }
    }
    benchmark::DoNotOptimize(arena);
    for (auto* column : columns) std::free(column);
    std::free(arena);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_ReadPacketIntoColumns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelvo

BENCHMARK_MAIN();
