// Writing and reading a packet of one million card-like rows as XML, with the binary form's
// times in the same run for scale. Reading walks every row item as a table does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "card_data.h"
#include "fields/field_types.h"
#include "packet/data_packet.h"
#include "packet/xml_names.h"

namespace zelvo {
namespace {

constexpr int kRows = 1000000;

// The cards as a table writes them: WIDTH on the strings, SUBTYPE Text on the memo.
PacketBytes WriteCards(std::uint32_t text_mode) {
  const bench::CardRows& d = bench::CardData(kRows);
  const auto& columns = bench::CardColumns();
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  (void)w->SetTextMode(text_mode);
  (void)w->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(columns.size()));
  for (const bench::CardColumn& column : columns) {
    ColumnDesc c;
    std::snprintf(c.name, sizeof(c.name), "%s", column.name);
    c.type = PacketTypeOfField(column.type, column.width + 1, column.width);
    (void)w->AddColumn(c);
    if (column.type == FT_STRING) {
      const auto width = static_cast<std::uint16_t>(column.width);
      (void)w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &width);
    } else if (column.subtype == kSubtypeText) {
      static const char kText[] = "Text";
      (void)w->AddParameter(kParamColumn, "SUBTYPE", 0x00490002, sizeof(kText), kText);
    }
  }
  bench::PutCardRows(w.get(), d);
  PacketBytes packet;
  if (w->FinishPacket(&packet) != DBResult::kOk) std::abort();
  return packet;
}

const PacketBytes& CardPacket(std::uint32_t text_mode) {
  static const PacketBytes binary = WriteCards(0);
  static const PacketBytes xml = WriteCards(kXmlMode);
  return text_mode == 0 ? binary : xml;
}

void Write(benchmark::State& state, std::uint32_t text_mode) {
  bench::CardData(kRows);
  std::size_t size = 0;
  for (auto _ : state) {
    PacketBytes packet = WriteCards(text_mode);
    size = packet.size();
    benchmark::DoNotOptimize(packet.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["packet_MB"] = static_cast<double>(size) / 1e6;
}

// Opens the packet and takes every row item, as a table's load does before storing it.
void Read(benchmark::State& state, std::uint32_t text_mode) {
  const PacketBytes& packet = CardPacket(text_mode);
  const std::size_t items = bench::CardColumns().size() + 1;
  for (auto _ : state) {
    auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
    if (r->OpenPacket(packet.data(), packet.size()) != DBResult::kOk) std::abort();
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, item_state = 0;
    std::size_t bytes = 0;
    for (int row = 0; row < kRows; ++row) {
      for (std::size_t i = 0; i < items; ++i) {
        (void)r->NextValueRef(&data, &length, &item_state);
        bytes += length;
      }
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
  state.counters["packet_MB"] = static_cast<double>(packet.size()) / 1e6;
}

void BM_WriteBinary(benchmark::State& state) { Write(state, 0); }
void BM_WriteXml(benchmark::State& state) { Write(state, kXmlMode); }
void BM_ReadBinary(benchmark::State& state) { Read(state, 0); }
void BM_ReadXml(benchmark::State& state) { Read(state, kXmlMode); }

BENCHMARK(BM_WriteBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadXml)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelvo

BENCHMARK_MAIN();
