// Packed decimal conversions and ordering.
#include "fields/bcd.h"

#include <cstring>

namespace zelvo {

namespace {

struct Digits {
  std::string integral;  // without leading zeros
  std::string fraction;  // without trailing zeros
  bool negative = false;
};

bool Unpack(const std::uint8_t* v, std::uint32_t length, Digits* out) {
  if (length < 2) return false;
  std::uint32_t precision = v[0];
  std::uint32_t places = v[1] & kBcdPlacesMask;
  if (precision > kBcdMaxDigits || places > precision) return false;
  if (2 + (precision + 1) / 2 > length) return false;
  std::string all;
  all.reserve(precision);
  for (std::uint32_t i = 0; i < precision; ++i) {
    std::uint8_t byte = v[2 + i / 2];
    std::uint8_t nibble = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
    all.push_back(static_cast<char>('0' + (nibble > 9 ? 9 : nibble)));
  }
  out->integral = all.substr(0, precision - places);
  out->fraction = all.substr(precision - places);
  std::size_t first = out->integral.find_first_not_of('0');
  out->integral.erase(0, first == std::string::npos ? out->integral.size() : first);
  std::size_t last = out->fraction.find_last_not_of('0');
  out->fraction.erase(last == std::string::npos ? 0 : last + 1);
  out->negative = (v[1] & kBcdNegative) != 0;
  return true;
}

int CompareMagnitude(const Digits& a, const Digits& b) {
  if (a.integral.size() != b.integral.size()) {
    return a.integral.size() < b.integral.size() ? -1 : 1;
  }
  if (int c = a.integral.compare(b.integral); c != 0) return c < 0 ? -1 : 1;
  int c = a.fraction.compare(b.fraction);  // trailing zeros are gone, so text order works
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

int CompareBcd(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t length) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  if (std::memcmp(a, b, length) == 0) return 0;
  bool a_neg = length > 1 && (a[1] & kBcdNegative) != 0;
  bool b_neg = length > 1 && (b[1] & kBcdNegative) != 0;
  if (a_neg != b_neg) return a_neg ? -1 : 1;
  Digits da, db;
  if (!Unpack(a, length, &da) || !Unpack(b, length, &db)) {
    // A damaged value still orders deterministically: by its bytes.
    int c = std::memcmp(a, b, length);
    return c < 0 ? -1 : 1;
  }
  int c = CompareMagnitude(da, db);
  return a_neg ? -c : c;
}

DBResult BcdFromText(std::string_view text, std::uint32_t precision, std::uint32_t places,
                     std::uint8_t* out, std::uint32_t length) {
  if (precision == 0) precision = kBcdMaxDigits;
  if (precision > kBcdMaxDigits || places > precision || places > kBcdPlacesMask ||
      2 + (precision + 1) / 2 > length) {
    return DBResult::kInvalidArgument;
  }
  bool negative = false;
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string integral, fraction;
  bool seen_digit = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, seen_digit = true) {
    integral.push_back(text[i]);
  }
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, seen_digit = true) {
      fraction.push_back(text[i]);
    }
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (!seen_digit || i != text.size()) return DBResult::kInvalidArgument;
  std::size_t first = integral.find_first_not_of('0');
  integral.erase(0, first == std::string::npos ? integral.size() : first);
  if (integral.size() > precision - places) return DBResult::kOutOfRange;
  fraction.resize(places, '0');
  std::string digits = std::string(precision - places - integral.size(), '0') + integral + fraction;
  std::memset(out, 0, length);
  out[0] = static_cast<std::uint8_t>(precision);
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  out[1] = static_cast<std::uint8_t>(places | (negative && !zero ? kBcdNegative : 0));
  for (std::uint32_t d = 0; d < precision; ++d) {
    std::uint8_t nibble = static_cast<std::uint8_t>(digits[d] - '0');
    out[2 + d / 2] |= (d % 2 == 0) ? static_cast<std::uint8_t>(nibble << 4) : nibble;
  }
  return DBResult::kOk;
}

DBResult BcdToText(const std::uint8_t* value, std::uint32_t length, std::string* text) {
  Digits d;
  if (!Unpack(value, length, &d)) return DBResult::kInvalidArgument;
  std::string t;
  bool zero = d.integral.empty() && d.fraction.empty();
  if (d.negative && !zero) t.push_back('-');
  t += d.integral.empty() ? "0" : d.integral;
  if (!d.fraction.empty()) t += "." + d.fraction;
  *text = std::move(t);
  return DBResult::kOk;
}

}  // namespace zelvo
