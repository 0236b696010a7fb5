// Text forms of packet values in XML, both directions.
#include "packet/xml_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "fields/bcd.h"
#include "fields/dates.h"
#include "fields/type_word.h"
#include "packet/converters.h"

namespace zelvo {

namespace {

// ---- Escaping ---------------------------------------------------------------------------

enum CharClass : std::uint8_t { kPlain, kEscape, kControl, kHigh };

struct EscapeTable {
  CharClass cls[256];
  std::string_view text[128];
  constexpr EscapeTable() : cls(), text() {
    for (int c = 0; c < 256; ++c) cls[c] = c < 0x20 ? kControl : (c < 0x80 ? kPlain : kHigh);
    auto set = [this](char c, std::string_view t) {
      cls[static_cast<unsigned char>(c)] = kEscape;
      text[static_cast<unsigned char>(c)] = t;
    };
    set('<', "&lt;");
    set('>', "&gt;");
    set('&', "&amp;");
    set('\'', "&apos;");
    set('"', "&quot;");
    set('\r', "&#013;");
    set('\n', "&#010;");
    set('\t', "&#009;");
    set('\\', "&#092;");
  }
};
constexpr EscapeTable kEscapes;

void PutCharRef(std::uint32_t code_point, XmlBuffer* out) {
  char buf[16];
  char* end = buf;
  *end++ = '&';
  *end++ = '#';
  if (code_point < 100) *end++ = '0';
  if (code_point < 10) *end++ = '0';
  end = std::to_chars(end, buf + sizeof(buf), code_point).ptr;
  *end++ = ';';
  out->PutBytes(buf, static_cast<std::size_t>(end - buf));
}

void PutUtf8(std::uint32_t cp, XmlBuffer* out) {
  char buf[4];
  std::size_t n;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out->PutBytes(buf, n);
}

// 8-bit text: plain runs are copied in one piece. A zero byte ends the text when
// `zero_ends`, and is refused otherwise (a memo has no terminator).
DBResult PutEscaped8(const std::uint8_t* p, std::size_t n, bool utf8, bool zero_ends,
                     XmlBuffer* out) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t c = p[i];
    const CharClass cls = kEscapes.cls[c];
    if (cls == kPlain) continue;
    out->PutBytes(p + run, i - run);
    run = i + 1;
    switch (cls) {
      case kEscape:
        out->Put(kEscapes.text[c]);
        break;
      case kHigh:
        if (utf8)
          PutUtf8(c, out);
        else
          PutCharRef(c, out);
        break;
      default:
        if (c == 0 && zero_ends) return DBResult::kOk;
        return DBResult::kXmlBadValue;
    }
  }
  out->PutBytes(p + run, n - run);
  return DBResult::kOk;
}

DBResult PutEscapedUtf16(const std::uint8_t* p, std::size_t bytes, bool utf8, XmlBuffer* out) {
  const std::size_t units = bytes / 2;
  auto unit = [p](std::size_t i) {
    return static_cast<std::uint32_t>(p[2 * i] | (p[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t cp = unit(i);
    if (cp < 0x80) {
      const CharClass cls = kEscapes.cls[cp];
      if (cls == kPlain)
        out->Put(static_cast<char>(cp));
      else if (cls == kEscape)
        out->Put(kEscapes.text[cp]);
      else
        return DBResult::kXmlBadValue;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      // Only a high surrogate followed by a low one is a character.
      if (cp > 0xDBFF || i + 1 >= units) return DBResult::kXmlBadValue;
      const std::uint32_t low = unit(i + 1);
      if (low < 0xDC00 || low > 0xDFFF) return DBResult::kXmlBadValue;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (cp == 0xFFFE || cp == 0xFFFF) {
      return DBResult::kXmlBadValue;
    }
    if (utf8)
      PutUtf8(cp, out);
    else
      PutCharRef(cp, out);
  }
  return DBResult::kOk;
}

// ---- Base64 ------------------------------------------------------------------------------

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void PutBase64(const std::uint8_t* p, std::size_t n, XmlBuffer* out) {
  if (!out->Room((n + 2) / 3 * 4)) return;
  char* dst = out->Raw((n + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    *dst++ = kBase64[v >> 18];
    *dst++ = kBase64[(v >> 12) & 63];
    *dst++ = kBase64[(v >> 6) & 63];
    *dst++ = kBase64[v & 63];
  }
  if (i < n) {
    const std::uint32_t v = (p[i] << 16) | (i + 1 < n ? p[i + 1] << 8 : 0);
    *dst++ = kBase64[v >> 18];
    *dst++ = kBase64[(v >> 12) & 63];
    *dst++ = i + 1 < n ? kBase64[(v >> 6) & 63] : '=';
    *dst++ = '=';
  }
}

int Base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Blanks anywhere are skipped (attribute normalisation may have put them there); "="
// padding may only end the text.
bool ReadBase64(std::string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size() / 4 * 3);
  std::uint32_t acc = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    if (IsSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int d = Base64Digit(c);
    if (d < 0 || padding != 0) return false;
    acc = (acc << 6) | static_cast<std::uint32_t>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return padding <= 2;
}

// ---- Numbers -----------------------------------------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
}

// The null rule of numbers, times and time stamps: after skipping characters that are neither
// letters nor digits, the text must continue with a digit. Sets `*start` to that digit's
// sign or leading point, where a number's text begins.
bool NumberStart(std::string_view text, std::size_t* start) {
  std::size_t i = 0;
  while (i < text.size() && !IsDigit(text[i]) && !IsLetter(text[i])) ++i;
  if (i == text.size() || !IsDigit(text[i])) return false;
  if (i > 0 && text[i - 1] == '.') --i;
  if (i > 0 && (text[i - 1] == '-' || text[i - 1] == '+')) --i;
  *start = i;
  return true;
}

// A signed decimal integer from `text` (sign, then digits), wrapped to 64 bits.
std::uint64_t ReadInteger(std::string_view text, std::size_t* pos) {
  std::size_t i = *pos;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::uint64_t v = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i)
    v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
  *pos = i;
  return negative ? ~v + 1 : v;
}

void PutInteger(std::int64_t v, XmlBuffer* out) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof(buf), v).ptr;
  out->PutBytes(buf, static_cast<std::size_t>(end - buf));
}

void PutUnsigned(std::uint64_t v, XmlBuffer* out) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof(buf), v).ptr;
  out->PutBytes(buf, static_cast<std::size_t>(end - buf));
}

// The integer of `size` bytes at `p`, sign-extended.
std::int64_t LoadSigned(const std::uint8_t* p, std::uint32_t size) {
  switch (size) {
    case 1:
      return static_cast<std::int8_t>(p[0]);
    case 2: {
      std::int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case 4: {
      std::int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default: {
      std::int64_t v;
      std::memcpy(&v, p, 8);
      return v;
    }
  }
}

std::uint64_t LoadUnsigned(const std::uint8_t* p, std::uint32_t size) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, size);
  return v;
}

void StoreInteger(std::uint64_t v, std::uint32_t size, std::string* out) {
  out->assign(reinterpret_cast<const char*>(&v), size);  // little-endian host and packet
}

void PutDouble(double v, XmlBuffer* out) {
  // 16 significant digits as the format asks; the rare double that needs a 17th to read
  // back as itself gets it, so that saving and loading never changes a value.
  char buf[40];
  auto end = std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::general, 16).ptr;
  double back = 0;
  std::from_chars(buf, end, back);
  if (back != v) {
    end = std::to_chars(buf, buf + sizeof(buf), v, std::chars_format::general, 17).ptr;
  }
  out->PutBytes(buf, static_cast<std::size_t>(end - buf));
}

bool ReadDouble(std::string_view text, double* v) {
  std::size_t start = 0;
  if (!NumberStart(text, &start)) return false;
  if (text[start] == '+') ++start;
  auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + text.size(), *v);
  return ec == std::errc();
}

// A double as the 80-bit extended float of x86 (64-bit mantissa with its integer bit, 15-bit
// biased exponent, sign), little-endian.
void StoreExtended(double d, std::string* out) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  const std::uint16_t sign = static_cast<std::uint16_t>((bits >> 48) & 0x8000);
  const std::uint32_t exponent = static_cast<std::uint32_t>((bits >> 52) & 0x7FF);
  std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t mantissa = 0;
  std::uint16_t exp80 = 0;
  if (exponent == 0x7FF) {
    exp80 = 0x7FFF;
    mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent != 0) {
    exp80 = static_cast<std::uint16_t>(exponent - 1023 + 16383);
    mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
  } else if (fraction != 0) {
    int high = 63;
    while ((fraction >> high) == 0) --high;
    mantissa = fraction << (63 - high);
    exp80 = static_cast<std::uint16_t>(high - 1074 + 16383);
  }
  exp80 |= sign;
  out->assign(reinterpret_cast<const char*>(&mantissa), 8);
  out->append(reinterpret_cast<const char*>(&exp80), 2);
}

// ---- BCD ---------------------------------------------------------------------------------

constexpr std::uint32_t kBcdPacketDigits = 2 * (kBcdPacketBytes - 2);

DBResult PutBcd(const std::uint8_t* v, std::uint32_t length, XmlBuffer* out) {
  if (length < 2) return DBResult::kXmlBadValue;
  const std::uint32_t precision = v[0];
  const std::uint32_t places = v[1] & kBcdPlacesMask;
  if ((v[1] & kBcdSpecial) != 0 || precision > kBcdMaxDigits || places > precision) {
    return DBResult::kXmlBadValue;
  }
  // A packet keeps 32 digits; positions beyond those it holds read as zero.
  const std::uint32_t available = std::min(2 * (length - 2), kBcdPacketDigits);
  char digits[kBcdMaxDigits];
  bool nonzero = false;
  for (std::uint32_t i = 0; i < precision; ++i) {
    std::uint32_t nibble = 0;
    if (i < available) nibble = i % 2 == 0 ? v[2 + i / 2] >> 4 : v[2 + i / 2] & 0x0F;
    if (nibble > 9) return DBResult::kXmlBadValue;
    digits[i] = static_cast<char>('0' + nibble);
    nonzero = nonzero || nibble != 0;
  }
  if ((v[1] & kBcdNegative) != 0 && nonzero) out->Put('-');
  const std::uint32_t integral = precision - places;
  std::uint32_t first = 0;
  while (first < integral && digits[first] == '0') ++first;
  if (first == integral)
    out->Put('0');
  else
    out->PutBytes(digits + first, integral - first);
  if (places != 0) {
    out->Put('.');
    out->PutBytes(digits + integral, places);
  }
  return DBResult::kOk;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool ReadBcd(const XmlValueType& type, std::string_view text, std::string* out) {
  text = Trim(text);
  // Precision and scale of a column without WIDTH and DECIMALS come from the text itself.
  std::uint32_t integral = 0, fraction = 0;
  bool in_fraction = false;
  for (char c : text) {
    if (c == '.')
      in_fraction = true;
    else if (IsDigit(c))
      (in_fraction ? fraction : integral) += 1;
  }
  std::uint32_t places = type.places_known ? type.places : fraction;
  std::uint32_t precision = type.precision;
  if (precision == 0) precision = std::min(std::max(integral + places, 1u), kBcdPacketDigits);
  if (places > precision) return false;
  std::uint8_t value[kBcdMaxBytes];
  if (BcdFromText(text, precision, places, value, sizeof(value)) != DBResult::kOk) return false;
  out->assign(reinterpret_cast<const char*>(value), kBcdPacketBytes);
  return true;
}

// ---- Dates and times ---------------------------------------------------------------------

void PutPadded(std::int64_t v, int width, XmlBuffer* out) {
  char buf[24];
  char* p = buf;
  if (v < 0) {
    *p++ = '-';
    v = -v;
  }
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof(digits), v).ptr;
  for (auto n = end - digits; n < width; ++n) *p++ = '0';
  std::memcpy(p, digits, static_cast<std::size_t>(end - digits));
  p += end - digits;
  out->PutBytes(buf, static_cast<std::size_t>(p - buf));
}

void PutDate(std::int32_t day_number, XmlBuffer* out) {
  if (day_number == 0) {
    out->Put("00000000");
    return;
  }
  const CivilDate d = DateOfDayNumber(day_number);
  PutPadded(d.year, 4, out);
  PutPadded(d.month, 2, out);
  PutPadded(d.day, 2, out);
}

void PutTime(std::int64_t hour, std::int64_t minute, std::int64_t ms_in_minute, XmlBuffer* out) {
  PutPadded(hour, 2, out);
  out->Put(':');
  PutPadded(minute, 2, out);
  out->Put(':');
  PutPadded(ms_in_minute, 5, out);
}

void PutTimeOfDay(std::int32_t ms, XmlBuffer* out) {
  PutTime(ms / 3600000, ms / 60000 % 60, ms % 60000, out);
}

struct DateDigits {
  std::int64_t year = 0;
  std::int32_t month = 0;
  std::int32_t day = 0;
  std::size_t end = 0;  // position after the digits
};

// YYYYMMDD: a year of 4 digits (more when the text has more than 8), a month of 2 and a day of
// 1 or 2 digits; the year may carry a minus sign. Leading blanks are skipped.
bool ReadDateDigits(std::string_view text, DateDigits* d) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  const std::size_t begin = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  const std::size_t n = i - begin;
  if (n < 7 || n > 12) return false;
  const std::size_t year_digits = n <= 8 ? 4 : n - 4;
  auto number = [&](std::size_t from, std::size_t count) {
    std::int64_t v = 0;
    for (std::size_t k = 0; k < count; ++k) v = v * 10 + (text[begin + from + k] - '0');
    return v;
  };
  d->year = number(0, year_digits);
  if (negative) d->year = -d->year;
  d->month = static_cast<std::int32_t>(number(year_digits, 2));
  d->day = static_cast<std::int32_t>(number(year_digits + 2, n - year_digits - 2));
  d->end = i;
  return d->month <= 12 && d->day < 32;
}

// Hours, minutes and the milliseconds within the minute (digits after the second colon,
// right-padded with zeros to 5). Sets *valid to false for parts out of range.
bool ReadTimeParts(std::string_view text, std::int64_t* hour, std::int64_t* minute,
                   std::int64_t* ms, bool* valid) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  auto digits = [&](std::size_t max, std::int64_t* v, std::size_t* count) {
    *v = 0;
    *count = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++*count) {
      if (*count < max) *v = *v * 10 + (text[i] - '0');
    }
  };
  std::size_t count = 0;
  digits(9, hour, &count);
  if (count == 0) return false;
  *minute = *ms = 0;
  *valid = count <= 9;
  if (i < text.size() && text[i] == ':') {
    ++i;
    digits(9, minute, &count);
    *valid = *valid && count <= 9;
    if (i < text.size() && text[i] == ':') {
      ++i;
      digits(5, ms, &count);
      for (std::size_t k = count; k < 5; ++k) *ms *= 10;
      *valid = *valid && count <= 5;
    }
  }
  *valid = *valid && *hour <= 23 && *minute <= 59 && *ms <= 59999;
  return true;
}

// A time of day; parts out of range give midnight, as the format says.
bool ReadTime(std::string_view text, std::int32_t* ms) {
  std::size_t start = 0;
  if (!NumberStart(text, &start)) return false;
  std::int64_t hour = 0, minute = 0, in_minute = 0;
  bool valid = false;
  if (!ReadTimeParts(text.substr(start), &hour, &minute, &in_minute, &valid)) return false;
  *ms = valid ? static_cast<std::int32_t>((hour * 60 + minute) * 60000 + in_minute) : 0;
  return true;
}

// Years whose dates all have an i32 day number; the few years beyond, up to the ends of the
// i32 range, are checked date by date.
constexpr std::int64_t kSafeYear = 5879000;
constexpr std::int64_t kMaxYear = 5880000;

bool DayNumberOfDigits(const DateDigits& d, std::int32_t* day_number) {
  if (d.year == 0 && d.month == 0 && d.day == 0) {
    *day_number = 0;
    return true;
  }
  if (d.month < 1 || d.day < 1 || d.year > kMaxYear || d.year < -kMaxYear) return false;
  const CivilDate date{static_cast<std::int32_t>(d.year), d.month, d.day};
  *day_number = DayNumberOf(date);
  if (d.year > kSafeYear || d.year < -kSafeYear) {
    const CivilDate back = DateOfDayNumber(*day_number);
    if (back.year != date.year || back.month != date.month || back.day != date.day) return false;
  }
  return true;
}

bool ReadDateTime(std::string_view text, double* value) {
  DateDigits d;
  std::int32_t day = 0;
  if (!ReadDateDigits(text, &d) || !DayNumberOfDigits(d, &day)) return false;
  std::int32_t ms = 0;
  if (d.end < text.size() && text[d.end] == 'T' && !ReadTime(text.substr(d.end + 1), &ms)) {
    return false;
  }
  *value = JoinDateTime(day, ms);
  return true;
}

struct TimeStamp {
  std::uint16_t year, month, day, hour, minute, second;
  std::uint32_t fraction;
};
static_assert(sizeof(TimeStamp) == 16);

DBResult PutTimeStamp(const std::uint8_t* data, XmlBuffer* out) {
  TimeStamp t;
  std::memcpy(&t, data, sizeof(t));
  const std::uint64_t ms = std::uint64_t{t.second} * 1000 + t.fraction;
  if (t.month > 12 || t.day > 31 || t.hour > 23 || t.minute > 59 || ms > 59999) {
    return DBResult::kXmlBadValue;
  }
  PutPadded(t.year, 4, out);
  PutPadded(t.month, 2, out);
  PutPadded(t.day, 2, out);
  if (t.hour != 0 || t.minute != 0 || ms != 0) {
    out->Put('T');
    PutTime(t.hour, t.minute, static_cast<std::int64_t>(ms), out);
  }
  return DBResult::kOk;
}

bool ReadTimeStamp(std::string_view text, std::string* out) {
  std::size_t start = 0;
  if (!NumberStart(text, &start)) return false;
  DateDigits d;
  if (!ReadDateDigits(text, &d) || d.year < 0 || d.year > 0xFFFF) return false;
  TimeStamp t{static_cast<std::uint16_t>(d.year),
              static_cast<std::uint16_t>(d.month),
              static_cast<std::uint16_t>(d.day),
              0,
              0,
              0,
              0};
  if (d.end < text.size() && text[d.end] == 'T') {
    std::int64_t hour = 0, minute = 0, ms = 0;
    bool valid = false;
    if (!ReadTimeParts(text.substr(d.end + 1), &hour, &minute, &ms, &valid) || !valid) {
      return false;
    }
    t.hour = static_cast<std::uint16_t>(hour);
    t.minute = static_cast<std::uint16_t>(minute);
    t.second = static_cast<std::uint16_t>(ms / 1000);
    t.fraction = static_cast<std::uint32_t>(ms % 1000);
  }
  out->assign(reinterpret_cast<const char*>(&t), sizeof(t));
  return true;
}

// ---- Text decoding -----------------------------------------------------------------------

// The Windows-1252 characters 0x80-0x9F as Unicode (0 where the code page has none).
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ByteOfCodePoint(std::uint32_t cp) {
  if (cp <= 0xFF) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// The next code point of UTF-8 text; malformed bytes (which the tokenizer never delivers)
// come out one at a time as U+FFFD.
std::uint32_t NextCodePoint(std::string_view s, std::size_t* i) {
  const auto b = static_cast<unsigned char>(s[(*i)++]);
  if (b < 0x80) return b;
  int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (more < 0 || *i + static_cast<std::size_t>(more) > s.size()) return 0xFFFD;
  std::uint32_t cp = b & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    const auto c = static_cast<unsigned char>(s[*i + static_cast<std::size_t>(k)]);
    if ((c & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (c & 0x3F);
  }
  *i += static_cast<std::size_t>(more);
  return cp;
}

void Utf8ToUtf16(std::string_view utf8, std::string* out) {
  out->clear();
  out->reserve(utf8.size() * 2);
  auto put = [out](std::uint32_t unit) {
    out->push_back(static_cast<char>(unit & 0xFF));
    out->push_back(static_cast<char>(unit >> 8));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint32_t cp = NextCodePoint(utf8, &i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
}

bool ReadArray(const XmlValueType& type, std::string_view text, std::string* out) {
  out->assign(4, '\0');
  std::uint32_t count = 0;
  std::size_t i = 0;
  for (;;) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i == text.size()) break;
    std::size_t start = i;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    std::string_view token = text.substr(start, i - start);
    std::size_t pos = 0;
    if (!token.empty() && (token[0] == '-' || token[0] == '+')) pos = 1;
    if (pos == token.size() || !IsDigit(token[pos])) return false;
    pos = 0;
    const std::uint64_t v = ReadInteger(token, &pos);
    if (pos != token.size()) return false;
    out->append(reinterpret_cast<const char*>(&v), type.element_size);
    ++count;
  }
  std::memcpy(out->data(), &count, 4);
  return true;
}

void FitToSize(std::uint32_t size, std::string* value) {
  if (size != 0) value->resize(size, '\0');
}

}  // namespace

XmlValueType XmlValueTypeOf(std::uint32_t type, bool text_memo) {
  XmlValueType t;
  const std::uint32_t base = TypeBase(type);
  const std::uint32_t size = TypeSize(type);
  const bool varying = TypeIsVarying(type);
  if (TypeIsArray(type)) {
    t.kind = XmlValueKind::kArray;
    t.element_size = size == 1 || size == 2 || size == 8 ? size : 4;
    t.unsigned_elements = base != PT_INT;
    return t;
  }
  switch (base) {
    case PT_INT:
    case PT_UINT:
      t.kind = XmlValueKind::kInt;
      t.size = size == 1 || size == 2 || size == 8 ? size : 4;
      break;
    case PT_BOOL:
      t.kind = XmlValueKind::kBool;
      t.size = size == 1 || size == 4 ? size : 2;
      break;
    case PT_FLOAT:
      t.kind = size == 10 ? XmlValueKind::kExtended : XmlValueKind::kFloat;
      t.size = size == 10 ? 10 : 8;
      break;
    case PT_BCD:
    case PT_FMTBCD:
      t.kind = XmlValueKind::kBcd;
      break;
    case PT_DATE:
      t.kind = XmlValueKind::kDate;
      t.size = 4;
      break;
    case PT_TIME:
      t.kind = XmlValueKind::kTime;
      t.size = 4;
      break;
    case PT_DATETIME:
      t.kind = XmlValueKind::kDateTime;
      t.size = 8;
      break;
    case PT_SQLTIMESTAMP:
      t.kind = XmlValueKind::kTimeStamp;
      t.size = 16;
      break;
    case PT_STRING:
      t.kind = XmlValueKind::kString;
      t.size = varying ? 0 : size;
      break;
    case PT_WIDESTRING:
      t.kind = XmlValueKind::kWideString;
      t.size = varying ? 0 : size;
      break;
    case PT_NESTED:
    case PT_STRUCT:
    case PT_ARRAY:
      t.kind = XmlValueKind::kNone;
      break;
    default:
      t.kind = text_memo && varying ? XmlValueKind::kText : XmlValueKind::kBytes;
      t.size = varying ? 0 : size;
      break;
  }
  return t;
}

DBResult AppendEscapedText(std::string_view bytes, bool utf8, XmlBuffer* out) {
  return PutEscaped8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), utf8, true,
                     out);
}

DBResult AppendXmlValue(const XmlValueType& type, const std::uint8_t* data, std::uint32_t length,
                        bool utf8, XmlBuffer* out) {
  // Fixed-size kinds must have their bytes; a short value is a caller error, not text.
  if (type.size != 0 && length < type.size) return DBResult::kXmlBadValue;
  switch (type.kind) {
    case XmlValueKind::kNone:
      return DBResult::kOk;
    case XmlValueKind::kInt:
      PutInteger(LoadSigned(data, type.size), out);
      return DBResult::kOk;
    case XmlValueKind::kBool:
      out->Put(LoadUnsigned(data, type.size) != 0 ? "TRUE" : "FALSE");
      return DBResult::kOk;
    case XmlValueKind::kFloat: {
      double v;
      std::memcpy(&v, data, 8);
      // "nan" and "inf" would read back as null.
      if (!std::isfinite(v)) return DBResult::kXmlBadValue;
      PutDouble(v, out);
      return DBResult::kOk;
    }
    case XmlValueKind::kExtended:
      return DBResult::kXmlBadValue;
    case XmlValueKind::kBcd:
      return PutBcd(data, length, out);
    case XmlValueKind::kDate: {
      std::int32_t day;
      std::memcpy(&day, data, 4);
      PutDate(day, out);
      return DBResult::kOk;
    }
    case XmlValueKind::kTime: {
      std::int32_t ms;
      std::memcpy(&ms, data, 4);
      if (ms < 0 || ms >= kMsPerDay) return DBResult::kXmlBadValue;
      PutTimeOfDay(ms, out);
      return DBResult::kOk;
    }
    case XmlValueKind::kDateTime: {
      double v;
      std::memcpy(&v, data, 8);
      // Beyond the i32 day numbers the date form cannot say the day.
      if (!std::isfinite(v) || std::fabs(v) >= 2147483647.0 * kMsPerDay) {
        return DBResult::kXmlBadValue;
      }
      const DateTimeParts parts = SplitDateTime(v);
      PutDate(static_cast<std::int32_t>(parts.day), out);
      if (parts.ms != 0) {
        out->Put('T');
        PutTimeOfDay(parts.ms, out);
      }
      return DBResult::kOk;
    }
    case XmlValueKind::kTimeStamp:
      return PutTimeStamp(data, out);
    case XmlValueKind::kString:
      return PutEscaped8(data, type.size != 0 ? type.size : length, utf8, true, out);
    case XmlValueKind::kText:
      return PutEscaped8(data, length, utf8, false, out);
    case XmlValueKind::kWideString:
      if (type.size == 0 && length % 2 != 0) return DBResult::kXmlBadValue;
      return PutEscapedUtf16(data, type.size != 0 ? type.size : length, utf8, out);
    case XmlValueKind::kBytes:
      PutBase64(data, type.size != 0 ? type.size : length, out);
      return DBResult::kOk;
    case XmlValueKind::kArray: {
      if (length < 4) return DBResult::kXmlBadValue;
      std::uint32_t count;
      std::memcpy(&count, data, 4);
      if (std::uint64_t{count} * type.element_size > length - 4) return DBResult::kXmlBadValue;
      for (std::uint32_t i = 0; i < count; ++i) {
        if (i != 0) out->Put(' ');
        const std::uint8_t* e = data + 4 + std::size_t{i} * type.element_size;
        if (type.unsigned_elements)
          PutUnsigned(LoadUnsigned(e, type.element_size), out);
        else
          PutInteger(LoadSigned(e, type.element_size), out);
      }
      return DBResult::kOk;
    }
  }
  return DBResult::kXmlBadValue;
}

void Utf8ToBytes(std::string_view utf8, std::string* out) {
  out->clear();
  out->reserve(utf8.size());
  std::size_t i = 0;
  // ASCII runs, the whole of most values, are copied without decoding.
  while (i < utf8.size() && static_cast<unsigned char>(utf8[i]) < 0x80) ++i;
  out->append(utf8.data(), i);
  while (i < utf8.size()) out->push_back(ByteOfCodePoint(NextCodePoint(utf8, &i)));
}

bool ParseXmlValue(const XmlValueType& type, std::string_view text, std::string* value) {
  switch (type.kind) {
    case XmlValueKind::kNone:
      value->clear();
      return true;
    case XmlValueKind::kInt: {
      std::size_t start = 0;
      if (!NumberStart(text, &start)) return false;
      StoreInteger(ReadInteger(text, &start), type.size, value);
      return true;
    }
    case XmlValueKind::kBool: {
      std::string_view t = Trim(text);
      std::uint64_t v = 0;
      if (t.empty()) return false;
      if (t[0] == 'T' || t[0] == 't') {
        v = 1;
      } else if (t[0] == 'F' || t[0] == 'f') {
        v = 0;
      } else {
        // Digits are read as a number: 0 false, anything else true.
        std::size_t pos = 0;
        if (!IsDigit(t[0]) && !((t[0] == '-' || t[0] == '+') && t.size() > 1 && IsDigit(t[1]))) {
          return false;
        }
        v = ReadInteger(t, &pos) != 0 ? 1 : 0;
      }
      StoreInteger(v, type.size, value);
      return true;
    }
    case XmlValueKind::kFloat:
    case XmlValueKind::kExtended: {
      double d = 0;
      if (!ReadDouble(text, &d)) return false;
      if (type.kind == XmlValueKind::kExtended)
        StoreExtended(d, value);
      else
        value->assign(reinterpret_cast<const char*>(&d), 8);
      return true;
    }
    case XmlValueKind::kBcd:
      return ReadBcd(type, text, value);
    case XmlValueKind::kDate: {
      DateDigits d;
      std::int32_t day = 0;
      if (!ReadDateDigits(text, &d) || !DayNumberOfDigits(d, &day)) return false;
      value->assign(reinterpret_cast<const char*>(&day), 4);
      return true;
    }
    case XmlValueKind::kTime: {
      std::int32_t ms = 0;
      if (!ReadTime(text, &ms)) return false;
      value->assign(reinterpret_cast<const char*>(&ms), 4);
      return true;
    }
    case XmlValueKind::kDateTime: {
      double v = 0;
      if (!ReadDateTime(text, &v)) return false;
      value->assign(reinterpret_cast<const char*>(&v), 8);
      return true;
    }
    case XmlValueKind::kTimeStamp:
      return ReadTimeStamp(text, value);
    case XmlValueKind::kString:
    case XmlValueKind::kText:
      Utf8ToBytes(text, value);
      FitToSize(type.size, value);
      return true;
    case XmlValueKind::kWideString:
      Utf8ToUtf16(text, value);
      FitToSize(type.size, value);
      return true;
    case XmlValueKind::kBytes:
      if (!ReadBase64(text, value)) return false;
      FitToSize(type.size, value);
      return true;
    case XmlValueKind::kArray:
      return ReadArray(type, text, value);
  }
  return false;
}

}  // namespace zelvo
