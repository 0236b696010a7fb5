// Text forms of field values: the one place where record bytes become text and back.
#include "client/value_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fields/bcd.h"
#include "fields/collation.h"
#include "fields/dates.h"

namespace zelvo::client {
namespace {

template <typename T>
T Load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(std::string* out, T v) {
  out->assign(sizeof v, '\0');
  std::memcpy(out->data(), &v, sizeof v);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Quoted(std::string_view text, const char* what) {
  return "'" + std::string(text) + "' is not a valid " + what;
}

template <typename T>
bool ParseInteger(std::string_view text, T* value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double* value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Reads exactly `digits` decimal digits at text[*pos].
bool Digits(std::string_view text, std::size_t* pos, int digits, int* value) {
  if (*pos + static_cast<std::size_t>(digits) > text.size()) return false;
  int v = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[*pos + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *pos += static_cast<std::size_t>(digits);
  *value = v;
  return true;
}

bool Expect(std::string_view text, std::size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// YYYY-MM-DD at *pos; "0000-00-00" is the empty date.
bool ParseDate(std::string_view text, std::size_t* pos, CivilDate* date) {
  return Digits(text, pos, 4, &date->year) && Expect(text, pos, '-') &&
         Digits(text, pos, 2, &date->month) && Expect(text, pos, '-') &&
         Digits(text, pos, 2, &date->day);
}

// HH:MM:SS[.mmm] at *pos.
bool ParseTime(std::string_view text, std::size_t* pos, TimeOfDay* time) {
  if (!(Digits(text, pos, 2, &time->hour) && Expect(text, pos, ':') &&
        Digits(text, pos, 2, &time->minute) && Expect(text, pos, ':') &&
        Digits(text, pos, 2, &time->second))) {
    return false;
  }
  time->millisecond = 0;
  if (*pos < text.size() && text[*pos] == '.') {
    ++*pos;
    if (!Digits(text, pos, 3, &time->millisecond)) return false;
  }
  return time->hour < 24 && time->minute < 60 && time->second < 60;
}

bool DayOfText(std::string_view text, std::int32_t* day) {
  std::size_t pos = 0;
  CivilDate date;
  if (!ParseDate(text, &pos, &date) || pos != text.size()) return false;
  if (date.year == 0 && date.month == 0 && date.day == 0) {
    *day = 0;
    return true;
  }
  if (date.year < 1 || !IsValidDate(date)) return false;
  *day = DayNumberOf(date);
  return true;
}

std::string DateText(std::int32_t day) {
  if (day == 0) return "0000-00-00";
  const CivilDate d = DateOfDayNumber(day);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string TimeText(int hour, int minute, int second, int ms) {
  char buf[32];
  if (ms != 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", hour, minute, second, ms);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
  }
  return buf;
}

std::string BcdText(const FieldDesc& field, const std::uint8_t* value) {
  std::string text;
  if (!Ok(BcdToText(value, field.length, &text))) return "0";
  // Exactly the field's scale in decimals: BcdToText drops trailing zeros.
  const std::size_t dot = text.find('.');
  std::size_t have = dot == std::string::npos ? 0 : text.size() - dot - 1;
  if (field.units2 > 0 && dot == std::string::npos) text += '.';
  while (have < field.units2) {
    text += '0';
    ++have;
  }
  return text;
}

}  // namespace

std::string DoubleText(double value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string HexOf(const std::uint8_t* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[data[i] >> 4];
    text[2 * i + 1] = kDigits[data[i] & 15];
  }
  return text;
}

bool BytesOfHex(std::string_view text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out(text.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const int hi = nibble(text[2 * i]), lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<char>(hi * 16 + lo);
  }
  *bytes = std::move(out);
  return true;
}

namespace {

// One code point from UTF-8 at text[*pos]; false for malformed or overlong sequences.
bool NextCodePoint(std::string_view text, std::size_t* pos, char32_t* cp) {
  const auto b0 = static_cast<std::uint8_t>(text[*pos]);
  int extra = 0;
  char32_t v = 0;
  if (b0 < 0x80) {
    v = b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, v = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, v = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, v = b0 & 0x07;
  } else {
    return false;
  }
  if (*pos + static_cast<std::size_t>(extra) >= text.size()) return false;
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<std::uint8_t>(text[*pos + static_cast<std::size_t>(i)]);
    if ((b & 0xC0) != 0x80) return false;
    v = (v << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (v < kMin[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return false;
  *pos += static_cast<std::size_t>(extra) + 1;
  *cp = v;
  return true;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool Utf8ToUtf16(std::string_view text, std::u16string* out) {
  out->clear();
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    if (!NextCodePoint(text, &pos, &cp)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

bool Utf8ToCp1252(std::string_view text, std::string* out, std::string* bad) {
  out->clear();
  for (std::size_t pos = 0; pos < text.size();) {
    char32_t cp = 0;
    const std::size_t start = pos;
    if (!NextCodePoint(text, &pos, &cp)) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "invalid UTF-8 byte 0x%02X",
                    static_cast<unsigned>(static_cast<std::uint8_t>(text[start])));
      *bad = buf;
      return false;
    }
    std::uint8_t byte = 0;
    if (!UnicodeToCp1252(cp, &byte)) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
      *bad = buf;
      return false;
    }
    out->push_back(static_cast<char>(byte));
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else {
      AppendUtf8(Cp1252ToUnicode(b), &out);
    }
  }
  return out;
}

std::string ValueToText(const FieldDesc& field, const std::uint8_t* value) {
  switch (field.type) {
    case FT_STRING:
      return std::string(reinterpret_cast<const char*>(value),
                         strnlen(reinterpret_cast<const char*>(value), field.length));
    case FT_WIDESTRING: {
      const auto bytes = std::min<std::uint32_t>(Load<std::uint16_t>(value), field.length - 2);
      std::u16string text(bytes / 2, u'\0');
      std::memcpy(text.data(), value + 2, text.size() * 2);
      return Utf16ToUtf8(text);
    }
    case FT_INT8: return std::to_string(Load<std::int8_t>(value));
    case FT_UINT8: return std::to_string(Load<std::uint8_t>(value));
    case FT_INT16: return std::to_string(Load<std::int16_t>(value));
    case FT_UINT16: return std::to_string(Load<std::uint16_t>(value));
    case FT_INT32: return std::to_string(Load<std::int32_t>(value));
    case FT_UINT32: return std::to_string(Load<std::uint32_t>(value));
    case FT_INT64: return std::to_string(Load<std::int64_t>(value));
    case FT_UINT64: return std::to_string(Load<std::uint64_t>(value));
    case FT_BOOL: return Load<std::uint16_t>(value) != 0 ? "True" : "False";
    case FT_BOOL8: return value[0] != 0 ? "True" : "False";
    case FT_BOOL32: return Load<std::uint32_t>(value) != 0 ? "True" : "False";
    case FT_FLOAT: return DoubleText(Load<double>(value));
    case FT_EXTENDED: {
      long double v = 0;
      std::memcpy(&v, value, std::min<std::size_t>(10, sizeof v));
      return DoubleText(static_cast<double>(v));
    }
    case FT_BCD:
    case FT_FMTBCD: return BcdText(field, value);
    case FT_DATE: return DateText(Load<std::int32_t>(value));
    case FT_TIME: {
      const std::int32_t ms = Load<std::int32_t>(value);
      if (ms < 0 || ms >= kMsPerDay) return std::to_string(ms);
      const TimeOfDay t = TimeOfMs(ms);
      return TimeText(t.hour, t.minute, t.second, t.millisecond);
    }
    case FT_DATETIME: {
      const DateTimeParts parts = SplitDateTime(Load<double>(value));
      const TimeOfDay t = TimeOfMs(parts.ms);
      return DateText(static_cast<std::int32_t>(parts.day)) + " " +
             TimeText(t.hour, t.minute, t.second, t.millisecond);
    }
    case FT_SQLTIMESTAMP: {
      std::uint16_t p[6];
      std::memcpy(p, value, sizeof p);
      const std::uint32_t fraction = Load<std::uint32_t>(value + 12);
      char buf[32];
      std::snprintf(buf, sizeof buf, "%04u-%02u-%02u ", unsigned{p[0]}, unsigned{p[1]},
                    unsigned{p[2]});
      return buf + TimeText(p[3], p[4], p[5], static_cast<int>(fraction));
    }
    case FT_VARBYTES: {
      const auto n = std::min<std::uint32_t>(Load<std::uint16_t>(value), field.length - 2);
      return HexOf(value + 2, n);
    }
    default: return HexOf(value, field.length);
  }
}

std::string TextToValue(const FieldDesc& field, std::string_view text, std::string* out) {
  auto integer = [&](auto zero, const char* what) -> std::string {
    decltype(zero) v{};
    if (!ParseInteger(text, &v)) return Quoted(text, what);
    Store(out, v);
    return {};
  };
  switch (field.type) {
    case FT_STRING: {
      if (text.find('\0') != std::string_view::npos) return "A string value cannot hold a zero byte";
      out->assign(text);
      out->push_back('\0');
      return {};
    }
    case FT_WIDESTRING: {
      std::u16string wide;
      if (!Utf8ToUtf16(text, &wide)) return "Invalid UTF-8 text";
      if (wide.size() * 2 > field.length - 2) return "Text too long for field '" + std::string(field.Name()) + "'";
      out->assign(field.length, '\0');
      const auto bytes = static_cast<std::uint16_t>(wide.size() * 2);
      std::memcpy(out->data(), &bytes, 2);
      std::memcpy(out->data() + 2, wide.data(), bytes);
      return {};
    }
    case FT_INT8: {
      std::int32_t v = 0;
      if (!ParseInteger(text, &v) || v < -128 || v > 127) return Quoted(text, "integer value");
      out->assign(2, '\0');
      (*out)[0] = static_cast<char>(v);
      return {};
    }
    case FT_UINT8: {
      std::int32_t v = 0;
      if (!ParseInteger(text, &v) || v < 0 || v > 255) return Quoted(text, "integer value");
      out->assign(2, '\0');
      (*out)[0] = static_cast<char>(v);
      return {};
    }
    case FT_INT16: return integer(std::int16_t{}, "integer value");
    case FT_UINT16: return integer(std::uint16_t{}, "integer value");
    case FT_INT32: return integer(std::int32_t{}, "integer value");
    case FT_UINT32: return integer(std::uint32_t{}, "integer value");
    case FT_INT64: return integer(std::int64_t{}, "integer value");
    case FT_UINT64: return integer(std::uint64_t{}, "integer value");
    case FT_BOOL:
    case FT_BOOL8:
    case FT_BOOL32: {
      const std::string_view t = Trim(text);
      bool v = false;
      auto same = [&](std::string_view word) {
        return t.size() == word.size() &&
               std::equal(t.begin(), t.end(), word.begin(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
      };
      if (same("true")) {
        v = true;
      } else if (!same("false")) {
        return Quoted(text, "boolean value");
      }
      if (field.type == FT_BOOL) Store(out, static_cast<std::uint16_t>(v));
      if (field.type == FT_BOOL32) Store(out, static_cast<std::uint32_t>(v));
      if (field.type == FT_BOOL8) {
        out->assign(2, '\0');
        (*out)[0] = static_cast<char>(v);
      }
      return {};
    }
    case FT_FLOAT: {
      double v = 0;
      if (!ParseDouble(text, &v)) return Quoted(text, "floating point value");
      Store(out, v);
      return {};
    }
    case FT_EXTENDED: {
      double v = 0;
      if (!ParseDouble(text, &v)) return Quoted(text, "floating point value");
      const long double e = v;
      out->assign(10, '\0');
      std::memcpy(out->data(), &e, std::min<std::size_t>(10, sizeof e));
      return {};
    }
    case FT_BCD:
    case FT_FMTBCD: {
      std::uint8_t bcd[kBcdMaxBytes] = {};
      const std::uint32_t precision = field.units1 != 0 ? field.units1 : 32;
      if (!Ok(BcdFromText(Trim(text), precision, field.units2, bcd, kBcdMaxBytes))) {
        return Quoted(text, "BCD value");
      }
      out->assign(reinterpret_cast<const char*>(bcd), kBcdMaxBytes);
      return {};
    }
    case FT_DATE: {
      std::int32_t day = 0;
      if (!DayOfText(Trim(text), &day)) return Quoted(text, "date");
      Store(out, day);
      return {};
    }
    case FT_TIME: {
      const std::string_view t = Trim(text);
      std::size_t pos = 0;
      TimeOfDay time;
      if (!ParseTime(t, &pos, &time) || pos != t.size()) return Quoted(text, "time");
      Store(out, MsOfTime(time));
      return {};
    }
    case FT_DATETIME:
    case FT_SQLTIMESTAMP: {
      const std::string_view t = Trim(text);
      std::size_t pos = 0;
      CivilDate date;
      TimeOfDay time;
      const bool date_ok = ParseDate(t, &pos, &date);
      bool ok = date_ok;
      if (ok && pos < t.size()) ok = Expect(t, &pos, ' ') && ParseTime(t, &pos, &time);
      if (!ok || pos != t.size() || date.year < 1 || !IsValidDate(date)) {
        return Quoted(text, "date and time");
      }
      if (field.type == FT_DATETIME) {
        Store(out, JoinDateTime(DayNumberOf(date), MsOfTime(time)));
      } else {
        out->assign(16, '\0');
        const std::uint16_t p[6] = {
            static_cast<std::uint16_t>(date.year), static_cast<std::uint16_t>(date.month),
            static_cast<std::uint16_t>(date.day),  static_cast<std::uint16_t>(time.hour),
            static_cast<std::uint16_t>(time.minute), static_cast<std::uint16_t>(time.second)};
        const auto fraction = static_cast<std::uint32_t>(time.millisecond);
        std::memcpy(out->data(), p, sizeof p);
        std::memcpy(out->data() + 12, &fraction, 4);
      }
      return {};
    }
    case FT_VARBYTES: {
      std::string bytes;
      if (!BytesOfHex(Trim(text), &bytes)) return Quoted(text, "hexadecimal value");
      if (bytes.size() > field.length - 2) return "Value too long for field '" + std::string(field.Name()) + "'";
      out->assign(field.length, '\0');
      const auto n = static_cast<std::uint16_t>(bytes.size());
      std::memcpy(out->data(), &n, 2);
      std::memcpy(out->data() + 2, bytes.data(), bytes.size());
      return {};
    }
    default: {
      std::string bytes;
      if (!BytesOfHex(Trim(text), &bytes)) return Quoted(text, "hexadecimal value");
      if (bytes.size() != field.length) {
        return "Field '" + std::string(field.Name()) + "' needs exactly " +
               std::to_string(field.length) + " bytes";
      }
      *out = std::move(bytes);
      return {};
    }
  }
}

}  // namespace zelvo::client
