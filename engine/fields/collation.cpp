// Locale collation of text values: the Windows-1252 code page, the LCID to ICU locale
// lookup, and the process-wide cache of ICU collators that indexes and sorts share.
#include "fields/collation.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace zelvo {

namespace {

// Bytes 0x80-0x9F, the only range where Windows-1252 departs from Latin-1. The undefined
// bytes keep their own value so that every byte survives a round trip through UTF-16.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

constexpr std::array<char16_t, 256> BuildCp1252Table() {
  std::array<char16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<char16_t>(i);
  for (int i = 0; i < 32; ++i) table[0x80 + i] = kCp1252High[i];
  return table;
}

constexpr std::array<char16_t, 256> kCp1252 = BuildCp1252Table();

// Bits 20-31 of an LCID are reserved; ICU ignores them, so without this check garbage ids
// such as 0xFFFF0409 would pass for English.
constexpr std::uint32_t kMaxLcid = 0xFFFFF;

// Short texts are widened on the stack: almost every field value fits, and a comparison
// in a sort must not allocate.
constexpr std::size_t kStackUnits = 256;

// ICU measures texts in int32_t. A longer text (over 2 GB of characters, far beyond any
// field) is collated by its first 2^31-1 units rather than overflowing the length.
std::int32_t ClampLength(std::size_t len) {
  constexpr std::size_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(len, kMax));
}

const UChar* AsUChar(const char16_t* text) { return reinterpret_cast<const UChar*>(text); }

// A Windows-1252 text widened to UTF-16, on the stack when short.
class WideText {
 public:
  WideText(const char* text, std::size_t len) : len_(ClampLength(text == nullptr ? 0 : len)) {
    char16_t* out = stack_;
    if (static_cast<std::size_t>(len_) > kStackUnits) {
      heap_.reset(new char16_t[len_]);
      out = heap_.get();
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (std::int32_t i = 0; i < len_; ++i) out[i] = kCp1252[bytes[i]];
    data_ = out;
  }

  WideText(const WideText&) = delete;
  WideText& operator=(const WideText&) = delete;

  [[nodiscard]] const UChar* data() const { return AsUChar(data_); }
  [[nodiscard]] std::int32_t size() const { return len_; }

 private:
  std::int32_t len_;
  const char16_t* data_ = nullptr;
  std::unique_ptr<char16_t[]> heap_;
  char16_t stack_[kStackUnits];
};

UCollator* Ucol(void* collator) { return static_cast<UCollator*>(collator); }

// Code-unit order, used only when ICU could not open even its root collation.
int CompareUnits(const UChar* a, std::int32_t a_len, const UChar* b, std::int32_t b_len) {
  const std::int32_t n = std::min(a_len, b_len);
  for (std::int32_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a_len < b_len ? -1 : (a_len > b_len ? 1 : 0);
}

// Big-endian code units, so that memcmp of two such keys is CompareUnits order.
void UnitsKey(const UChar* text, std::int32_t len, std::string* key) {
  const auto units = static_cast<std::size_t>(len);
  key->resize(units * 2);
  for (std::size_t i = 0; i < units; ++i) {
    (*key)[2 * i] = static_cast<char>(text[i] >> 8);
    (*key)[2 * i + 1] = static_cast<char>(text[i] & 0xFF);
  }
}

void IcuSortKey(const UCollator* collator, const UChar* text, std::int32_t len, std::string* key) {
  if (collator == nullptr) {
    UnitsKey(text, len, key);
    return;
  }
  // Latin text needs about two bytes per character; four plus the level separators covers
  // nearly everything in one call.
  const std::size_t guess = std::min<std::size_t>(static_cast<std::size_t>(len) * 4 + 16,
                                                  std::numeric_limits<std::int32_t>::max());
  key->resize(guess);
  std::int32_t needed =
      ucol_getSortKey(collator, text, len, reinterpret_cast<std::uint8_t*>(key->data()),
                      static_cast<std::int32_t>(guess));
  if (static_cast<std::size_t>(needed) > guess) {
    key->resize(static_cast<std::size_t>(needed));
    needed =
        ucol_getSortKey(collator, text, len, reinterpret_cast<std::uint8_t*>(key->data()), needed);
  }
  // ICU counts its terminating zero byte. No other byte of a key is zero, so without it
  // memcmp with "shorter first" (std::string's order) is the collation order.
  // ICU returns 0 only when it fails internally (out of memory); the key is then empty.
  key->resize(needed > 0 ? static_cast<std::size_t>(needed) - 1 : 0);
}

// The ICU locale for a Windows locale id; false when the id names no locale.
bool LocaleForLcid(std::uint32_t lcid, std::string* name) {
  if (lcid == 0 || lcid > kMaxLcid) return false;
  char buffer[ULOC_FULLNAME_CAPACITY + 1];
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t len =
      uloc_getLocaleForLCID(lcid, buffer, static_cast<std::int32_t>(sizeof buffer), &status);
  if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || len <= 0 ||
      static_cast<std::size_t>(len) >= sizeof buffer) {
    return false;
  }
  // ICU answers "root" for the pseudo ids that stand for "the user's or system's default"
  // (0x0400, 0x0800, ...). They name no locale; For() resolves them to the default itself.
  if (std::strcmp(buffer, "root") == 0) return false;
  name->assign(buffer, static_cast<std::size_t>(len));
  return true;
}

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

// The C locale has no linguistic order: ICU names it "en_US_POSIX" and collates it in ASCII
// order, and a raw environment may say "C", "C.UTF-8" or "POSIX". Only whole subtags count,
// so Catalan ("ca") or Czech ("cs") are not mistaken for C.
bool IsPosixLocale(const std::string& name) {
  std::size_t start = 0;
  bool first = true;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("_-.@", start);
    if (end == std::string::npos) end = name.size();
    const std::string tag = name.substr(start, end - start);
    if (EqualsIgnoreCase(tag, "posix") || (first && EqualsIgnoreCase(tag, "c"))) return true;
    // Encoding and keywords follow '.' or '@'; they say nothing about the language.
    if (end == name.size() || name[end] == '.' || name[end] == '@') break;
    start = end + 1;
    first = false;
  }
  return false;
}

// The locale whose collation `lcid` selects: "" is ICU's root collation.
std::string ResolveLocale(std::uint32_t lcid) {
  std::string name;
  if (!LocaleForLcid(lcid, &name)) {
    const char* fallback = uloc_getDefault();
    name = fallback == nullptr ? "" : fallback;
  }
  if (name == "root" || IsPosixLocale(name)) name.clear();
  return name;
}

UCollator* OpenCollator(const std::string& locale_name, bool case_insensitive) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale_name.c_str(), &status);
  if (U_FAILURE(status)) {
    if (collator != nullptr) ucol_close(collator);
    return nullptr;
  }
  // Blanks and punctuation must count ("abc" < "abc " < "abcd"); some locales (Thai)
  // default to shifted handling, which would ignore them.
  ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  // Canonically equivalent UTF-16 texts (precomposed or combining accents) must order
  // alike; with normalization off ICU leaves the order of non-FCD text unspecified.
  ucol_setAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
  if (case_insensitive) {
    ucol_setAttribute(collator, UCOL_CASE_LEVEL, UCOL_OFF, &status);
    ucol_setStrength(collator, UCOL_SECONDARY);
  } else {
    ucol_setStrength(collator, UCOL_TERTIARY);
  }
  if (U_FAILURE(status)) {
    ucol_close(collator);
    return nullptr;
  }
  return collator;
}

}  // namespace

char16_t Cp1252ToUnicode(std::uint8_t byte) { return kCp1252[byte]; }

bool UnicodeToCp1252(char32_t code_point, std::uint8_t* byte) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
    *byte = static_cast<std::uint8_t>(code_point);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == code_point) {
      *byte = static_cast<std::uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

bool IsKnownLocale(std::uint32_t lcid) {
  std::string name;
  return LocaleForLcid(lcid, &name);
}

const Collation& Collation::For(std::uint32_t lcid, bool case_insensitive) {
  // Many ids share one locale (every unknown id is the default), so collators are owned per
  // locale name and the id map only points at them. Nothing is ever freed: callers keep the
  // references, and a leaked cache also outlives static destruction at exit.
  struct Cache {
    std::mutex mu;
    std::map<std::pair<std::uint32_t, bool>, const Collation*> by_lcid;
    std::map<std::pair<std::string, bool>, const Collation*> by_locale;
  };
  static auto* const cache = new Cache;

  std::lock_guard<std::mutex> lock(cache->mu);
  const auto id_key = std::make_pair(lcid, case_insensitive);
  auto found = cache->by_lcid.find(id_key);
  if (found != cache->by_lcid.end()) return *found->second;

  auto locale_key = std::make_pair(ResolveLocale(lcid), case_insensitive);
  const Collation*& slot = cache->by_locale[locale_key];
  if (slot == nullptr) slot = new Collation(locale_key.first, case_insensitive);
  cache->by_lcid.emplace(id_key, slot);
  return *slot;
}

Collation::Collation(std::string locale_name, bool case_insensitive)
    : locale_name_(std::move(locale_name)) {
  collator_ = OpenCollator(locale_name_, case_insensitive);
  if (collator_ == nullptr && !locale_name_.empty()) {
    locale_name_.clear();
    collator_ = OpenCollator(locale_name_, case_insensitive);
  }
}

Collation::~Collation() {
  if (collator_ != nullptr) ucol_close(Ucol(collator_));
}

int Collation::Compare8(const char* a, std::size_t a_len, const char* b, std::size_t b_len) const {
  const WideText wide_a(a, a_len);
  const WideText wide_b(b, b_len);
  if (collator_ == nullptr) {
    return CompareUnits(wide_a.data(), wide_a.size(), wide_b.data(), wide_b.size());
  }
  return ucol_strcoll(Ucol(collator_), wide_a.data(), wide_a.size(), wide_b.data(), wide_b.size());
}

int Collation::Compare16(const char16_t* a, std::size_t a_len, const char16_t* b,
                         std::size_t b_len) const {
  const std::int32_t a_units = a == nullptr ? 0 : ClampLength(a_len);
  const std::int32_t b_units = b == nullptr ? 0 : ClampLength(b_len);
  if (a_units == 0) a = u"";
  if (b_units == 0) b = u"";
  if (collator_ == nullptr) return CompareUnits(AsUChar(a), a_units, AsUChar(b), b_units);
  return ucol_strcoll(Ucol(collator_), AsUChar(a), a_units, AsUChar(b), b_units);
}

void Collation::SortKey8(const char* text, std::size_t len, std::string* key) const {
  const WideText wide(text, len);
  IcuSortKey(Ucol(collator_), wide.data(), wide.size(), key);
}

void Collation::SortKey16(const char16_t* text, std::size_t len, std::string* key) const {
  const std::int32_t units = text == nullptr ? 0 : ClampLength(len);
  if (units == 0) text = u"";
  IcuSortKey(Ucol(collator_), AsUChar(text), units, key);
}

}  // namespace zelvo
