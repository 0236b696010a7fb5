// TExprParser: recursive descent over the filter grammar, typing each node as it is built.
// Levels, lowest binding first: OR, AND, NOT, comparison, + -, * /, operand.
#include "filter/expr_parser.h"

#include <algorithm>
#include <new>

#include "filter/expr_lexer.h"
#include "filter/filter_expr.h"

namespace zelvo {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

constexpr std::string_view kFunctions[] = {"UPPER",     "LOWER",  "SUBSTRING", "TRIM", "TRIMLEFT",
                                           "TRIMRIGHT", "YEAR",   "MONTH",     "DAY",  "HOUR",
                                           "MINUTE",    "SECOND", "GETDATE",   "DATE", "TIME",
                                           "SUM",       "MIN",    "MAX",       "AVG",  "COUNT"};

bool IsFunctionName(std::string_view word) {
  return std::any_of(std::begin(kFunctions), std::end(kFunctions),
                     [word](std::string_view f) { return EqualsNoCase(word, f); });
}

bool IsAggregateName(std::string_view word) {
  for (std::string_view f : {"SUM", "MIN", "MAX", "AVG", "COUNT", "COUNT(*)"}) {
    if (EqualsNoCase(word, f)) return true;
  }
  return false;
}

CanonicalOp CompareOp(TokenKind kind) {
  switch (kind) {
    case TokenKind::kEq:
      return kOpEq;
    case TokenKind::kNe:
      return kOpNe;
    case TokenKind::kLt:
      return kOpLt;
    case TokenKind::kGt:
      return kOpGt;
    case TokenKind::kLe:
      return kOpLe;
    case TokenKind::kGe:
      return kOpGe;
    default:
      return kOpNone;
  }
}

constexpr std::string_view kTypeMismatch = "Type mismatch in expression";

}  // namespace

std::vector<FilterField> FilterFieldsOf(std::span<const FieldDesc> fields) {
  std::vector<FilterField> out;
  out.reserve(fields.size());
  for (const FieldDesc& desc : fields) {
    FilterField field;
    field.name = std::string(desc.Name());
    // Children carry their enclosing fields' names, as the client names them.
    for (std::uint16_t parent = desc.parent_number; parent != 0 && parent <= fields.size();) {
      const FieldDesc& up = fields[parent - 1];
      field.name = std::string(up.Name()) + "." + field.name;
      if (up.parent_number >= parent) break;
      parent = up.parent_number;
    }
    field.kind = ClientKindOf(desc.type, desc.subtype);
    field.size = desc.type == FT_BCD || desc.type == FT_FMTBCD ? desc.units2 : desc.units1;
    field.use =
        desc.calculated == kStoredField ? FilterFieldUse::kData : FilterFieldUse::kInternalCalc;
    field.field_number = desc.field_number;
    out.push_back(std::move(field));
  }
  return out;
}

class TExprParser::Impl {
 public:
  Impl(std::span<const FilterField> fields, const FormatSettings& settings, bool arithmetic)
      : fields_(fields), settings_(settings), arithmetic_(arithmetic) {}

  // The typed root, or null with *error set.
  TExprNode* Parse(std::string_view text, std::string* error);

 private:
  TExprNode* Fail(std::string_view message) {
    if (error_->empty()) *error_ = std::string(message);
    return nullptr;
  }
  bool Advance() { return lexer_->Next(&token_, error_); }
  bool IsWord(std::string_view word) const {
    return token_.kind == TokenKind::kSymbol && EqualsNoCase(token_.text, word);
  }
  std::string Found() const { return lexer_->Describe(token_); }

  TExprNode* NewNode(TExprNodeKind kind) {
    nodes_.push_back(std::make_unique<TExprNode>());
    TExprNode* node = nodes_.back().get();
    node->kind = kind;
    return node;
  }
  TExprNode* NewOperator(CanonicalOp op, TExprNode* left, TExprNode* right);
  bool SetScope(TExprNode* node, const TExprNode* a, const TExprNode* b);

  TExprNode* ParseOr();
  TExprNode* ParseAnd();
  TExprNode* ParseNot();
  TExprNode* ParseComparison();
  TExprNode* ParseSum();
  TExprNode* ParseProduct();
  TExprNode* ParseOperand();
  TExprNode* ParseCall();
  bool ParseList(TExprNode* node);

  TExprNode* TypeComparison(TExprNode* node);
  TExprNode* TypeArithmetic(TExprNode* node);
  TExprNode* TypeFunction(TExprNode* node);

  std::span<const FilterField> fields_;
  FormatSettings settings_;
  bool arithmetic_;
  std::vector<std::unique_ptr<TExprNode>> nodes_;
  ExprLexer* lexer_ = nullptr;
  Token token_;
  std::string* error_ = nullptr;
  std::uint32_t nesting_ = 0;
};

TExprNode* TExprParser::Impl::Parse(std::string_view text, std::string* error) {
  nodes_.clear();
  nesting_ = 0;
  error_ = error;
  ExprLexer lexer(text, settings_.decimal_separator);
  lexer_ = &lexer;
  TExprNode* root = Advance() ? ParseOr() : nullptr;
  if (root == nullptr) return Fail("");  // keeps the first message
  if (token_.kind != TokenKind::kEnd) return Fail("Filter expression incorrectly terminated");
  if (root->scope == TExprScope::kAggregate) {
    return Fail("Aggregate expressions not allowed in filters");
  }
  if (root->data_type != ftBoolean) return Fail("Incorrectly formed filter expression");
  return root;
}

TExprNode* TExprParser::Impl::NewOperator(CanonicalOp op, TExprNode* left, TExprNode* right) {
  TExprNode* node = NewNode(TExprNodeKind::kOperator);
  node->op = op;
  node->left = left;
  node->right = right;
  node->depth = 1 + std::max(left ? left->depth : 0, right ? right->depth : 0);
  if (node->depth > kMaxFilterDepth) return Fail(kTooComplexMessage);
  return node;
}

// Both constant: constant; aggregate with record-varying: an error; else aggregate if either
// is, otherwise record-varying.
bool TExprParser::Impl::SetScope(TExprNode* node, const TExprNode* a, const TExprNode* b) {
  const TExprScope sa = a->scope;
  const TExprScope sb = b == nullptr ? sa : b->scope;
  if ((sa == TExprScope::kAggregate && sb == TExprScope::kRecord) ||
      (sa == TExprScope::kRecord && sb == TExprScope::kAggregate)) {
    Fail("Operation cannot mix aggregate value with record-varying value");
    return false;
  }
  if (sa == TExprScope::kConst && sb == TExprScope::kConst) {
    node->scope = TExprScope::kConst;
  } else if (sa == TExprScope::kAggregate || sb == TExprScope::kAggregate) {
    node->scope = TExprScope::kAggregate;
  } else {
    node->scope = TExprScope::kRecord;
  }
  return true;
}

TExprNode* TExprParser::Impl::ParseOr() {
  if (++nesting_ > kMaxFilterNesting) return Fail(kTooComplexMessage);
  TExprNode* left = ParseAnd();
  while (left != nullptr && IsWord("OR")) {
    if (!Advance()) return nullptr;
    TExprNode* right = ParseAnd();
    if (right == nullptr) return nullptr;
    TExprNode* node = NewOperator(kOpOr, left, right);
    if (node == nullptr || !SetScope(node, left, right)) return nullptr;
    node->data_type = ftBoolean;
    left = node;
  }
  --nesting_;
  return left;
}

TExprNode* TExprParser::Impl::ParseAnd() {
  TExprNode* left = ParseNot();
  while (left != nullptr && IsWord("AND")) {
    if (!Advance()) return nullptr;
    TExprNode* right = ParseNot();
    if (right == nullptr) return nullptr;
    TExprNode* node = NewOperator(kOpAnd, left, right);
    if (node == nullptr || !SetScope(node, left, right)) return nullptr;
    node->data_type = ftBoolean;
    left = node;
  }
  return left;
}

TExprNode* TExprParser::Impl::ParseNot() {
  if (!IsWord("NOT")) return ParseComparison();
  if (!Advance()) return nullptr;
  TExprNode* operand = ParseComparison();
  if (operand == nullptr) return nullptr;
  TExprNode* node = NewOperator(kOpNot, operand, nullptr);
  if (node == nullptr || !SetScope(node, operand, nullptr)) return nullptr;
  node->data_type = ftBoolean;
  return node;
}

TExprNode* TExprParser::Impl::ParseComparison() {
  TExprNode* left = ParseSum();
  if (left == nullptr) return nullptr;
  const TokenKind kind = token_.kind;
  CanonicalOp op = CompareOp(kind);
  if (kind == TokenKind::kLike) op = kOpLike;
  if (op != kOpNone) {
    if (!Advance()) return nullptr;
    TExprNode* right = ParseSum();
    if (right == nullptr) return nullptr;
    TExprNode* node = NewOperator(op, left, right);
    return node == nullptr ? nullptr : TypeComparison(node);
  }
  if (kind == TokenKind::kIsNull || kind == TokenKind::kIsNotNull) {
    if (!Advance()) return nullptr;
    TExprNode* node =
        NewOperator(kind == TokenKind::kIsNull ? kOpIsBlank : kOpNotBlank, left, nullptr);
    return node == nullptr ? nullptr : TypeComparison(node);
  }
  if (kind == TokenKind::kIn) {
    if (!Advance()) return nullptr;
    if (token_.kind != TokenKind::kLParen) {
      return Fail("'(' expected but " + Found() + " found");
    }
    if (!Advance()) return nullptr;
    if (token_.kind == TokenKind::kRParen) return Fail("IN predicate list may not be empty");
    TExprNode* node = NewOperator(kOpIn, left, nullptr);
    if (node == nullptr || !ParseList(node)) return nullptr;
    return TypeComparison(node);
  }
  return left;
}

// Items or arguments up to the closing parenthesis; the current token starts the first.
bool TExprParser::Impl::ParseList(TExprNode* node) {
  for (;;) {
    TExprNode* item = ParseOr();
    if (item == nullptr) return false;
    node->args.push_back(item);
    node->depth = std::max(node->depth, item->depth + 1);
    if (node->depth > kMaxFilterDepth) return Fail(kTooComplexMessage), false;
    if (token_.kind == TokenKind::kRParen) return Advance();
    if (token_.kind == TokenKind::kEnd) return Fail("')' expected but nothing found"), false;
    if (token_.kind != TokenKind::kComma) {
      return Fail("')' or ',' expected but " + Found() + " found"), false;
    }
    if (!Advance()) return false;
  }
}

TExprNode* TExprParser::Impl::ParseSum() {
  TExprNode* left = ParseProduct();
  while (left != nullptr && (token_.kind == TokenKind::kPlus || token_.kind == TokenKind::kMinus)) {
    if (!arithmetic_) return Fail("Arithmetic in filter expressions not supported");
    const CanonicalOp op = token_.kind == TokenKind::kPlus ? kOpAdd : kOpSub;
    if (!Advance()) return nullptr;
    TExprNode* right = ParseProduct();
    if (right == nullptr) return nullptr;
    TExprNode* node = NewOperator(op, left, right);
    left = node == nullptr ? nullptr : TypeArithmetic(node);
  }
  return left;
}

TExprNode* TExprParser::Impl::ParseProduct() {
  TExprNode* left = ParseOperand();
  while (left != nullptr &&
         (token_.kind == TokenKind::kTimes || token_.kind == TokenKind::kDivide)) {
    if (!arithmetic_) return Fail("Arithmetic in filter expressions not supported");
    const CanonicalOp op = token_.kind == TokenKind::kTimes ? kOpMul : kOpDiv;
    if (!Advance()) return nullptr;
    TExprNode* right = ParseOperand();
    if (right == nullptr) return nullptr;
    TExprNode* node = NewOperator(op, left, right);
    left = node == nullptr ? nullptr : TypeArithmetic(node);
  }
  return left;
}

TExprNode* TExprParser::Impl::ParseOperand() {
  switch (token_.kind) {
    case TokenKind::kSymbol:
      if (IsFunctionName(token_.text) && lexer_->PeekPastBlanks() == '(') return ParseCall();
      if (IsWord("NULL") || IsWord("True") || IsWord("False")) {
        TExprNode* node = NewNode(TExprNodeKind::kConst);
        node->constant = IsWord("NULL")   ? TExprConst::kNull
                         : IsWord("True") ? TExprConst::kTrue
                                          : TExprConst::kFalse;
        node->value = token_.text;
        node->scope = TExprScope::kConst;
        return Advance() ? node : nullptr;
      }
      [[fallthrough]];
    case TokenKind::kName: {
      const FilterField* field = nullptr;
      for (const FilterField& f : fields_) {
        if (EqualsNoCase(f.name, token_.text)) {
          field = &f;
          break;
        }
      }
      if (field == nullptr) return Fail("Field '" + token_.text + "' not found");
      TExprNode* node = NewNode(TExprNodeKind::kField);
      node->field = field;
      node->value = field->name;
      node->data_type = FieldTypeOfKind(field->kind);
      node->size = field->size;
      return Advance() ? node : nullptr;
    }
    case TokenKind::kString:
    case TokenKind::kNumber: {
      TExprNode* node = NewNode(TExprNodeKind::kConst);
      node->value = token_.text;
      node->numeric = token_.kind == TokenKind::kNumber;
      node->data_type = node->numeric ? ftFloat : ftString;
      node->size = node->numeric ? 8 : static_cast<std::uint32_t>(node->value.size());
      node->scope = TExprScope::kConst;
      return Advance() ? node : nullptr;
    }
    case TokenKind::kLParen: {
      if (!Advance()) return nullptr;
      TExprNode* inner = ParseOr();
      if (inner == nullptr) return nullptr;
      if (token_.kind != TokenKind::kRParen) return Fail("')' expected but " + Found() + " found");
      return Advance() ? inner : nullptr;
    }
    default:
      return Fail("Expression expected but " + Found() + " found");
  }
}

TExprNode* TExprParser::Impl::ParseCall() {
  TExprNode* node = NewNode(TExprNodeKind::kFunc);
  node->op = kOpFunc;
  node->value = token_.text;
  if (!Advance() || !Advance()) return nullptr;  // the name, then "("
  if (EqualsNoCase(node->value, "COUNT") && token_.kind == TokenKind::kTimes) {
    node->value = "COUNT(*)";
    if (!Advance()) return nullptr;
    if (token_.kind != TokenKind::kRParen) return Fail("')' expected but " + Found() + " found");
    if (!Advance()) return nullptr;
  } else if (token_.kind == TokenKind::kRParen) {
    if (!Advance()) return nullptr;
  } else {
    if (++nesting_ > kMaxFilterNesting) return Fail(kTooComplexMessage);
    if (!ParseList(node)) return nullptr;
    --nesting_;
  }
  return TypeFunction(node);
}

TExprNode* TExprParser::Impl::TypeComparison(TExprNode* node) {
  TExprNode* left = node->left;
  TExprNode* right = node->right;
  // A constant compared with a field takes the field's type and size.
  if (right != nullptr) {
    if (left->kind == TExprNodeKind::kField && right->kind == TExprNodeKind::kConst) {
      right->data_type = left->data_type;
      right->size = left->size;
    } else if (left->kind == TExprNodeKind::kConst && right->kind == TExprNodeKind::kField) {
      left->data_type = right->data_type;
      left->size = right->size;
    }
  }
  const bool null_test = node->op == kOpIsBlank || node->op == kOpNotBlank;
  auto unusable = [](const TExprNode* n) {
    return n != nullptr && (IsBlobType(n->data_type) || n->data_type == ftBytes);
  };
  if (node->op == kOpLike && IsBlobType(left->data_type)) {
    if (right->kind == TExprNodeKind::kConst) {
      right->data_type = ftString;
      right->size = static_cast<std::uint32_t>(right->value.size());
    }
  } else if (!null_test) {
    bool bad = unusable(left) || unusable(right);
    for (const TExprNode* item : node->args) bad = bad || unusable(item);
    if (bad) return Fail(kTypeMismatch);
  }
  // Text compared with a date or time is read as one.
  if (right != nullptr) {
    if (IsTemporalType(left->data_type) && IsStringType(right->data_type)) {
      right->data_type = left->data_type;
    } else if (IsTemporalType(right->data_type) && IsStringType(left->data_type)) {
      left->data_type = right->data_type;
    }
  }
  if (node->op == kOpIn && IsTemporalType(left->data_type)) {
    for (TExprNode* item : node->args) item->data_type = left->data_type;
  }
  node->data_type = ftBoolean;
  if (!SetScope(node, left, right)) return nullptr;
  for (const TExprNode* item : node->args) {
    if (!SetScope(node, node, item)) return nullptr;
  }
  return node;
}

TExprNode* TExprParser::Impl::TypeArithmetic(TExprNode* node) {
  TExprNode* left = node->left;
  TExprNode* right = node->right;
  const TFieldType a = left->data_type;
  const TFieldType b = right->data_type;
  const CanonicalOp op = node->op;
  if (IsNumericType(a) && IsNumericType(b)) {
    node->data_type = ftFloat;
  } else if (IsStringType(a) && IsStringType(b) && op == kOpAdd) {
    node->data_type = ftString;
    node->size = left->size + right->size;
  } else if (IsTemporalType(a) && IsNumericType(b) && op == kOpAdd) {
    node->data_type = ftDateTime;
  } else if (IsTemporalType(a) && IsNumericType(b) && op == kOpSub) {
    node->data_type = a;
  } else if (IsTemporalType(a) && IsTemporalType(b) && op == kOpSub) {
    node->data_type = ftFloat;
  } else if (IsStringType(a) && IsTemporalType(b) && op == kOpSub) {
    node->data_type = ftFloat;
    left->data_type = b;
  } else if (left->kind == TExprNodeKind::kConst && left->constant == TExprConst::kText &&
             IsStringType(a) && IsNumericType(b)) {
    left->data_type = ftDateTime;
    node->data_type = ftDateTime;
  } else {
    return Fail(kTypeMismatch);
  }
  if (node->size == 0) node->size = 8;
  return SetScope(node, left, right) ? node : nullptr;
}

TExprNode* TExprParser::Impl::TypeFunction(TExprNode* node) {
  const std::string& name = node->value;
  const bool star = name == "COUNT(*)";
  const bool getdate = EqualsNoCase(name, "GETDATE");
  if (node->args.empty() && !star && !getdate) return Fail(kTypeMismatch);
  TFieldType type = ftString;
  if (EqualsNoCase(name, "SUM") || EqualsNoCase(name, "AVG")) {
    type = ftFloat;
  } else if (EqualsNoCase(name, "MIN") || EqualsNoCase(name, "MAX")) {
    type = node->args[0]->data_type;
  } else if (star || EqualsNoCase(name, "COUNT")) {
    type = ftInteger;
  } else if (getdate) {
    type = ftDateTime;
  } else if (EqualsNoCase(name, "DATE")) {
    type = ftDate;
  } else if (EqualsNoCase(name, "TIME")) {
    type = ftTime;
  } else {
    for (std::string_view part : {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"}) {
      if (EqualsNoCase(name, part)) type = ftInteger;
    }
  }
  node->data_type = type;
  node->size = type == ftString && !node->args.empty() ? node->args[0]->size : 8;
  if (IsAggregateName(name)) {
    node->scope = TExprScope::kAggregate;
  } else if (getdate) {
    node->scope = TExprScope::kConst;
  } else {
    node->scope = node->args[0]->scope;
  }
  return node;
}

TExprParser::TExprParser(std::span<const FilterField> fields, const FormatSettings& settings,
                         bool arithmetic)
    : impl_(std::make_unique<Impl>(fields, settings, arithmetic)) {}

TExprParser::~TExprParser() = default;

DBResult TExprParser::Parse(std::string_view text) {
  root_ = nullptr;
  error_.clear();
  try {
    root_ = impl_->Parse(text, &error_);
  } catch (const std::bad_alloc&) {
    error_.clear();
    return DBResult::kOutOfMemory;
  }
  return root_ != nullptr ? DBResult::kOk : DBResult::kInvalidArgument;
}

DBResult ParseFilterText(std::string_view text, std::span<const FilterField> fields,
                         const FormatSettings& settings, const FilterOptions& options,
                         std::vector<std::uint8_t>* expression, std::string* message) {
  expression->clear();
  message->clear();
  try {
    TExprParser parser(fields, settings);
    DBResult r = parser.Parse(text);
    if (r != DBResult::kOk) {
      *message = parser.ErrorMessage();
      return r;
    }
    TFilterExpr encoder(settings, options);
    r = encoder.Encode(*parser.Root(), expression);
    if (r != DBResult::kOk) *message = encoder.ErrorMessage();
    return r;
  } catch (const std::bad_alloc&) {
    expression->clear();
    message->clear();
    return DBResult::kOutOfMemory;
  }
}

}  // namespace zelvo
