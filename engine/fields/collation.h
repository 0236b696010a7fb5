// Locale collation of text values through ICU, selected by Windows locale id (LCID).
// 8-bit field values are Windows-1252 bytes; wide values are UTF-16. Both go through the
// same ICU collator, so an 8-bit and a wide column of the same text order alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

// The Unicode code point of a Windows-1252 byte. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same value.
char16_t Cp1252ToUnicode(std::uint8_t byte);

// The Windows-1252 byte of a code point; false when the code page has none.
bool UnicodeToCp1252(char32_t code_point, std::uint8_t* byte);

// True when the locale id names a locale that ICU knows (the "installed" test for LCID).
// 0 is not a locale id of its own and gives false.
bool IsKnownLocale(std::uint32_t lcid);

// One ICU collator for a locale id and a case switch.
// Thread safety: every member is const and safe to call from several threads.
class Collation {
 public:
  // The process-wide collation for `lcid`, created on first use and kept for the life of
  // the process. lcid 0, or an id ICU does not know, is the user's default locale; when that
  // is C or POSIX, ICU's root collation, so order is always linguistic.
  // case_insensitive compares at secondary strength (accents count, case does not).
  static const Collation& For(std::uint32_t lcid, bool case_insensitive);

  // Compare two Windows-1252 texts of the given byte lengths: -1, 0 or 1.
  int Compare8(const char* a, std::size_t a_len, const char* b, std::size_t b_len) const;
  // Compare two UTF-16 texts of the given lengths in code units: -1, 0 or 1.
  int Compare16(const char16_t* a, std::size_t a_len, const char16_t* b,
                std::size_t b_len) const;

  // Sort keys: for any two texts, memcmp order of their keys (shorter key first on a common
  // prefix, i.e. std::string's operator<) equals Compare8/Compare16 order. Build keys once
  // when many comparisons follow (index builds, sorts). `key` is replaced.
  void SortKey8(const char* text, std::size_t len, std::string* key) const;
  void SortKey16(const char16_t* text, std::size_t len, std::string* key) const;

  // The ICU locale name behind this collation ("" for root), for diagnostics and tests.
  const std::string& LocaleName() const { return locale_name_; }

  Collation(const Collation&) = delete;
  Collation& operator=(const Collation&) = delete;
  ~Collation();

 private:
  Collation(std::string locale_name, bool case_insensitive);

  std::string locale_name_;
  void* collator_ = nullptr;  // UCollator*; null only when ICU could open no collator at all
};

}  // namespace zelvo
