// Literal conversions of filter texts under different locale conventions.
#include "filter/format_settings.h"

#include <gtest/gtest.h>

#include "fields/dates.h"

namespace zelvo {
namespace {

FormatSettings German() {
  FormatSettings s;
  s.decimal_separator = ',';
  s.date_separator = '.';
  s.short_date_format = "dd.MM.yyyy";
  s.current_year = 2004;
  return s;
}

TEST(FormatSettings, NumbersUseOnlyTheLocaleSeparator) {
  const FormatSettings us = FormatSettings::Fixed();
  const FormatSettings de = German();
  struct Case {
    const char* text;
    const FormatSettings* settings;
    bool ok;
    double value;
  } cases[] = {
      {"1.5", &us, true, 1.5}, {"1,5", &de, true, 1.5},        {"1,5", &us, false, 0},
      {"1.5", &de, false, 0},  {" -2.5e3 ", &us, true, -2500}, {"+7", &us, true, 7},
      {"1e", &us, false, 0},   {"e5", &us, false, 0},          {"1e999", &us, false, 0},
      {"", &us, false, 0},     {"1.2.3", &us, false, 0},       {"-", &us, false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(TextToDouble(c.text, *c.settings, &v), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(FormatSettings, IntegersAreDecimalAndInRange) {
  std::int32_t v = 0;
  EXPECT_TRUE(TextToInt32(" -2147483648", &v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_FALSE(TextToInt32("2147483648", &v));
  EXPECT_FALSE(TextToInt32("3.0", &v));
  EXPECT_FALSE(TextToInt32("0x10", &v));
  EXPECT_FALSE(TextToInt32("++1", &v));
}

TEST(FormatSettings, DatesFollowTheShortDateOrder) {
  FormatSettings us = FormatSettings::Fixed();
  us.current_year = 2004;
  const FormatSettings de = German();
  FormatSettings iso = us;
  iso.date_separator = '-';
  iso.short_date_format = "yyyy-MM-dd";
  struct Case {
    const char* text;
    const FormatSettings* settings;
    CivilDate date;  // year 0: refused
  } cases[] = {
      {"5/17/2003", &us, {2003, 5, 17}},   {"17.05.2003", &de, {2003, 5, 17}},
      {"2003-05-17", &iso, {2003, 5, 17}}, {"5/17", &us, {2004, 5, 17}},
      {"17.5", &de, {2004, 5, 17}},        {"5/17/03", &us, {2003, 5, 17}},
      {"5/17/80", &us, {1980, 5, 17}},     {"2/29/2003", &us, {0, 0, 0}},
      {"2/29/2004", &us, {2004, 2, 29}},   {"17/5/2003", &us, {0, 0, 0}},
      {"5/17/2003/1", &us, {0, 0, 0}},     {"5//2003", &us, {0, 0, 0}},
      {"5/17/0", &us, {2000, 5, 17}},      {"5/17/10000", &us, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::int32_t day = 0;
    const bool ok = TextToDate(c.text, *c.settings, &day);
    EXPECT_EQ(ok, c.date.year != 0) << c.text;
    if (ok) EXPECT_EQ(day, DayNumberOf(c.date)) << c.text;
  }
}

TEST(FormatSettings, TimesTakeSecondsFractionsAndTwelveHourWords) {
  const FormatSettings us = FormatSettings::Fixed();
  struct Case {
    const char* text;
    std::int32_t ms;  // -1: refused
  } cases[] = {
      {"10:30", 37800000}, {"10:30:15", 37815000}, {"10:30:15.25", 37815250},
      {"12:00 AM", 0},     {"12:00 pm", 43200000}, {"1:30 PM", 48600000},
      {"13:00 PM", -1},    {"24:00", -1},          {"10:60", -1},
      {"10", -1},          {"10:30:15.2500", -1},  {"a:b", -1},
  };
  for (const Case& c : cases) {
    std::int32_t ms = 0;
    const bool ok = TextToTime(c.text, us, &ms);
    EXPECT_EQ(ok, c.ms >= 0) << c.text;
    if (ok) EXPECT_EQ(ms, c.ms) << c.text;
  }
}

TEST(FormatSettings, DateTimesJoinDayAndTime) {
  const FormatSettings us = FormatSettings::Fixed();
  double v = 0;
  ASSERT_TRUE(TextToDateTime("5/17/2003 23:00", us, &v));
  EXPECT_EQ(v, JoinDateTime(DayNumberOf({2003, 5, 17}), 23 * 3600000));
  ASSERT_TRUE(TextToDateTime("5/17/2003", us, &v));
  EXPECT_EQ(v, JoinDateTime(DayNumberOf({2003, 5, 17}), 0));
  ASSERT_TRUE(TextToDateTime("1:30", us, &v));
  EXPECT_EQ(v, 5400000.0);
  EXPECT_FALSE(TextToDateTime("5/17/2003 noon", us, &v));
}

TEST(FormatSettings, LocaleConventionsComeFromIcu) {
  const FormatSettings de = FormatSettings::ForLocale("de_DE");
  EXPECT_EQ(de.decimal_separator, ',');
  EXPECT_EQ(de.date_separator, '.');
  std::int32_t day = 0;
  EXPECT_TRUE(TextToDate("17.05.2003", de, &day));
  EXPECT_EQ(day, DayNumberOf({2003, 5, 17}));
  const FormatSettings us = FormatSettings::ForLocale("en_US");
  EXPECT_EQ(us.decimal_separator, '.');
  EXPECT_EQ(us.date_separator, '/');
  EXPECT_TRUE(TextToDate("5/17/2003", us, &day));
  EXPECT_EQ(day, DayNumberOf({2003, 5, 17}));
}

}  // namespace
}  // namespace zelvo
