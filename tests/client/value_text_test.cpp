// Text forms of field values: each kind's text reads back to the same text, and text a
// field cannot take is refused with the user's message.
#include "client/value_text.h"

#include <gtest/gtest.h>

namespace zelvo::client {
namespace {

FieldDesc Field(std::uint32_t type, std::uint32_t length, std::uint32_t units1 = 0,
                std::uint32_t units2 = 0) {
  FieldDesc d;
  d.SetName("F");
  d.type = type;
  d.length = length;
  d.units1 = units1;
  d.units2 = units2;
  return d;
}

struct TextCase {
  FieldDesc field;
  std::string in;
  std::string out;  // the text read back; the error message when `fails`
  bool fails = false;
};

class ValueTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ValueTextTest, ReadsBackOrRefuses) {
  const TextCase& c = GetParam();
  std::string value;
  const std::string error = TextToValue(c.field, c.in, &value);
  if (c.fails) {
    EXPECT_EQ(error, c.out);
    return;
  }
  ASSERT_EQ(error, "") << c.in;
  value.resize(std::max<std::size_t>(value.size(), c.field.length), '\0');
  EXPECT_EQ(ValueToText(c.field, reinterpret_cast<const std::uint8_t*>(value.data())), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ValueTextTest,
    ::testing::Values(
        TextCase{Field(FT_INT16, 2), "-32768", "-32768"},
        TextCase{Field(FT_INT16, 2), "32768", "'32768' is not a valid integer value", true},
        TextCase{Field(FT_UINT16, 2), "-1", "'-1' is not a valid integer value", true},
        TextCase{Field(FT_INT32, 4), " +42 ", "42"},
        TextCase{Field(FT_INT32, 4), "4x", "'4x' is not a valid integer value", true},
        TextCase{Field(FT_INT64, 8), "-9223372036854775808", "-9223372036854775808"},
        TextCase{Field(FT_UINT8, 2), "255", "255"},
        TextCase{Field(FT_BOOL, 2), "true", "True"},
        TextCase{Field(FT_BOOL8, 2), "FALSE", "False"},
        TextCase{Field(FT_BOOL, 2), "yes", "'yes' is not a valid boolean value", true},
        TextCase{Field(FT_FLOAT, 8), "0.1", "0.1"},
        TextCase{Field(FT_FLOAT, 8), "1e300", "1e+300"},
        TextCase{Field(FT_FLOAT, 8), "0.0000125", "1.25e-05"},
        TextCase{Field(FT_FLOAT, 8), "1,5", "'1,5' is not a valid floating point value", true},
        TextCase{Field(FT_BCD, 7, 10, 2), "12.3", "12.30"},
        TextCase{Field(FT_BCD, 7, 10, 2), "-0.5", "-0.50"},
        TextCase{Field(FT_FMTBCD, 4, 4, 0), "12345", "'12345' is not a valid BCD value", true},
        TextCase{Field(FT_DATE, 4), "2000-02-29", "2000-02-29"},
        TextCase{Field(FT_DATE, 4), "0001-01-01", "0001-01-01"},
        TextCase{Field(FT_DATE, 4), "2001-02-29", "'2001-02-29' is not a valid date", true},
        TextCase{Field(FT_DATE, 4), "15.01.2003", "'15.01.2003' is not a valid date", true},
        TextCase{Field(FT_TIME, 4), "23:59:59.999", "23:59:59.999"},
        TextCase{Field(FT_TIME, 4), "07:05:00.000", "07:05:00"},
        TextCase{Field(FT_TIME, 4), "24:00:00", "'24:00:00' is not a valid time", true},
        TextCase{Field(FT_DATETIME, 8), "1899-12-30 12:00:00.5", "'1899-12-30 12:00:00.5' is not a valid date and time", true},
        TextCase{Field(FT_DATETIME, 8), "1899-12-30 12:00:00.500", "1899-12-30 12:00:00.500"},
        TextCase{Field(FT_DATETIME, 8), "2003-01-15", "2003-01-15 00:00:00"},
        TextCase{Field(FT_SQLTIMESTAMP, 16), "2000-02-29 00:00:01.500", "2000-02-29 00:00:01.500"},
        TextCase{Field(FT_BYTES, 2, 2), "0AfF", "0aff"},
        TextCase{Field(FT_BYTES, 2, 2), "0a", "Field 'F' needs exactly 2 bytes", true},
        TextCase{Field(FT_BYTES, 2, 2), "0g0a", "'0g0a' is not a valid hexadecimal value", true},
        TextCase{Field(FT_VARBYTES, 5, 3), "010203", "010203"},
        TextCase{Field(FT_VARBYTES, 5, 3), "", ""},
        TextCase{Field(FT_VARBYTES, 5, 3), "01020304", "Value too long for field 'F'", true},
        TextCase{Field(FT_WIDESTRING, 6, 4), "\xCE\xA9x", "\xCE\xA9x"},
        TextCase{Field(FT_WIDESTRING, 6, 4), "abc", "Text too long for field 'F'", true},
        TextCase{Field(FT_WIDESTRING, 10, 8), "\xF0\x9F\x83\x8F", "\xF0\x9F\x83\x8F"},
        TextCase{Field(FT_WIDESTRING, 10, 8), "\xC3", "Invalid UTF-8 text", true}));

TEST(CodePageTest, Windows1252BothWays) {
  std::string bytes, bad;
  ASSERT_TRUE(Utf8ToCp1252("\xE2\x82\xAC \xC3\x86ther", &bytes, &bad));  // euro sign, AE
  EXPECT_EQ(bytes, "\x80 \xC6ther");
  EXPECT_EQ(Cp1252ToUtf8(bytes), "\xE2\x82\xAC \xC3\x86ther");
  EXPECT_FALSE(Utf8ToCp1252("Zh \xD0\x96", &bytes, &bad));
  EXPECT_EQ(bad, "U+0416");
  EXPECT_FALSE(Utf8ToCp1252("\xC0\xAF", &bytes, &bad));  // overlong "/"
  EXPECT_FALSE(Utf8ToCp1252("\xE2\x82", &bytes, &bad));  // cut short
}

}  // namespace
}  // namespace zelvo::client
