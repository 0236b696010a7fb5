// Every engine field type through a packet and back: record values, nulls and unchanged
// fields come back byte for byte, and the columns give back the same field types.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fields/bcd.h"
#include "fields/field_types.h"
#include "fields/record_layout.h"
#include "fields/type_word.h"
#include "packet/data_packet.h"
#include "packet/field_values.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

using testing::Bytes;

FieldDesc Field(const char* name, std::uint32_t type, std::uint32_t units1 = 0,
                std::uint32_t units2 = 0, std::uint32_t length = 0) {
  FieldDesc f;
  f.SetName(name);
  f.type = type;
  f.units1 = units1;
  f.units2 = units2;
  f.length = length;
  return f;
}

std::vector<FieldDesc> AllTypes() {
  std::vector<FieldDesc> fields = {
      Field("Str", FT_STRING, 20),      Field("LongStr", FT_STRING, 300), Field("Date", FT_DATE),
      Field("Bool", FT_BOOL),           Field("I16", FT_INT16),          Field("I32", FT_INT32),
      Field("Float", FT_FLOAT),         Field("Bcd", FT_BCD, 10, 2),     Field("Bytes", FT_BYTES, 5),
      Field("Time", FT_TIME),           Field("DateTime", FT_DATETIME),  Field("U16", FT_UINT16),
      Field("U32", FT_UINT32),          Field("Ext", FT_EXTENDED),       Field("VarB", FT_VARBYTES, 10),
      Field("I64", FT_INT64),           Field("U64", FT_UINT64),         Field("Stamp", FT_SQLTIMESTAMP),
      Field("FmtBcd", FT_FMTBCD, 20, 4), Field("I8", FT_INT8),           Field("U8", FT_UINT8),
      Field("B8", FT_BOOL8),            Field("B32", FT_BOOL32),         Field("Wide", FT_WIDESTRING, 20),
      Field("Opaque", FT_UNKNOWN, 0, 0, 6),
  };
  std::uint32_t size = 0;
  EXPECT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk);
  return fields;
}

std::uint32_t RecordSize(const std::vector<FieldDesc>& fields) {
  return fields.back().state_offset + 1;
}

// A record whose values are valid for their types and differ from row to row.
std::vector<std::uint8_t> SampleRecord(const std::vector<FieldDesc>& fields, int row,
                                       std::uint8_t state_for_all) {
  std::vector<std::uint8_t> rec(RecordSize(fields), 0);
  for (const FieldDesc& f : fields) {
    std::uint8_t* v = rec.data() + f.offset;
    rec[f.state_offset] = state_for_all;
    if (state_for_all != kFieldValue) continue;
    switch (f.type) {
      case FT_STRING: {
        // Row 1 holds empty strings, which must stay distinct from null.
        std::string text = row == 1 ? "" : std::string(f.units1 > 100 ? 280 : 7, 'a' + row);
        std::memcpy(v, text.data(), text.size());
        break;
      }
      case FT_VARBYTES:
      case FT_WIDESTRING: {
        std::uint16_t n = static_cast<std::uint16_t>(row == 1 ? 2 : 6);
        std::memcpy(v, &n, 2);
        for (std::uint16_t i = 0; i < n; ++i) v[2 + i] = static_cast<std::uint8_t>(0x41 + i + row);
        break;
      }
      case FT_BCD:
      case FT_FMTBCD:
        EXPECT_EQ(BcdFromText(row == 0 ? "-1234.5" : "42", f.units1, f.units2, v, f.length),
                  DBResult::kOk);
        break;
      default:
        for (std::uint32_t i = 0; i < f.length; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + row + 1);
        if (f.type == FT_INT8 || f.type == FT_UINT8 || f.type == FT_BOOL8) v[1] = 0;
        break;
    }
  }
  return rec;
}

Bytes WriteTable(const std::vector<FieldDesc>& fields,
                 const std::vector<std::vector<std::uint8_t>>& records) {
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  EXPECT_EQ(w->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(fields.size())),
            DBResult::kOk);
  for (const FieldDesc& f : fields) {
    ColumnDesc c;
    std::memcpy(c.name, f.name, sizeof(c.name));
    c.type = PacketTypeOfField(f.type, f.length, f.units1);
    EXPECT_EQ(w->AddColumn(c), DBResult::kOk) << f.Name();
    const std::uint16_t units1 = static_cast<std::uint16_t>(f.units1);
    const std::uint16_t units2 = static_cast<std::uint16_t>(f.units2);
    if (units2 != 0) {
      EXPECT_EQ(w->AddParameter(kParamColumn, "DECIMALS", 0x00020002, 2, &units2), DBResult::kOk);
    }
    switch (f.type) {
      case FT_STRING: case FT_VARBYTES: case FT_WIDESTRING: case FT_BLOB: case FT_BCD:
      case FT_FMTBCD:
        EXPECT_EQ(w->AddParameter(kParamColumn, "WIDTH", 0x00020002, 2, &units1), DBResult::kOk);
        break;
      default:
        break;
    }
  }
  for (const auto& rec : records) {
    const std::uint8_t row_state = 0;
    EXPECT_EQ(w->PutValue(kItemValue, 1, &row_state), DBResult::kOk);
    for (const FieldDesc& f : fields) {
      PacketValue pv = PacketValueOfField(f, rec.data() + f.offset, rec[f.state_offset]);
      EXPECT_EQ(w->PutValue(pv.state, pv.length, pv.data), DBResult::kOk) << f.Name();
    }
  }
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

// Reads the packet back into fields (from the columns and their WIDTH and DECIMALS) and
// records (from the rows).
void ReadTable(const Bytes& packet, std::vector<FieldDesc>* fields,
               std::vector<std::vector<std::uint8_t>>* records) {
  auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  fields->clear();
  ColumnDesc c;
  while (r->NextColumn(&c) == DBResult::kOk) {
    FieldTypeOfPacket t;
    ASSERT_EQ(FieldTypeOfPacketType(c.type, &t), DBResult::kOk);
    FieldDesc f = Field(c.name, t.type, t.units1, 0, t.length);
    char name[256];
    std::uint32_t type = 0, length = 0;
    std::uint16_t value = 0;
    for (length = 2; r->NextParameter(name, &type, &length, &value) == DBResult::kOk; length = 2) {
      if (std::string(name) == "WIDTH") f.units1 = value;
      if (std::string(name) == "DECIMALS") f.units2 = value;
    }
    fields->push_back(f);
  }
  std::uint32_t size = 0;
  ASSERT_EQ(ComputeRecordLayout(fields, {}, &size), DBResult::kOk);
  records->clear();
  for (;;) {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0, state = 0;
    DBResult res = r->NextValueRef(&data, &length, &state);
    if (res == DBResult::kAfterLast) break;
    ASSERT_EQ(res, DBResult::kOk) << "row state";
    std::vector<std::uint8_t> rec(size, 0);
    for (const FieldDesc& f : *fields) {
      res = r->NextValueRef(&data, &length, &state);
      ASSERT_TRUE(res == DBResult::kOk || res == DBResult::kValueIsNull) << f.Name();
      rec[f.state_offset] = static_cast<std::uint8_t>(state);
      if (state == kItemValue) StoreFieldValue(f, data, length, rec.data() + f.offset);
    }
    records->push_back(std::move(rec));
  }
}

TEST(FieldValues, EveryTypeRoundTripsWithItsStates) {
  const std::vector<FieldDesc> fields = AllTypes();
  const std::vector<std::vector<std::uint8_t>> records = {
      SampleRecord(fields, 0, kFieldValue), SampleRecord(fields, 1, kFieldValue),
      SampleRecord(fields, 2, kFieldNull), SampleRecord(fields, 3, kFieldUnchanged)};
  const Bytes packet = WriteTable(fields, records);
  testing::MaybeWriteFuzzSeed("all_types", packet);

  std::vector<FieldDesc> back_fields;
  std::vector<std::vector<std::uint8_t>> back_records;
  ReadTable(packet, &back_fields, &back_records);
  ASSERT_EQ(back_fields.size(), fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(back_fields[i].type, fields[i].type) << fields[i].Name();
    EXPECT_EQ(back_fields[i].length, fields[i].length) << fields[i].Name();
    EXPECT_EQ(back_fields[i].units1, fields[i].units1) << fields[i].Name();
  }
  ASSERT_EQ(back_records.size(), records.size());
  for (std::size_t row = 0; row < records.size(); ++row) {
    for (const FieldDesc& f : fields) {
      const std::uint8_t* a = records[row].data();
      const std::uint8_t* b = back_records[row].data();
      EXPECT_EQ(b[f.state_offset], a[f.state_offset]) << "row " << row << " " << f.Name();
      // Empty varying values travel as null, by design of the format.
      const bool empty_varying = row == 1 && (f.type == FT_VARBYTES || f.type == FT_WIDESTRING);
      if (a[f.state_offset] == kFieldValue && !empty_varying) {
        EXPECT_EQ(testing::Hex(b + f.offset, f.length), testing::Hex(a + f.offset, f.length))
            << "row " << row << " " << f.Name();
      }
    }
  }
  EXPECT_EQ(back_records[1][fields[14].state_offset], kFieldValue) << "varbytes of length 2";
}

TEST(FieldValues, EmptyStringIsOneZeroByteAndOneByteFieldsTakeOnePacketByte) {
  std::vector<FieldDesc> fields = {Field("S", FT_STRING, 20), Field("I8", FT_INT8)};
  std::uint32_t size = 0;
  ASSERT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk);
  std::vector<std::uint8_t> rec(size, 0);
  rec[fields[1].offset] = 0x80;
  const Bytes packet = WriteTable(fields, {rec});
  // Row: state, one flag byte, then 01 00 for the empty string and 80 for the 1-byte int.
  EXPECT_EQ(testing::Hex(&packet[packet.size() - 5], 5), "00 00 01 00 80");

  PacketValue empty_varying =
      PacketValueOfField(Field("V", FT_VARBYTES, 10, 0, 12), rec.data(), kFieldValue);
  EXPECT_EQ(empty_varying.state, kItemNull);
}

TEST(FieldValues, LongerStringsAreCutAtTheFieldWidthWhenStored) {
  FieldDesc f = Field("S", FT_STRING, 3, 0, 4);
  std::uint8_t dst[4];
  StoreFieldValue(f, reinterpret_cast<const std::uint8_t*>("abcdef"), 6, dst);
  EXPECT_STREQ(reinterpret_cast<char*>(dst), "abc");
}

}  // namespace
}  // namespace zelvo
