// The locale-dependent parts of filter texts in one place: the decimal separator and the
// short date and time formats, and the conversions of literal text that use them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvo {

// A program fills one of these from the user's locale (ForLocale) and hands it to every
// filter parse; tests use Fixed(). Plain data: copy it freely.
struct FormatSettings {
  char decimal_separator = '.';
  char date_separator = '/';
  // The order of the day, month and year of a short date: the first 'd', 'M' and 'y'
  // (any case) decide it. The separators in it are not read; date_separator is.
  std::string short_date_format = "M/d/yyyy";
  char time_separator = ':';
  // Accepted after a time, compared without regard to case, for a 12-hour clock.
  std::string time_am = "AM";
  std::string time_pm = "PM";
  // A two-digit year falls within this many years before or after the current year.
  int two_digit_year_window = 50;
  // The year of "now" for two-digit years and dates without a year; 0 reads the clock.
  int current_year = 0;

  // US English conventions with "." as the decimal separator and month/day/year dates.
  static FormatSettings Fixed();
  // The conventions of an ICU locale name ("de_DE"); "" is the user's default locale.
  // A separator that is not a single ASCII character keeps the Fixed() value.
  static FormatSettings ForLocale(std::string_view locale_name);
};

// Each conversion accepts blanks around the text and returns false for text that is not a
// value of its kind; the out-parameter is then unchanged.

// Decimal digits with an optional sign, in the range of a signed 32-bit integer.
bool TextToInt32(std::string_view text, std::int32_t* value);
// Digits with the settings' decimal separator (no other), an optional sign and exponent;
// infinite results are refused.
bool TextToDouble(std::string_view text, const FormatSettings& settings, double* value);
// A short date: two or three numbers separated by date_separator in the order of
// short_date_format (two numbers: day and month of the current year). Gives the day number
// (1 = 0001-01-01); years 1 to 9999.
bool TextToDate(std::string_view text, const FormatSettings& settings, std::int32_t* day_number);
// hours:minutes[:seconds[.fraction]] with an optional am/pm word; milliseconds since midnight.
bool TextToTime(std::string_view text, const FormatSettings& settings, std::int32_t* ms);
// A date, a date and a time separated by blanks, or a time alone (day 0); gives
// day number x 86400000 + milliseconds.
bool TextToDateTime(std::string_view text, const FormatSettings& settings, double* value);

}  // namespace zelvo
