// Tests of locale collation: code page table, locale ids, order of text pairs, and the
// agreement of 8-bit, UTF-16 and sort-key ordering that indexes depend on.
#include "fields/collation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

constexpr std::uint32_t kEnglishUs = 0x0409;
constexpr std::uint32_t kGerman = 0x0407;
constexpr std::uint32_t kGermanPhonebook = 0x10407;
constexpr std::uint32_t kRussian = 0x0419;
constexpr std::uint32_t kInvariant = 0x007F;

std::u16string Widen(std::string_view text) {
  std::u16string wide;
  for (char c : text) wide.push_back(Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
  return wide;
}

int KeyOrder(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string Key8(const Collation& collation, std::string_view text) {
  std::string key = "stale";
  collation.SortKey8(text.data(), text.size(), &key);
  return key;
}

std::string Key16(const Collation& collation, std::u16string_view text) {
  std::string key = "stale";
  collation.SortKey16(text.data(), text.size(), &key);
  return key;
}

// Deterministic across platforms, unlike the standard distributions.
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next(std::uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>((state_ >> 33) % bound);
  }

 private:
  std::uint64_t state_;
};

TEST(Cp1252Test, EveryByteRoundTripsAndNothingElseMaps) {
  std::set<char32_t> seen;
  for (int b = 0; b < 256; ++b) {
    const char16_t unit = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
    std::uint8_t back = 0;
    ASSERT_TRUE(UnicodeToCp1252(unit, &back)) << "byte " << b;
    EXPECT_EQ(back, b);
    seen.insert(unit);
  }
  EXPECT_EQ(seen.size(), 256u);

  // The inverse accepts exactly those 256 code points.
  int mapped = 0;
  for (char32_t cp = 0; cp <= 0x110100; ++cp) {
    std::uint8_t byte = 0;
    if (UnicodeToCp1252(cp, &byte)) {
      ++mapped;
      EXPECT_EQ(Cp1252ToUnicode(byte), cp);
    }
  }
  EXPECT_EQ(mapped, 256);
}

TEST(Cp1252Test, KnownBytes) {
  // A few bytes Latin-1 shares, then the whole range where the code page departs from it.
  const struct {
    std::uint8_t byte;
    char16_t unit;
  } kCases[] = {{0x00, 0x0000}, {0x41, 0x0041}, {0x7F, 0x007F}, {0xA0, 0x00A0}, {0xE9, 0x00E9},
                {0xFF, 0x00FF}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x82, 0x201A}, {0x83, 0x0192},
                {0x84, 0x201E}, {0x85, 0x2026}, {0x86, 0x2020}, {0x87, 0x2021}, {0x88, 0x02C6},
                {0x89, 0x2030}, {0x8A, 0x0160}, {0x8B, 0x2039}, {0x8C, 0x0152}, {0x8D, 0x008D},
                {0x8E, 0x017D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x91, 0x2018}, {0x92, 0x2019},
                {0x93, 0x201C}, {0x94, 0x201D}, {0x95, 0x2022}, {0x96, 0x2013}, {0x97, 0x2014},
                {0x98, 0x02DC}, {0x99, 0x2122}, {0x9A, 0x0161}, {0x9B, 0x203A}, {0x9C, 0x0153},
                {0x9D, 0x009D}, {0x9E, 0x017E}, {0x9F, 0x0178}};
  for (const auto& c : kCases) EXPECT_EQ(Cp1252ToUnicode(c.byte), c.unit) << int{c.byte};

  // Code points the code page lacks, including C1 controls whose byte holds another character.
  for (std::uint32_t cp : {0x80u, 0x8Au, 0x9Fu, 0x100u, 0x20ADu, 0xFFFDu, 0x1F600u}) {
    std::uint8_t byte = 0;
    EXPECT_FALSE(UnicodeToCp1252(cp, &byte)) << std::hex << cp;
  }
}

TEST(LocaleTest, IsKnownLocale) {
  const struct {
    std::uint32_t lcid;
    bool known;
  } kCases[] = {
      {kEnglishUs, true},  {kRussian, true}, {kGerman, true}, {kGermanPhonebook, true},
      {kInvariant, true},  {0, false},       {0x7FFF, false}, {0x12345, false},
      {0x0400, false},      // the "user default" pseudo id
      {0xFFFF0409, false},  // reserved bits set
  };
  for (const auto& c : kCases) EXPECT_EQ(IsKnownLocale(c.lcid), c.known) << std::hex << c.lcid;
}

TEST(CollationTest, CacheSharesOneCollatorPerLocaleAndCase) {
  const Collation& us = Collation::For(kEnglishUs, false);
  EXPECT_EQ(&us, &Collation::For(kEnglishUs, false));
  EXPECT_NE(&us, &Collation::For(kEnglishUs, true));
  EXPECT_EQ(us.LocaleName(), "en_US");
  // Unknown ids are the default locale.
  EXPECT_EQ(Collation::For(0x7FFF, true).LocaleName(), Collation::For(0, true).LocaleName());
  // The invariant locale is POSIX to ICU, whose ASCII order is replaced by root collation.
  EXPECT_EQ(Collation::For(kInvariant, false).LocaleName(), "");
}

struct Order8Case {
  std::uint32_t lcid;
  bool case_insensitive;
  const char* a;  // Windows-1252
  const char* b;
  int expected;
};

constexpr Order8Case kOrder8Cases[] = {
    // Case-sensitive: case is the weakest difference, lowercase first.
    {kEnglishUs, false, "a", "A", -1},
    {kEnglishUs, false, "A", "b", -1},
    {kEnglishUs, false, "ABC", "abd", -1},
    {kEnglishUs, false, "\x9A", "\x8A", -1},  // š < Š
    {kEnglishUs, false, "same", "same", 0},
    // Accents sort with their base letter, not after 'z' as in code-point order.
    {kEnglishUs, false, "e", "\xE9", -1},
    {kEnglishUs, false, "\xE9", "f", -1},
    {kEnglishUs, false, "\xE9", "z", -1},
    {kEnglishUs, false, "resume", "r\xE9sum\xE9", -1},
    {kEnglishUs, false, "S", "\x8A", -1},
    {kEnglishUs, false, "\x8A", "T", -1},
    {kEnglishUs, false, "Angstrom", "\xC5ngstr\xF6m", -1},
    {kEnglishUs, false, "Muffler", "M\xFCller", -1},
    // Blanks and punctuation count.
    {kEnglishUs, false, "", "", 0},
    {kEnglishUs, false, "", "a", -1},
    {kEnglishUs, false, "", " ", -1},
    {kEnglishUs, false, "abc", "abc ", -1},
    {kEnglishUs, false, "abc ", "abcd", -1},
    {kEnglishUs, false, "a b", "ab", -1},
    {kEnglishUs, false, "a-b", "ab", -1},
    {0x041E, false, "abc", "abc ", -1},  // Thai ignores blanks unless told otherwise
    {0x041E, true, "a b", "ab", -1},
    // Digits are characters before letters, not numbers.
    {kEnglishUs, false, "a1", "ab", -1},
    {kEnglishUs, false, "x10", "x9", -1},
    {kEnglishUs, false, "x9", "xa", -1},
    // Case-insensitive: case vanishes, accents stay.
    {kEnglishUs, true, "a", "A", 0},
    {kEnglishUs, true, "ABC", "abc", 0},
    {kEnglishUs, true, "\x8A", "\x9A", 0},
    {kEnglishUs, true, "\xC9t\xC9", "\xE9t\xE9", 0},
    {kEnglishUs, true, "e", "\xE9", -1},
    {kEnglishUs, true, "\xC9", "f", -1},
    {kEnglishUs, true, "ABC", "abd", -1},
    {kEnglishUs, true, "", "a", -1},
    {kEnglishUs, true, "abc", "ABC ", -1},
    {kEnglishUs, true, "Abc ", "abcd", -1},
    // The locale id selects the tailoring, including its sort id.
    {kGerman, false, "Muffler", "M\xFCller", -1},
    {kGermanPhonebook, false, "M\xFCller", "Muffler", -1},
    // Default and invariant locales are still linguistic (code-point order has "B" < "a").
    {0, false, "a", "B", -1},
    {0x7FFF, true, "a", "B", -1},
    {kInvariant, false, "a", "B", -1},
    {kInvariant, false, "B", "c", -1},
};

TEST(CollationTest, OrdersWindows1252Pairs) {
  for (const Order8Case& c : kOrder8Cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.lcid << " ci=" << c.case_insensitive << " '"
                                    << c.a << "' vs '" << c.b << "'");
    const Collation& collation = Collation::For(c.lcid, c.case_insensitive);
    const std::string_view a = c.a;
    const std::string_view b = c.b;
    EXPECT_EQ(collation.Compare8(a.data(), a.size(), b.data(), b.size()), c.expected);
    EXPECT_EQ(collation.Compare8(b.data(), b.size(), a.data(), a.size()), -c.expected);

    const std::u16string wide_a = Widen(a);
    const std::u16string wide_b = Widen(b);
    EXPECT_EQ(collation.Compare16(wide_a.data(), wide_a.size(), wide_b.data(), wide_b.size()),
              c.expected);

    const std::string key_a = Key8(collation, a);
    const std::string key_b = Key8(collation, b);
    EXPECT_EQ(KeyOrder(key_a, key_b), c.expected);
    EXPECT_EQ(key_a, Key16(collation, wide_a));
    EXPECT_EQ(key_b, Key16(collation, wide_b));
  }
}

struct Order16Case {
  std::uint32_t lcid;
  bool case_insensitive;
  std::u16string_view a;
  std::u16string_view b;
  int expected;
};

TEST(CollationTest, OrdersUtf16Pairs) {
  const Order16Case kCases[] = {
      {kRussian, false, u"а", u"б", -1},
      {kRussian, false, u"е", u"ё", -1},
      {kRussian, false, u"ё", u"ж", -1},
      {kRussian, false, u"ё", u"Ё", -1},
      {kRussian, true, u"Ё", u"ё", 0},
      {kRussian, true, u"ЁЖИК", u"ёжик", 0},
      {kRussian, true, u"ежик", u"ёжик", -1},
      // Russian puts Cyrillic before Latin; English the reverse.
      {kRussian, false, u"я", u"a", -1},
      {kEnglishUs, false, u"a", u"я", -1},
      // Precomposed and combining accents are the same text.
      {kEnglishUs, false, u"caf\u00E9", u"cafe\u0301", 0},
      {kEnglishUs, true, u"CAF\u00C9", u"cafe\u0301", 0},
      {kEnglishUs, false, u"a\u0301\u0327", u"a\u0327\u0301", 0},  // marks out of order
      {kEnglishUs, false, u"\u1EC7", u"e\u0302\u0323", 0},
      // Outside the Basic Multilingual Plane.
      {kEnglishUs, false, u"a\U0001D400", u"a\U0001D400", 0},
  };
  for (const Order16Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.lcid << " ci=" << c.case_insensitive);
    const Collation& collation = Collation::For(c.lcid, c.case_insensitive);
    EXPECT_EQ(collation.Compare16(c.a.data(), c.a.size(), c.b.data(), c.b.size()), c.expected);
    EXPECT_EQ(collation.Compare16(c.b.data(), c.b.size(), c.a.data(), c.a.size()), -c.expected);
    EXPECT_EQ(KeyOrder(Key16(collation, c.a), Key16(collation, c.b)), c.expected);
  }
}

// Indexes compare stored sort keys against keys built from search texts, and some paths
// compare texts directly; every route must agree on arbitrary input, not only on the
// hand-picked pairs above.
TEST(CollationTest, KeysAndComparisonsAgreeOnGeneratedWindows1252Texts) {
  static constexpr char kAlphabet[] =
      "aAbeE\xE9\xC9\xE8zZ \x2D"
      "019\x8A\x9A\xFC\xDC\xDF"
      "\x80\x81\x9D\xA0\x00\xFF\x92";
  Lcg random(1);
  std::vector<std::string> texts;
  for (int i = 0; i < 120; ++i) {
    std::string text(random.Next(7), ' ');
    for (char& c : text) c = kAlphabet[random.Next(sizeof kAlphabet - 1)];
    texts.push_back(text);
  }
  for (std::uint32_t lcid : {kEnglishUs, kGermanPhonebook}) {
    for (bool case_insensitive : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << lcid << " ci=" << case_insensitive);
      const Collation& collation = Collation::For(lcid, case_insensitive);
      std::vector<std::string> keys;
      for (const std::string& text : texts) {
        keys.push_back(Key8(collation, text));
        // Callers may store keys zero-terminated or compare them by strcmp.
        ASSERT_EQ(keys.back().find('\0'), std::string::npos);
        ASSERT_EQ(keys.back(), Key16(collation, Widen(text)));
      }
      for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t j = 0; j < texts.size(); ++j) {
          const std::string& a = texts[i];
          const std::string& b = texts[j];
          const int order = collation.Compare8(a.data(), a.size(), b.data(), b.size());
          ASSERT_EQ(order, KeyOrder(keys[i], keys[j])) << i << " vs " << j;
          const std::u16string wide_a = Widen(a);
          const std::u16string wide_b = Widen(b);
          ASSERT_EQ(order,
                    collation.Compare16(wide_a.data(), wide_a.size(), wide_b.data(), wide_b.size()))
              << i << " vs " << j;
        }
      }
    }
  }
}

// UTF-16 values come from files and users: unpaired surrogates, noncharacters, stray
// combining marks and NULs must collate consistently and never crash.
TEST(CollationTest, KeysAndComparisonsAgreeOnIllFormedUtf16) {
  static constexpr char16_t kUnits[] = {
      u'a',   u'A',   u'e',   0x00E9, 0x0301, 0x0327, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD835,
      0xDC00, 0xFFFF, 0xFFFE, 0xFFFD, 0x0000, 0x0435, 0x0451, 0x4E00, 0x0E40, 0x0E01, u' ',
  };
  Lcg random(2);
  std::vector<std::u16string> texts;
  for (int i = 0; i < 150; ++i) {
    std::u16string text(random.Next(6), u' ');
    for (char16_t& c : text) c = kUnits[random.Next(std::size(kUnits))];
    texts.push_back(text);
  }
  for (std::uint32_t lcid : {kEnglishUs, kRussian, 0x041Eu /* Thai */}) {
    for (bool case_insensitive : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << lcid << " ci=" << case_insensitive);
      const Collation& collation = Collation::For(lcid, case_insensitive);
      std::vector<std::string> keys;
      for (const std::u16string& text : texts) keys.push_back(Key16(collation, text));
      for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t j = 0; j < texts.size(); ++j) {
          const std::u16string& a = texts[i];
          const std::u16string& b = texts[j];
          ASSERT_EQ(collation.Compare16(a.data(), a.size(), b.data(), b.size()),
                    KeyOrder(keys[i], keys[j]))
              << i << " vs " << j;
        }
      }
    }
  }
}

TEST(CollationTest, LongTextsBeyondTheStackBuffer) {
  const Collation& collation = Collation::For(kEnglishUs, true);
  for (std::size_t len : {255u, 256u, 257u, 4000u}) {
    SCOPED_TRACE(len);
    // The texts differ only in their last character, and only by case in the first pair.
    const std::string lower = std::string(len - 1, 'x') + "\xE9";
    const std::string upper = std::string(len - 1, 'X') + "\xC9";
    const std::string later = std::string(len - 1, 'x') + "f";
    EXPECT_EQ(collation.Compare8(lower.data(), lower.size(), upper.data(), upper.size()), 0);
    EXPECT_EQ(collation.Compare8(lower.data(), lower.size(), later.data(), later.size()), -1);
    EXPECT_EQ(collation.Compare8(later.data(), later.size(), lower.data(), lower.size() - 1), 1);
    EXPECT_EQ(Key8(collation, lower), Key8(collation, upper));
    EXPECT_LT(Key8(collation, lower), Key8(collation, later));
    EXPECT_EQ(Key8(collation, lower), Key16(collation, Widen(lower)));
  }
}

TEST(CollationTest, MissingTextIsEmpty) {
  const Collation& collation = Collation::For(kEnglishUs, false);
  const std::size_t kHuge = static_cast<std::size_t>(-1);
  EXPECT_EQ(collation.Compare8(nullptr, kHuge, "a", 1), -1);
  EXPECT_EQ(collation.Compare8(nullptr, kHuge, "", 0), 0);
  EXPECT_EQ(collation.Compare16(u"a", 1, nullptr, kHuge), 1);
  std::string empty_key;
  collation.SortKey8("", 0, &empty_key);
  EXPECT_EQ(Key8(collation, std::string_view(nullptr, 0)), empty_key);
  std::string key;
  collation.SortKey16(nullptr, kHuge, &key);
  EXPECT_EQ(key, empty_key);
}

TEST(CollationTest, SharedAcrossThreads) {
  const std::uint32_t kLcids[] = {kEnglishUs, kGerman, kRussian, 0x0411, 0x040C, 0x7FFE};
  constexpr int kThreads = 4;
  std::vector<std::vector<const Collation*>> seen(kThreads);
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        for (std::uint32_t lcid : kLcids) {
          const Collation& collation = Collation::For(lcid, (round + t) % 2 == 0);
          if (round < 2) seen[t].push_back(&collation);
          std::string key_a;
          std::string key_b;
          collation.SortKey8("r\xE9sum\xE9", 6, &key_a);
          collation.SortKey8("resume ", 7, &key_b);
          if (collation.Compare8("r\xE9sum\xE9", 6, "resume ", 7) != KeyOrder(key_a, key_b)) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[t], 0);
    // Threads of the same parity asked for the same collations in the same order.
    EXPECT_EQ(seen[t], seen[t % 2]);
  }
}

}  // namespace
}  // namespace zelvo
