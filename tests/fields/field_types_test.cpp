// Field type catalogue and record layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fields/field_types.h"
#include "fields/record_layout.h"
#include "fields/type_word.h"

namespace zelvo {
namespace {

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

struct LayoutCase {
  std::uint32_t type;
  std::uint32_t units1;
  std::uint32_t length_given;
  std::uint32_t expected_length;
};

TEST(RecordLayout, LengthOfEveryType) {
  const LayoutCase cases[] = {
      {FT_STRING, 20, 0, 21},     {FT_STRING, 253, 0, 254},   {FT_STRING, 254, 0, 255},
      {FT_STRING, 0, 11, 11},     {FT_DATE, 0, 0, 4},         {FT_BLOB, 0, 0, 4},
      {FT_BOOL, 0, 0, 2},         {FT_INT16, 0, 0, 2},        {FT_INT32, 0, 0, 4},
      {FT_FLOAT, 0, 0, 8},        {FT_BCD, 0, 0, 34},         {FT_BCD, 10, 0, 7},
      {FT_BCD, 9, 0, 7},          {FT_FMTBCD, 32, 0, 18},     {FT_BYTES, 16, 0, 16},
      {FT_BYTES, 0, 5, 5},        {FT_TIME, 0, 0, 4},         {FT_DATETIME, 0, 0, 8},
      {FT_UINT16, 0, 0, 2},       {FT_UINT32, 0, 0, 4},       {FT_EXTENDED, 0, 0, 10},
      {FT_VARBYTES, 100, 0, 102}, {FT_INT64, 0, 0, 8},        {FT_UINT64, 0, 0, 8},
      {FT_TABLE, 3, 0, 4},        {FT_SQLTIMESTAMP, 0, 0, 16}, {FT_INT8, 0, 0, 2},
      {FT_UINT8, 0, 0, 2},        {FT_BOOL8, 0, 0, 2},        {FT_BOOL32, 0, 0, 4},
      {FT_WIDESTRING, 40, 0, 42}, {FT_UNKNOWN, 0, 6, 6},      {FT_REF, 2, 12, 12},
  };
  for (const auto& c : cases) {
    std::vector<FieldDesc> fields = {Field("F", c.type, c.units1, 0, c.length_given)};
    std::uint32_t size = 0;
    ASSERT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk) << "type " << c.type;
    EXPECT_EQ(fields[0].length, c.expected_length) << "type " << c.type;
    EXPECT_EQ(size, c.expected_length + 1) << "type " << c.type;
  }
}

TEST(RecordLayout, RefusesUnusableFields) {
  struct Case {
    FieldDesc field;
    DBResult expected;
  };
  const Case cases[] = {
      {Field("S", FT_STRING), DBResult::kInvalidArgument},
      {Field("B", FT_BYTES), DBResult::kInvalidArgument},
      {Field("T", FT_TABLE), DBResult::kUnusableType},
      {Field("R", FT_STRUCT), DBResult::kUnusableType},
      {Field("A", FT_ARRAY), DBResult::kUnusableType},
      {Field("U", FT_UNKNOWN), DBResult::kUnusableType},
      {Field("L", FT_STRING, 65531), DBResult::kUnusableType},  // length 65532
      {Field("W", FT_WIDESTRING, 65530), DBResult::kUnusableType},
  };
  for (const auto& c : cases) {
    std::vector<FieldDesc> fields = {c.field};
    std::uint32_t size = 0;
    EXPECT_EQ(ComputeRecordLayout(&fields, {}, &size), c.expected) << c.field.Name();
  }
  std::vector<FieldDesc> fields = {Field("L", FT_STRING, 65530)};
  std::uint32_t size = 0;
  EXPECT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk);
}

TEST(RecordLayout, OffsetsStatesNumbersAndParents) {
  std::vector<FieldDesc> fields = {
      Field("Name", FT_STRING, 20), Field("Pt", FT_STRUCT, 2, 2), Field("X", FT_INT32),
      Field("Y", FT_INT16),         Field("Memo", FT_BLOB),
  };
  std::uint32_t size = 0;
  ASSERT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk);
  const std::uint32_t offsets[] = {0, 21, 21, 25, 27};
  const std::uint16_t parents[] = {0, 0, 2, 2, 0};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].offset, offsets[i]) << i;
    EXPECT_EQ(fields[i].field_number, i + 1);
    EXPECT_EQ(fields[i].parent_number, parents[i]) << i;
    EXPECT_EQ(fields[i].state_offset, 31 + i);
  }
  EXPECT_EQ(size, 31u + 5u);
  EXPECT_EQ(fields[4].units1, 0u) << "a blob keeps a first unit count of 0";
  EXPECT_EQ(fields[2].units1, 1u) << "other fields get at least 1";
}

TEST(RecordLayout, VarBytesTurnIntoBlobsOrBytesByMode) {
  std::vector<FieldDesc> memo = {Field("M", FT_VARBYTES, 10)};
  memo[0].subtype = kSubtypeText;
  std::uint32_t size = 0;
  ASSERT_EQ(ComputeRecordLayout(&memo, {}, &size), DBResult::kOk);
  EXPECT_EQ(memo[0].type, FT_BLOB);
  EXPECT_EQ(memo[0].length, 4u);

  std::vector<FieldDesc> xml = {Field("V", FT_VARBYTES, 10)};
  ASSERT_EQ(ComputeRecordLayout(&xml, {.xml_mode = true}, &size), DBResult::kOk);
  EXPECT_EQ(xml[0].type, FT_BYTES);
  EXPECT_EQ(xml[0].length, 10u);
}

TEST(RecordLayout, ArrayExpandsIntoNamedElements) {
  std::vector<FieldDesc> fields = {Field("Scores", FT_ARRAY, 3, 3), Field("E", FT_INT32),
                                   Field("After", FT_INT16)};
  ASSERT_EQ(ExpandArrayFields(&fields), DBResult::kOk);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[1].Name(), "Scores[0]");
  EXPECT_EQ(fields[3].Name(), "Scores[2]");
  EXPECT_EQ(fields[4].Name(), "After");

  std::vector<FieldDesc> long_name = {
      Field("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", FT_ARRAY, 12, 12), Field("E", FT_INT32)};
  ASSERT_EQ(ExpandArrayFields(&long_name), DBResult::kOk);
  EXPECT_EQ(long_name[12].Name(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0[11]");
  EXPECT_LE(long_name[12].Name().size(), kMaxFieldName);

  std::vector<FieldDesc> broken = {Field("A", FT_ARRAY, 2, 3), Field("E", FT_INT32)};
  EXPECT_EQ(ExpandArrayFields(&broken), DBResult::kUnusableType);
}

TEST(PacketTypes, EveryFieldTypeMapsToItsTypeWordAndBack) {
  struct Case {
    std::uint32_t type;
    std::uint32_t length;
    std::uint32_t units1;
    std::uint32_t type_word;
  };
  const Case cases[] = {
      {FT_UNKNOWN, 6, 0, 0x00000006},      {FT_STRING, 21, 20, 0x00490001},
      {FT_STRING, 254, 253, 0x00490001},   {FT_STRING, 255, 254, 0x00490002},
      {FT_DATE, 4, 0, 0x00060004},         {FT_BLOB, 4, 0, 0x004B0004},
      {FT_BOOL, 2, 0, 0x00030002},         {FT_INT16, 2, 0, 0x00010002},
      {FT_INT32, 4, 0, 0x00010004},        {FT_FLOAT, 8, 0, 0x00040008},
      {FT_BCD, 7, 10, 0x00050007},         {FT_BYTES, 16, 16, 0x000B0010},
      {FT_TIME, 4, 0, 0x00070004},         {FT_DATETIME, 8, 0, 0x00080008},
      {FT_UINT16, 2, 0, 0x00020002},       {FT_UINT32, 4, 0, 0x00020004},
      {FT_EXTENDED, 10, 0, 0x0004000A},    {FT_VARBYTES, 102, 100, 0x004B0001},
      {FT_VARBYTES, 302, 300, 0x004B0002}, {FT_INT64, 8, 0, 0x00010008},
      {FT_UINT64, 8, 0, 0x00020008},       {FT_STRUCT, 0, 2, 0x010C0002},
      {FT_ARRAY, 0, 3, 0x030D0003},        {FT_TABLE, 4, 5, 0x050E0005},
      {FT_SQLTIMESTAMP, 16, 0, 0x00110010}, {FT_FMTBCD, 18, 32, 0x00120012},
      {FT_INT8, 2, 0, 0x00010001},         {FT_UINT8, 2, 0, 0x00020001},
      {FT_BOOL8, 2, 0, 0x00030001},        {FT_BOOL32, 4, 0, 0x00030004},
      {FT_WIDESTRING, 42, 40, 0x004A0001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PacketTypeOfField(c.type, c.length, c.units1), c.type_word) << "type " << c.type;
    FieldTypeOfPacket back;
    ASSERT_EQ(FieldTypeOfPacketType(c.type_word, &back), DBResult::kOk);
    EXPECT_EQ(back.type, c.type) << "type word " << std::hex << c.type_word;
  }
  EXPECT_EQ(PacketTypeOfField(16, 4, 0), 0u);
  EXPECT_EQ(PacketTypeOfField(17, 4, 0), 0u);
}

TEST(PacketTypes, OddTypeWordsBecomeUnknownFieldsOrAreRefused) {
  FieldTypeOfPacket f;
  ASSERT_EQ(FieldTypeOfPacketType(MakeType(PT_INT, 3), &f), DBResult::kOk);
  EXPECT_EQ(f.type, FT_UNKNOWN);
  EXPECT_EQ(f.length, 3u);
  ASSERT_EQ(FieldTypeOfPacketType(MakeType(PT_REF, 12), &f), DBResult::kOk);
  EXPECT_EQ(f.type, FT_UNKNOWN);
  ASSERT_EQ(FieldTypeOfPacketType(MakeVaryingType(PT_BYTES_ALIAS, 4), &f), DBResult::kOk);
  EXPECT_EQ(f.type, FT_BLOB);
  ASSERT_EQ(FieldTypeOfPacketType(MakeType(PT_STRING, 11), &f), DBResult::kOk);
  EXPECT_EQ(f.type, FT_STRING);
  EXPECT_EQ(f.length, 11u) << "a fixed string takes its width from the size";
  EXPECT_EQ(FieldTypeOfPacketType(MakeType(PT_UINT, 2) | kTypeArray, &f),
            DBResult::kUnusableType);
}

TEST(Subtypes, NamesBothWaysIgnoringCase) {
  EXPECT_EQ(SubtypeName(kSubtypeMoney), "Money");
  EXPECT_EQ(SubtypeName(kSubtypeQKortOle), "qKORTOle");
  EXPECT_EQ(SubtypeName(kSubtypeWideText), "");
  EXPECT_EQ(SubtypeOfName("autoinc"), kSubtypeAutoinc);
  EXPECT_EQ(SubtypeOfName("QKORTOLE"), kSubtypeQKortOle);
  EXPECT_EQ(SubtypeOfName("Guid"), kSubtypeGuid);
  EXPECT_EQ(SubtypeOfName("NoSuchType"), kSubtypeUnknownName);
  EXPECT_EQ(SubtypeOfName(""), kSubtypeUnknownName);
}

TEST(ClientKinds, MapToEngineTypesAndBack) {
  using K = ClientFieldKind;
  const K round_trip[] = {K::kString,   K::kFixedString, K::kWideString, K::kGuid,
                          K::kSmallint, K::kInteger,     K::kAutoInc,    K::kWord,
                          K::kLargeint, K::kBoolean,     K::kFloat,      K::kCurrency,
                          K::kBcd,      K::kFmtBcd,      K::kDate,       K::kTime,
                          K::kDateTime, K::kTimeStamp,   K::kBytes,      K::kVarBytes,
                          K::kMemo,     K::kBlob,        K::kFmtMemo,    K::kGraphic,
                          K::kParadoxOle, K::kTypedBinary, K::kOraClob,  K::kOraBlob,
                          K::kStruct,   K::kArray,       K::kReference,  K::kDataSet};
  for (K kind : round_trip) {
    EngineTypeOfKind e = EngineTypeOf(kind);
    EXPECT_EQ(ClientKindOf(e.type, e.subtype), kind) << static_cast<int>(kind);
  }
  EXPECT_EQ(EngineTypeOf(K::kDBaseOle).subtype, kSubtypeQKortOle);
  EXPECT_EQ(ClientKindOf(FT_BLOB, kSubtypeQKortOle), K::kParadoxOle);
  EXPECT_EQ(ClientKindOf(FT_BLOB, kSubtypeMoney), K::kBlob);
  EXPECT_EQ(ClientKindOf(FT_UINT32, 0), K::kInteger);
  EXPECT_EQ(ClientKindOf(FT_UINT64, 0), K::kLargeint);
}

}  // namespace
}  // namespace zelvo
