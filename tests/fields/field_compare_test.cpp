// Comparison objects of key fields and CompareFieldValues.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fields/bcd.h"
#include "fields/field_compare.h"
#include "fields/record_layout.h"

namespace zelvo {
namespace {

FieldDesc LaidOut(std::uint32_t type, std::uint32_t units1 = 0) {
  std::vector<FieldDesc> fields(1);
  fields[0].SetName("F");
  fields[0].type = type;
  fields[0].units1 = units1;
  std::uint32_t size = 0;
  EXPECT_EQ(ComputeRecordLayout(&fields, {}, &size), DBResult::kOk);
  return fields[0];
}

std::unique_ptr<FLDObj> Comparer(std::uint32_t type, std::uint32_t units1 = 0,
                                 KeyFieldOptions options = {}) {
  std::unique_ptr<FLDObj> c;
  EXPECT_EQ(MakeFieldComparer(LaidOut(type, units1), options, &c), DBResult::kOk);
  return c;
}

TEST(FieldCompare, Int64OrdersByFullWidthSignedValue) {
  auto c = Comparer(FT_INT64);
  const std::int64_t minus_one = -1, low = 0xFFFFFFFF, high = 0x100000000;
  EXPECT_LT(c->Compare(&minus_one, &low), 0);
  EXPECT_LT(c->Compare(&low, &high), 0);
  EXPECT_LT(c->Compare(&minus_one, &high), 0);
  auto u = Comparer(FT_UINT64);
  const std::uint64_t big = 0xFFFFFFFFFFFFFFFF, one = 1;
  EXPECT_GT(u->Compare(&big, &one), 0);
}

TEST(FieldCompare, NullsFirstAscendingAndLastDescending) {
  auto asc = Comparer(FT_INT32);
  auto desc = Comparer(FT_INT32, 0, {.descending = true});
  const std::int32_t one = 1, two = 2;
  EXPECT_LT(asc->Compare(nullptr, &one), 0);
  EXPECT_GT(desc->Compare(nullptr, &one), 0);
  EXPECT_EQ(desc->Compare(nullptr, nullptr), 0);
  EXPECT_LT(asc->Compare(&one, &two), 0);
  EXPECT_GT(desc->Compare(&one, &two), 0);
}

TEST(FieldCompare, UnsignedClassesOrderDatesTimesAndBooleansByStoredNumber) {
  auto date = Comparer(FT_DATE);
  EXPECT_EQ(typeid(*date), typeid(FLDUInt32));
  const std::uint32_t early = 1, late = 0x80000000;  // signed, late would be negative
  EXPECT_LT(date->Compare(&early, &late), 0);
  auto boolean = Comparer(FT_BOOL);
  EXPECT_EQ(typeid(*boolean), typeid(FLDUInt16));
  auto int8 = Comparer(FT_INT8);
  const std::int8_t minus = -5, plus = 5;
  EXPECT_LT(int8->Compare(&minus, &plus), 0);
  auto uint8 = Comparer(FT_UINT8);
  EXPECT_GT(uint8->Compare(&minus, &plus), 0) << "0xFB is above 5 unsigned";
}

TEST(FieldCompare, BlobsAndCompositesCannotBeKeys) {
  for (std::uint32_t type : {FT_BLOB, FT_STRUCT, FT_ARRAY, FT_REF, FT_TABLE}) {
    FieldDesc f;
    f.type = type;
    f.units1 = 1;
    f.length = 4;
    std::unique_ptr<FLDObj> c;
    EXPECT_EQ(MakeFieldComparer(f, {}, &c), DBResult::kUnusableType) << type;
  }
  FLDBlob blob(FT_BLOB, 4, false);
  const std::uint32_t a = 1, b = 2;
  EXPECT_EQ(blob.Compare(&a, &b), 0);
  EXPECT_LT(blob.Compare(nullptr, &b), 0);
}

TEST(FieldCompare, BcdOrdersByValue) {
  auto c = Comparer(FT_BCD, 10);
  const char* ordered[] = {"-1000.5", "-2", "-1.25", "0", "0.01", "1.2", "1.25", "12", "99999"};
  for (std::size_t i = 0; i + 1 < std::size(ordered); ++i) {
    std::uint8_t a[7], b[7];
    ASSERT_EQ(BcdFromText(ordered[i], 10, 2, a, 7), DBResult::kOk) << ordered[i];
    ASSERT_EQ(BcdFromText(ordered[i + 1], 10, 2, b, 7), DBResult::kOk) << ordered[i + 1];
    EXPECT_LT(c->Compare(a, b), 0) << ordered[i] << " < " << ordered[i + 1];
    EXPECT_GT(c->Compare(b, a), 0);
    EXPECT_EQ(c->Compare(a, a), 0);
  }
}

TEST(FieldCompare, TimeStampAndVarBytes) {
  auto ts = Comparer(FT_SQLTIMESTAMP);
  std::uint8_t a[16] = {}, b[16] = {};
  const std::uint16_t y1 = 1999, y2 = 2000, m12 = 12, m1 = 1;
  std::memcpy(a, &y1, 2);
  std::memcpy(a + 2, &m12, 2);
  std::memcpy(b, &y2, 2);
  std::memcpy(b + 2, &m1, 2);
  EXPECT_LT(ts->Compare(a, b), 0);

  auto vb = Comparer(FT_VARBYTES, 8);
  const std::uint8_t ab[10] = {2, 0, 'a', 'b'};
  const std::uint8_t abc[10] = {3, 0, 'a', 'b', 'c'};
  const std::uint8_t b1[10] = {1, 0, 'b'};
  EXPECT_LT(vb->Compare(ab, abc), 0) << "a prefix is less";
  EXPECT_LT(vb->Compare(abc, b1), 0);
}

TEST(FieldCompare, StringsUseTheLocaleCollation) {
  auto cs = Comparer(FT_STRING, 20, {.lcid = 0x0409});
  auto ci = Comparer(FT_STRING, 20, {.case_insensitive = true, .lcid = 0x0409});
  char lower[21] = "apple", upper[21] = "APPLE", banana[21] = "Banana", spaced[21] = "apple ";
  EXPECT_NE(cs->Compare(lower, upper), 0);
  EXPECT_EQ(ci->Compare(lower, upper), 0);
  EXPECT_LT(cs->Compare(upper, banana), 0) << "linguistic, not code-point order";
  EXPECT_LT(cs->Compare(lower, spaced), 0) << "trailing blanks count";
  char key[21] = {};
  EXPECT_EQ(cs->Copy(lower, key), 6u) << "up to and including the terminator";
  EXPECT_STREQ(key, "apple");
}

TEST(CompareFieldValues, RulesByType) {
  const double x = 1.5, y = 2.5;
  EXPECT_EQ(CompareFieldValues(FT_FLOAT, &x, &y, 0, 0), 1);
  EXPECT_EQ(CompareFieldValues(FT_FLOAT, &y, &x, 0, 0), 1);
  EXPECT_EQ(CompareFieldValues(FT_DATETIME, &x, &x, 0, 0), 0);
  const std::int32_t min = INT32_MIN, max = INT32_MAX;
  EXPECT_EQ(CompareFieldValues(FT_INT32, &min, &max, 0, 0), -1) << "no overflow at the ends";
  EXPECT_EQ(CompareFieldValues(FT_INT32, &max, &min, 0, 0), 1);
  EXPECT_EQ(CompareFieldValues(FT_INT32, nullptr, &min, 0, 0), -1);
  EXPECT_EQ(CompareFieldValues(FT_INT32, nullptr, nullptr, 0, 0), 0);
  const std::uint16_t small = 1, large = 0xFFFF;
  EXPECT_EQ(CompareFieldValues(FT_UINT16, &small, &large, 0, 0), -1);
  const std::int16_t neg = -1, pos = 1;
  EXPECT_EQ(CompareFieldValues(FT_INT16, &neg, &pos, 0, 0), -1);
  char a[6] = "abc", b[6] = "abd";
  EXPECT_EQ(CompareFieldValues(FT_STRING, a, b, 5, 0x0409), -1);
  const std::uint8_t bytes_a[3] = {1, 2, 3}, bytes_b[3] = {1, 2, 4};
  EXPECT_EQ(CompareFieldValues(FT_BYTES, bytes_a, bytes_b, 3, 0), -1);
}

TEST(Bcd, TextRoundTripAndLimits) {
  struct Case {
    const char* text;
    std::uint32_t precision, places;
    const char* back;
  };
  const Case cases[] = {
      {"0", 10, 2, "0"},          {"-12.5", 10, 2, "-12.5"}, {"12345678.99", 10, 2, "12345678.99"},
      {"+3", 5, 0, "3"},          {"-0.00", 4, 2, "0"},      {"1.239", 6, 2, "1.23"},
      {"007", 32, 4, "7"},
  };
  for (const auto& c : cases) {
    std::uint8_t v[34];
    ASSERT_EQ(BcdFromText(c.text, c.precision, c.places, v, sizeof(v)), DBResult::kOk) << c.text;
    std::string text;
    ASSERT_EQ(BcdToText(v, sizeof(v), &text), DBResult::kOk);
    EXPECT_EQ(text, c.back) << c.text;
  }
  std::uint8_t v[7];
  EXPECT_EQ(BcdFromText("123456789", 10, 2, v, 7), DBResult::kOutOfRange);
  EXPECT_EQ(BcdFromText("1.2.3", 10, 2, v, 7), DBResult::kInvalidArgument);
  EXPECT_EQ(BcdFromText("", 10, 2, v, 7), DBResult::kInvalidArgument);
  EXPECT_EQ(BcdFromText("1", 64, 2, v, 7), DBResult::kInvalidArgument) << "does not fit 7 bytes";
}

}  // namespace
}  // namespace zelvo
