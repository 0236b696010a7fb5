// Indexes: definitions, bulk and one-by-one builds, maintenance, switching orderings,
// temporary orderings, key ranges and key search.
#include <gtest/gtest.h>

#include <cstring>

#include "../table/table_test_util.h"
#include "index/index_sort.h"

namespace zelvo {
namespace {

using testing::CardTable;
using testing::kMana;
using testing::kName;

IndexDesc Index(const char* name, std::initializer_list<std::uint32_t> fields,
                std::uint32_t unique = 0, bool descending = false, bool case_insensitive = false) {
  IndexDesc d;
  d.SetName(name);
  for (std::uint32_t f : fields) {
    d.descending[d.field_count] = descending;
    d.case_insensitive[d.field_count] = case_insensitive;
    d.fields[d.field_count++] = f;
  }
  d.unique = unique;
  return d;
}

// Cards: b, a (null mana), C, abc, ABC, c — with mana 2, null, 1, 3, 3, 2.
class Indexed : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(t.Define(), DBResult::kOk);
    for (auto [name, mana] : {std::pair{"b", 2}, {"a", -1}, {"C", 1}, {"abc", 3}, {"ABC", 3},
                              {"c", 2}}) {
      ASSERT_EQ(t.Insert(name, mana), DBResult::kOk);
      if (mana < 0) {
        ASSERT_EQ(t.cursor()->ReadCurrent(t.record().data()), DBResult::kOk);
        ASSERT_EQ(t.cursor()->WriteField(t.record().data(), kMana, nullptr), DBResult::kOk);
        ASSERT_EQ(t.cursor()->UpdateCurrent(t.record().data()), DBResult::kOk);
      }
    }
  }
  std::string Mana() {
    std::string out;
    DSCursor* c = t.cursor();
    (void)c->GoBeforeFirst();
    while (c->StepBy(1) == DBResult::kOk) {
      std::int32_t m = 0;
      std::uint8_t state = 0;
      (void)c->ReadField(nullptr, kMana, &m, &state);
      out += (out.empty() ? "" : ",") + (state == kFieldValue ? std::to_string(m) : "null");
    }
    return out;
  }
  CardTable t;
};

TEST_F(Indexed, DefinitionsAreIdempotentAndNamesAreCaseSignificant) {
  DSBASE* table = t.table();
  ASSERT_EQ(table->DefineIndex(Index("ByName", {kName})), DBResult::kOk);
  EXPECT_EQ(table->DefineIndex(Index("ByName", {kName})), DBResult::kOk) << "same again";
  struct Case {
    IndexDesc desc;
    DBResult expected;
  };
  const Case cases[] = {
      {Index("ByName", {kMana}), DBResult::kIndexExists},
      {Index("ByName", {kName}, 0, true), DBResult::kIndexExists},
      {Index("ByName", {kName}, 0, false, true), DBResult::kIndexExists},
      {Index("ByName", {kName}, 1), DBResult::kIndexExists},
      {Index("BYNAME", {kMana}), DBResult::kOk},
      {Index("Memo", {testing::kText}), DBResult::kUnusableType},
      {Index("Bad", {9}), DBResult::kInvalidArgument},
      {Index("UniqueMana", {kMana}, 1), DBResult::kKeyViolation},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(table->DefineIndex(c.desc), c.expected) << c.desc.Name();
  }
  std::vector<IndexDesc> list;
  ASSERT_EQ(table->DescribeIndexes(&list), DBResult::kOk);
  ASSERT_EQ(list.size(), 3u) << "DEFAULT_ORDER, ByName, BYNAME; failed ones are discarded";
  EXPECT_EQ(list[0].Name(), "DEFAULT_ORDER");
  EXPECT_EQ(list[2].Name(), "BYNAME");
  EXPECT_EQ(list[1].key_length, 21u);
  EXPECT_EQ(table->DropIndex("NoSuch"), DBResult::kIndexNotFound);
  EXPECT_EQ(table->DropIndex(""), DBResult::kIndexInUse);
  ASSERT_EQ(t.cursor()->OrderByIndex("ByName"), DBResult::kOk);
  EXPECT_EQ(table->DropIndex("ByName"), DBResult::kIndexInUse) << "a cursor holds it";
  ASSERT_EQ(t.cursor()->OrderByIndex(""), DBResult::kOk);
  EXPECT_EQ(table->DropIndex("ByName"), DBResult::kOk);
  EXPECT_EQ(t.cursor()->OrderByIndex("ByName"), DBResult::kIndexNotFound);
}

TEST_F(Indexed, OrdersNullsAndCaseAsTheKeysSay) {
  DSBASE* table = t.table();
  DSCursor* c = t.cursor();
  ASSERT_EQ(table->DefineIndex(Index("ManaAsc", {kMana})), DBResult::kOk);
  ASSERT_EQ(table->DefineIndex(Index("ManaDesc", {kMana}, 0, true)), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("ManaAsc"), DBResult::kOk);
  EXPECT_EQ(Mana(), "null,1,2,2,3,3");
  ASSERT_EQ(c->OrderByIndex("ManaDesc"), DBResult::kOk);
  EXPECT_EQ(Mana(), "3,3,2,2,1,null") << "nulls last when descending";

  ASSERT_EQ(table->DefineIndex(Index("NameCI", {kName}, 0, false, true)), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("NameCI"), DBResult::kOk);
  const std::string names = t.Names();
  EXPECT_TRUE(names == "a,abc,ABC,b,C,c" || names == "a,ABC,abc,b,c,C" ||
              names == "a,abc,ABC,b,c,C" || names == "a,ABC,abc,b,C,c")
      << names << ": case-insensitive, linguistic";
  ASSERT_EQ(table->DefineIndex(Index("NameCS", {kName})), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("NameCS"), DBResult::kOk);
  EXPECT_EQ(t.Names(), "a,abc,ABC,b,c,C") << "case-sensitive: lower before upper";
}

TEST_F(Indexed, NewAndModifiedRecordsGoAfterEqualKeys) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(t.table()->DefineIndex(Index("Mana", {kMana})), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("Mana"), DBResult::kOk);
  ASSERT_EQ(t.Insert("new2", 2), DBResult::kOk);
  EXPECT_EQ(t.Names(), "a,C,b,c,new2,abc,ABC");
  // A modification that keeps the key keeps the place; a new key moves after its equals.
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(t.Modify("b2", 2), DBResult::kOk);
  EXPECT_EQ(t.Names(), "a,C,b2,c,new2,abc,ABC");
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(t.Modify("b3", 3), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "b3");
  EXPECT_EQ(t.Names(), "a,C,c,new2,abc,ABC,b3");
}

TEST_F(Indexed, SwitchingOrderingsKeepsTheCurrentRecord) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(t.table()->DefineIndex(Index("Name", {kName})), DBResult::kOk);
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);  // b, first in arrival order
  ASSERT_EQ(c->OrderByIndex("Name"), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "b");
  std::uint32_t n = 0;
  ASSERT_EQ(c->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 4u);
  ASSERT_EQ(c->GoBeforeFirst(), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex(""), DBResult::kOk);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kBeforeFirst) << "off a record: before first";
}

TEST_F(Indexed, UniqueIndexesRefuseDuplicatesAndUndoEveryOrdering) {
  DSCursor* c = t.cursor();
  DSBASE* table = t.table();
  ASSERT_EQ(table->DefineIndex(Index("Name", {kName})), DBResult::kOk);
  ASSERT_EQ(table->DefineIndex(Index("UniqueName", {kName}, 1)), DBResult::kOk);
  ASSERT_EQ(table->DefineIndex(Index("Later", {kMana})), DBResult::kOk);
  const std::uint32_t slots = table->store().highest_slot();
  EXPECT_EQ(t.Insert("abc", 9), DBResult::kKeyViolation);
  EXPECT_EQ(table->store().highest_slot(), slots) << "the slot is given back";
  for (const Ordering* o : table->orderings()) EXPECT_EQ(o->Count(), 6u) << o->desc().Name();
  ASSERT_EQ(c->OrderByIndex("Name"), DBResult::kOk);
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);  // a
  EXPECT_EQ(t.Modify("b", 5), DBResult::kKeyViolation) << "a key-changing modification";
  EXPECT_EQ(t.Names(), "a,abc,ABC,b,c,C");
  for (const Ordering* o : table->orderings()) EXPECT_EQ(o->Count(), 6u) << o->desc().Name();
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);
  EXPECT_EQ(t.Modify("a", 5), DBResult::kOk) << "same key, other field";
  std::uint64_t first_unique = 0;
  ASSERT_EQ(table->ReadTableOption(17, &first_unique), DBResult::kOk);
  EXPECT_EQ(first_unique, 3u);
}

TEST_F(Indexed, DefaultOrderTakesKeyFieldsOnce) {
  DSBASE* table = t.table();
  ASSERT_EQ(table->DefineIndex(Index("", {kMana})), DBResult::kOk);
  EXPECT_EQ(t.Names(), "a,C,b,c,abc,ABC") << "one by one: ties keep arrival order";
  EXPECT_EQ(table->DefineIndex(Index("DEFAULT_ORDER", {kName})), DBResult::kIndexInUse);
  // Written back as DEFAULT_ORDER because the table's owner defined it.
  CardTable back;
  ASSERT_EQ(back.Load(t.Save()), DBResult::kOk);
  std::vector<IndexDesc> list;
  ASSERT_EQ(back.table()->DescribeIndexes(&list), DBResult::kOk);
  EXPECT_EQ(list[0].field_count, 1u);
  EXPECT_EQ(back.Names(), "a,C,b,c,abc,ABC");
}

TEST_F(Indexed, TemporaryOrderingsLiveWithTheirCursor) {
  DSCursor* c = t.cursor();
  const std::size_t before = t.table()->orderings().size();
  const std::uint32_t fields[] = {kMana, kName};
  const std::uint32_t desc[] = {1, 0};
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(c->OrderByFields(2, fields, desc, nullptr), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "b");
  EXPECT_EQ(t.Names(), "abc,ABC,b,c,C,a");
  EXPECT_EQ(t.table()->orderings().size(), before + 1);
  std::vector<IndexDesc> listed;
  ASSERT_EQ(t.table()->DescribeIndexes(&listed), DBResult::kOk);
  EXPECT_EQ(listed.size(), 1u) << "temporary orderings are not described";
  EXPECT_EQ(c->OrderByIndex("Mana"), DBResult::kIndexNotFound) << "named after its field, hidden";
  ASSERT_EQ(c->OrderByIndex(""), DBResult::kOk);
  EXPECT_EQ(t.table()->orderings().size(), before) << "dropped when the cursor leaves it";
  EXPECT_EQ(c->OrderByFields(0, fields, nullptr, nullptr), DBResult::kInvalidArgument);
  const std::uint32_t bad[] = {7};
  EXPECT_EQ(c->OrderByFields(1, bad, nullptr, nullptr), DBResult::kInvalidArgument);
}

TEST_F(Indexed, KeyRangesAndKeySearch) {
  DSCursor* c = t.cursor();
  std::vector<std::uint8_t> key(t.record().size());
  auto mana_key = [&](std::int32_t mana) {
    EXPECT_EQ(c->BlankRecord(key.data()), DBResult::kOk);
    EXPECT_EQ(c->WriteField(key.data(), kMana, &mana), DBResult::kOk);
    return key.data();
  };
  EXPECT_EQ(c->SetKeyRange(0, mana_key(2), true, nullptr, true), DBResult::kNoKeyFields);
  ASSERT_EQ(t.table()->DefineIndex(Index("Mana", {kMana})), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("Mana"), DBResult::kOk);

  std::vector<std::uint8_t> high(key.size());
  std::memcpy(high.data(), mana_key(3), key.size());
  ASSERT_EQ(c->SetKeyRange(0, mana_key(2), true, high.data(), false), DBResult::kOk);
  std::uint32_t count = 0;
  ASSERT_EQ(c->CountRecords(&count), DBResult::kOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(t.Names(), "b,c");
  ASSERT_EQ(c->SetKeyRange(0, mana_key(2), false, nullptr, true), DBResult::kOk);
  EXPECT_EQ(t.Names(), "abc,ABC");
  EXPECT_EQ(c->SetKeyRange(2, mana_key(2), true, nullptr, true), DBResult::kOutOfRange);
  ASSERT_EQ(c->ClearKeyRange(), DBResult::kOk);
  ASSERT_EQ(c->CountRecords(&count), DBResult::kOk);
  EXPECT_EQ(count, 6u);

  // Seek: equal lands before the first match, greater after the last one.
  ASSERT_EQ(c->SeekKey(DSCursor::kSeekEqual, 0, 0, mana_key(2)), DBResult::kOk);
  ASSERT_EQ(c->StepBy(1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "b");
  ASSERT_EQ(c->SeekKey(DSCursor::kSeekGreater, 0, 0, mana_key(2)), DBResult::kOk);
  ASSERT_EQ(c->StepBy(1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "abc");
  ASSERT_EQ(c->SeekKey(DSCursor::kSeekGreaterOrEqual, 0, 0, mana_key(0)), DBResult::kOk);
  ASSERT_EQ(c->StepBy(1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "C");
  ASSERT_EQ(c->GoToNumber(2), DBResult::kOk);
  EXPECT_EQ(c->SeekKey(DSCursor::kSeekEqual, 0, 0, mana_key(7)), DBResult::kNotFound);
  EXPECT_EQ(t.CurrentName(), "C") << "a failed equal search leaves the cursor";
  std::vector<std::uint8_t> found(key.size());
  ASSERT_EQ(c->FindByKey(0, 0, mana_key(3), found.data()), DBResult::kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(found.data()), "abc");

  // A partial text key on a name index: the first name beginning with "ab".
  ASSERT_EQ(t.table()->DefineIndex(Index("Name", {kName})), DBResult::kOk);
  ASSERT_EQ(c->OrderByIndex("Name"), DBResult::kOk);
  ASSERT_EQ(c->BlankRecord(key.data()), DBResult::kOk);
  ASSERT_EQ(c->WriteField(key.data(), kName, "ab"), DBResult::kOk);
  ASSERT_EQ(c->FindByKey(0, 2, key.data(), nullptr), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "abc");
  EXPECT_EQ(c->SeekKey(DSCursor::kSeekEqual, 1, 2, key.data()), DBResult::kOutOfRange);
}

TEST(IndexSort, SortsLikeAnyCorrectSortAndIsDeterministic) {
  struct ByValue : SlotOrder {
    std::vector<int> values;
    int Compare(std::uint32_t a, std::uint32_t b) const override {
      return values[a] < values[b] ? -1 : (values[a] > values[b] ? 1 : 0);
    }
  } order;
  order.values.push_back(0);
  std::vector<std::uint32_t> slots;
  for (std::uint32_t i = 1; i <= 5000; ++i) {
    order.values.push_back(static_cast<int>((i * 7919u) % 613u));
    slots.push_back(i);
  }
  std::vector<std::uint32_t> a = slots, b = slots;
  SortEntries(order, &a);
  SortEntries(order, &b);
  EXPECT_EQ(a, b);
  for (std::size_t i = 1; i < a.size(); ++i) {
    ASSERT_LE(order.values[a[i - 1]], order.values[a[i]]) << i;
  }
  // The keyed fast path takes the same steps: ties end in the same order.
  std::vector<KeyedSlot> keyed;
  for (std::uint32_t slot : slots) keyed.push_back({2u + static_cast<std::uint64_t>(order.values[slot]), slot});
  SortKeyedEntries(&keyed);
  for (std::size_t i = 0; i < keyed.size(); ++i) ASSERT_EQ(keyed[i].slot, a[i]) << i;

  std::vector<std::uint32_t> one = {3};
  SortEntries(order, &one);
  EXPECT_EQ(one, std::vector<std::uint32_t>{3});
}

}  // namespace
}  // namespace zelvo
