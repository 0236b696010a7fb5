// Text forms of values in XML packets: how each type is written, that it reads back as the
// same bytes, the lenient forms the reader takes, and the values the writer refuses.
#include "packet/xml_text.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "fields/bcd.h"
#include "fields/dates.h"
#include "fields/type_word.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

template <typename T>
std::string Raw(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof(v));
}

std::string Utf16(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string Bcd(const char* text, std::uint32_t precision, std::uint32_t places) {
  std::string v(18, '\0');
  EXPECT_EQ(BcdFromText(text, precision, places, reinterpret_cast<std::uint8_t*>(v.data()), 18),
            DBResult::kOk);
  return v;
}

std::string TimeStamp(std::array<std::uint16_t, 6> parts, std::uint32_t fraction) {
  return Raw(parts) + Raw(fraction);
}

XmlValueType TypeOf(std::uint32_t type, bool text_memo = false) {
  return XmlValueTypeOf(type, text_memo);
}

XmlValueType BcdType(std::uint32_t precision, std::uint32_t places) {
  XmlValueType t = XmlValueTypeOf(MakeType(PT_BCD, 18), false);
  t.precision = precision;
  t.places = places;
  t.places_known = true;
  return t;
}

DBResult Write(const XmlValueType& type, const std::string& value, bool utf8, std::string* text) {
  XmlBuffer out;
  DBResult r = AppendXmlValue(type, reinterpret_cast<const std::uint8_t*>(value.data()),
                              static_cast<std::uint32_t>(value.size()), utf8, &out);
  *text = std::string(out.View());
  return r;
}

std::string Hex(const std::string& s) {
  return testing::Hex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

struct RoundTrip {
  const char* what;
  XmlValueType type;
  std::string value;
  std::string text;
  bool utf8 = false;
};

TEST(XmlText, ValuesAreWrittenInTheirFormsAndReadBack) {
  const RoundTrip cases[] = {
      {"1-byte int", TypeOf(0x00010001), Raw(std::int8_t{-128}), "-128"},
      {"unsigned byte 200 as its signed bits", TypeOf(0x00020001), Raw(std::uint8_t{200}), "-56"},
      {"2-byte int", TypeOf(0x00010002), Raw(std::int16_t{-32768}), "-32768"},
      {"4-byte int", TypeOf(0x00010004), Raw(std::int32_t{2147483647}), "2147483647"},
      {"4-byte unsigned", TypeOf(0x00020004), Raw(std::uint32_t{4000000000u}), "-294967296"},
      {"true", TypeOf(0x00030002), Raw(std::uint16_t{1}), "TRUE"},
      {"false", TypeOf(0x00030002), Raw(std::uint16_t{0}), "FALSE"},
      {"float", TypeOf(0x00040008), Raw(1.5), "1.5"},
      {"float with 16 digits", TypeOf(0x00040008), Raw(0.1), "0.1"},
      {"float that needs 17 digits", TypeOf(0x00040008), Raw(0.1 + 0.2), "0.30000000000000004"},
      {"float of 16 integral digits", TypeOf(0x00040008), Raw(1e15), "1000000000000000"},
      {"float in exponent form", TypeOf(0x00040008), Raw(1e16), "1e+16"},
      {"small float", TypeOf(0x00040008), Raw(0.0001), "0.0001"},
      {"smaller float", TypeOf(0x00040008), Raw(0.00001), "1e-05"},
      {"negative zero", TypeOf(0x00040008), Raw(-0.0), "-0"},
      {"BCD", BcdType(10, 2), Bcd("-1234.5", 10, 2), "-1234.50"},
      {"BCD below one", BcdType(10, 2), Bcd("0.05", 10, 2), "0.05"},
      {"BCD zero", BcdType(10, 2), Bcd("0", 10, 2), "0.00"},
      {"BCD without places", BcdType(5, 0), Bcd("42", 5, 0), "42"},
      {"date", TypeOf(0x00060004), Raw(std::int32_t{730120}), "20000101"},
      {"first day", TypeOf(0x00060004), Raw(std::int32_t{1}), "00010101"},
      {"no date", TypeOf(0x00060004), Raw(std::int32_t{0}), "00000000"},
      {"date of a 5-digit year", TypeOf(0x00060004), Raw(std::int32_t{3652060}), "100000101"},
      {"time", TypeOf(0x00070004), Raw(std::int32_t{49512345}), "13:45:12345"},
      {"five seconds", TypeOf(0x00070004), Raw(std::int32_t{5000}), "00:00:05000"},
      {"last millisecond", TypeOf(0x00070004), Raw(std::int32_t{86399999}), "23:59:59999"},
      {"date-time at midnight", TypeOf(0x00080008), Raw(JoinDateTime(730120, 0)), "20000101"},
      {"date-time", TypeOf(0x00080008), Raw(JoinDateTime(730120, 49512345)),
       "20000101T13:45:12345"},
      {"date-time before the first day", TypeOf(0x00080008), Raw(JoinDateTime(0, 1)),
       "00000000T00:00:00001"},
      {"time stamp date", TypeOf(0x00110010), TimeStamp({2024, 2, 29, 0, 0, 0}, 0), "20240229"},
      {"time stamp", TypeOf(0x00110010), TimeStamp({2024, 2, 29, 23, 59, 58}, 999),
       "20240229T23:59:58999"},
      {"escapes", TypeOf(0x00490001), "<>&'\"\r\n\t\\",
       "&lt;&gt;&amp;&apos;&quot;&#013;&#010;&#009;&#092;"},
      {"byte above 127", TypeOf(0x00490001), "a\xE9", "a&#233;"},
      {"byte above 127 in UTF-8", TypeOf(0x00490001), "a\xE9\x80", "a\xC3\xA9\xC2\x80", true},
      {"wide string", TypeOf(0x004A0001), Utf16(u"a\u00E9\u20AC\U0001F600"),
       "a&#233;&#8364;&#128512;"},
      {"wide string in UTF-8", TypeOf(0x004A0001), Utf16(u"a\u00E9\u20AC\U0001F600"),
       "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"bytes", TypeOf(0x004B0001), std::string("\x00\x01\xFE\xFF", 4), "AAH+/w=="},
      {"bytes of 3n", TypeOf(0x004B0001), "abc", "YWJj"},
      {"no bytes", TypeOf(0x004B0004), "", ""},
      {"memo text", TypeOf(0x004B0004, true), "line\r\n<\xE9>", "line&#013;&#010;&lt;&#233;&gt;"},
      {"integer array", TypeOf(0x00810002),
       Raw(std::uint32_t{2}) + Raw(std::int16_t{-1}) + Raw(std::int16_t{2}), "-1 2"},
      {"unsigned array", TypeOf(0x00820002),
       Raw(std::uint32_t{2}) + Raw(std::uint16_t{1}) + Raw(std::uint16_t{0x8002}), "1 32770"},
      {"empty array", TypeOf(0x00820004), Raw(std::uint32_t{0}), ""},
  };
  for (const RoundTrip& c : cases) {
    std::string text;
    ASSERT_EQ(Write(c.type, c.value, c.utf8, &text), DBResult::kOk) << c.what;
    EXPECT_EQ(text, c.text) << c.what;
    // The reader sees the text as the tokenizer delivers it: references resolved, UTF-8.
    std::string back;
    if (c.type.kind == XmlValueKind::kString || c.type.kind == XmlValueKind::kText ||
        c.type.kind == XmlValueKind::kWideString) {
      continue;  // escapes are the tokenizer's business; covered by the reader tests
    }
    ASSERT_TRUE(ParseXmlValue(c.type, text, &back)) << c.what;
    EXPECT_EQ(Hex(back), Hex(c.value)) << c.what;
  }
}

struct ReadCase {
  const char* what;
  XmlValueType type;
  const char* text;
  std::string value;  // "null" when read as null
};

TEST(XmlText, ReaderTakesLenientFormsAndGivesNullForTheRest) {
  const std::string null = "null";
  const ReadCase cases[] = {
      {"blanks before a number", TypeOf(0x00010004), "  42", Raw(std::int32_t{42})},
      {"plus sign", TypeOf(0x00010004), "+7", Raw(std::int32_t{7})},
      {"other characters first", TypeOf(0x00010004), "#5", Raw(std::int32_t{5})},
      {"stops at the first non-digit", TypeOf(0x00010004), "12x", Raw(std::int32_t{12})},
      {"stored in the width", TypeOf(0x00010002), "70000", Raw(std::int16_t{4464})},
      {"unsigned text into a signed width", TypeOf(0x00020001), "200", Raw(std::uint8_t{200})},
      {"letters first", TypeOf(0x00010004), "x5", null},
      {"no digit", TypeOf(0x00010004), "-", null},
      {"empty", TypeOf(0x00010004), "", null},
      {"64-bit integer", TypeOf(0x00010008), "-9223372036854775808",
       Raw(std::numeric_limits<std::int64_t>::min())},
      {"t is true", TypeOf(0x00030002), "t", Raw(std::uint16_t{1})},
      {"False", TypeOf(0x00030002), "False", Raw(std::uint16_t{0})},
      {"digits as a boolean", TypeOf(0x00030001), "2", Raw(std::uint8_t{1})},
      {"other words are null", TypeOf(0x00030002), "yes", null},
      {"point first", TypeOf(0x00040008), ".5", Raw(0.5)},
      {"exponent", TypeOf(0x00040008), "-1.5e3", Raw(-1500.0)},
      {"infinity is a word", TypeOf(0x00040008), "inf", null},
      {"nan is a word", TypeOf(0x00040008), "NaN", null},
      {"seconds without milliseconds", TypeOf(0x00070004), "00:00:05", Raw(std::int32_t{5000})},
      {"hours and minutes", TypeOf(0x00070004), "13:45", Raw(std::int32_t{49500000})},
      {"hour 24 gives midnight", TypeOf(0x00070004), "24:00:00000", Raw(std::int32_t{0})},
      {"minute 60 gives midnight", TypeOf(0x00070004), "12:60:00", Raw(std::int32_t{0})},
      {"six millisecond digits give midnight", TypeOf(0x00070004), "00:00:123456",
       Raw(std::int32_t{0})},
      {"time in words", TypeOf(0x00070004), "noon", null},
      {"one-digit day", TypeOf(0x00060004), "2000011", Raw(std::int32_t{730120})},
      {"month 13", TypeOf(0x00060004), "20001301", null},
      {"day 32", TypeOf(0x00060004), "20000132", null},
      {"month 0", TypeOf(0x00060004), "20000001", null},
      {"too few digits", TypeOf(0x00060004), "2000", null},
      {"date in words", TypeOf(0x00060004), "today", null},
      {"date-time with seconds only", TypeOf(0x00080008), "20000101T00:00:05",
       Raw(JoinDateTime(730120, 5000))},
      {"date-time with a bad date", TypeOf(0x00080008), "2000-01-01", null},
      {"time stamp with a bad time", TypeOf(0x00110010), "20000101T25:00:00000", null},
      {"BCD that is not a number", BcdType(10, 2), "12,5", null},
      {"BCD too large", BcdType(10, 2), "123456789", null},
      {"BCD with more places than the column", BcdType(10, 2), "1.239", Bcd("1.23", 10, 2)},
      {"BCD without column precision", TypeOf(0x00050020), "-12.50", Bcd("-12.50", 4, 2)},
      {"Base64 with blanks", TypeOf(0x004B0001), "AQ I=", std::string("\x01\x02", 2)},
      {"Base64 without padding", TypeOf(0x004B0001), "AQI", std::string("\x01\x02", 2)},
      {"not Base64", TypeOf(0x004B0001), "A*", null},
      {"padding in the middle", TypeOf(0x004B0001), "AQ==AQ==", null},
      {"array with extra blanks", TypeOf(0x00820004), " 1  2 ",
       Raw(std::uint32_t{2}) + Raw(std::uint32_t{1}) + Raw(std::uint32_t{2})},
      {"array with a word", TypeOf(0x00820004), "1 x", null},
      {"UTF-8 to code page 1252", TypeOf(0x00490001), "\xE2\x82\xAC\xC3\xA9\xE4\xB8\x80",
       "\x80\xE9?"},
      {"supplementary character to UTF-16", TypeOf(0x004A0001), "\xF0\x9F\x98\x80",
       Utf16(u"\U0001F600")},
      {"fixed-size string is padded", TypeOf(MakeType(PT_STRING, 4)), "ab",
       std::string("ab\0\0", 4)},
  };
  for (const ReadCase& c : cases) {
    std::string value;
    const bool read = ParseXmlValue(c.type, c.text, &value);
    EXPECT_EQ(read ? Hex(value) : null, c.value == null ? null : Hex(c.value)) << c.what;
  }
}

TEST(XmlText, WriterRefusesValuesThatWouldNotReadBack) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::string special_bcd = Bcd("1", 10, 2);
  special_bcd[1] = static_cast<char>(special_bcd[1] | kBcdSpecial);
  std::string bad_digit_bcd = Bcd("1", 10, 2);
  bad_digit_bcd[2] = static_cast<char>(0xA0);
  const struct {
    const char* what;
    XmlValueType type;
    std::string value;
  } cases[] = {
      {"control character", TypeOf(0x00490001), "a\x01"},
      {"wide control character", TypeOf(0x004A0001), Utf16(u"a\x1F")},
      {"wide zero", TypeOf(0x004A0001), Utf16(std::u16string(1, u'\0'))},
      {"lone high surrogate", TypeOf(0x004A0001), Utf16(std::u16string(1, char16_t{0xD800}))},
      {"lone low surrogate", TypeOf(0x004A0001), Utf16(std::u16string(1, char16_t{0xDC00}) + u"a")},
      {"U+FFFF", TypeOf(0x004A0001), Utf16(std::u16string(1, char16_t{0xFFFF}))},
      {"odd wide length", TypeOf(0x004A0001), "abc"},
      {"zero byte in a memo", TypeOf(0x004B0004, true), std::string("a\0b", 3)},
      {"not a number", TypeOf(0x00040008), Raw(nan)},
      {"infinity", TypeOf(0x00040008), Raw(inf)},
      {"date-time beyond the day numbers", TypeOf(0x00080008), Raw(1e30)},
      {"date-time not a number", TypeOf(0x00080008), Raw(nan)},
      {"negative time", TypeOf(0x00070004), Raw(std::int32_t{-1})},
      {"time past the day", TypeOf(0x00070004), Raw(std::int32_t{86400000})},
      {"special BCD value", BcdType(10, 2), special_bcd},
      {"BCD digit above 9", BcdType(10, 2), bad_digit_bcd},
      {"BCD with more places than digits", BcdType(10, 2), std::string("\x02\x05\x00", 3)},
      {"time stamp month 13", TypeOf(0x00110010), TimeStamp({2024, 13, 1, 0, 0, 0}, 0)},
      {"time stamp fraction of nanoseconds", TypeOf(0x00110010),
       TimeStamp({2024, 1, 1, 0, 0, 0}, 500000000)},
      {"short fixed value", TypeOf(0x00010004), "ab"},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(Write(c.type, c.value, false, &text), DBResult::kXmlBadValue) << c.what;
  }
  // An 8-bit string ends at its first zero byte, as a table's string does.
  std::string text;
  ASSERT_EQ(Write(TypeOf(0x00490001), std::string("ab\0cd", 5), false, &text), DBResult::kOk);
  EXPECT_EQ(text, "ab");
}

TEST(XmlText, EveryDayNumberAndFiniteDoubleReadsBackAsItself) {
  for (std::int32_t day : {std::numeric_limits<std::int32_t>::min(), -1000000, -1, 1, 693594,
                           3652059, 3652060, std::numeric_limits<std::int32_t>::max()}) {
    std::string text, back;
    ASSERT_EQ(Write(TypeOf(0x00060004), Raw(day), false, &text), DBResult::kOk) << day;
    ASSERT_TRUE(ParseXmlValue(TypeOf(0x00060004), text, &back)) << day << " " << text;
    EXPECT_EQ(Hex(back), Hex(Raw(day))) << day << " " << text;
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, 8);
    if (!std::isfinite(v)) continue;
    std::string text, back;
    ASSERT_EQ(Write(TypeOf(0x00040008), Raw(v), false, &text), DBResult::kOk);
    ASSERT_TRUE(ParseXmlValue(TypeOf(0x00040008), text, &back)) << text;
    ASSERT_EQ(Hex(back), Hex(Raw(v))) << text;
  }
}

TEST(XmlText, ExtendedFloatsAreReadIntoTheirTenBytes) {
  const XmlValueType t = TypeOf(0x0004000A);
  std::string value;
  ASSERT_TRUE(ParseXmlValue(t, "1", &value));
  EXPECT_EQ(Hex(value), "00 00 00 00 00 00 00 80 FF 3F");
  ASSERT_TRUE(ParseXmlValue(t, "-2.5", &value));
  EXPECT_EQ(Hex(value), "00 00 00 00 00 00 00 A0 00 C0");
  ASSERT_TRUE(ParseXmlValue(t, "0", &value));
  EXPECT_EQ(Hex(value), "00 00 00 00 00 00 00 00 00 00");
  ASSERT_TRUE(ParseXmlValue(t, "4.9406564584124654e-324", &value));
  EXPECT_EQ(Hex(value), "00 00 00 00 00 00 00 80 CD 3B") << "the smallest subnormal double";
}

}  // namespace
}  // namespace zelvo
