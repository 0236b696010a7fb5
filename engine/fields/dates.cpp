// Calendar arithmetic for day numbers (proleptic Gregorian).
#include "fields/dates.h"

#include <cmath>

namespace zelvo {

namespace {

// Days from 0000-03-01 style eras: a 400-year era has 146097 days. Shifting the year to
// start in March puts the leap day at the end, so the day of the year is a linear formula.
constexpr std::int64_t kDaysPerEra = 146097;
// Day number 1 (0001-01-01) counted from the era origin 0000-03-01.
constexpr std::int64_t kDayNumberOffset = 306;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

bool IsLeap(std::int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool IsValidDate(const CivilDate& d) {
  static constexpr std::int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (d.month < 1 || d.month > 12 || d.day < 1) return false;
  std::int32_t limit = kDays[d.month - 1] + (d.month == 2 && IsLeap(d.year) ? 1 : 0);
  return d.day <= limit;
}

std::int32_t DayNumberOf(const CivilDate& date) {
  std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  std::int64_t era = FloorDiv(y, 400);
  std::int64_t year_of_era = y - era * 400;
  std::int64_t month_from_march = date.month > 2 ? date.month - 3 : date.month + 9;
  std::int64_t day_of_year = (153 * month_from_march + 2) / 5 + date.day - 1;
  std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int32_t>(era * kDaysPerEra + day_of_era - kDayNumberOffset + 1);
}

CivilDate DateOfDayNumber(std::int32_t day_number) {
  std::int64_t z = static_cast<std::int64_t>(day_number) - 1 + kDayNumberOffset;
  std::int64_t era = FloorDiv(z, kDaysPerEra);
  std::int64_t day_of_era = z - era * kDaysPerEra;
  std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  CivilDate d;
  d.day = static_cast<std::int32_t>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  d.month = static_cast<std::int32_t>(month_from_march < 10 ? month_from_march + 3
                                                            : month_from_march - 9);
  d.year = static_cast<std::int32_t>(year_of_era + era * 400 + (d.month <= 2 ? 1 : 0));
  return d;
}

std::int32_t MsOfTime(const TimeOfDay& t) {
  return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

TimeOfDay TimeOfMs(std::int32_t ms) {
  TimeOfDay t;
  t.millisecond = ms % 1000;
  ms /= 1000;
  t.second = ms % 60;
  ms /= 60;
  t.minute = ms % 60;
  t.hour = ms / 60;
  return t;
}

DateTimeParts SplitDateTime(double value) {
  DateTimeParts parts;
  if (!std::isfinite(value) || std::fabs(value) > 9.0e18) return parts;
  std::int64_t total = std::llround(value);
  parts.day = FloorDiv(total, kMsPerDay);
  parts.ms = static_cast<std::int32_t>(total - parts.day * kMsPerDay);
  return parts;
}

double JoinDateTime(std::int64_t day, std::int32_t ms) {
  return static_cast<double>(day) * static_cast<double>(kMsPerDay) + ms;
}

}  // namespace zelvo
