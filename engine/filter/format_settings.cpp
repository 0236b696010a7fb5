// Locale conventions for filter literals: filling them from ICU, and the text conversions.
#include "filter/format_settings.h"

#include <unicode/udat.h>
#include <unicode/unum.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

#include "fields/collation.h"
#include "fields/dates.h"

namespace zelvo {

namespace {

constexpr std::int32_t kMsPerHour = 3600000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of 1 to 9 digits; false for anything else.
bool ReadNumber(std::string_view text, std::int32_t* value, std::size_t* digits) {
  if (text.empty() || text.size() > 9) return false;
  std::int32_t v = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  *digits = text.size();
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

int CurrentYear(const FormatSettings& settings) {
  if (settings.current_year != 0) return settings.current_year;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// 'D', 'M' and 'Y' in the order the format names them; missing parts follow as MDY would.
std::string DateOrder(std::string_view format) {
  std::string order;
  for (char c : format) {
    char part = 0;
    if (c == 'd' || c == 'D') part = 'D';
    if (c == 'M') part = 'M';
    if (c == 'y' || c == 'Y') part = 'Y';
    if (part != 0 && order.find(part) == std::string::npos) order.push_back(part);
  }
  for (char part : {'M', 'D', 'Y'}) {
    if (order.find(part) == std::string::npos) order.push_back(part);
  }
  return order;
}

// One ASCII or Windows-1252 character of an ICU symbol, when the symbol is exactly one.
bool SingleChar(const UChar* text, std::int32_t length, char* out) {
  std::uint8_t byte = 0;
  if (length != 1 || !UnicodeToCp1252(text[0], &byte) || byte == 0) return false;
  *out = static_cast<char>(byte);
  return true;
}

std::string NarrowSymbol(const UChar* text, std::int32_t length) {
  std::string out;
  for (std::int32_t i = 0; i < length; ++i) {
    std::uint8_t byte = 0;
    if (!UnicodeToCp1252(text[i], &byte)) return {};
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

}  // namespace

FormatSettings FormatSettings::Fixed() { return FormatSettings{}; }

FormatSettings FormatSettings::ForLocale(std::string_view locale_name) {
  FormatSettings settings;
  const std::string name(locale_name);
  const char* locale = name.empty() ? nullptr : name.c_str();
  UChar buffer[128];
  UErrorCode status = U_ZERO_ERROR;

  if (UNumberFormat* number = unum_open(UNUM_DECIMAL, nullptr, 0, locale, nullptr, &status)) {
    std::int32_t n = unum_getSymbol(number, UNUM_DECIMAL_SEPARATOR_SYMBOL, buffer, 128, &status);
    char c = 0;
    if (U_SUCCESS(status) && SingleChar(buffer, n, &c)) settings.decimal_separator = c;
    unum_close(number);
  }

  status = U_ZERO_ERROR;
  if (UDateFormat* date =
          udat_open(UDAT_NONE, UDAT_SHORT, locale, nullptr, 0, nullptr, 0, &status)) {
    std::int32_t n = udat_toPattern(date, false, buffer, 128, &status);
    if (U_SUCCESS(status) && n > 0 && n < 128) {
      std::string pattern = NarrowSymbol(buffer, n);
      if (!pattern.empty()) settings.short_date_format = pattern;
      for (std::int32_t i = 0; i < n; ++i) {
        char c = 0;
        // The first character that is neither a pattern letter nor quoted text.
        const bool letter = (buffer[i] >= 'a' && buffer[i] <= 'z') ||
                            (buffer[i] >= 'A' && buffer[i] <= 'Z') || buffer[i] == '\'';
        if (!letter && SingleChar(buffer + i, 1, &c) && c != ' ') {
          settings.date_separator = c;
          break;
        }
      }
    }
    udat_close(date);
  }

  status = U_ZERO_ERROR;
  if (UDateFormat* time =
          udat_open(UDAT_MEDIUM, UDAT_NONE, locale, nullptr, 0, nullptr, 0, &status)) {
    std::int32_t n = udat_toPattern(time, false, buffer, 128, &status);
    if (U_SUCCESS(status) && n > 0 && n < 128) {
      for (std::int32_t i = 0; i + 1 < n; ++i) {
        char c = 0;
        if ((buffer[i] == 'h' || buffer[i] == 'H') && buffer[i + 1] != buffer[i] &&
            SingleChar(buffer + i + 1, 1, &c)) {
          settings.time_separator = c;
          break;
        }
      }
    }
    for (int index = 0; index < 2; ++index) {
      status = U_ZERO_ERROR;
      std::int32_t len = udat_getSymbols(time, UDAT_AM_PMS, index, buffer, 128, &status);
      std::string word = U_SUCCESS(status) && len < 128 ? NarrowSymbol(buffer, len) : "";
      if (!word.empty()) (index == 0 ? settings.time_am : settings.time_pm) = word;
    }
    udat_close(time);
  }
  return settings;
}

bool TextToInt32(std::string_view text, std::int32_t* value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return false;
  std::int32_t v = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  *value = v;
  return true;
}

bool TextToDouble(std::string_view text, const FormatSettings& settings, double* value) {
  text = Trim(text);
  std::string plain;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') plain.push_back('-');
    ++i;
  }
  bool digits = false;
  bool separator = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      digits = true;
      plain.push_back(c);
    } else if (c == settings.decimal_separator && !separator) {
      separator = true;
      plain.push_back('.');
    } else {
      break;
    }
  }
  if (!digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    plain.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain.push_back(text[i++]);
    bool exponent_digits = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      exponent_digits = true;
      plain.push_back(text[i]);
    }
    if (!exponent_digits) return false;
  }
  if (i != text.size()) return false;
  double v = 0;
  auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
  if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(v)) {
    return false;
  }
  *value = v;
  return true;
}

bool TextToDate(std::string_view text, const FormatSettings& settings, std::int32_t* day_number) {
  text = Trim(text);
  std::int32_t numbers[3] = {};
  std::size_t widths[3] = {};
  int count = 0;
  for (;;) {
    const std::size_t end = text.find(settings.date_separator);
    if (count == 3) return false;
    if (!ReadNumber(text.substr(0, end), &numbers[count], &widths[count])) return false;
    ++count;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (count < 2) return false;
  const std::string order = DateOrder(settings.short_date_format);
  CivilDate date;
  std::size_t year_width = 4;
  if (count == 3) {
    for (int i = 0; i < 3; ++i) {
      if (order[i] == 'D') date.day = numbers[i];
      if (order[i] == 'M') date.month = numbers[i];
      if (order[i] == 'Y') {
        date.year = numbers[i];
        year_width = widths[i];
      }
    }
  } else {
    // Day and month in the order the format gives them, in the current year.
    const bool day_first = order.find('D') < order.find('M');
    date.day = day_first ? numbers[0] : numbers[1];
    date.month = day_first ? numbers[1] : numbers[0];
    date.year = CurrentYear(settings);
  }
  if (year_width <= 2) {
    const int now = CurrentYear(settings);
    const int window_start = now - settings.two_digit_year_window;
    date.year += window_start - window_start % 100;
    if (date.year < window_start) date.year += 100;
  }
  if (date.year < 1 || date.year > 9999 || !IsValidDate(date)) return false;
  *day_number = DayNumberOf(date);
  return true;
}

bool TextToTime(std::string_view text, const FormatSettings& settings, std::int32_t* ms) {
  text = Trim(text);
  int half = 0;  // 1 am, 2 pm
  for (int index = 0; index < 2 && half == 0; ++index) {
    const std::string& word = index == 0 ? settings.time_am : settings.time_pm;
    if (!word.empty() && text.size() > word.size() &&
        EqualsNoCase(text.substr(text.size() - word.size()), word)) {
      half = index + 1;
      text = Trim(text.substr(0, text.size() - word.size()));
    }
  }
  std::int32_t parts[3] = {};
  std::size_t width = 0;
  int count = 0;
  std::int32_t fraction_ms = 0;
  for (;;) {
    std::size_t end = text.find(settings.time_separator);
    std::string_view part = text.substr(0, end);
    if (count == 3) return false;
    if (count == 2 && end == std::string_view::npos) {
      // Seconds may carry a fraction after "." or the decimal separator.
      std::size_t dot = part.find_first_of(std::string{'.', settings.decimal_separator});
      if (dot != std::string_view::npos) {
        std::string_view fraction = part.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 3) return false;
        std::int32_t f = 0;
        if (!ReadNumber(fraction, &f, &width)) return false;
        for (std::size_t i = fraction.size(); i < 3; ++i) f *= 10;
        fraction_ms = f;
        part = part.substr(0, dot);
      }
    }
    if (!ReadNumber(part, &parts[count], &width) || width > 2) return false;
    ++count;
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (count < 2) return false;
  std::int32_t hour = parts[0];
  if (half != 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (half == 2 ? 12 : 0);
  }
  if (hour > 23 || parts[1] > 59 || parts[2] > 59) return false;
  *ms = hour * kMsPerHour + parts[1] * 60000 + parts[2] * 1000 + fraction_ms;
  return true;
}

bool TextToDateTime(std::string_view text, const FormatSettings& settings, double* value) {
  text = Trim(text);
  std::int32_t day = 0;
  std::int32_t ms = 0;
  const std::size_t blank = text.find_first_of(" \t");
  if (blank == std::string_view::npos) {
    if (TextToDate(text, settings, &day)) {
      *value = JoinDateTime(day, 0);
      return true;
    }
    if (!TextToTime(text, settings, &ms)) return false;
    *value = JoinDateTime(0, ms);
    return true;
  }
  if (!TextToDate(text.substr(0, blank), settings, &day) ||
      !TextToTime(text.substr(blank + 1), settings, &ms)) {
    return false;
  }
  *value = JoinDateTime(day, ms);
  return true;
}

}  // namespace zelvo
