// LIKE patterns of the filter evaluator: "%" any run, "_" one character, "\" escapes the
// next character; matched byte by byte, or through the code page's case folding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelvo {

// Case mapping of Windows-1252, the code page of 8-bit field values.
std::uint8_t UpperCp1252(std::uint8_t c);
std::uint8_t LowerCp1252(std::uint8_t c);

// A prepared pattern. The pattern is cut into segments between "%" runs; the first and last
// are anchored at the ends of the value unless the pattern starts or ends with "%", and the
// others are placed leftmost in turn, which finds a match whenever one exists.
class LikePattern {
 public:
  // Makes room for patterns of up to `characters` so that Prepare does not allocate.
  void Reserve(std::size_t characters);
  // A "\" at the very end of the pattern stands for itself.
  void Prepare(const char* pattern, std::size_t length, bool case_insensitive);
  bool Matches(const char* value, std::size_t length) const;
  // The same for a zero-terminated text in an area of `width` bytes (a text field's value);
  // a text without a terminator ends with the area. Reads nothing past the area.
  bool MatchesText(const char* text, std::size_t width) const;

 private:
  struct Segment {
    std::uint32_t begin = 0;  // into chars_ and any_
    std::uint32_t length = 0;
    std::int32_t first_literal = -1;  // index in the segment of its first non-"_" character
    bool all_literal = false;         // no "_" in the segment
  };
  bool MatchAt(const Segment& s, const std::uint8_t* value) const;
  // Leftmost start in [from, last_start] where `s` matches, or -1.
  std::ptrdiff_t Find(const Segment& s, const std::uint8_t* value, std::size_t from,
                      std::size_t last_start) const;

  std::vector<std::uint8_t> chars_;  // folded to lower case when case-insensitive
  std::vector<std::uint8_t> any_;    // 1 where the pattern has "_"
  std::vector<Segment> segments_;
  bool leading_percent_ = false;
  bool trailing_percent_ = false;
  bool has_percent_ = false;
  bool case_insensitive_ = false;
  bool contains_ = false;  // "%text%" without "_", case-sensitive: a plain substring test
  std::size_t min_length_ = 0;
};

}  // namespace zelvo
