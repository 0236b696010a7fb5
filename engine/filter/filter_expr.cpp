// TFilterExpr: node records depth first from the root at offset 0, literals in the order
// they are written, then the header.
#include "filter/filter_expr.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "fields/bcd.h"
#include "fields/dates.h"

namespace zelvo {

namespace {

constexpr std::size_t kMaxStringConstant = 255;
// A canonical BCD constant keeps the first 18 bytes of a BCD value: 32 digits.
constexpr std::uint32_t kBcdConstantBytes = 18;
constexpr std::uint32_t kBcdConstantDigits = 32;

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <typename T>
std::vector<std::uint8_t> BytesOf(T value) {
  std::vector<std::uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));  // little-endian hosts only, as the engine is
  return out;
}

CanonicalOp Mirrored(CanonicalOp op) {
  switch (op) {
    case kOpLt:
      return kOpGt;
    case kOpGt:
      return kOpLt;
    case kOpLe:
      return kOpGe;
    case kOpGe:
      return kOpLe;
    default:
      return op;
  }
}

bool IsComparison(CanonicalOp op) { return op >= kOpEq && op <= kOpLe; }

// The type names the conversion message uses for a constant's target type.
std::string VariantTypeName(TFieldType type) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid:
      return "String";
    case ftSmallint:
      return "Smallint";
    case ftInteger:
    case ftAutoInc:
      return "Integer";
    case ftWord:
      return "Word";
    case ftBoolean:
      return "Boolean";
    case ftFloat:
      return "Double";
    case ftCurrency:
      return "Currency";
    case ftBCD:
    case ftFMTBcd:
      return "FMTBcd";
    case ftDate:
    case ftTime:
    case ftDateTime:
      return "Date";
    case ftTimeStamp:
      return "SQLTimeStamp";
    case ftLargeint:
      return "Int64";
    default:
      return "Unknown";
  }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

TFilterExpr::TFilterExpr(const FormatSettings& settings, const FilterOptions& options)
    : settings_(settings), options_(options) {}

bool TFilterExpr::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  return false;
}

DBResult TFilterExpr::Encode(const TExprNode& root, std::vector<std::uint8_t>* block) {
  block->clear();
  nodes_.clear();
  literals_.clear();
  error_.clear();
  std::uint16_t offset = 0;
  if (!Put(root, true, &offset)) return DBResult::kInvalidArgument;
  const std::size_t total = kCanonicalHeaderSize + nodes_.size() + literals_.size();
  if (total > kCanonicalMaxSize) {
    Fail(std::string(kTooLongMessage));
    return DBResult::kInvalidArgument;
  }
  block->resize(kCanonicalHeaderSize);
  PutU16(block->data(), kCanonicalVersion);
  PutU16(block->data() + 2, static_cast<std::uint16_t>(total));
  PutU16(block->data() + 4, kCanonicalMarker);
  PutU16(block->data() + 6, kCanonicalHeaderSize);
  PutU16(block->data() + 8, static_cast<std::uint16_t>(kCanonicalHeaderSize + nodes_.size()));
  block->insert(block->end(), nodes_.begin(), nodes_.end());
  block->insert(block->end(), literals_.begin(), literals_.end());
  return DBResult::kOk;
}

bool TFilterExpr::Reserve(std::uint32_t node_class, std::uint32_t op, std::uint16_t* offset) {
  const std::size_t at = nodes_.size();
  if (at + NodeRecordSize(node_class) > kCanonicalMaxSize)
    return Fail(std::string(kTooLongMessage));
  nodes_.resize(at + NodeRecordSize(node_class), 0);
  PutU32(nodes_.data() + at, node_class);
  PutU32(nodes_.data() + at + 4, op);
  *offset = static_cast<std::uint16_t>(at);
  return true;
}

void TFilterExpr::SetOperand(std::uint16_t node, int index, std::uint16_t value) {
  PutU16(nodes_.data() + node + 8 + 2 * index, value);
}

bool TFilterExpr::AddLiteral(const std::uint8_t* data, std::size_t size, std::uint16_t* offset) {
  if (literals_.size() + size > kCanonicalMaxSize) return Fail(std::string(kTooLongMessage));
  *offset = static_cast<std::uint16_t>(literals_.size());
  literals_.insert(literals_.end(), data, data + size);
  return true;
}

bool TFilterExpr::AddText(const std::string& text, std::uint16_t* offset) {
  return AddLiteral(reinterpret_cast<const std::uint8_t*>(text.c_str()), text.size() + 1, offset);
}

// `condition`: the node stands where a truth value is expected (the root, under NOT, AND,
// OR, or as a function argument), which turns a bare boolean field into "field <> false".
bool TFilterExpr::Put(const TExprNode& node, bool condition, std::uint16_t* offset) {
  switch (node.kind) {
    case TExprNodeKind::kField:
      return PutField(node, condition, offset);
    case TExprNodeKind::kConst:
      return PutConst(node, offset);
    case TExprNodeKind::kFunc: {
      if (!Reserve(kFuncNode, kOpFunc, offset)) return false;
      std::uint16_t name = 0;
      std::uint16_t first = 0;
      if (!AddText(node.value, &name) || !PutList(node.args, true, &first)) return false;
      SetOperand(*offset, 0, name);
      SetOperand(*offset, 1, first);
      return true;
    }
    case TExprNodeKind::kOperator:
      break;
  }
  switch (node.op) {
    case kOpIsBlank:
    case kOpNotBlank:
    case kOpNot: {
      std::uint16_t operand = 0;
      if (!Reserve(kUnaryNode, node.op, offset) || !Put(*node.left, node.op == kOpNot, &operand)) {
        return false;
      }
      SetOperand(*offset, 0, operand);
      return true;
    }
    case kOpIn: {
      std::uint16_t left = 0;
      std::uint16_t first = 0;
      if (!Reserve(kBinaryNode, kOpIn, offset) || !Put(*node.left, false, &left) ||
          !PutList(node.args, false, &first)) {
        return false;
      }
      SetOperand(*offset, 0, left);
      SetOperand(*offset, 1, first);
      return true;
    }
    default:
      if (IsComparison(node.op) || node.op == kOpLike) return PutComparison(node, offset);
      break;
  }
  const bool logical = node.op == kOpAnd || node.op == kOpOr;
  std::uint16_t left = 0;
  std::uint16_t right = 0;
  if (!Reserve(kBinaryNode, node.op, offset) || !Put(*node.left, logical, &left) ||
      !Put(*node.right, logical, &right)) {
    return false;
  }
  SetOperand(*offset, 0, left);
  SetOperand(*offset, 1, right);
  return true;
}

bool TFilterExpr::PutField(const TExprNode& node, bool condition, std::uint16_t* offset) {
  const FilterField& field = *node.field;
  if (field.use != FilterFieldUse::kData && field.use != FilterFieldUse::kInternalCalc) {
    return Fail("Field '" + field.name + "' cannot be used in a filter expression");
  }
  if (condition && node.data_type == ftBoolean) {
    // A bare boolean field means that the field is true: field <> false.
    std::uint16_t field_node = 0;
    std::uint16_t constant = 0;
    std::uint16_t value = 0;
    const std::uint8_t kFalse[2] = {0, 0};
    if (!Reserve(kBinaryNode, kOpNe, offset) || !PutField(node, false, &field_node) ||
        !Reserve(kConstNode, kOpConst, &constant) || !AddLiteral(kFalse, 2, &value)) {
      return false;
    }
    SetOperand(constant, 0, FT_BOOL);
    SetOperand(constant, 1, 2);
    SetOperand(constant, 2, value);
    SetOperand(*offset, 0, field_node);
    SetOperand(*offset, 1, constant);
    return true;
  }
  std::uint16_t name = 0;
  if (!Reserve(kFieldNode, kOpField, offset) || !AddText(field.name, &name)) return false;
  SetOperand(*offset, 0, field.field_number);
  SetOperand(*offset, 1, name);
  return true;
}

bool TFilterExpr::PutConst(const TExprNode& node, std::uint16_t* offset) {
  std::uint32_t engine_type = 0;
  std::vector<std::uint8_t> value;
  std::uint16_t at = 0;
  if (!ConvertConst(node, &engine_type, &value) || !Reserve(kConstNode, kOpConst, offset) ||
      !AddLiteral(value.data(), value.size(), &at)) {
    return false;
  }
  SetOperand(*offset, 0, static_cast<std::uint16_t>(engine_type));
  SetOperand(*offset, 1, static_cast<std::uint16_t>(value.size()));
  SetOperand(*offset, 2, at);
  return true;
}

bool TFilterExpr::PutComparison(const TExprNode& node, std::uint16_t* offset) {
  const TExprNode* left = node.left;
  const TExprNode* right = node.right;
  CanonicalOp op = node.op;
  if (IsComparison(op) && left->kind == TExprNodeKind::kConst &&
      right->kind == TExprNodeKind::kField) {
    std::swap(left, right);
    op = Mirrored(op);
  }
  if (left->kind == TExprNodeKind::kField && right->kind == TExprNodeKind::kConst &&
      (op == kOpEq || op == kOpNe || op == kOpLike)) {
    if (right->constant == TExprConst::kNull) {
      if (op == kOpLike) return Fail("NULL only allowed with '=' and '<>'");
      std::uint16_t operand = 0;
      if (!Reserve(kUnaryNode, op == kOpEq ? kOpIsBlank : kOpNotBlank, offset) ||
          !Put(*left, false, &operand)) {
        return false;
      }
      SetOperand(*offset, 0, operand);
      return true;
    }
    if (IsStringType(right->data_type) && right->constant == TExprConst::kText &&
        !right->value.empty()) {
      TExprNode shortened = *right;
      std::uint16_t partial = 0;
      if (!options_.no_partial_compare && shortened.value.size() > 1 &&
          shortened.value.back() == '*') {
        shortened.value.pop_back();
        partial = static_cast<std::uint16_t>(std::min(shortened.value.size(), kMaxStringConstant));
      }
      const std::uint16_t flag = options_.case_insensitive ? 1 : 0;
      if (flag != 0 || partial != 0) {
        std::uint16_t field = 0;
        std::uint16_t constant = 0;
        if (!Reserve(kCompareNode, op, offset) || !Put(*left, false, &field) ||
            !PutConst(shortened, &constant)) {
          return false;
        }
        SetOperand(*offset, 0, flag);
        SetOperand(*offset, 1, partial);
        SetOperand(*offset, 2, field);
        SetOperand(*offset, 3, constant);
        return true;
      }
    }
  }
  std::uint16_t a = 0;
  std::uint16_t b = 0;
  if (!Reserve(kBinaryNode, op, offset) || !Put(*left, false, &a) || !Put(*right, false, &b)) {
    return false;
  }
  SetOperand(*offset, 0, a);
  SetOperand(*offset, 1, b);
  return true;
}

// The first element is written before its item; every later element after its item.
bool TFilterExpr::PutList(const std::vector<TExprNode*>& items, bool condition,
                          std::uint16_t* first) {
  *first = 0;
  std::uint16_t previous = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::uint16_t element = 0;
    std::uint16_t value = 0;
    if (i == 0) {
      if (!Reserve(kListElemNode, kOpListElem, &element) || !Put(*items[i], condition, &value)) {
        return false;
      }
      *first = element;
    } else {
      if (!Put(*items[i], condition, &value) || !Reserve(kListElemNode, kOpListElem, &element)) {
        return false;
      }
      SetOperand(previous, 1, element);
    }
    SetOperand(element, 0, value);
    previous = element;
  }
  return true;
}

bool TFilterExpr::ConvertConst(const TExprNode& node, std::uint32_t* engine_type,
                               std::vector<std::uint8_t>* value) {
  const TFieldType type = node.data_type;
  const std::string& text = node.value;
  if (node.constant == TExprConst::kNull) {
    return Fail("Could not convert variant of type (Null) into type (" + VariantTypeName(type) +
                ")");
  }
  const bool is_bool = node.constant == TExprConst::kTrue || node.constant == TExprConst::kFalse;
  const bool truth = node.constant == TExprConst::kTrue;
  auto boolean_mismatch = [&]() {
    return Fail("Could not convert variant of type (Boolean) into type (" + VariantTypeName(type) +
                ")");
  };
  auto integer = [&](std::int64_t low, std::int64_t high, std::int32_t* out) {
    if (is_bool) {
      *out = truth ? 1 : 0;
      return true;
    }
    if (!TextToInt32(text, out)) return Fail("'" + text + "' is not a valid integer value");
    if (*out < low || *out > high) return Fail("Constant out of range");
    return true;
  };
  auto floating = [&](double* out) {
    if (is_bool) {
      *out = truth ? 1 : 0;
      return true;
    }
    if (!TextToDouble(text, settings_, out)) {
      return Fail("'" + text + "' is not a valid floating point value");
    }
    return true;
  };
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid: {
      std::string s = is_bool ? (truth ? "True" : "False") : text.substr(0, kMaxStringConstant);
      *engine_type = FT_STRING;
      value->assign(s.begin(), s.end());
      value->push_back(0);
      return true;
    }
    case ftSmallint: {
      std::int32_t v = 0;
      if (!integer(-32768, 32767, &v)) return false;
      *engine_type = FT_INT16;
      *value = BytesOf(static_cast<std::int16_t>(v));
      return true;
    }
    case ftInteger:
    case ftAutoInc: {
      std::int32_t v = 0;
      if (!integer(INT32_MIN, INT32_MAX, &v)) return false;
      *engine_type = FT_INT32;
      *value = BytesOf(v);
      return true;
    }
    case ftWord: {
      std::int32_t v = 0;
      if (!integer(0, 65535, &v)) return false;
      *engine_type = FT_UINT16;
      *value = BytesOf(static_cast<std::uint16_t>(v));
      return true;
    }
    case ftBoolean: {
      bool b = truth;
      double number = 0;
      if (!is_bool) {
        if (EqualsNoCase(text, "True")) {
          b = true;
        } else if (EqualsNoCase(text, "False")) {
          b = false;
        } else if (TextToDouble(text, settings_, &number)) {
          b = number != 0;
        } else {
          return Fail("'" + text + "' is not a valid boolean value");
        }
      }
      *engine_type = FT_BOOL;
      *value = BytesOf(static_cast<std::uint16_t>(b ? 1 : 0));
      return true;
    }
    case ftFloat:
    case ftCurrency: {
      double v = 0;
      if (!floating(&v)) return false;
      *engine_type = FT_FLOAT;
      *value = BytesOf(v);
      return true;
    }
    case ftBCD:
    case ftFMTBcd: {
      double v = 0;
      if (!floating(&v)) return false;
      // The decimal text of the value with the field's number of decimals.
      const int places = static_cast<int>(std::min<std::uint32_t>(node.size, kBcdConstantDigits));
      char buffer[400];
      std::snprintf(buffer, sizeof(buffer), "%.*f", places, v);
      std::string_view digits(buffer);
      std::size_t integral = digits.find('.');
      if (integral == std::string_view::npos) integral = digits.size();
      if (digits.front() == '-') --integral;
      const std::uint32_t precision =
          static_cast<std::uint32_t>(std::max<std::size_t>(integral, 1)) + places;
      value->assign(kBcdConstantBytes, 0);
      if (precision > kBcdConstantDigits || BcdFromText(digits, precision, places, value->data(),
                                                        kBcdConstantBytes) != DBResult::kOk) {
        return Fail("'" + text + "' is not a valid floating point value");
      }
      *engine_type = type == ftBCD ? FT_BCD : FT_FMTBCD;
      return true;
    }
    case ftDate: {
      std::int32_t day = 0;
      if (is_bool) return boolean_mismatch();
      if (!TextToDate(text, settings_, &day)) return Fail("'" + text + "' is not a valid date");
      *engine_type = FT_DATE;
      *value = BytesOf(day);
      return true;
    }
    case ftTime: {
      std::int32_t ms = 0;
      if (is_bool) return boolean_mismatch();
      if (!TextToTime(text, settings_, &ms)) return Fail("'" + text + "' is not a valid time");
      *engine_type = FT_TIME;
      *value = BytesOf(ms);
      return true;
    }
    case ftDateTime:
    case ftTimeStamp: {
      double v = 0;
      if (is_bool) return boolean_mismatch();
      if (!TextToDateTime(text, settings_, &v)) {
        return Fail("'" + text + "' is not a valid date and time");
      }
      if (type == ftDateTime) {
        *engine_type = FT_DATETIME;
        *value = BytesOf(v);
        return true;
      }
      const DateTimeParts parts = SplitDateTime(v);
      const CivilDate date = DateOfDayNumber(static_cast<std::int32_t>(parts.day));
      const TimeOfDay time = TimeOfMs(parts.ms);
      const std::uint16_t fields[6] = {
          static_cast<std::uint16_t>(date.year),   static_cast<std::uint16_t>(date.month),
          static_cast<std::uint16_t>(date.day),    static_cast<std::uint16_t>(time.hour),
          static_cast<std::uint16_t>(time.minute), static_cast<std::uint16_t>(time.second)};
      value->assign(16, 0);
      std::memcpy(value->data(), fields, sizeof(fields));
      const std::uint32_t fraction = static_cast<std::uint32_t>(time.millisecond);
      std::memcpy(value->data() + 12, &fraction, 4);
      *engine_type = FT_SQLTIMESTAMP;
      return true;
    }
    default:
      return Fail("Constant is not correct type " + (is_bool ? node.value : text));
  }
}

}  // namespace zelvo
