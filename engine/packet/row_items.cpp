// Row item layout of a packet level.
#include "packet/row_items.h"

#include "fields/type_word.h"

namespace zelvo {

namespace {

class ItemBuilder {
 public:
  ItemBuilder(const LevelColumns& columns, std::vector<RowItem>* items)
      : columns_(columns), items_(items) {}

  // Adds the items of the column at `pos` and its descendants (when `emit`); returns the
  // position after the subtree in *next.
  DBResult Subtree(std::size_t pos, bool emit, int depth, std::size_t* next) {
    if (pos >= columns_.types.size() || depth > 64) return DBResult::kRowLayout;
    const std::uint32_t type = columns_.types[pos];
    if (emit) {
      if (items_->size() >= kMaxRowItems) return DBResult::kRowLayout;
      RowItem item;
      if (ConverterFor(type, &item.conv) != DBResult::kOk) return DBResult::kRowLayout;
      std::size_t j = items_->size();
      item.flag_byte = static_cast<std::uint32_t>(j / 4);
      item.null_bit = static_cast<std::uint8_t>(1u << (2 * (j % 4)));
      item.child_level = columns_.child_levels[pos];
      items_->push_back(item);
    }
    const std::uint32_t count = TypeSize(type);
    std::size_t p = pos + 1;
    switch (TypeBase(type)) {
      case PT_STRUCT:
        for (std::uint32_t k = 0; k < count; ++k) {
          ZELVO_RETURN_IF_ERROR(Subtree(p, emit, depth + 1, &p));
        }
        break;
      case PT_ARRAY: {
        std::size_t end = p;
        ZELVO_RETURN_IF_ERROR(Subtree(p, false, depth + 1, &end));
        for (std::uint32_t e = 0; emit && e < count; ++e) {
          ZELVO_RETURN_IF_ERROR(Subtree(p, true, depth + 1, &end));
        }
        p = end;
        break;
      }
      default:
        break;
    }
    *next = p;
    return DBResult::kOk;
  }

 private:
  const LevelColumns& columns_;
  std::vector<RowItem>* items_;
};

}  // namespace

DBResult BuildRowItems(const LevelColumns& columns, std::vector<RowItem>* items) {
  items->clear();
  ItemBuilder builder(columns, items);
  std::size_t pos = 0;
  while (pos < columns.types.size()) {
    ZELVO_RETURN_IF_ERROR(builder.Subtree(pos, true, 0, &pos));
  }
  return DBResult::kOk;
}

}  // namespace zelvo
