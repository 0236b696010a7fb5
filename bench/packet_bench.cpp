// Writing and reading a packet of one million card-like rows, against a memcpy of the same
// bytes into freshly allocated memory (on these machines page faults, not the copy, bound
// that rate, and the packet paths pay the same faults).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "card_data.h"
#include "fields/type_word.h"
#include "large_block.h"
#include "packet/data_packet.h"

namespace zelvo {
namespace {

constexpr int kRows = 1000000;

std::uint32_t PacketType(const bench::CardColumn& c) {
  if (c.type == FT_INT32) return 0x00010004;
  if (c.type == FT_BLOB) return 0x004B0004;
  return 0x00490001;
}

PacketBytes WriteCards() {
  const bench::CardRows& d = bench::CardData(kRows);
  const auto& columns = bench::CardColumns();
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  (void)w->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(columns.size()));
  for (const bench::CardColumn& column : columns) {
    ColumnDesc c;
    std::snprintf(c.name, sizeof(c.name), "%s", column.name);
    c.type = PacketType(column);
    (void)w->AddColumn(c);
  }
  bench::PutCardRows(w.get(), d);
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

// The same copy into a block from the engine's own allocator (huge pages), for scale.
void BM_MemcpyIntoLargeBlock(benchmark::State& state) {
  const PacketBytes& packet = CardPacket();
  for (auto _ : state) {
    void* fresh = LargeAlloc(packet.size());
    std::memcpy(fresh, packet.data(), packet.size());
    benchmark::DoNotOptimize(fresh);
    LargeFree(fresh, packet.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_MemcpyIntoLargeBlock)->Unit(benchmark::kMillisecond);

void BM_WritePacket(benchmark::State& state) {
  bench::CardData(kRows);
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

// Every value into freshly allocated column arrays laid out and allocated as the engine's
// record store keeps them: fixed-width slots per field, memo bytes in one arena.
void BM_ReadPacketIntoColumns(benchmark::State& state) {
  const PacketBytes& packet = CardPacket();
  const auto& columns = bench::CardColumns();
  const std::size_t n = columns.size();
  std::vector<std::uint32_t> widths;
  for (const bench::CardColumn& c : columns) widths.push_back(c.type == FT_STRING ? c.width + 1 : 4);
  for (auto _ : state) {
    std::vector<std::uint8_t*> arrays(n);
    for (std::size_t c = 0; c < n; ++c) {
      arrays[c] = static_cast<std::uint8_t*>(LargeAlloc(std::size_t{kRows} * widths[c]));
    }
    std::size_t arena_size = 0;
    auto* arena = static_cast<std::uint8_t*>(LargeAlloc(packet.size()));
    auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
    (void)r->OpenPacket(packet.data(), packet.size());
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, item_state = 0;
    for (int row = 0; row < kRows; ++row) {
      (void)r->NextValueRef(&data, &length, &item_state);
      for (std::size_t c = 0; c < n; ++c) {
        (void)r->NextValueRef(&data, &length, &item_state);
        std::uint8_t* slot = arrays[c] + std::size_t{widths[c]} * row;
        if (columns[c].type == FT_BLOB) {  // bytes to the blob arena, the handle to the record
          std::memcpy(arena + arena_size, data, length);
          arena_size += length;
          std::memcpy(slot, &row, 4);
        } else if (columns[c].type == FT_INT32) {
          std::memcpy(slot, data, 4);
        } else {
          const std::uint32_t k = length < widths[c] ? length : widths[c] - 1;
          std::memcpy(slot, data, k);
        }
      }
    }
    benchmark::DoNotOptimize(arena);
    for (std::size_t c = 0; c < n; ++c) LargeFree(arrays[c], std::size_t{kRows} * widths[c]);
    LargeFree(arena, packet.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_ReadPacketIntoColumns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelvo

BENCHMARK_MAIN();
