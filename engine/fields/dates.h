// Day numbers, times of day and date-times as the engine stores them.
// Day 1 is 1 January of the year 1 in the proleptic Gregorian calendar; day 0 is "no date".
#pragma once

#include <cstdint>

namespace zelvo {

constexpr std::int64_t kMsPerDay = 86400000;
// Day number of 1899-12-30, the epoch of OLE automation dates.
constexpr std::int32_t kDayNumberOf18991230 = 693594;

struct CivilDate {
  std::int32_t year = 0;
  std::int32_t month = 0;  // 1-12
  std::int32_t day = 0;    // 1-31
};

struct TimeOfDay {
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
  std::int32_t millisecond = 0;
};

// True for a valid Gregorian date (month 1-12, day within the month, any year).
bool IsValidDate(const CivilDate& date);
std::int32_t DayNumberOf(const CivilDate& date);
CivilDate DateOfDayNumber(std::int32_t day_number);

std::int32_t MsOfTime(const TimeOfDay& time);
// REQUIRES: 0 <= ms < kMsPerDay.
TimeOfDay TimeOfMs(std::int32_t ms);

// A date-time value: day number x 86400000 + milliseconds since midnight, as a double.
struct DateTimeParts {
  std::int64_t day = 0;  // rounded toward minus infinity
  std::int32_t ms = 0;   // 0 .. 86399999
};
DateTimeParts SplitDateTime(double value);
double JoinDateTime(std::int64_t day, std::int32_t ms);

}  // namespace zelvo
