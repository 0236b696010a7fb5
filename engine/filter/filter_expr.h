// TFilterExpr: writes a typed parse tree as a canonical expression, converting constants
// with the locale's conversions and applying the filter options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/expr_parser.h"
#include "filter/format_settings.h"
#include "result.h"

namespace zelvo {

class TFilterExpr {
 public:
  TFilterExpr(const FormatSettings& settings, const FilterOptions& options);

  // Encodes the tree under `root` (a TExprParser's typed tree). kOk: *block holds the whole
  // canonical expression. kInvalidArgument: a constant does not convert or a field cannot be
  // filtered on; ErrorMessage() holds the user's message and *block is empty.
  DBResult Encode(const TExprNode& root, std::vector<std::uint8_t>* block);

  const std::string& ErrorMessage() const { return error_; }

 private:
  // Each Put writes one node (and its operands) and gives its offset in the node area.
  bool Put(const TExprNode& node, bool condition, std::uint16_t* offset);
  bool PutField(const TExprNode& node, bool condition, std::uint16_t* offset);
  bool PutConst(const TExprNode& node, std::uint16_t* offset);
  bool PutComparison(const TExprNode& node, std::uint16_t* offset);
  bool PutList(const std::vector<TExprNode*>& items, bool condition, std::uint16_t* first);
  bool ConvertConst(const TExprNode& node, std::uint32_t* engine_type,
                    std::vector<std::uint8_t>* value);

  bool Reserve(std::uint32_t node_class, std::uint32_t op, std::uint16_t* offset);
  void SetOperand(std::uint16_t node, int index, std::uint16_t value);
  bool AddLiteral(const std::uint8_t* data, std::size_t size, std::uint16_t* offset);
  bool AddText(const std::string& text, std::uint16_t* offset);
  bool Fail(std::string message);

  FormatSettings settings_;
  FilterOptions options_;
  std::vector<std::uint8_t> nodes_;
  std::vector<std::uint8_t> literals_;
  std::string error_;
};

}  // namespace zelvo
