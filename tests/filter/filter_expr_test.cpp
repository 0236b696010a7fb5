// Canonical expressions as TFilterExpr writes them, pinned byte for byte, and the shape of
// TExprParser's trees.
#include "filter/filter_expr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "filter/canonical_expr.h"
#include "filter/expr_parser.h"

namespace zelvo {
namespace {

// Builds an expected block by hand: node records in order, then literals.
class Block {
 public:
  Block& Node(std::uint32_t node_class, std::uint32_t op,
              std::initializer_list<std::uint16_t> operands) {
    U32(&nodes_, node_class);
    U32(&nodes_, op);
    for (std::uint16_t v : operands) U16(&nodes_, v);
    return *this;
  }
  Block& Text(const char* text) {
    literals_.insert(literals_.end(), text, text + std::strlen(text) + 1);
    return *this;
  }
  template <typename T>
  Block& Value(T v) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    literals_.insert(literals_.end(), p, p + sizeof(T));
    return *this;
  }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out;
    U16(&out, 2);
    U16(&out, static_cast<std::uint16_t>(10 + nodes_.size() + literals_.size()));
    U16(&out, 0xFFFF);
    U16(&out, 10);
    U16(&out, static_cast<std::uint16_t>(10 + nodes_.size()));
    out.insert(out.end(), nodes_.begin(), nodes_.end());
    out.insert(out.end(), literals_.begin(), literals_.end());
    return out;
  }

 private:
  static void U16(std::vector<std::uint8_t>* out, std::uint16_t v) {
    out->push_back(static_cast<std::uint8_t>(v));
    out->push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void U32(std::vector<std::uint8_t>* out, std::uint32_t v) {
    U16(out, static_cast<std::uint16_t>(v));
    U16(out, static_cast<std::uint16_t>(v >> 16));
  }
  std::vector<std::uint8_t> nodes_;
  std::vector<std::uint8_t> literals_;
};

class FilterExprTest : public ::testing::Test {
 protected:
  FilterExprTest() {
    fields_ = {{"Name", ClientFieldKind::kString, 30, FilterFieldUse::kData, 1},
               {"Mana", ClientFieldKind::kInteger, 0, FilterFieldUse::kData, 2},
               {"Flying", ClientFieldKind::kBoolean, 0, FilterFieldUse::kData, 3},
               {"Released", ClientFieldKind::kDate, 0, FilterFieldUse::kData, 4}};
  }

  std::vector<std::uint8_t> Encode(const std::string& text, FilterOptions options = {}) {
    std::vector<std::uint8_t> block;
    std::string message;
    EXPECT_EQ(ParseFilterText(text, fields_, FormatSettings::Fixed(), options, &block, &message),
              DBResult::kOk)
        << text << ": " << message;
    return block;
  }

  std::string Error(const std::string& text) {
    std::vector<std::uint8_t> block;
    std::string message;
    EXPECT_EQ(ParseFilterText(text, fields_, FormatSettings::Fixed(), {}, &block, &message),
              DBResult::kInvalidArgument);
    EXPECT_TRUE(block.empty());
    return message;
  }

  std::vector<FilterField> fields_;
};

TEST_F(FilterExprTest, DefaultBatchFilterIsFiveEqualTestsUnderLeftGroupedOrs) {
  Block expected;
  expected
      .Node(kBinaryNode, kOpOr, {12, 200})     // @0   (((1 or 2) or 3) or 4) or 5
      .Node(kBinaryNode, kOpOr, {24, 162})     // @12
      .Node(kBinaryNode, kOpOr, {36, 124})     // @24
      .Node(kBinaryNode, kOpOr, {48, 86})      // @36
      .Node(kBinaryNode, kOpEq, {60, 72})      // @48  Name = 'Plains'
      .Node(kFieldNode, kOpField, {1, 0})      // @60
      .Node(kConstNode, kOpConst, {1, 7, 5})   // @72
      .Node(kBinaryNode, kOpEq, {98, 110})     // @86  Name = 'Island'
      .Node(kFieldNode, kOpField, {1, 12})     // @98
      .Node(kConstNode, kOpConst, {1, 7, 17})  // @110
      .Node(kBinaryNode, kOpEq, {136, 148})    // @124 Name = 'Swamp'
      .Node(kFieldNode, kOpField, {1, 24})     // @136
      .Node(kConstNode, kOpConst, {1, 6, 29})  // @148
      .Node(kBinaryNode, kOpEq, {174, 186})    // @162 Name = 'Mountain'
      .Node(kFieldNode, kOpField, {1, 35})     // @174
      .Node(kConstNode, kOpConst, {1, 9, 40})  // @186
      .Node(kBinaryNode, kOpEq, {212, 224})    // @200 Name = 'Forest'
      .Node(kFieldNode, kOpField, {1, 49})     // @212
      .Node(kConstNode, kOpConst, {1, 7, 54})  // @224
      .Text("Name")
      .Text("Plains")
      .Text("Name")
      .Text("Island")
      .Text("Name")
      .Text("Swamp")
      .Text("Name")
      .Text("Mountain")
      .Text("Name")
      .Text("Forest");
  const auto bytes = Encode(
      "(Name='Plains')or(Name='Island')or(Name='Swamp')or(Name='Mountain')or(Name='Forest')");
  EXPECT_EQ(bytes, expected.Bytes());
  EXPECT_EQ(bytes.size(), 309u);
}

TEST_F(FilterExprTest, TrailingStarMakesACompareNodeWithPartialLength) {
  Block expected;
  expected.Node(kCompareNode, kOpEq, {0, 3, 16, 28})
      .Node(kFieldNode, kOpField, {1, 0})
      .Node(kConstNode, kOpConst, {1, 4, 5})
      .Text("Name")
      .Text("Pla");
  EXPECT_EQ(Encode("Name = 'Pla*'"), expected.Bytes());

  // Case-insensitive: a compare node even without a star; no partial compare: the star stays.
  Block insensitive;
  insensitive.Node(kCompareNode, kOpEq, {1, 0, 16, 28})
      .Node(kFieldNode, kOpField, {1, 0})
      .Node(kConstNode, kOpConst, {1, 5, 5})
      .Text("Name")
      .Text("Pla*");
  EXPECT_EQ(Encode("Name = 'Pla*'", {.case_insensitive = true, .no_partial_compare = true}),
            insensitive.Bytes());
  // A single star and an ordering test keep the star in an ordinary binary node.
  Block single;
  single.Node(kBinaryNode, kOpGt, {12, 24})
      .Node(kFieldNode, kOpField, {1, 0})
      .Node(kConstNode, kOpConst, {1, 5, 5})
      .Text("Name")
      .Text("Pla*");
  EXPECT_EQ(Encode("Name > 'Pla*'"), single.Bytes());
}

TEST_F(FilterExprTest, ConstantBeforeFieldIsTurnedAroundWithTheMirroredOperator) {
  Block expected;
  expected.Node(kBinaryNode, kOpGt, {12, 24})
      .Node(kFieldNode, kOpField, {2, 0})
      .Node(kConstNode, kOpConst, {FT_INT32, 4, 5})
      .Text("Mana")
      .Value<std::int32_t>(5);
  EXPECT_EQ(Encode("5 < Mana"), expected.Bytes());
  EXPECT_EQ(Encode("Mana > 5"), expected.Bytes());
  EXPECT_EQ(Encode("5 >= Mana"), Encode("Mana <= 5"));
}

TEST_F(FilterExprTest, EqualsNullIsAnIsBlankTest) {
  Block expected;
  expected.Node(kUnaryNode, kOpIsBlank, {10}).Node(kFieldNode, kOpField, {1, 0}).Text("Name");
  EXPECT_EQ(Encode("Name = NULL"), expected.Bytes());
  EXPECT_EQ(Encode("Name IS NULL"), expected.Bytes());
  EXPECT_EQ(Encode("Name IS NOT NULL"), Encode("Name <> NULL"));
  EXPECT_EQ(Encode("NULL = Name"), expected.Bytes());
}

TEST_F(FilterExprTest, BareBooleanFieldMeansFieldIsNotFalse) {
  Block expected;
  expected.Node(kBinaryNode, kOpNe, {12, 24})
      .Node(kFieldNode, kOpField, {3, 0})
      .Node(kConstNode, kOpConst, {FT_BOOL, 2, 7})
      .Text("Flying")
      .Value<std::uint16_t>(0);
  EXPECT_EQ(Encode("Flying"), expected.Bytes());

  Block negated;
  negated.Node(kUnaryNode, kOpNot, {10})
      .Node(kBinaryNode, kOpNe, {22, 34})
      .Node(kFieldNode, kOpField, {3, 0})
      .Node(kConstNode, kOpConst, {FT_BOOL, 2, 7})
      .Text("Flying")
      .Value<std::uint16_t>(0);
  EXPECT_EQ(Encode("NOT Flying"), negated.Bytes());
  // Compared with a constant, the field stands as itself.
  Block compared;
  compared.Node(kBinaryNode, kOpEq, {12, 24})
      .Node(kFieldNode, kOpField, {3, 0})
      .Node(kConstNode, kOpConst, {FT_BOOL, 2, 7})
      .Text("Flying")
      .Value<std::uint16_t>(1);
  EXPECT_EQ(Encode("Flying = True"), compared.Bytes());
}

TEST_F(FilterExprTest, InListChainsElementsAfterTheirItems) {
  Block expected;
  expected.Node(kBinaryNode, kOpIn, {12, 24})
      .Node(kFieldNode, kOpField, {2, 0})
      .Node(kListElemNode, kOpListElem, {36, 64})     // @24 first element, before its item
      .Node(kConstNode, kOpConst, {FT_FLOAT, 8, 5})   // @36 item 1: the float 1
      .Node(kConstNode, kOpConst, {FT_FLOAT, 8, 13})  // @50 item 2
      .Node(kListElemNode, kOpListElem, {50, 0})      // @64 second element, after its item
      .Text("Mana")
      .Value(1.0)
      .Value(2.0);
  EXPECT_EQ(Encode("Mana IN (1, 2)"), expected.Bytes());
}

TEST_F(FilterExprTest, FunctionCallKeepsItsNameAsTyped) {
  Block expected;
  expected.Node(kBinaryNode, kOpEq, {12, 48})
      .Node(kFuncNode, kOpFunc, {0, 24})
      .Node(kListElemNode, kOpListElem, {36, 0})
      .Node(kFieldNode, kOpField, {4, 5})
      .Node(kConstNode, kOpConst, {FT_FLOAT, 8, 14})
      .Text("Year")
      .Text("Released")
      .Value(2003.0);
  EXPECT_EQ(Encode("Year(Released) = 2003"), expected.Bytes());
}

TEST_F(FilterExprTest, StringConstantsKeepAtMost255Characters) {
  const std::string long_text(300, 'x');
  const auto bytes = Encode("Name = '" + long_text + "'");
  // Root binary node, field node, then the constant's record: type, size, offset.
  std::uint16_t size = 0;
  std::memcpy(&size, bytes.data() + 10 + 12 + 12 + 10, 2);
  EXPECT_EQ(size, 256);
  const std::string kept(reinterpret_cast<const char*>(bytes.data()) + bytes.size() - 256);
  EXPECT_EQ(kept, std::string(255, 'x'));
}

TEST_F(FilterExprTest, TextsBeyondTheLimitsFailWithAMessage) {
  std::string nested = std::string(kMaxFilterNesting + 5, '(') + "Mana = 1" +
                       std::string(kMaxFilterNesting + 5, ')');
  EXPECT_EQ(Error(nested), kTooComplexMessage);
  std::string chain = "Mana = 1";
  for (int i = 0; i < 1100; ++i) chain += " OR Mana = 1";
  EXPECT_EQ(Error(chain), kTooComplexMessage);
  std::string list = "Name IN ('" + std::string(250, 'a') + "'";
  for (int i = 0; i < 300; ++i) list += ", '" + std::string(250, 'b') + "'";
  EXPECT_EQ(Error(list + ")"), kTooLongMessage);
}

TEST_F(FilterExprTest, ParserGroupsFromTheLeftAndTypesEachNode) {
  TExprParser parser(fields_, FormatSettings::Fixed());
  ASSERT_EQ(parser.Parse("Mana = 1 OR Mana = 2 OR NOT Mana = 3 AND Flying"), DBResult::kOk);
  const TExprNode* root = parser.Root();
  ASSERT_EQ(root->op, kOpOr);
  EXPECT_EQ(root->left->op, kOpOr);    // (a OR b) OR (...)
  EXPECT_EQ(root->right->op, kOpAnd);  // AND binds tighter than OR
  EXPECT_EQ(root->right->left->op, kOpNot);
  EXPECT_EQ(root->right->left->left->op, kOpEq);  // NOT takes the whole comparison
  EXPECT_EQ(root->data_type, ftBoolean);

  ASSERT_EQ(parser.Parse("Mana + 2 * 3 > 4"), DBResult::kOk);
  const TExprNode* sum = parser.Root()->left;
  EXPECT_EQ(sum->op, kOpAdd);
  EXPECT_EQ(sum->right->op, kOpMul);
  EXPECT_EQ(sum->data_type, ftFloat);
  EXPECT_EQ(parser.Root()->right->data_type, ftFloat) << "no field beside it: stays a float";
  EXPECT_EQ(sum->scope, TExprScope::kRecord);

  ASSERT_EQ(parser.Parse("Released = '5/17/2003'"), DBResult::kOk);
  EXPECT_EQ(parser.Root()->right->data_type, ftDate);
  ASSERT_EQ(parser.Parse("GETDATE() > Released"), DBResult::kOk);
  EXPECT_EQ(parser.Root()->left->scope, TExprScope::kConst);
}

}  // namespace
}  // namespace zelvo
