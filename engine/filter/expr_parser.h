// The client side of filters: TExprParser turns a filter text into a typed parse tree of
// TExprNode records over the table's field list; TFilterExpr (filter_expr.h) encodes it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fields/field_types.h"
#include "filter/canonical_expr.h"
#include "filter/client_field_type.h"
#include "filter/format_settings.h"
#include "result.h"

namespace zelvo {

// What a field is to the client: only data fields and fields calculated into the record
// (internal calculated) can be filtered on.
enum class FilterFieldUse { kData, kInternalCalc, kCalculated, kLookup, kAggregate };

// One field as the parser sees it. The parser never reads a record.
struct FilterField {
  std::string name;  // children of a structure are named "Parent.Child"
  ClientFieldKind kind = ClientFieldKind::kUnknown;
  // Characters or bytes for strings and bytes, the number of decimals for BCD fields.
  std::uint32_t size = 0;
  FilterFieldUse use = FilterFieldUse::kData;
  std::uint16_t field_number = 0;  // from 1, in the table's field order
};

// The parser's field list of a table, from its laid-out field descriptions: client kinds by
// type and subtype, fields calculated into the record as internal calculated fields.
std::vector<FilterField> FilterFieldsOf(std::span<const FieldDesc> fields);

struct FilterOptions {
  bool case_insensitive = false;    // "=", "<>" and LIKE against a string constant ignore case
  bool no_partial_compare = false;  // a trailing "*" in a string constant is an ordinary character
};

enum class TExprNodeKind { kField, kConst, kOperator, kFunc };
enum class TExprScope { kRecord, kAggregate, kConst };
enum class TExprConst { kText, kTrue, kFalse, kNull };

// One node of the parse tree. Nodes belong to the parser that made them.
struct TExprNode {
  TExprNodeKind kind = TExprNodeKind::kConst;
  CanonicalOp op = kOpNone;  // operator nodes: the canonical operator
  TFieldType data_type = ftUnknown;
  std::uint32_t size = 0;
  // Field name (as the table spells it), constant text (a literal's characters) or function
  // name (as typed; "COUNT(*)" for the star form).
  std::string value;
  TExprConst constant = TExprConst::kText;
  bool numeric = false;  // a number literal
  TExprNode* left = nullptr;
  TExprNode* right = nullptr;
  std::vector<TExprNode*> args;  // function arguments, IN list items
  bool partial = false;          // always clear for filters
  TExprScope scope = TExprScope::kRecord;
  const FilterField* field = nullptr;  // field references
  std::uint32_t depth = 1;             // of the subtree
};

// Parses one filter text. Not thread-safe; a parser may parse several texts in turn.
class TExprParser {
 public:
  // `fields` must outlive the parser and its tree; `settings` are copied. `arithmetic` off makes
  // "+", "-", "*" and "/" an error, as the client's mode without arithmetic does.
  TExprParser(std::span<const FilterField> fields, const FormatSettings& settings,
              bool arithmetic = true);
  ~TExprParser();
  TExprParser(const TExprParser&) = delete;
  TExprParser& operator=(const TExprParser&) = delete;

  // Parses and types `text`. kOk: Root() is the typed tree. kInvalidArgument: the text is
  // not a filter expression; ErrorMessage() holds the user's message and Root() is null.
  // kOutOfMemory when memory runs out.
  DBResult Parse(std::string_view text);

  const TExprNode* Root() const { return root_; }
  const std::string& ErrorMessage() const { return error_; }

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
  const TExprNode* root_ = nullptr;
  std::string error_;
};

// Parses, types and encodes `text` in one call: the client's whole side of attaching a
// filter. An empty filter text attaches nothing; the client does not call this for it (the
// parser would answer "Expression expected but nothing found"). kOk: *expression holds the
// canonical expression. kInvalidArgument: *message holds the user's message and *expression is
// empty. kOutOfMemory when memory runs out.
DBResult ParseFilterText(std::string_view text, std::span<const FilterField> fields,
                         const FormatSettings& settings, const FilterOptions& options,
                         std::vector<std::uint8_t>* expression, std::string* message);

// Limits that keep parsing, encoding and compiling within a small, fixed stack; a text
// that passes them fails with these messages.
constexpr std::uint32_t kMaxFilterNesting = 200;  // nested parentheses, lists and calls
constexpr std::uint32_t kMaxFilterDepth = 1000;   // levels of the parse tree
inline constexpr std::string_view kTooComplexMessage = "Filter expression is too complex";
inline constexpr std::string_view kTooLongMessage = "Filter expression is too long";

}  // namespace zelvo
