// The row items of one packet level: every column yields one item, an array's element
// subtree repeats once per element, and each item owns two bits of the row flags.
#pragma once

#include <cstdint>
#include <vector>

#include "packet/converters.h"
#include "result.h"

namespace zelvo {

struct RowItem {
  FLDConv conv;
  std::uint32_t flag_byte = 0;   // byte within the row flags
  std::uint8_t null_bit = 0;     // the unchanged bit is the next one up
  std::int32_t child_level = -1; // nested-table items: the level holding their rows
};

// One level's columns in descriptor order, with the nested level each nested column opens.
struct LevelColumns {
  std::vector<std::uint32_t> types;
  std::vector<std::int32_t> child_levels;
};

// More items than any sane table has; guards against packets that ask for billions.
constexpr std::size_t kMaxRowItems = 1 << 20;

// Fails with kRowLayout when a structure or array claims more descendants than follow it,
// a type has no converter, or the items would exceed kMaxRowItems.
DBResult BuildRowItems(const LevelColumns& columns, std::vector<RowItem>* items);

constexpr std::uint32_t RowFlagBytes(std::size_t item_count) {
  return static_cast<std::uint32_t>((item_count + 3) / 4);
}

}  // namespace zelvo
