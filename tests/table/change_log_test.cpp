// The change log: number of changes, undo, restore, merge and logging off.
#include <gtest/gtest.h>

#include "table_test_util.h"

namespace zelvo {
namespace {

using testing::CardTable;

class LoggedCards : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(t.Define(), DBResult::kOk);
    for (const char* name : {"A", "B", "C"}) ASSERT_EQ(t.Insert(name, 1), DBResult::kOk);
    ASSERT_EQ(t.table()->MergeChanges(), DBResult::kOk);
    ASSERT_EQ(t.Changes(), 0u);
    ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);  // on B
  }
  CardTable t;
};

TEST_F(LoggedCards, ModifyTwiceIsOneChangeAndBackToTheOriginalIsNone) {
  ASSERT_EQ(t.Modify("B1", 1), DBResult::kOk);
  ASSERT_EQ(t.Modify("B2", 1), DBResult::kOk);
  EXPECT_EQ(t.table()->change_log().size(), 2u);
  EXPECT_EQ(t.table()->store().highest_slot(), 5u) << "two new versions";
  EXPECT_EQ(t.Changes(), 1u);
  ASSERT_EQ(t.Modify("B", 1), DBResult::kOk);
  EXPECT_EQ(t.Changes(), 0u);
  EXPECT_EQ(t.table()->change_log().size(), 3u);
  EXPECT_EQ(t.Names(), "A,B,C") << "a modified record keeps its place";
}

TEST_F(LoggedCards, InsertThenDeleteIsNoChange) {
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(t.Changes(), 0u);
  EXPECT_EQ(t.table()->change_log().size(), 2u);
  EXPECT_EQ(t.table()->store().state(4), RowInserted | RowDeleted);
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(t.Changes(), 1u) << "a delete of an existing record counts";
}

TEST_F(LoggedCards, StatesSeenByTheClient) {
  std::uint8_t state = 0;
  ASSERT_EQ(t.cursor()->RecordStateOf(&state), DBResult::kOk);
  EXPECT_EQ(state, 0);
  ASSERT_EQ(t.Modify("B1", 1), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RecordStateOf(&state), DBResult::kOk);
  EXPECT_EQ(state, RowModified);
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  ASSERT_EQ(t.Modify("D1", 4), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RecordStateOf(&state), DBResult::kOk);
  EXPECT_EQ(state, RowInserted) << "inserted then modified shows as inserted";
  std::vector<std::uint8_t> original(t.record().size());
  ASSERT_EQ(t.cursor()->ReadOriginal(original.data()), DBResult::kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(original.data()), "D");
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  EXPECT_EQ(t.cursor()->ReadOriginal(original.data()), DBResult::kNotFound);
}

TEST_F(LoggedCards, UndoOfTheHighestInsertGivesBackSlotAndAutoIncrement) {
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  EXPECT_EQ(t.table()->next_auto_inc(), 5);
  ASSERT_EQ(t.cursor()->UndoNewestChange(true), DBResult::kOk);
  EXPECT_EQ(t.table()->store().next_slot(), 4u);
  EXPECT_EQ(t.table()->next_auto_inc(), 4);
  ASSERT_EQ(t.Insert("E", 5), DBResult::kOk);
  std::int32_t id = 0;
  ASSERT_EQ(t.cursor()->ReadField(nullptr, testing::kId, &id, nullptr), DBResult::kOk);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(t.table()->store().highest_slot(), 4u);
  EXPECT_EQ(t.Names(), "A,B,C,E");
}

TEST_F(LoggedCards, UndoRestoresModificationsAndDeletes) {
  ASSERT_EQ(t.Modify("B1", 7), DBResult::kOk);
  ASSERT_EQ(t.cursor()->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(t.Names(), "A,B1");
  ASSERT_EQ(t.cursor()->UndoNewestChange(true), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "C") << "follows the undeleted record";
  EXPECT_EQ(t.Names(), "A,B1,C");
  ASSERT_EQ(t.cursor()->UndoNewestChange(true), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "B");
  EXPECT_EQ(t.Names(), "A,B,C");
  EXPECT_EQ(t.cursor()->UndoNewestChange(true), DBResult::kEmptyChangeLog);
  EXPECT_EQ(t.table()->store().highest_slot(), 3u);
}

TEST_F(LoggedCards, RestoreReturnsARecordToItsOldestVersion) {
  ASSERT_EQ(t.Modify("B1", 1), DBResult::kOk);
  ASSERT_EQ(t.Modify("B2", 1), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RestoreCurrent(), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "B");
  EXPECT_TRUE(t.table()->change_log().empty());
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RestoreCurrent(), DBResult::kOk);
  // The removed record was the last one, so its place is after the end.
  EXPECT_EQ(t.cursor()->ReadCurrent(nullptr), DBResult::kAfterLast);
  EXPECT_EQ(t.Names(), "A,B,C");
}

TEST_F(LoggedCards, MergeKeepsLiveRecordsAndFreesTheRest) {
  ASSERT_EQ(t.Modify("B1", 1), DBResult::kOk);
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  ASSERT_EQ(t.table()->MergeChanges(), DBResult::kOk);
  EXPECT_EQ(t.Changes(), 0u);
  EXPECT_TRUE(t.table()->change_log().empty());
  EXPECT_EQ(t.Names(), "B1,C,D");
  const RecordStore& store = t.table()->store();
  for (std::uint32_t s = 1; s <= store.highest_slot(); ++s) {
    EXPECT_TRUE(store.state(s) == 0 || store.state(s) == RowUnused) << s;
  }
  // A saved merged table has no change log and its rows in the default order, state 0.
  CardTable back;
  ASSERT_EQ(back.Load(t.Save()), DBResult::kOk);
  EXPECT_TRUE(back.table()->change_log().empty());
  EXPECT_EQ(back.Names(), "B1,C,D");
  EXPECT_EQ(back.table()->store().highest_slot(), 3u);
}

TEST_F(LoggedCards, LoggingOffEditsInPlace) {
  ASSERT_EQ(t.table()->WriteTableOption(kOptLogChanges, 0), DBResult::kOk);
  ASSERT_EQ(t.Modify("B1", 1), DBResult::kOk);
  EXPECT_EQ(t.table()->store().highest_slot(), 3u) << "no new version";
  EXPECT_EQ(t.table()->store().state(2), 0);
  ASSERT_EQ(t.Insert("D", 4), DBResult::kOk);
  EXPECT_EQ(t.table()->store().state(4), 0);
  ASSERT_EQ(t.cursor()->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  EXPECT_TRUE(t.table()->change_log().empty());
  EXPECT_EQ(t.Changes(), 0u);
  // Read-only switches are not enforced without logging.
  ASSERT_EQ(t.table()->WriteTableOption(kOptReadOnly, 1), DBResult::kOk);
  EXPECT_EQ(t.Insert("E", 5), DBResult::kOk);
  ASSERT_EQ(t.table()->WriteTableOption(kOptLogChanges, 1), DBResult::kOk);
  EXPECT_EQ(t.Insert("F", 6), DBResult::kTableReadOnly);

  // The deleted record disappears from a saved packet; the rest are saved with state 0.
  CardTable back;
  ASSERT_EQ(back.Load(t.Save()), DBResult::kOk);
  EXPECT_EQ(back.Names(), "B1,C,D,E");
  for (std::uint32_t s = 1; s <= back.table()->store().highest_slot(); ++s) {
    EXPECT_EQ(back.table()->store().state(s), 0) << s;
  }
}

TEST_F(LoggedCards, DisabledEditsAreRefusedWhileLogging) {
  struct Case {
    TableOption option;
    DBResult insert, modify, remove;
  };
  const Case cases[] = {
      {kOptNoInserts, DBResult::kTableReadOnly, DBResult::kOk, DBResult::kOk},
      {kOptNoEdits, DBResult::kOk, DBResult::kTableReadOnly, DBResult::kOk},
      {kOptNoDeletes, DBResult::kOk, DBResult::kOk, DBResult::kTableReadOnly},
  };
  for (const Case& c : cases) {
    CardTable x;
    ASSERT_EQ(x.Define(), DBResult::kOk);
    ASSERT_EQ(x.Insert("A", 1), DBResult::kOk);
    ASSERT_EQ(x.table()->WriteTableOption(c.option, 1), DBResult::kOk);
    EXPECT_EQ(x.Insert("B", 2), c.insert) << c.option;
    ASSERT_EQ(x.cursor()->GoToNumber(1), DBResult::kOk);
    EXPECT_EQ(x.Modify("A1", 1), c.modify) << c.option;
    ASSERT_EQ(x.cursor()->GoToNumber(1), DBResult::kOk);
    EXPECT_EQ(x.cursor()->RemoveCurrent(), c.remove) << c.option;
  }
}

}  // namespace
}  // namespace zelvo
