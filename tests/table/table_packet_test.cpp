// A table saved as a packet and loaded back: byte-identical round trips, pending changes
// that survive the file, kept parameters, and corrupt packets that leave the table empty.
#include <gtest/gtest.h>

#include <cstring>

#include "../packet/packet_test_util.h"
#include "fields/bcd.h"
#include "fields/type_word.h"
#include "table_test_util.h"

namespace zelvo {
namespace {

using testing::Bytes;
using testing::CardTable;
using testing::Column;
using testing::kMana;
using testing::kName;

// Load `packet`, save, load the saved bytes, save again: both saves must be equal, and
// the first equal to `packet` when `exact` (a packet the engine wrote itself).
void ExpectStableRoundTrip(const Bytes& packet, bool exact, const char* what) {
  CardTable first;
  ASSERT_EQ(first.Load(packet), DBResult::kOk) << what;
  const Bytes saved = first.Save();
  if (exact) {
    EXPECT_EQ(testing::Hex(saved), testing::Hex(packet)) << what;
  }
  CardTable second;
  ASSERT_EQ(second.Load(saved), DBResult::kOk) << what;
  EXPECT_EQ(testing::Hex(second.Save()), testing::Hex(saved)) << what;
  testing::MaybeWriteFuzzSeed(std::string("table_") + what, saved);
}

CardTable* ThreeCards(CardTable* t) {
  EXPECT_EQ(t->Define(), DBResult::kOk);
  EXPECT_EQ(t->Insert("Plains", 0, "Tap: add W."), DBResult::kOk);
  EXPECT_EQ(t->Insert("Island", 0), DBResult::kOk);
  EXPECT_EQ(t->Insert("Shivan Dragon", 6, "Flying"), DBResult::kOk);
  return t;
}

TEST(TablePacket, RoundTripsByteForByte) {
  {
    CardTable t;
    ExpectStableRoundTrip(ThreeCards(&t)->Save(), true, "inserted");
  }
  {
    CardTable t;
    ThreeCards(&t);
    ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
    ASSERT_EQ(t.Modify("Plains", 1, "Tap: add W. Draw."), DBResult::kOk);
    ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);
    ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
    ExpectStableRoundTrip(t.Save(), true, "logged_edits");
  }
  {
    CardTable t;
    ThreeCards(&t);
    ASSERT_EQ(t.table()->MergeChanges(), DBResult::kOk);
    ASSERT_EQ(t.table()->WriteTableOption(kOptLogChanges, 0), DBResult::kOk);
    ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);
    ASSERT_EQ(t.Modify("Swamp", 0), DBResult::kOk);
    ExpectStableRoundTrip(t.Save(), true, "unlogged");
  }
  {
    CardTable t;
    ASSERT_EQ(t.Define(), DBResult::kOk);
    ExpectStableRoundTrip(t.Save(), true, "empty");
  }
}

TEST(TablePacket, PendingChangesSurviveTheFile) {
  CardTable t;
  ThreeCards(&t);
  ASSERT_EQ(t.table()->MergeChanges(), DBResult::kOk);
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(t.Modify("Plains", 1), DBResult::kOk);       // slot 4 replaces 1
  ASSERT_EQ(t.Insert("Forest", 0), DBResult::kOk);       // slot 5
  ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);  // Island, slot 2
  EXPECT_EQ(t.Names(), "Plains,Shivan Dragon,Forest");

  CardTable back;
  ASSERT_EQ(back.Load(t.Save()), DBResult::kOk);
  // Slot order after a reload: the modified record comes after the records stored before
  // its newest version.
  EXPECT_EQ(back.Names(), "Shivan Dragon,Plains,Forest");
  const RecordStore& a = t.table()->store();
  const RecordStore& b = back.table()->store();
  ASSERT_EQ(b.highest_slot(), a.highest_slot());
  for (std::uint32_t s = 1; s <= a.highest_slot(); ++s) EXPECT_EQ(b.state(s), a.state(s)) << s;
  const auto& la = t.table()->change_log().entries();
  const auto& lb = back.table()->change_log().entries();
  ASSERT_EQ(lb.size(), la.size());
  for (std::size_t i = 0; i < la.size(); ++i) {
    EXPECT_EQ(lb[i].slot, la[i].slot);
    EXPECT_EQ(lb[i].previous, la[i].previous);
    EXPECT_EQ(lb[i].kind, la[i].kind);
  }
  EXPECT_EQ(back.Changes(), 3u);
  std::int32_t id = 0;
  ASSERT_EQ(back.Insert("Mountain", 0), DBResult::kOk);
  ASSERT_EQ(back.cursor()->ReadField(nullptr, testing::kId, &id, nullptr), DBResult::kOk);
  EXPECT_EQ(id, 5) << "the auto-increment value travels with the file";
}

// A packet from elsewhere: unknown table and column parameters, a locale that is not
// installed, an unknown subtype, a width-253 and a width-254 string, null and unchanged
// values.
Bytes ForeignPacket() {
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 3), DBResult::kOk);
  const std::uint16_t w253 = 253, w254 = 254;
  EXPECT_EQ(w->AddColumn(Column("Short", 0x00490001)), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &w253), DBResult::kOk);
  const char origin[] = "scanner";
  EXPECT_EQ(w->AddParameter(kParamColumn, "ORIGIN", 0x00490001, 7, origin), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Long", 0x00490002)), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &w254), DBResult::kOk);
  const char subtype[] = "Hologram";
  EXPECT_EQ(w->AddParameter(kParamColumn, "SUBTYPE", 0x00490002, sizeof(subtype), subtype),
            DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Count", 0x00010004, kAttrRequired)), DBResult::kOk);
  const std::int32_t lcid = 0x7FFF, edition = 7;
  EXPECT_EQ(w->AddParameter(kParamTable, "EDITION", 0x00010004, 4, &edition), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, "LCID", 0x00010004, 4, &lcid), DBResult::kOk);
  const std::uint8_t state = 0;
  const std::int32_t count = 3;
  EXPECT_EQ(w->PutValue(kItemValue, 1, &state), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemValue, 1, "\0"), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemNull, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemValue, 4, &count), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemValue, 1, &state), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemValue, 3, "abc"), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemValue, 3, "xyz"), DBResult::kOk);
  EXPECT_EQ(w->PutValue(kItemUnchanged, 0, nullptr), DBResult::kOk);
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

TEST(TablePacket, KeepsWhatItDoesNotKnow) {
  const Bytes foreign = ForeignPacket();
  CardTable t;
  ASSERT_EQ(t.Load(foreign), DBResult::kOk);
  TableDesc desc;
  ASSERT_EQ(t.table()->DescribeTable(&desc), DBResult::kOk);
  EXPECT_EQ(desc.lcid, 0u) << "an unknown locale id is not used";
  EXPECT_EQ(desc.param_count, 4u) << "ORIGIN, SUBTYPE, EDITION, LCID";
  std::vector<FieldDesc> fields;
  ASSERT_EQ(t.table()->DescribeFields(&fields), DBResult::kOk);
  EXPECT_EQ(fields[0].length, 254u);
  EXPECT_EQ(fields[1].length, 255u);
  EXPECT_EQ(fields[1].subtype, kSubtypeUnknownName);
  EXPECT_EQ(fields[2].attributes, kAttrRequired);
  // The whole packet comes back as it was, parameters at their places.
  ExpectStableRoundTrip(foreign, true, "foreign");
  std::uint32_t type = 0;
  std::vector<std::uint8_t> value;
  ASSERT_EQ(t.table()->ReadPacketOption("lcid", &type, &value), DBResult::kOk);
  EXPECT_EQ(value.size(), 4u);
  EXPECT_EQ(t.table()->ReadPacketOption("NOPE", &type, &value), DBResult::kNotFound);
  // Values: empty string, null, unchanged.
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  std::uint8_t state = 9;
  char text[300] = {1};
  ASSERT_EQ(t.cursor()->ReadField(nullptr, 1, text, &state), DBResult::kOk);
  EXPECT_EQ(state, kFieldValue);
  EXPECT_STREQ(text, "");
  ASSERT_EQ(t.cursor()->ReadField(nullptr, 2, text, &state), DBResult::kOk);
  EXPECT_EQ(state, kFieldNull);
  ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);
  ASSERT_EQ(t.cursor()->ReadField(nullptr, 3, text, &state), DBResult::kOk);
  EXPECT_EQ(state, kFieldUnchanged);
}

TEST(TablePacket, AutoincFieldsBecomeReadOnlyWithoutChangingTheFile) {
  CardTable t;
  ThreeCards(&t);
  const Bytes saved = t.Save();
  CardTable back;
  ASSERT_EQ(back.Load(saved), DBResult::kOk);
  std::vector<FieldDesc> fields;
  ASSERT_EQ(back.table()->DescribeFields(&fields), DBResult::kOk);
  EXPECT_EQ(fields[testing::kId - 1].attributes & kAttrReadOnly, kAttrReadOnly);
  EXPECT_EQ(testing::Hex(back.Save()), testing::Hex(saved));
}

TEST(TablePacket, DefaultOrderFromThePacketOrdersButIsNotWrittenAsProduced) {
  CardTable t;
  ThreeCards(&t);
  ASSERT_EQ(t.table()->MergeChanges(), DBResult::kOk);
  // Add DEFAULT_ORDER on Name (case-insensitive) as a packet parameter from elsewhere.
  const std::uint8_t order[] = {1, 0, 0, 0, 0x01, 0x40};
  ASSERT_EQ(t.table()->AddPacketOption("DEFAULT_ORDER", 0x00820002, order, sizeof(order)),
            DBResult::kOk);
  const Bytes saved = t.Save();
  CardTable back;
  ASSERT_EQ(back.Load(saved), DBResult::kOk);
  EXPECT_EQ(back.Names(), "Island,Plains,Shivan Dragon");
  EXPECT_EQ(testing::Hex(back.Save()), testing::Hex(back.Save()));
  CardTable again;
  ASSERT_EQ(again.Load(back.Save()), DBResult::kOk);
  EXPECT_EQ(testing::Hex(again.Save()), testing::Hex(back.Save()));
}

// Corrupt packets: each is refused with a code and leaves the table empty.
TEST(TablePacket, CorruptPacketsLeaveTheTableEmpty) {
  CardTable source;
  ThreeCards(&source);
  const Bytes good = source.Save();

  // One string column and one row, with a table parameter as given.
  auto with_table_parameter = [](const char* name, std::uint32_t type,
                                 std::vector<std::uint8_t> value) {
    auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
    EXPECT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
    EXPECT_EQ(w->AddColumn(Column("Name", 0x00490001)), DBResult::kOk);
    const std::uint16_t width = 20;
    EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &width), DBResult::kOk);
    EXPECT_EQ(w->AddParameter(kParamTable, name, type, static_cast<std::uint32_t>(value.size()),
                              value.data()),
              DBResult::kOk);
    const std::uint8_t state = 0;
    EXPECT_EQ(w->PutValue(kItemValue, 1, &state), DBResult::kOk);
    EXPECT_EQ(w->PutValue(kItemValue, 3, "abc"), DBResult::kOk);
    PacketBytes packet;
    EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
    return testing::ToBytes(packet);
  };
  struct Case {
    const char* what;
    Bytes packet;
  };
  std::vector<Case> cases = {
      {"change log names a slot that does not exist",
       with_table_parameter("CHANGE_LOG", 0x00820004, {3, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0})},
      {"change log of an unknown kind",
       with_table_parameter("CHANGE_LOG", 0x00820004, {3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0})},
      {"default order names a field that does not exist",
       with_table_parameter("DEFAULT_ORDER", 0x00820002, {1, 0, 0, 0, 9, 0})},
      {"change log that is not an array",
       with_table_parameter("CHANGE_LOG", 0x00010004, {1, 0, 0, 0})},
      {"primary key that is not an array",
       with_table_parameter("PRIMARY_KEY", 0x00010004, {1, 0, 0, 0})},
  };
  Bytes more_rows = good;
  more_rows[14] = 4;
  cases.push_back({"more rows in the header than in the packet", more_rows});
  Bytes fewer_rows = good;
  fewer_rows[14] = 2;
  cases.push_back({"fewer rows in the header than in the packet", fewer_rows});
  Bytes huge_rows = good;
  huge_rows[17] = 0x7F;
  cases.push_back({"a row count the packet cannot hold", huge_rows});
  Bytes no_columns(good.begin(), good.begin() + 24);
  no_columns[12] = 0;
  no_columns.push_back(0);
  no_columns.push_back(0);
  cases.push_back({"no column at all", no_columns});

  for (const Case& c : cases) {
    CardTable t;
    const DBResult r = t.table()->LoadPacket(c.packet.data(), c.packet.size(), true);
    EXPECT_NE(r, DBResult::kOk) << c.what;
    EXPECT_FALSE(t.table()->defined()) << c.what;
    EXPECT_EQ(t.table()->store().field_count(), 0u) << c.what;
  }
  CardTable t;
  EXPECT_EQ(t.table()->LoadPacket(nullptr, 0, true), DBResult::kNoPacket);
  PacketBytes packet;
  EXPECT_EQ(t.table()->WritePacket(&packet), DBResult::kBadPacket) << "no fields";
}

TEST(TablePacket, EveryTruncationOfASavedTableFailsCleanly) {
  CardTable source;
  ThreeCards(&source);
  ASSERT_EQ(source.cursor()->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(source.Modify("Plains", 2), DBResult::kOk);
  const Bytes good = source.Save();
  for (std::size_t size = 0; size < good.size(); ++size) {
    const Bytes prefix(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    auto table = Ref<DSBASE>::Adopt(NewTable());
    EXPECT_NE(table->LoadPacket(prefix.data(), prefix.size(), true), DBResult::kOk) << size;
    EXPECT_FALSE(table->defined()) << size;
  }
}

TEST(TablePacket, RowsOnlyPacketsAddRows) {
  CardTable source;
  ThreeCards(&source);
  ASSERT_EQ(source.table()->MergeChanges(), DBResult::kOk);
  const Bytes full = source.Save();
  ASSERT_EQ(source.table()->WriteTableOption(kOptNoMetadata, 1), DBResult::kOk);
  const Bytes rows = source.Save();

  auto table = Ref<DSBASE>::Adopt(NewTable());
  ASSERT_EQ(table->LoadPacket(full.data(), full.size(), false), DBResult::kOk);
  ASSERT_EQ(table->LoadPacket(rows.data(), rows.size(), true), DBResult::kOk);
  EXPECT_EQ(table->live_count(), 6u);
  EXPECT_EQ(table->LoadPacket(rows.data(), rows.size(), true), DBResult::kWrongState)
      << "no packet is pending after the last one";
}

}  // namespace
}  // namespace zelvo

namespace zelvo {
namespace {

// A table with a nested table as the engine writes it: Id, Lines (Text, Qty), Tail; rows
// with two nested rows, nested rows not fetched, and none.
Bytes NestedTablePacket() {
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 5), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Id", 0x00010004)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Lines", 0x050E0002)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Text", 0x00490001)), DBResult::kOk);
  const std::uint16_t width = 10;
  EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &width), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Qty", 0x00010002)), DBResult::kOk);
  const std::int32_t note = 5;
  EXPECT_EQ(w->AddParameter(kParamTable, "NOTE", 0x00010004, 4, &note), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("Tail", 0x00010004)), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  const std::uint8_t state = 0;
  auto row = [&](std::int32_t id, std::uint32_t count, std::int32_t tail) {
    EXPECT_EQ(w->PutValue(kItemValue, 1, &state), DBResult::kOk);
    EXPECT_EQ(w->PutValue(kItemValue, 4, &id), DBResult::kOk);
    EXPECT_EQ(w->PutValue(kItemValue, 4, &count), DBResult::kOk);
    for (std::uint32_t i = 0; count != 0x80000000 && i < count; ++i) {
      const std::int16_t qty = static_cast<std::int16_t>(i + 1);
      EXPECT_EQ(w->PutValue(kItemValue, 1, &state), DBResult::kOk);
      EXPECT_EQ(w->PutValue(kItemValue, 4, "line"), DBResult::kOk);
      EXPECT_EQ(w->PutValue(kItemValue, 2, &qty), DBResult::kOk);
    }
    EXPECT_EQ(w->PutValue(kItemValue, 4, &tail), DBResult::kOk);
  };
  row(1, 2, 10);
  row(2, 0x80000000, 20);
  row(3, 0, 30);
  row(4, 1, 40);
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

TEST(TablePacket, NestedTablesLoadAndSaveBackUnchanged) {
  const Bytes packet = NestedTablePacket();
  ExpectStableRoundTrip(packet, true, "nested");
  CardTable t;
  ASSERT_EQ(t.Load(packet), DBResult::kOk);
  EXPECT_EQ(t.table()->live_count(), 4u);
  std::vector<FieldDesc> fields;
  ASSERT_EQ(t.table()->DescribeFields(&fields), DBResult::kOk);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[1].type, FT_TABLE);
  EXPECT_EQ(fields[2].Name(), "Tail");
}

// Every field type through a table: defined, filled through the cursor, saved, loaded and
// saved again, byte for byte.
TEST(TablePacket, EveryFieldTypeRoundTripsThroughATable) {
  const struct {
    const char* name;
    std::uint32_t type, units1, units2, subtype;
  } kinds[] = {
      {"Str", FT_STRING, 20, 0, 0},       {"Date", FT_DATE, 0, 0, 0},
      {"Memo", FT_BLOB, 0, 0, kSubtypeText}, {"Bool", FT_BOOL, 0, 0, 0},
      {"I16", FT_INT16, 0, 0, 0},         {"I32", FT_INT32, 0, 0, 0},
      {"Money", FT_FLOAT, 0, 0, kSubtypeMoney}, {"Bcd", FT_BCD, 12, 2, 0},
      {"Bytes", FT_BYTES, 6, 0, 0},       {"Time", FT_TIME, 0, 0, 0},
      {"Stamp", FT_DATETIME, 0, 0, 0},    {"U16", FT_UINT16, 0, 0, 0},
      {"U32", FT_UINT32, 0, 0, 0},        {"Ext", FT_EXTENDED, 0, 0, 0},
      {"VarB", FT_VARBYTES, 10, 0, 0},    {"I64", FT_INT64, 0, 0, 0},
      {"U64", FT_UINT64, 0, 0, 0},        {"SqlStamp", FT_SQLTIMESTAMP, 0, 0, kSubtypeFormatted},
      {"FmtBcd", FT_FMTBCD, 20, 4, 0},    {"I8", FT_INT8, 0, 0, 0},
      {"U8", FT_UINT8, 0, 0, 0},          {"B8", FT_BOOL8, 0, 0, 0},
      {"B32", FT_BOOL32, 0, 0, 0},        {"Wide", FT_WIDESTRING, 20, 0, 0},
      {"Guid", FT_STRING, 38, 0, kSubtypeGuid}, {"Auto", FT_INT32, 0, 0, kSubtypeAutoinc},
  };
  std::vector<FieldDesc> fields;
  for (const auto& k : kinds) {
    FieldDesc f;
    f.SetName(k.name);
    f.type = k.type;
    f.units1 = k.units1;
    f.units2 = k.units2;
    f.subtype = k.subtype;
    fields.push_back(f);
  }
  CardTable t;
  ASSERT_EQ(t.Define(fields), DBResult::kOk);
  std::vector<FieldDesc> laid_out;
  ASSERT_EQ(t.table()->DescribeFields(&laid_out), DBResult::kOk);
  DSCursor* c = t.cursor();
  std::uint8_t* r = t.record().data();
  for (int row = 0; row < 3; ++row) {
    ASSERT_EQ(c->BlankRecord(r), DBResult::kOk);
    for (std::uint32_t f = 1; f <= laid_out.size(); ++f) {
      const FieldDesc& d = laid_out[f - 1];
      if (row == 1 && f % 2 == 0) {
        ASSERT_EQ(c->WriteField(r, f, nullptr), DBResult::kOk) << d.Name();  // nulls
        continue;
      }
      std::vector<std::uint8_t> value(d.length, 0);
      for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(row + i + 1);
      switch (d.type) {
        case FT_STRING:
          ASSERT_EQ(c->WriteField(r, f, row == 2 ? "" : "text value"), DBResult::kOk);
          continue;
        case FT_BLOB:
          ASSERT_EQ(c->WriteBlob(r, f, 0, "memo text", 9), DBResult::kOk);
          continue;
        case FT_BCD:
        case FT_FMTBCD:
          ASSERT_EQ(BcdFromText("-12.5", d.units1, d.units2, value.data(), d.length), DBResult::kOk);
          break;
        case FT_VARBYTES:
        case FT_WIDESTRING:
          value[0] = 4;
          value[1] = 0;
          break;
        default:
          break;
      }
      ASSERT_EQ(c->WriteField(r, f, value.data()), DBResult::kOk) << d.Name();
    }
    ASSERT_EQ(c->WriteCursorOption(kCursorStatus, 0), DBResult::kOk);
    ASSERT_EQ(c->AddRecord(r), DBResult::kOk);
  }
  ExpectStableRoundTrip(t.Save(), true, "all_types");
}

}  // namespace
}  // namespace zelvo
