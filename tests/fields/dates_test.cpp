// Day numbers, times and date-times.
#include <gtest/gtest.h>

#include "fields/dates.h"

namespace zelvo {
namespace {

TEST(Dates, KnownDayNumbers) {
  struct Case {
    std::int32_t day_number;
    CivilDate date;
  };
  const Case cases[] = {
      {1, {1, 1, 1}},           {693594, {1899, 12, 30}}, {730120, {2000, 1, 1}},
      {730179, {2000, 2, 29}},  {365, {1, 12, 31}},       {366, {2, 1, 1}},
      {0, {0, 12, 31}},         {-365, {0, 1, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DayNumberOf(c.date), c.day_number) << c.date.year << "-" << c.date.month;
    CivilDate back = DateOfDayNumber(c.day_number);
    EXPECT_EQ(back.year, c.date.year) << c.day_number;
    EXPECT_EQ(back.month, c.date.month) << c.day_number;
    EXPECT_EQ(back.day, c.date.day) << c.day_number;
  }
}

TEST(Dates, EveryDayOfFiveCenturiesRoundTrips) {
  std::int32_t expected = DayNumberOf({1800, 1, 1});
  for (std::int32_t year = 1800; year < 2300; ++year) {
    for (std::int32_t month = 1; month <= 12; ++month) {
      for (std::int32_t day = 1; IsValidDate({year, month, day}); ++day) {
        ASSERT_EQ(DayNumberOf({year, month, day}), expected) << year << "-" << month << "-" << day;
        CivilDate back = DateOfDayNumber(expected);
        ASSERT_TRUE(back.year == year && back.month == month && back.day == day);
        ++expected;
      }
    }
  }
  EXPECT_FALSE(IsValidDate({1900, 2, 29}));
  EXPECT_TRUE(IsValidDate({2000, 2, 29}));
}

TEST(Dates, DateTimeSplitsTowardMinusInfinity) {
  DateTimeParts p = SplitDateTime(-1.0);
  EXPECT_EQ(p.day, -1);
  EXPECT_EQ(p.ms, 86399999);
  p = SplitDateTime(JoinDateTime(730120, 12 * 3600000 + 1));
  EXPECT_EQ(p.day, 730120);
  EXPECT_EQ(p.ms, 12 * 3600000 + 1);
  TimeOfDay t = TimeOfMs(86399999);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 59);
  EXPECT_EQ(t.millisecond, 999);
  EXPECT_EQ(MsOfTime(t), 86399999);
}

}  // namespace
}  // namespace zelvo
