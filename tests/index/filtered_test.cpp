// Filters on a cursor: the filtered ordering, its maintenance, detaching, locate.
#include <gtest/gtest.h>

#include "../table/table_test_util.h"
#include "filter/expr_parser.h"

namespace zelvo {
namespace {

using testing::CardTable;
using testing::kMana;
using testing::kName;

class Filtered : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(t.Define(), DBResult::kOk);
    for (auto [name, mana] : {std::pair{"Plains", 0}, {"Island", 0}, {"Shivan Dragon", 6},
                              {"plague rats", 3}, {"Swamp", 0}, {"Llanowar Elves", 1}}) {
      ASSERT_EQ(t.Insert(name, mana), DBResult::kOk);
    }
    std::vector<FieldDesc> fields;
    ASSERT_EQ(t.table()->DescribeFields(&fields), DBResult::kOk);
    filter_fields = FilterFieldsOf(fields);
  }
  std::vector<std::uint8_t> Expr(const char* text, FilterOptions options = {}) {
    std::vector<std::uint8_t> expression;
    std::string message;
    EXPECT_EQ(ParseFilterText(text, filter_fields, FormatSettings{}, options, &expression, &message),
              DBResult::kOk)
        << message;
    return expression;
  }
  std::uint32_t Attach(const char* text) {
    std::vector<std::uint8_t> e = Expr(text);
    std::uint32_t handle = 0;
    EXPECT_EQ(t.cursor()->AttachFilter(e.data(), static_cast<std::uint32_t>(e.size()), &handle),
              DBResult::kOk);
    return handle;
  }
  std::uint32_t Count() {
    std::uint32_t n = 0;
    EXPECT_EQ(t.cursor()->CountRecords(&n), DBResult::kOk);
    return n;
  }
  CardTable t;
  std::vector<FilterField> filter_fields;
};

TEST_F(Filtered, AttachingKeepsAPassingRecordAndCountsOnlyPassingOnes) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(5), DBResult::kOk);  // Swamp
  Attach("Mana = 0");
  EXPECT_EQ(t.CurrentName(), "Swamp");
  EXPECT_EQ(Count(), 3u);
  std::uint32_t n = 0;
  ASSERT_EQ(c->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 3u) << "numbered among the passing records";
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  Attach("Name <> 'Swamp'");
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kBeforeFirst) << "its record fails the new filter";
  EXPECT_EQ(t.Names(), "Plains,Island");
}

TEST_F(Filtered, EditsKeepTheFilteredOrderingInStep) {
  DSCursor* c = t.cursor();
  Attach("Mana = 0");
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);  // Plains
  ASSERT_EQ(t.Modify("Plains", 5), DBResult::kOk);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kDeletedPosition) << "no longer passes";
  EXPECT_EQ(c->StepBy(1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "Island");
  ASSERT_EQ(t.Insert("Forest", 2), DBResult::kOk);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kNoRecord) << "an insert that does not pass";
  ASSERT_EQ(t.Insert("Mountain", 0), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "Mountain");
  EXPECT_EQ(t.Names(), "Island,Swamp,Mountain");
  // A logged modification puts the new version in a new slot: filtering lists slot order.
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(t.Modify("Island", 0), DBResult::kOk);
  ASSERT_EQ(t.Modify("Isle", 0), DBResult::kOk);
  auto other = Ref<DSCursor>::Adopt(NewCursor());
  ASSERT_EQ(other->AttachToTable(t.table()), DBResult::kOk);
  std::vector<std::uint8_t> e = Expr("Mana = 0");
  std::uint32_t handle = 0;
  ASSERT_EQ(other->AttachFilter(e.data(), static_cast<std::uint32_t>(e.size()), &handle),
            DBResult::kOk);
  std::string names;
  while (other->StepBy(1) == DBResult::kOk) {
    char name[21] = {};
    ASSERT_EQ(other->ReadField(nullptr, kName, name, nullptr), DBResult::kOk);
    names += std::string(names.empty() ? "" : ",") + name;
  }
  EXPECT_EQ(names, "Swamp,Mountain,Isle");
}

TEST_F(Filtered, DetachingTheLastFilterLeavesEveryRecord) {
  DSCursor* c = t.cursor();
  const std::uint32_t zero = Attach("Mana = 0");
  const std::uint32_t not_swamp = Attach("Name <> 'Swamp'");
  EXPECT_NE(zero, not_swamp);
  EXPECT_EQ(Count(), 2u);
  EXPECT_EQ(c->DetachFilter(99), DBResult::kNoMessage);
  ASSERT_EQ(c->DetachFilter(zero), DBResult::kOk);
  EXPECT_EQ(Count(), 5u);
  ASSERT_EQ(c->DetachFilter(not_swamp), DBResult::kOk);
  EXPECT_EQ(Count(), 6u);
  EXPECT_EQ(t.Names(), "Plains,Island,Shivan Dragon,plague rats,Swamp,Llanowar Elves");
  EXPECT_EQ(c->DetachFilter(not_swamp), DBResult::kWrongState) << "the list is empty";
  EXPECT_EQ(c->DetachFilter(0), DBResult::kOk);
}

TEST_F(Filtered, OrderingsChangeUnderTheFilter) {
  DSCursor* c = t.cursor();
  IndexDesc by_name;
  by_name.SetName("Name");
  by_name.field_count = 1;
  by_name.fields[0] = kName;
  by_name.case_insensitive[0] = 1;
  ASSERT_EQ(t.table()->DefineIndex(by_name), DBResult::kOk);
  Attach("Mana < 2");
  ASSERT_EQ(c->OrderByIndex("Name"), DBResult::kOk);
  EXPECT_EQ(t.Names(), "Island,Llanowar Elves,Plains,Swamp");
  const std::uint32_t mana[] = {kMana, kName};
  const std::uint32_t desc[] = {1, 0};
  ASSERT_EQ(c->OrderByFields(2, mana, desc, nullptr), DBResult::kOk);
  EXPECT_EQ(t.Names(), "Llanowar Elves,Island,Plains,Swamp");
  // A copied cursor takes the filter along.
  ASSERT_EQ(c->GoToNumber(2), DBResult::kOk);
  auto copy = Ref<DSCursor>::Adopt(NewCursor());
  ASSERT_EQ(copy->CopyCursor(c), DBResult::kOk);
  std::uint32_t n = 0;
  ASSERT_EQ(copy->CountRecords(&n), DBResult::kOk);
  EXPECT_EQ(n, 4u);
  ASSERT_EQ(copy->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 2u);
}

TEST_F(Filtered, LocateFindsTheFirstMatchInTheCurrentOrder) {
  DSCursor* c = t.cursor();
  std::vector<std::uint8_t> pla = Expr("Name = 'pla*'", {.case_insensitive = true});
  ASSERT_EQ(c->GoBeforeFirst(), DBResult::kOk);
  ASSERT_EQ(c->FindNextMatch(pla.data(), static_cast<std::uint32_t>(pla.size())), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "Plains");
  ASSERT_EQ(c->FindNextMatch(nullptr, 0), DBResult::kOk) << "the kept expression";
  EXPECT_EQ(t.CurrentName(), "plague rats");
  EXPECT_EQ(c->FindNextMatch(nullptr, 0), DBResult::kNotFound);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kAfterLast);
  std::vector<std::uint8_t> whole = Expr("Name = 'pla*'", {.case_insensitive = true,
                                                           .no_partial_compare = true});
  ASSERT_EQ(c->GoBeforeFirst(), DBResult::kOk);
  EXPECT_EQ(c->FindNextMatch(whole.data(), static_cast<std::uint32_t>(whole.size())),
            DBResult::kNotFound)
      << "without partial comparison only a whole value matches";
  std::vector<std::uint8_t> damaged = {1, 2, 3};
  EXPECT_NE(c->FindNextMatch(damaged.data(), 3), DBResult::kOk);
  std::uint32_t handle = 0;
  EXPECT_NE(c->AttachFilter(damaged.data(), 3, &handle), DBResult::kOk);
  EXPECT_EQ(c->filter_count(), 0u);
}

TEST_F(Filtered, HooksFilterToo) {
  DSCursor* c = t.cursor();
  std::uint32_t handle = 0;
  auto even_mana = [](void*, const std::uint8_t* record) -> int {
    std::int32_t mana = 0;
    std::memcpy(&mana, record + 21, 4);  // Mana follows the 21-byte Name
    return mana % 2 == 0;
  };
  ASSERT_EQ(c->AttachFilterHook(nullptr, even_mana, &handle), DBResult::kOk);
  EXPECT_EQ(t.Names(), "Plains,Island,Shivan Dragon,Swamp");
}

}  // namespace
}  // namespace zelvo
