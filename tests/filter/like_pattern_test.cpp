// LIKE patterns: a table of patterns and values, and agreement with a plain backtracking
// matcher over many random patterns and texts.
#include "filter/like_pattern.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zelvo {
namespace {

bool Like(const std::string& pattern, const std::string& value, bool ci = false) {
  LikePattern p;
  p.Prepare(pattern.data(), pattern.size(), ci);
  return p.Matches(value.data(), value.size());
}

TEST(LikePattern, Table) {
  struct Case {
    const char* pattern;
    const char* value;
    bool match;
  } cases[] = {
      {"Pla%", "Plains", true},
      {"Pla%", "Pl", false},
      {"P_ains", "Plains", true},
      {"P_ains", "Pains", false},
      {"%ain%", "Mountain", true},
      {"%ain%", "Island", false},
      {"Plains", "Plains", true},
      {"Plains", "Plainsx", false},
      {"Plains", "Plain", false},
      {"100\\%", "100%", true},
      {"100\\%", "1000", false},
      {"\\_", "_", true},
      {"\\_", "x", false},
      {"a\\\\b", "a\\b", true},
      {"%", "", true},
      {"%%", "anything", true},
      {"", "", true},
      {"", "a", false},
      {"_", "", false},
      {"a%b%c", "abc", true},
      {"a%b%c", "axbxcx", false},
      {"%ab%c", "aXabYc", true},
      {"%ab%c", "acab c", true},
      {"%a_c", "abcabc", true},
      {"%b_d%", "abxdbcd", true},
      {"x%x", "x", false},
      {"x%x", "xx", true},
      {"ab\\", "ab\\", true},
      {"%\\%", "50%", true},
      {"_%_", "a", false},
      {"%aa", "aaa", true},
      {"aa%aa", "aaa", false},
      {"aa%aa", "aaaa", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Like(c.pattern, c.value), c.match) << c.pattern << " ~ " << c.value;
  }
}

TEST(LikePattern, CaseInsensitiveFoldsTheCodePage) {
  EXPECT_TRUE(Like("pla%", "PLAINS", true));
  EXPECT_FALSE(Like("pla%", "PLAINS", false));
  EXPECT_TRUE(Like("%\xE9t\xE9%", "\xC9T\xC9", true));  // é and É
  EXPECT_TRUE(Like("\x9A%", "\x8A", true));             // š and Š
  EXPECT_EQ(UpperCp1252('a'), 'A');
  EXPECT_EQ(UpperCp1252(0xFF), 0x9F);
  EXPECT_EQ(LowerCp1252(0xD7), 0xD7);  // the multiplication sign has no case
}

// The obvious exponential matcher, as the reference.
bool Reference(const char* p, std::size_t pn, const char* v, std::size_t vn) {
  if (pn == 0) return vn == 0;
  if (*p == '%')
    return Reference(p + 1, pn - 1, v, vn) || (vn > 0 && Reference(p, pn, v + 1, vn - 1));
  if (vn == 0) return false;
  if (*p == '_') return Reference(p + 1, pn - 1, v + 1, vn - 1);
  char literal = *p;
  std::size_t used = 1;
  if (*p == '\\' && pn > 1) {
    literal = p[1];
    used = 2;
  }
  return literal == *v && Reference(p + used, pn - used, v + 1, vn - 1);
}

TEST(LikePattern, AgreesWithABacktrackingMatcher) {
  std::mt19937 rng(7);
  const char kPatternChars[] = "ab%_\\";
  const char kValueChars[] = "ab%_\\";
  LikePattern pattern;
  for (int round = 0; round < 20000; ++round) {
    std::string p(rng() % 7, ' ');
    for (char& ch : p) ch = kPatternChars[rng() % 5];
    if (round % 3 == 0) p = "%" + std::string(1 + rng() % 3, 'a') + "%";  // plain substrings
    std::string v(rng() % (round % 4 == 0 ? 40 : 9), ' ');
    for (char& ch : v) ch = kValueChars[rng() % (round % 2 ? 2 : 5)];
    pattern.Prepare(p.data(), p.size(), false);
    const bool expected = Reference(p.data(), p.size(), v.data(), v.size());
    ASSERT_EQ(pattern.Matches(v.data(), v.size()), expected) << "'" << p << "' ~ '" << v << "'";
    // As a field value: terminated with bytes after it, or filling its area.
    const std::string area = v + std::string(1, '\0') + "ab%_ab%_ab";
    ASSERT_EQ(pattern.MatchesText(area.data(), area.size()), expected) << p << " ~ " << v;
    ASSERT_EQ(pattern.MatchesText(v.data(), v.size()), expected) << p << " ~ " << v;
  }
}

TEST(LikePattern, LongValuesAreSearchedWholeAndNotPastTheirEnd) {
  std::string memo(70000, 'x');
  memo.replace(69990, 6, "flying");
  EXPECT_TRUE(Like("%flying%", memo));
  EXPECT_FALSE(Like("%flyingx%y", memo));
  // The value ends right before bytes that would complete the match.
  const std::string buffer =
      "abc flyi"
      "ng";
  LikePattern p;
  p.Prepare("%flying%", 8, false);
  EXPECT_FALSE(p.Matches(buffer.data(), 8));
  EXPECT_TRUE(p.Matches(buffer.data(), buffer.size()));
}

}  // namespace
}  // namespace zelvo
