// The filter compiler and evaluator beyond the case files: damaged or hostile canonical
// expressions, functions only other sources produce, the explain dump, the blob source and
// both record views.
#include "filter/filter_program.h"

#include <gtest/gtest.h>

#include <cstring>

#include "card_fixture.h"
#include "filter/canonical_expr.h"
#include "filter/filter_expr.h"

namespace zelvo::testing {
namespace {

std::vector<std::uint8_t> Parse(const CardFixture& cards, const std::string& text) {
  std::vector<std::uint8_t> block;
  std::string message;
  EXPECT_EQ(
      ParseFilterText(text, cards.filter_fields(), FormatSettings::Fixed(), {}, &block, &message),
      DBResult::kOk)
      << message;
  return block;
}

DBResult CompileBlock(const CardFixture& cards, const std::vector<std::uint8_t>& block,
                      std::unique_ptr<FilterProgram>* program = nullptr) {
  std::unique_ptr<FilterProgram> local;
  return FilterProgram::Compile(block, cards.fields(), {.lcid = 0x0409, .blobs = &cards.memos()},
                                program != nullptr ? program : &local);
}

void PutU16(std::vector<std::uint8_t>* block, std::size_t at, std::uint16_t v) {
  (*block)[at] = static_cast<std::uint8_t>(v);
  (*block)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A canonical block from node records and literal bytes, offsets as given.
std::vector<std::uint8_t> Block(const std::vector<std::uint8_t>& nodes,
                                const std::vector<std::uint8_t>& literals) {
  std::vector<std::uint8_t> block(10, 0);
  PutU16(&block, 0, 2);
  PutU16(&block, 2, static_cast<std::uint16_t>(10 + nodes.size() + literals.size()));
  PutU16(&block, 4, 0xFFFF);
  PutU16(&block, 6, 10);
  PutU16(&block, 8, static_cast<std::uint16_t>(10 + nodes.size()));
  block.insert(block.end(), nodes.begin(), nodes.end());
  block.insert(block.end(), literals.begin(), literals.end());
  return block;
}

void Node(std::vector<std::uint8_t>* nodes, std::uint32_t node_class, std::uint32_t op,
          std::initializer_list<std::uint16_t> operands) {
  for (int i = 0; i < 4; ++i) nodes->push_back(static_cast<std::uint8_t>(node_class >> (8 * i)));
  for (int i = 0; i < 4; ++i) nodes->push_back(static_cast<std::uint8_t>(op >> (8 * i)));
  for (std::uint16_t v : operands) {
    nodes->push_back(static_cast<std::uint8_t>(v));
    nodes->push_back(static_cast<std::uint8_t>(v >> 8));
  }
}

std::vector<std::uint8_t> Text(std::initializer_list<const char*> texts) {
  std::vector<std::uint8_t> out;
  for (const char* t : texts) out.insert(out.end(), t, t + std::strlen(t) + 1);
  return out;
}

TEST(FilterProgram, DamagedBlocksAreRefused) {
  CardFixture cards;
  const std::vector<std::uint8_t> good = Parse(cards, "Name = 'Plains' AND Mana IN (0, 1)");
  ASSERT_EQ(CompileBlock(cards, good), DBResult::kOk);
  // Every truncation, and every single corrupted byte, is refused or compiles; none crashes
  // (the sanitizers watch the reads).
  for (std::size_t n = 0; n < good.size(); ++n) {
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(CompileBlock(cards, cut), DBResult::kOk) << n;
  }
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (int v = 0; v < 256; ++v) {
      std::vector<std::uint8_t> bad = good;
      bad[i] = static_cast<std::uint8_t>(v);
      std::unique_ptr<FilterProgram> program;
      if (CompileBlock(cards, bad, &program) == DBResult::kOk) cards.Passing(*program);
    }
  }
  std::vector<std::uint8_t> version = good;
  version[0] = 3;
  EXPECT_EQ(CompileBlock(cards, version), DBResult::kInvalidArgument);
}

TEST(FilterProgram, ConstantsAreReadOnlyWithTheirTypesSize) {
  CardFixture cards;
  // Found by the fuzzer: a float constant of 4 bytes at the very end of the block.
  std::vector<std::uint8_t> nodes;
  Node(&nodes, kCompareNode, kOpEq, {0, 0x0A03, 16, 28});
  Node(&nodes, kFieldNode, kOpField, {1, 0});
  Node(&nodes, kConstNode, 0xF3, {FT_FLOAT, 4, 5});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, {'N', 'a', 'm', 'e', 0, 'P', 0xF8, 'a', 0})),
            DBResult::kInvalidArgument);
}

TEST(FilterProgram, ProgramsOfAnySizeCompile) {
  // Found by the fuzzer: the slot bookkeeping broke at 64 slots. Every size up to well past
  // that, with a mix of field, constant and result slots.
  CardFixture cards;
  std::string text = "Name = 'a'";
  for (int n = 1; n < 90; ++n) {
    text += n % 3 == 0 ? " OR Mana + " + std::to_string(n) + " = 5"
                       : " OR Name = 'x" + std::to_string(n) + "'";
    std::unique_ptr<FilterProgram> program;
    ASSERT_EQ(CompileBlock(cards, Parse(cards, text), &program), DBResult::kOk) << n;
    // Mana + 3 = 5 passes Pl, Mana + 6 = 5 passes O'Brien.
    EXPECT_EQ(cards.Passing(*program).size(), (n >= 3 ? 1u : 0u) + (n >= 6 ? 1u : 0u)) << n;
  }
}

TEST(FilterProgram, NodeCyclesAndSharedSubtreesDoNotRunAway) {
  CardFixture cards;
  // NOT of itself.
  std::vector<std::uint8_t> nodes;
  Node(&nodes, kUnaryNode, kOpNot, {0});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, {})), DBResult::kInvalidArgument);
  // A chain of ANDs whose two operands are the same next node: 2^60 paths.
  nodes.clear();
  for (std::uint16_t i = 0; i < 60; ++i) {
    const auto next = static_cast<std::uint16_t>((i + 1) * 12);
    Node(&nodes, kBinaryNode, kOpAnd, {next, next});
  }
  Node(&nodes, kUnaryNode, kOpIsBlank, {static_cast<std::uint16_t>(nodes.size() + 10)});
  Node(&nodes, kFieldNode, kOpField, {1, 0});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, Text({"Name"}))), DBResult::kInvalidArgument);
  // A list element pointing at itself.
  nodes.clear();
  Node(&nodes, kBinaryNode, kOpIn, {12, 24});
  Node(&nodes, kFieldNode, kOpField, {3, 0});
  Node(&nodes, kListElemNode, kOpListElem, {12, 24});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, Text({"Mana"}))), DBResult::kInvalidArgument);
}

TEST(FilterProgram, WhatTheTablesDoNotCoverIsRefusedWithItsCode) {
  CardFixture cards;
  struct Case {
    const char* text;
    DBResult result;
  } cases[] = {
      {"Flying < True", DBResult::kFilterNotCompiled},
      {"UPPER(Mana) = 'X'", DBResult::kFilterNotCompiled},
      {"Mana = Name", DBResult::kFilterNotCompiled},
      {"Text IS NULL", DBResult::kOk},
      {"Serial IS NULL", DBResult::kOk},
      {"YEAR(Seen) = 1", DBResult::kFilterNotCompiled},
      {"Name AND Flying", DBResult::kFilterNotCompiled},
      {"Released - Seen > 1", DBResult::kFilterNotCompiled},
      {"Mana IN (Name)", DBResult::kFilterNotCompiled},
      {"Name + Name = 'x'", DBResult::kOk},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompileBlock(cards, Parse(cards, c.text)), c.result) << c.text;
  EXPECT_FALSE(ErrorText(DBResult::kFilterNotCompiled).empty());
}

TEST(FilterProgram, FieldsAreFoundByNameAndFunctionsOfOtherSourcesWork) {
  CardFixture cards;
  // TRIML(Name, 'x') = 'Plainsx' written by hand; the field number is wrong on purpose,
  // the name decides.
  std::vector<std::uint8_t> nodes;
  Node(&nodes, kBinaryNode, kOpEq, {12, 60});              // @0
  Node(&nodes, kFuncNode, kOpFunc, {0, 24});               // @12
  Node(&nodes, kListElemNode, kOpListElem, {36, 48});      // @24
  Node(&nodes, kFieldNode, kOpField, {9, 6});              // @36 "name"
  Node(&nodes, kListElemNode, kOpListElem, {74, 0});       // @48
  Node(&nodes, kConstNode, kOpConst, {FT_STRING, 8, 11});  // @60 'Plainsx'
  Node(&nodes, kConstNode, kOpConst, {FT_STRING, 2, 19});  // @74 'x'
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(CompileBlock(cards, Block(nodes, Text({"triml", "name", "Plainsx", "x"})), &program),
            DBResult::kOk);
  EXPECT_EQ(cards.Passing(*program), std::vector<std::string>{"xPlainsx"});

  // An unknown field or function.
  nodes.clear();
  Node(&nodes, kUnaryNode, kOpIsBlank, {10});
  Node(&nodes, kFieldNode, kOpField, {1, 0});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, Text({"Colour"}))), DBResult::kFilterNotCompiled);
  nodes.clear();
  Node(&nodes, kUnaryNode, kOpIsBlank, {10});
  Node(&nodes, kFuncNode, kOpFunc, {0, 0});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, Text({"NOW"}))), DBResult::kFilterNotCompiled);
  // getsqldate needs an argument it does not use.
  nodes.clear();
  Node(&nodes, kUnaryNode, kOpNotBlank, {10});
  Node(&nodes, kFuncNode, kOpFunc, {0, 0});
  EXPECT_EQ(CompileBlock(cards, Block(nodes, Text({"getsqldate"}))), DBResult::kFilterNotCompiled);
}

TEST(FilterProgram, ExplainListsFieldsAndInstructions) {
  CardFixture cards;
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(CompileBlock(cards, Parse(cards, "Name = 'Pla*' OR Mana + 1 = 5 OR Flying"), &program),
            DBResult::kOk);
  EXPECT_EQ(program->Explain(),
            "field Name: STRING 31, in place\n"
            "field Flying: BOOL 2, in place\n"
            "field Mana: FLOAT 8, int32 as float\n"
            "  0 CmpString        r0 = Name = 'Pla' partial 3\n"
            "  1 AddFloat         r1 = Mana, 1.000000\n"
            "  2 CmpFloat         r2 = r1 = 5.000000\n"
            "  3 CmpBool          r4 = Flying <> false\n"
            "  4 OrN              r5 = r0 or r2 or r4\n"
            "pass when r5 is true and not null\n");
}

TEST(FilterProgram, MemosNeedABlobSource) {
  CardFixture cards;
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(FilterProgram::Compile(Parse(cards, "Text LIKE '%mana%'"), cards.fields(),
                                   {.lcid = 0x0409}, &program),
            DBResult::kOk);
  EXPECT_TRUE(cards.Passing(*program).empty());
  program->SetBlobSource(&cards.memos());
  EXPECT_EQ(cards.Passing(*program), (std::vector<std::string>{"Plains", "Island", "Mountain"}));
}

TEST(FilterProgram, KeepsItsOwnCopyOfTheExpression) {
  CardFixture cards;
  std::vector<std::uint8_t> block = Parse(cards, "Name = 'Island'");
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(CompileBlock(cards, block, &program), DBResult::kOk);
  const std::vector<std::uint8_t> copy = block;
  std::fill(block.begin(), block.end(), 0);
  EXPECT_EQ(program->Expression(), copy);
  EXPECT_EQ(cards.Passing(*program), std::vector<std::string>{"Island"});
}

TEST(FilterProgram, GarbageAfterATextTerminatorOrNoTerminatorIsSafe) {
  CardFixture cards;
  // A Name that fills its whole value area without a terminator.
  cards.Add({{"Name", std::string(30, 'P')}, {"Mana", std::int64_t{1}}});
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(CompileBlock(cards,
                         Parse(cards,
                               "Name LIKE 'P%' AND UPPER(Name) <> '' AND "
                               "Name + Name <> '' AND TRIM(Name, 'P') = ''"),
                         &program),
            DBResult::kOk);
  EXPECT_EQ(cards.Passing(*program).size(), 1u);
}

}  // namespace
}  // namespace zelvo::testing

namespace zelvo::testing {
namespace {

TEST(FilterProgram, OrChainsOfTextEqualitiesAgreeWithInLists) {
  CardFixture cards;
  cards.Add({{"Name", std::string("\xC6ther Vial")}, {"Mana", std::int64_t{1}}});
  cards.Add({{"Name", std::string("Pla\xEEns")}, {"Mana", std::int64_t{1}}});
  cards.Add({{"Name", std::string("Plains\x01")}, {"Mana", std::int64_t{1}}});
  const std::vector<std::vector<std::string>> sets = {
      {"Plains", "Island"},
      {"Plains", "\xC6ther Vial", "Mountain"},
      {"Pla\xEEns", "Serra Angel"},
      {"", "Plains"},
      {"A very long name beyond a word", "Island"},
  };
  // Both forms under "AND Name IS NOT NULL": a null Name compares as empty text under OR,
  // while IN is null for it.
  for (const auto& set : sets) {
    std::string chain;
    std::string list;
    for (const std::string& name : set) {
      chain += (chain.empty() ? "" : " OR ") + std::string("(Name = '") + name + "')";
      list += (list.empty() ? "" : ", ") + std::string("'") + name + "'";
    }
    std::unique_ptr<FilterProgram> fused;
    std::unique_ptr<FilterProgram> in_list;
    ASSERT_EQ(CompileBlock(cards, Parse(cards, "(" + chain + ") AND Name IS NOT NULL"), &fused),
              DBResult::kOk);
    ASSERT_EQ(
        CompileBlock(cards, Parse(cards, "Name IN (" + list + ") AND Name IS NOT NULL"), &in_list),
        DBResult::kOk);
    EXPECT_EQ(cards.Passing(*fused), cards.Passing(*in_list)) << chain;
  }
  std::unique_ptr<FilterProgram> program;
  ASSERT_EQ(
      CompileBlock(cards, Parse(cards, "(Name='Plains') OR (Name='Island') OR Mana = 1"), &program),
      DBResult::kOk);
  EXPECT_NE(program->Explain().find("EqAnyText"), std::string::npos) << program->Explain();
}

}  // namespace
}  // namespace zelvo::testing
