// LIKE pattern preparation and matching, and the Windows-1252 case mapping.
#include "filter/like_pattern.h"

#include <array>
#include <cstring>

namespace zelvo {

namespace {

struct CaseTables {
  std::array<std::uint8_t, 256> upper{};
  std::array<std::uint8_t, 256> lower{};
};

constexpr CaseTables BuildCaseTables() {
  CaseTables t;
  for (int i = 0; i < 256; ++i) {
    t.upper[i] = static_cast<std::uint8_t>(i);
    t.lower[i] = static_cast<std::uint8_t>(i);
  }
  auto pair = [&t](int up, int low) {
    t.upper[low] = static_cast<std::uint8_t>(up);
    t.lower[up] = static_cast<std::uint8_t>(low);
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  // Latin-1 letters, without the multiplication and division signs.
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) pair(c, c + 32);
  }
  pair(0x8A, 0x9A);  // S with caron
  pair(0x8C, 0x9C);  // OE
  pair(0x8E, 0x9E);  // Z with caron
  pair(0x9F, 0xFF);  // Y with diaeresis
  return t;
}

constexpr CaseTables kCase = BuildCaseTables();

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHigh = 0x8080808080808080;

// Marks (bit 7 of the byte) where a word's bytes equal `broadcast`'s byte: every equal byte
// is marked; bytes above a marked one may be marked too, which callers verify.
std::uint64_t EqualBytes(std::uint64_t word, std::uint64_t broadcast) {
  const std::uint64_t x = word ^ broadcast;
  return (x - kOnes) & ~x & kHigh;
}

// Candidates where a two-character needle may start: its first character here and its
// second one in the next byte (the last byte of the word cannot be checked for that).
std::uint64_t Candidates(std::uint64_t word, std::uint64_t first, std::uint64_t second,
                         bool two) {
  const std::uint64_t hits = EqualBytes(word, first);
  return two ? hits & ((EqualBytes(word, second) >> 8) | (std::uint64_t{0x80} << 56)) : hits;
}

}  // namespace

std::uint8_t UpperCp1252(std::uint8_t c) { return kCase.upper[c]; }
std::uint8_t LowerCp1252(std::uint8_t c) { return kCase.lower[c]; }

void LikePattern::Reserve(std::size_t characters) {
  chars_.reserve(characters);
  any_.reserve(characters);
  segments_.reserve(characters / 2 + 2);
}

void LikePattern::Prepare(const char* pattern, std::size_t length, bool case_insensitive) {
  chars_.clear();
  any_.clear();
  segments_.clear();
  case_insensitive_ = case_insensitive;
  has_percent_ = false;
  leading_percent_ = length > 0 && pattern[0] == '%';
  trailing_percent_ = false;
  Segment current;
  auto close = [this, &current]() {
    current.all_literal = current.length > 0;
    for (std::uint32_t k = 0; k < current.length; ++k) {
      if (any_[current.begin + k] != 0) current.all_literal = false;
    }
    if (current.length > 0) segments_.push_back(current);
    current = Segment{};
    current.begin = static_cast<std::uint32_t>(chars_.size());
  };
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<std::uint8_t>(pattern[i]);
    bool any = false;
    if (c == '%') {
      has_percent_ = true;
      trailing_percent_ = true;
      close();
      continue;
    }
    trailing_percent_ = false;
    if (c == '_') {
      any = true;
    } else if (c == '\\' && i + 1 < length) {
      c = static_cast<std::uint8_t>(pattern[++i]);
    }
    if (!any && current.first_literal < 0) {
      current.first_literal = static_cast<std::int32_t>(current.length);
    }
    chars_.push_back(case_insensitive ? LowerCp1252(c) : c);
    any_.push_back(any ? 1 : 0);
    ++current.length;
  }
  close();
  min_length_ = chars_.size();
  contains_ = !case_insensitive && leading_percent_ && trailing_percent_ &&
              segments_.size() == 1 && segments_[0].all_literal;
}

bool LikePattern::MatchesText(const char* text, std::size_t width) const {
  const auto* value = reinterpret_cast<const std::uint8_t*>(text);
  if (!contains_) return Matches(text, ::strnlen(text, width));
  // One pass finds both the terminator and the candidates for the substring's first
  // character, a word at a time (see Find); a candidate is verified up to the first
  // difference, which the terminator is at the latest.
  const Segment& s = segments_[0];
  const std::uint8_t* needle = chars_.data() + s.begin;
  const std::uint64_t first = kOnes * needle[0];
  const std::uint64_t second = kOnes * needle[s.length > 1 ? 1 : 0];
  const std::uint8_t* end = value + width;
  auto matches_at = [&](const std::uint8_t* q) {
    std::uint32_t k = 0;
    while (k < s.length && q + k < end && q[k] == needle[k]) ++k;
    return k == s.length;
  };
  const std::uint8_t* p = value;
  for (; p + 8 <= end; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const std::uint64_t zeros = (word - kOnes) & ~word & kHigh;
    std::uint64_t hits = Candidates(word, first, second, s.length > 1);
    if (zeros != 0) {
      // Only candidates before the terminator (the lowest zero mark is exact).
      const std::uint64_t below = (zeros & (~zeros + 1)) - 1;
      hits &= below;
    }
    for (; hits != 0; hits &= hits - 1) {
      if (matches_at(p + (__builtin_ctzll(hits) >> 3))) return true;
    }
    if (zeros != 0) return false;
  }
  for (; p < end && *p != 0; ++p) {
    if (*p == needle[0] && matches_at(p)) return true;
  }
  return false;
}

bool LikePattern::MatchAt(const Segment& s, const std::uint8_t* value) const {
  const std::uint8_t* chars = chars_.data() + s.begin;
  const std::uint8_t* any = any_.data() + s.begin;
  for (std::uint32_t k = 0; k < s.length; ++k) {
    const std::uint8_t v = case_insensitive_ ? LowerCp1252(value[k]) : value[k];
    if (v != chars[k] && any[k] == 0) return false;
  }
  return true;
}

std::ptrdiff_t LikePattern::Find(const Segment& s, const std::uint8_t* value, std::size_t from,
                                 std::size_t last_start) const {
  if (from > last_start) return -1;
  if (s.first_literal < 0) return static_cast<std::ptrdiff_t>(from);
  if (s.all_literal && !case_insensitive_) {
    // A plain substring: candidates for its first character are found a word at a time
    // (a zero byte of word ^ first marks one; bytes above a true match may be false
    // alarms, so every candidate is verified whole).
    const std::uint8_t* needle = chars_.data() + s.begin;
    const std::uint8_t* p = value + from;
    const std::uint8_t* last = value + last_start;  // the last possible start
    const std::uint8_t* end = last + s.length;      // the end of the text
    const std::uint64_t first = kOnes * needle[0];
    const std::uint64_t second = kOnes * needle[s.length > 1 ? 1 : 0];
    auto matches_at = [&](const std::uint8_t* q) {
      std::uint32_t k = 0;
      while (k < s.length && q[k] == needle[k]) ++k;
      return k == s.length;
    };
    for (; p + 8 <= end && p <= last; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      for (std::uint64_t hits = Candidates(word, first, second, s.length > 1); hits != 0;
           hits &= hits - 1) {
        const std::uint8_t* q = p + (__builtin_ctzll(hits) >> 3);
        if (q > last) return -1;
        if (matches_at(q)) return q - value;
      }
    }
    for (; p <= last; ++p) {
      if (*p == needle[0] && matches_at(p)) return p - value;
    }
    return -1;
  }
  const auto offset = static_cast<std::size_t>(s.first_literal);
  const std::uint8_t wanted = chars_[s.begin + offset];
  std::size_t p = from;
  while (p <= last_start) {
    const std::uint8_t* hit = nullptr;
    if (!case_insensitive_) {
      hit = static_cast<const std::uint8_t*>(
          std::memchr(value + p + offset, wanted, last_start - p + 1));
    } else {
      for (std::size_t q = p; q <= last_start; ++q) {
        if (LowerCp1252(value[q + offset]) == wanted) {
          hit = value + q + offset;
          break;
        }
      }
    }
    if (hit == nullptr) return -1;
    const auto start = static_cast<std::size_t>(hit - value) - offset;
    if (MatchAt(s, value + start)) return static_cast<std::ptrdiff_t>(start);
    p = start + 1;
  }
  return -1;
}

bool LikePattern::Matches(const char* text, std::size_t length) const {
  const auto* value = reinterpret_cast<const std::uint8_t*>(text);
  if (length < min_length_) return false;
  if (!has_percent_) {
    return length == min_length_ && (segments_.empty() || MatchAt(segments_[0], value));
  }
  std::size_t first = 0;
  std::size_t last = segments_.size();
  std::size_t pos = 0;
  std::size_t end = length;
  if (!leading_percent_ && !segments_.empty()) {
    if (!MatchAt(segments_[0], value)) return false;
    pos = segments_[0].length;
    first = 1;
  }
  if (!trailing_percent_ && last > first) {
    const Segment& s = segments_[last - 1];
    if (s.length > end - pos || !MatchAt(s, value + end - s.length)) return false;
    end -= s.length;
    --last;
  }
  for (std::size_t i = first; i < last; ++i) {
    const Segment& s = segments_[i];
    if (s.length > end - pos) return false;
    const std::ptrdiff_t at = Find(s, value, pos, end - s.length);
    if (at < 0) return false;
    pos = static_cast<std::size_t>(at) + s.length;
  }
  return true;
}

}  // namespace zelvo
