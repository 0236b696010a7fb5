// The binary packet writer and reader: exact bytes, round trips and the order rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fields/type_word.h"
#include "packet/data_packet.h"
#include "packet/packet_reader.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

using testing::Bytes;
using testing::Column;
using testing::Hex;
using testing::MaybeWriteFuzzSeed;
using testing::ReadWholePacket;

constexpr std::uint32_t kStr1 = 0x00490001;
constexpr std::uint32_t kUInt16 = 0x00020002;
constexpr std::uint32_t kInt32 = 0x00010004;
constexpr std::uint32_t kInt16 = 0x00010002;

Ref<TDATAPACKET_WRITE> Writer() { return Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter()); }
Ref<TDATAPACKET_READ> Reader() { return Ref<TDATAPACKET_READ>::Adopt(NewPacketReader()); }

DBResult PutRowState(TDATAPACKET_WRITE* w, std::uint8_t state = 0) {
  return w->PutValue(kItemValue, 1, &state);
}

DBResult PutInt32(TDATAPACKET_WRITE* w, std::int32_t v) { return w->PutValue(kItemValue, 4, &v); }

DBResult PutText(TDATAPACKET_WRITE* w, const char* text) {
  return w->PutValue(kItemValue, static_cast<std::uint32_t>(std::strlen(text)), text);
}

Bytes Finish(TDATAPACKET_WRITE* w) {
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

// The table of one string field Name of width 20 and one row "abc".
Bytes NameAbcPacket() {
  auto w = Writer();
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Name", kStr1)), DBResult::kOk);
  const std::uint16_t width = 20;
  EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", kUInt16, 2, &width), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
  EXPECT_EQ(PutText(w.get(), "abc"), DBResult::kOk);
  return Finish(w.get());
}

TEST(PacketFormat, NameAbcExampleIsWrittenByteForByte) {
  const Bytes expected = {
      0x96, 0x19, 0xE0, 0xBD, 0x01, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00,
      0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x33, 0x00,
      0x04, 0x4E, 0x61, 0x6D, 0x65, 0x01, 0x00, 0x49, 0x00, 0x00, 0x00, 0x01,
      0x00, 0x05, 0x57, 0x49, 0x44, 0x54, 0x48, 0x02, 0x00, 0x02, 0x00, 0x14,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x61, 0x62, 0x63};
  ASSERT_EQ(expected.size(), 57u);
  const Bytes packet = NameAbcPacket();
  EXPECT_EQ(Hex(packet), Hex(expected));
  MaybeWriteFuzzSeed("name_abc", packet);
}

TEST(PacketFormat, NameAbcExampleReadsBack) {
  const Bytes packet = NameAbcPacket();
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  EXPECT_EQ(r->Header().column_count, 1);
  EXPECT_EQ(r->Header().row_count, 1u);
  EXPECT_EQ(r->Header().flags, kHeaderMetadata | kHeaderRowOffset);
  EXPECT_EQ(r->Header().row_offset, 51);
  ColumnDesc column;
  ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
  EXPECT_STREQ(column.name, "Name");
  EXPECT_EQ(column.type, kStr1);
  char name[256];
  std::uint32_t type = 0, length = 0;
  std::uint16_t width = 0;
  ASSERT_EQ(r->PeekParameterSize(&length), DBResult::kOk);
  EXPECT_EQ(length, 2u);
  length = sizeof(width);
  ASSERT_EQ(r->NextParameter(name, &type, &length, &width), DBResult::kOk);
  EXPECT_STREQ(name, "WIDTH");
  EXPECT_EQ(type, kUInt16);
  EXPECT_EQ(width, 20);
  length = 0;
  EXPECT_EQ(r->NextParameter(name, &type, &length, nullptr), DBResult::kAfterLast);
  EXPECT_EQ(r->NextColumn(&column), DBResult::kAfterLast);
  EXPECT_EQ(r->NextParameter(name, &type, &length, nullptr), DBResult::kAfterLast);

  std::uint8_t value[8] = {};
  std::uint32_t state = 9;
  length = sizeof(value);
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  EXPECT_EQ(length, 1u);
  EXPECT_EQ(value[0], 0) << "row state";
  length = 2;
  EXPECT_EQ(r->NextValue(&length, value, &state), DBResult::kInvalidArgument);
  EXPECT_EQ(length, 3u) << "the needed length, nothing consumed";
  length = sizeof(value);
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(value), length), "abc");
  EXPECT_EQ(state, kItemValue);
  EXPECT_EQ(r->NextValue(&length, value, &state), DBResult::kAfterLast);
  EXPECT_EQ(r->NextValue(&length, value, &state), DBResult::kAfterLast);
}

TEST(PacketFormat, EmptyTableHasRowOffsetAtItsEnd) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Id", kInt32)), DBResult::kOk);
  const Bytes packet = Finish(w.get());
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  EXPECT_EQ(r->Header().row_count, 0u);
  EXPECT_EQ(r->Header().flags, 0x0003u);
  EXPECT_EQ(r->Header().row_offset, packet.size());
  std::string trace;
  EXPECT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
}

TEST(PacketFormat, MetadataBeyond65535BytesLeavesTheRowOffsetOut) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Id", kInt32)), DBResult::kOk);
  const std::vector<std::uint8_t> big(70000, 0x5A);
  ASSERT_EQ(w->AddParameter(kParamTable, "BIG", MakeVaryingType(PT_BYTES, 4),
                            static_cast<std::uint32_t>(big.size()), big.data()),
            DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  ASSERT_EQ(PutInt32(w.get(), 42), DBResult::kOk);
  const Bytes packet = Finish(w.get());
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  EXPECT_EQ(r->Header().flags, kHeaderMetadata);
  EXPECT_EQ(r->Header().row_offset, 0);
  std::string trace;
  ASSERT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("[00] [2A 00 00 00]"), std::string::npos) << trace;
}

TEST(PacketFormat, StringPrefixWidthFollowsTheFieldLength) {
  // Width 253 (length 254) keeps a 1-byte prefix; width 254 (length 255) needs 2 bytes.
  for (std::uint32_t prefix : {1u, 2u}) {
    auto w = Writer();
    ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
    ASSERT_EQ(w->AddColumn(Column("S", MakeVaryingType(PT_STRING, prefix))), DBResult::kOk);
    ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
    const std::string text(prefix == 1 ? 253 : 254, 'x');
    ASSERT_EQ(PutText(w.get(), text.c_str()), DBResult::kOk);
    const Bytes packet = Finish(w.get());
    ASSERT_EQ(packet.size(), 24 + 1 + 1 + 4 + 2 + 2 + 2 + 2 + prefix + text.size());
    EXPECT_EQ(packet[packet.size() - text.size() - prefix], text.size() & 0xFF);
  }
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("S", kStr1)), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  const std::string too_long(256, 'x');
  EXPECT_EQ(PutText(w.get(), too_long.c_str()), DBResult::kInvalidArgument)
      << "a value longer than its prefix can state is refused, never cut";
}

TEST(PacketFormat, RowFlagsTakeTwoBitsPerItem) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 5), DBResult::kOk);
  for (const char* name : {"A", "B", "C", "D", "E"}) {
    ASSERT_EQ(w->AddColumn(Column(name, kInt32)), DBResult::kOk);
  }
  for (std::uint32_t last_state : {kItemNull, kItemUnchanged}) {
    ASSERT_EQ(PutRowState(w.get(), 4), DBResult::kOk);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(PutInt32(w.get(), i), DBResult::kOk);
    ASSERT_EQ(w->PutValue(last_state, 0, nullptr), DBResult::kOk);
  }
  const Bytes packet = Finish(w.get());
  const std::size_t first_row = packet[22] | (packet[23] << 8);
  const std::size_t row_size = 1 + 2 + 16;
  EXPECT_EQ(packet.size(), first_row + 2 * row_size);
  EXPECT_EQ(Hex(&packet[first_row], 3), "04 00 01") << "column 4: null bit 0 of byte 2";
  EXPECT_EQ(Hex(&packet[first_row + row_size], 3), "04 00 02") << "unchanged bit 1";
  std::string trace;
  ASSERT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("[03 00 00 00] null [04]"), std::string::npos) << trace;
  EXPECT_NE(trace.find("[03 00 00 00] unchanged"), std::string::npos) << trace;
}

// Id, Lines (nested: Text, Qty), Tail; rows with fetched, unfetched and late-counted details.
Bytes NestedPacket() {
  auto w = Writer();
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 5), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Id", kInt32)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Lines", MakeType(PT_NESTED, 2) | kTypeComposite |
                                             kTypeNestedColumn)),
            DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Text", kStr1)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Qty", kInt16)), DBResult::kOk);
  const std::int32_t nested_param = 7;
  EXPECT_EQ(w->AddParameter(kParamTable, "NESTED_P", kInt32, 4, &nested_param), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Tail", kInt32)), DBResult::kOk);
  const std::int32_t top_param = 9;
  EXPECT_EQ(w->AddParameter(kParamTable, "TOP_P", kInt32, 4, &top_param), DBResult::kOk);

  auto nested_row = [&](const char* text, std::int16_t qty) {
    EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
    EXPECT_EQ(PutText(w.get(), text), DBResult::kOk);
    EXPECT_EQ(w->PutValue(kItemValue, 2, &qty), DBResult::kOk);
  };
  EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
  EXPECT_EQ(PutInt32(w.get(), 1), DBResult::kOk);
  std::uint32_t count = 2;
  EXPECT_EQ(w->PutValue(kItemValue, 4, &count), DBResult::kOk);
  nested_row("a", 1);
  nested_row("b", 2);
  EXPECT_EQ(PutInt32(w.get(), 100), DBResult::kOk);

  EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
  EXPECT_EQ(PutInt32(w.get(), 2), DBResult::kOk);
  count = 0x80000000;
  EXPECT_EQ(w->PutValue(kItemValue, 4, &count), DBResult::kOk);
  EXPECT_EQ(PutInt32(w.get(), 200), DBResult::kOk);

  EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
  EXPECT_EQ(PutInt32(w.get(), 3), DBResult::kOk);
  count = 0xFFFFFFFF;
  EXPECT_EQ(w->PutValue(kItemValue, 4, &count), DBResult::kOk);
  nested_row("c", 3);
  nested_row("d", 4);
  nested_row("e", 5);
  EXPECT_EQ(w->CloseNestedRows(), DBResult::kOk);
  EXPECT_EQ(PutInt32(w.get(), 300), DBResult::kOk);
  return Finish(w.get());
}

TEST(PacketFormat, NestedTablesRoundTrip) {
  const Bytes packet = NestedPacket();
  MaybeWriteFuzzSeed("nested", packet);
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  EXPECT_EQ(r->Header().column_count, 5);
  EXPECT_EQ(r->Header().row_count, 3u);
  EXPECT_EQ(packet[4], 2) << "a nested column raises the format level";
  std::string trace;
  ASSERT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
  EXPECT_EQ(trace,
            "column Id type=00010004 attr=0000\n"
            "column Lines type=050E0002 attr=0000\n"
            "  column Text type=00490001 attr=0000\n"
            "  column Qty type=00010002 attr=0000\n"
            "  table param NESTED_P type=00010004 len=4 07 00 00 00\n"
            "column Tail type=00010004 attr=0000\n"
            "  table param TOP_P type=00010004 len=4 09 00 00 00\n"
            " [00] [01 00 00 00] [02 00 00 00] [00] [61] [01 00] [00] [62] [02 00] "
            "[64 00 00 00]"
            " [00] [02 00 00 00] [00 00 00 80] [C8 00 00 00]"
            " [00] [03 00 00 00] [03 00 00 00] [00] [63] [03 00] [00] [64] [04 00] [00] [65]"
            " [05 00] [2C 01 00 00]\n");
}

TEST(PacketFormat, StructuresAndArraysExpandIntoRowItems) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 5), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Pt", MakeType(PT_STRUCT, 2) | kTypeComposite)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("X", kInt32)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Y", kInt32)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Arr", MakeType(PT_ARRAY, 3) | kTypeComposite)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("E", kInt16)), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  const std::uint8_t none = 0;
  ASSERT_EQ(w->PutValue(kItemValue, 0, &none), DBResult::kOk);  // the structure itself
  ASSERT_EQ(PutInt32(w.get(), 5), DBResult::kOk);
  ASSERT_EQ(PutInt32(w.get(), 6), DBResult::kOk);
  ASSERT_EQ(w->PutValue(kItemValue, 0, &none), DBResult::kOk);  // the array itself
  for (std::int16_t e : {7, 8}) ASSERT_EQ(w->PutValue(kItemValue, 2, &e), DBResult::kOk);
  ASSERT_EQ(w->PutValue(kItemNull, 0, nullptr), DBResult::kOk);
  const Bytes packet = Finish(w.get());
  MaybeWriteFuzzSeed("struct_array", packet);
  const std::size_t first_row = packet[22] | (packet[23] << 8);
  // 7 items: two flag bytes; the third element (item 6) is null: byte 1, bit 4.
  EXPECT_EQ(Hex(&packet[first_row], 3), "00 00 10");
  EXPECT_EQ(packet.size(), first_row + 3 + 4 + 4 + 2 + 2);
  std::string trace;
  ASSERT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
  EXPECT_NE(trace.find(" [00] [] [05 00 00 00] [06 00 00 00] [] [07 00] [08 00] null"),
            std::string::npos)
      << trace;
}

TEST(PacketFormat, ArrayParametersCarryTheirCount) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Id", kInt32)), DBResult::kOk);
  const std::uint8_t order[] = {2, 0, 0, 0, 0x01, 0x80, 0x02, 0x40};
  ASSERT_EQ(w->AddParameter(kParamTable, "DEFAULT_ORDER", 0x00820002, sizeof(order), order),
            DBResult::kOk);
  const char subtype[] = "Money";
  ASSERT_EQ(w->AddParameter(kParamTable, "SUBTYPE", 0x00490002, sizeof(subtype), subtype),
            DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, "SHORT", 0x00820002, 6, order),
            DBResult::kInvalidArgument)
      << "fewer bytes than the count announces";
  EXPECT_EQ(w->AddParameter(kParamTable, "VARARRAY", 0x00C90001, sizeof(order), order),
            DBResult::kUnusableType);
  const Bytes packet = Finish(w.get());
  std::string trace;
  ASSERT_EQ(ReadWholePacket(packet, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("param DEFAULT_ORDER type=00820002 len=8 02 00 00 00 01 80 02 40"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("param SUBTYPE type=00490002 len=6 4D 6F 6E 65 79 00"), std::string::npos)
      << trace;
  MaybeWriteFuzzSeed("params", packet);
}

TEST(PacketWriter, RefusesOutOfOrderAndUnusableCalls) {
  struct Case {
    const char* what;
    DBResult (*run)(TDATAPACKET_WRITE*);
    DBResult expected;
  };
  const Case cases[] = {
      {"version above 3", [](TDATAPACKET_WRITE* w) { return w->BeginPacket(4, 1); },
       DBResult::kBadPacket},
      {"finish before begin",
       [](TDATAPACKET_WRITE* w) {
         PacketBytes p;
         return w->FinishPacket(&p);
       },
       DBResult::kInvalidArgument},
      {"reset without columns", [](TDATAPACKET_WRITE* w) { return w->ResetPacket(); },
       DBResult::kWrongState},
      {"column named RowState",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         return w->AddColumn(Column("RowState", kInt32));
       },
       DBResult::kWrongState},
      {"more columns than announced",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         (void)w->AddColumn(Column("A", kInt32));
         return w->AddColumn(Column("B", kInt32));
       },
       DBResult::kWrongState},
      {"base type above 18",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         return w->AddColumn(Column("A", MakeType(19, 4)));
       },
       DBResult::kWrongState},
      {"integer of 3 bytes",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         return w->AddColumn(Column("A", MakeType(PT_INT, 3)));
       },
       DBResult::kUnusableType},
      {"date-time of 4 bytes",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         return w->AddColumn(Column("A", MakeType(PT_DATETIME, 4)));
       },
       DBResult::kUnusableType},
      {"prefix of 3 bytes",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         return w->AddColumn(Column("A", MakeVaryingType(PT_STRING, 3)));
       },
       DBResult::kUnusableType},
      {"table parameter before the last column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 2);
         (void)w->AddColumn(Column("A", kInt32));
         std::int32_t v = 1;
         return w->AddParameter(kParamTable, "P", kInt32, 4, &v);
       },
       DBResult::kWrongState},
      {"parameter after the first row",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         (void)w->AddColumn(Column("A", kInt32));
         (void)PutRowState(w);
         std::int32_t v = 1;
         return w->AddParameter(kParamTable, "P", kInt32, 4, &v);
       },
       DBResult::kWrongState},
      {"row state byte null",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         (void)w->AddColumn(Column("A", kInt32));
         return w->PutValue(kItemNull, 0, nullptr);
       },
       DBResult::kInvalidArgument},
      {"rows before every column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 2);
         (void)w->AddColumn(Column("A", kInt32));
         return PutRowState(w);
       },
       DBResult::kWrongState},
      {"finish inside a row",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 2);
         (void)w->AddColumn(Column("A", kInt32));
         (void)w->AddColumn(Column("B", kInt32));
         (void)PutRowState(w);
         (void)PutInt32(w, 1);
         PacketBytes p;
         return w->FinishPacket(&p);
       },
       DBResult::kWrongState},
      {"close nested rows at the top",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(3, 1);
         (void)w->AddColumn(Column("A", kInt32));
         return w->CloseNestedRows();
       },
       DBResult::kWrongState},
  };
  for (const auto& c : cases) {
    auto w = Writer();
    EXPECT_EQ(c.run(w.get()), c.expected) << c.what;
  }
}

TEST(PacketWriter, RowPacketAfterResetCarriesOnlyRows) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Name", kStr1)), DBResult::kOk);
  const Bytes full = NameAbcPacket();
  ASSERT_EQ(w->ResetPacket(), DBResult::kOk);
  EXPECT_EQ(w->GetColumnCount(), 1u);
  ColumnDesc columns[1];
  ASSERT_EQ(w->GetColumnList(columns), DBResult::kOk);
  EXPECT_STREQ(columns[0].name, "Name");
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  ASSERT_EQ(PutText(w.get(), "xyz"), DBResult::kOk);
  const Bytes rows = Finish(w.get());
  EXPECT_EQ(Hex(rows), "96 19 E0 BD 01 00 00 00 18 00 00 00 01 00 01 00 00 00 02 00 00 00 18 00 "
                       "00 00 03 78 79 7A");

  // A further packet of the same table, read through the first packet's columns.
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(full.data(), full.size()), DBResult::kOk);
  ASSERT_EQ(r->OpenRowPacket(rows.data(), rows.size()), DBResult::kOk);
  std::uint8_t value[8];
  std::uint32_t length = sizeof(value), state = 0;
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  length = sizeof(value);
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(value), length), "xyz");
  EXPECT_EQ(r->NextValue(&length, value, &state), DBResult::kAfterLast);
  EXPECT_EQ(r->OpenRowPacket(nullptr, 0), DBResult::kInvalidArgument);
}

TEST(PacketWriter, OutOfMemoryFailsCleanlyAtEveryAllocation) {
  const std::int64_t live_before = RefCounted::LiveObjects();
  const std::string text(200, 'q');
  DBResult last = DBResult::kOutOfMemory;
  int failing_call = 1;
  for (; last != DBResult::kOk && failing_call < 100; ++failing_call) {
    ByteBuffer::FailAllocationForTesting(failing_call);
    auto w = Writer();
    last = w->BeginPacket(kPacketVersion, 1);
    if (Ok(last)) last = w->AddColumn(Column("S", kStr1));
    for (int row = 0; Ok(last) && row < 2000; ++row) {
      last = PutRowState(w.get());
      if (Ok(last)) last = PutText(w.get(), text.c_str());
    }
    PacketBytes packet;
    if (Ok(last)) last = w->FinishPacket(&packet);
    EXPECT_TRUE(last == DBResult::kOk || last == DBResult::kOutOfMemory) << Code(last);
  }
  ByteBuffer::FailAllocationForTesting(0);
  EXPECT_EQ(last, DBResult::kOk);
  EXPECT_GT(failing_call, 3) << "the packet needed several growth steps";
  EXPECT_EQ(RefCounted::LiveObjects(), live_before);
}

TEST(PacketReader, TellsBinaryFromOtherBytes) {
  Bytes packet = NameAbcPacket();
  auto r = Reader();
  const std::string xml = "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET/>";
  EXPECT_EQ(r->OpenPacket(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
            DBResult::kBadPacket);
  Bytes level4 = packet;
  level4[4] = 4;
  EXPECT_EQ(r->OpenPacket(level4.data(), level4.size()), DBResult::kBadPacket);
  Bytes alt = packet;
  const std::uint8_t alt_signature[] = {0xCD, 0xAB, 0x00, 0x00, 0x09, 0x00, 0x07, 0x00};
  std::memcpy(alt.data(), alt_signature, sizeof(alt_signature));
  std::string trace, expected;
  ASSERT_EQ(ReadWholePacket(alt, &trace), DBResult::kOk) << "taken as binary without checks";
  ASSERT_EQ(ReadWholePacket(packet, &expected), DBResult::kOk);
  EXPECT_EQ(trace, expected);
  Bytes no_metadata = packet;
  no_metadata[18] = 0x02;
  EXPECT_EQ(r->OpenPacket(no_metadata.data(), no_metadata.size()), DBResult::kNoMetadata);
  EXPECT_EQ(r->OpenPacket(nullptr, 0), DBResult::kWrongState);
  const std::uint8_t tiny[] = {0x96, 0x19, 0xE0, 0xBD, 1, 0};
  EXPECT_EQ(r->OpenPacket(tiny, sizeof(tiny)), DBResult::kBadPacket);
}

TEST(PacketReader, KeepsTheFirst31BytesOfALongColumnName) {
  const Bytes packet = NameAbcPacket();
  const std::string long_name(40, 'N');
  Bytes patched(packet.begin(), packet.begin() + 24);
  patched.push_back(static_cast<std::uint8_t>(long_name.size()));
  patched.insert(patched.end(), long_name.begin(), long_name.end());
  patched.insert(patched.end(), packet.begin() + 29, packet.end());
  patched[22] = static_cast<std::uint8_t>(51 + 36);
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(patched.data(), patched.size()), DBResult::kOk);
  ColumnDesc column;
  ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
  EXPECT_EQ(std::string(column.name), std::string(31, 'N'));
  std::string trace;
  ASSERT_EQ(ReadWholePacket(patched, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("[61 62 63]"), std::string::npos) << trace;
}

TEST(PacketReader, RequiresParametersReadBeforeTheNextColumn) {
  const Bytes packet = NameAbcPacket();
  auto r = Reader();
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  ColumnDesc column;
  ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
  EXPECT_EQ(r->NextColumn(&column), DBResult::kWrongState);
  // Rows can be read without walking the metadata first.
  std::uint8_t value[8];
  std::uint32_t length = sizeof(value), state = 0;
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  length = sizeof(value);
  ASSERT_EQ(r->NextValue(&length, value, &state), DBResult::kOk);
  EXPECT_EQ(length, 3u);
}

TEST(PacketReader, EveryTruncationFailsCleanly) {
  for (const Bytes& packet : {NameAbcPacket(), NestedPacket()}) {
    std::string whole;
    ASSERT_EQ(ReadWholePacket(packet, &whole), DBResult::kOk);
    for (std::size_t size = 0; size < packet.size(); ++size) {
      // A copy of exactly `size` bytes, so that the sanitizer sees any read past it.
      Bytes prefix(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(size));
      std::string trace;
      DBResult r = ReadWholePacket(prefix.data(), prefix.size(), &trace);
      EXPECT_NE(r, DBResult::kOk) << "prefix of " << size << " bytes";
    }
  }
}

TEST(PacketReader, ContradictoryCountsAreRefused) {
  Bytes packet = NestedPacket();
  std::string trace;
  Bytes more_columns = packet;
  more_columns[12] = 9;  // the header claims columns that are not there
  EXPECT_NE(ReadWholePacket(more_columns, &trace), DBResult::kOk);
  Bytes more_rows = packet;
  more_rows[14] = 4;
  EXPECT_EQ(ReadWholePacket(more_rows, &trace), DBResult::kBadPacket);
  Bytes fewer_columns = packet;
  fewer_columns[12] = 3;  // ends inside the nested level
  EXPECT_NE(ReadWholePacket(fewer_columns, &trace), DBResult::kOk);
}

}  // namespace
}  // namespace zelvo
