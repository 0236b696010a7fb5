// Cursor moves, record numbers, bookmarks, field access and edits.
#include <gtest/gtest.h>

#include "table_test_util.h"

namespace zelvo {
namespace {

using testing::CardTable;
using testing::kId;
using testing::kMana;
using testing::kName;
using testing::kText;

// A table holding the cards A, B, C, D (mana 1 to 4), cursor before the first.
class FourCards : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(t.Define(), DBResult::kOk);
    for (const char* name : {"A", "B", "C", "D"}) {
      ASSERT_EQ(t.Insert(name, name[0] - 'A' + 1), DBResult::kOk);
    }
    ASSERT_EQ(t.cursor()->GoBeforeFirst(), DBResult::kOk);
  }
  CardTable t;
};

TEST(CursorEmptyTable, MovesAnswerWithTheEnds) {
  CardTable t;
  ASSERT_EQ(t.Define(), DBResult::kOk);
  DSCursor* c = t.cursor();
  std::uint32_t n = 99;
  EXPECT_EQ(c->CountRecords(&n), DBResult::kOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(c->StepBy(1), DBResult::kAfterLast);
  EXPECT_EQ(c->StepBy(-1), DBResult::kBeforeFirst);
  EXPECT_EQ(c->GoToNumber(1), DBResult::kAfterLast);
  EXPECT_EQ(c->PositionNumber(&n), DBResult::kAfterLast);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kAfterLast);
  EXPECT_EQ(c->GoToNumber(0), DBResult::kBeforeFirst);
}

TEST_F(FourCards, StepsAndNumbers) {
  DSCursor* c = t.cursor();
  EXPECT_EQ(t.Names(), "A,B,C,D");
  struct Case {
    std::int32_t step;
    DBResult status;
    const char* name;
  };
  ASSERT_EQ(c->GoBeforeFirst(), DBResult::kOk);
  const Case walk[] = {{1, DBResult::kOk, "A"},          {2, DBResult::kOk, "C"},
                       {1, DBResult::kOk, "D"},          {1, DBResult::kAfterLast, "<8706>"},
                       {-1, DBResult::kOk, "D"},         {-3, DBResult::kOk, "A"},
                       {-1, DBResult::kBeforeFirst, "<8705>"}, {-1, DBResult::kBeforeFirst, "<8705>"},
                       {0, DBResult::kBeforeFirst, "<8705>"},  {5, DBResult::kAfterLast, "<8706>"}};
  for (const Case& step : walk) {
    EXPECT_EQ(c->StepBy(step.step), step.status) << "step " << step.step;
    EXPECT_EQ(t.CurrentName(), step.name) << "step " << step.step;
  }
  std::uint32_t n = 0;
  EXPECT_EQ(c->GoToNumber(3), DBResult::kOk);
  EXPECT_EQ(c->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(t.CurrentName(), "C");
  EXPECT_EQ(c->GoToNumber(5), DBResult::kAfterLast);
  EXPECT_EQ(c->GoToNumber(0), DBResult::kBeforeFirst);
  EXPECT_EQ(c->CountRecords(&n), DBResult::kOk);
  EXPECT_EQ(n, 4u);
}

TEST_F(FourCards, DeleteThenStepForwardAndBack) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(2), DBResult::kOk);
  ASSERT_EQ(c->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kDeletedPosition);
  EXPECT_EQ(c->StepBy(1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "C") << "lands on the record that followed";
  EXPECT_EQ(c->StepBy(-1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "A");

  // Deleting the last record, then stepping: after-last, then the new last.
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(t.CurrentName(), "D");
  ASSERT_EQ(c->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(c->StepBy(1), DBResult::kAfterLast);
  EXPECT_EQ(c->StepBy(-1), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "C");
  EXPECT_EQ(t.Names(), "A,C");
}

TEST_F(FourCards, BookmarksFollowTheirRecord) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  Bookmark on_c;
  ASSERT_EQ(c->MarkPosition(&on_c), DBResult::kOk);
  // An insert before C (a hint from the cursor's position) shifts C's position.
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);
  ASSERT_EQ(c->BlankRecord(t.record().data()), DBResult::kOk);
  ASSERT_EQ(t.SetFields("Z", 9, nullptr), DBResult::kOk);
  ASSERT_EQ(c->AddRecord(t.record().data()), DBResult::kOk);
  EXPECT_EQ(t.Names(), "Z,A,B,C,D") << "inserted before the current record";
  ASSERT_EQ(c->GoToMark(on_c), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "C");
  std::uint32_t n = 0;
  ASSERT_EQ(c->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 4u);

  // The bookmark of a deleted record leads before the first record.
  Bookmark on_b;
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(c->MarkPosition(&on_b), DBResult::kOk);
  ASSERT_EQ(c->RemoveCurrent(), DBResult::kOk);
  ASSERT_EQ(c->GoToNumber(1), DBResult::kOk);
  EXPECT_EQ(c->GoToMark(on_b), DBResult::kOk);
  EXPECT_EQ(c->ReadCurrent(nullptr), DBResult::kBeforeFirst);

  // Marks compare by position only.
  Bookmark x = on_c, y = on_b;
  x.position = y.position = 7;
  EXPECT_EQ(DSCursor::CompareMarks(x, y), 0);
  y.position = 8;
  EXPECT_EQ(DSCursor::CompareMarks(x, y), -1);
}

TEST_F(FourCards, InsertWithNoRecordStatusAppends) {
  ASSERT_EQ(t.cursor()->GoToNumber(2), DBResult::kOk);
  ASSERT_EQ(t.Insert("E", 5), DBResult::kOk);  // Insert sets the no-record status first
  EXPECT_EQ(t.CurrentName(), "E") << "the cursor stands on the new record";
  EXPECT_EQ(t.Names(), "A,B,C,D,E");
}

TEST_F(FourCards, AutoIncrementIsAlwaysAssigned) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->BlankRecord(t.record().data()), DBResult::kOk);
  const std::int32_t forged = 1000;
  ASSERT_EQ(c->WriteField(t.record().data(), kId, &forged), DBResult::kOk);
  ASSERT_EQ(t.SetFields("E", 5, nullptr), DBResult::kOk);
  ASSERT_EQ(c->WriteCursorOption(kCursorStatus, 0), DBResult::kOk);
  ASSERT_EQ(c->AddRecord(t.record().data()), DBResult::kOk);
  std::int32_t id = 0;
  ASSERT_EQ(c->ReadField(nullptr, kId, &id, nullptr), DBResult::kOk);
  EXPECT_EQ(id, 5) << "the fifth record gets the table's next value, not the buffer's";
}

TEST_F(FourCards, PostingAnUnchangedBufferCreatesNoVersion) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(2), DBResult::kOk);
  const std::size_t log = t.table()->change_log().size();
  ASSERT_EQ(c->ReadCurrent(t.record().data()), DBResult::kOk);
  ASSERT_EQ(c->UpdateCurrent(t.record().data()), DBResult::kOk);
  EXPECT_EQ(t.table()->change_log().size(), log);
  EXPECT_EQ(t.table()->store().highest_slot(), 4u);
}

TEST(CursorEdits, RequiredAndReadOnlyFields) {
  auto fields = testing::CardFields();
  fields[0].attributes = kAttrRequired;
  fields[1].attributes = kAttrReadOnly;
  CardTable t;
  ASSERT_EQ(t.Define(fields), DBResult::kOk);
  DSCursor* c = t.cursor();
  EXPECT_EQ(t.Insert("", 1), DBResult::kRequiredField) << "an empty required string";
  ASSERT_EQ(c->BlankRecord(t.record().data()), DBResult::kOk);
  const std::int32_t mana = 1;
  ASSERT_EQ(c->WriteField(t.record().data(), kMana, &mana), DBResult::kOk);
  EXPECT_EQ(c->AddRecord(t.record().data()), DBResult::kRequiredField) << "never assigned";
  ASSERT_EQ(t.Insert("A", 1), DBResult::kOk);
  EXPECT_EQ(t.Modify("A", 2), DBResult::kReadOnlyField);
  EXPECT_EQ(t.Modify("B", 1), DBResult::kOk) << "same read-only value, other field changed";
  EXPECT_EQ(t.CurrentName(), "B");
  EXPECT_EQ(c->WriteCursorOption(kCursorFieldWritable, kMana), DBResult::kOk);
  EXPECT_EQ(t.Modify("B", 2), DBResult::kOk) << "the cursor's own switch";
}

TEST(CursorEdits, StringsAreTrimmedAndNeverCut) {
  CardTable t;
  ASSERT_EQ(t.Define(), DBResult::kOk);
  DSCursor* c = t.cursor();
  std::uint8_t* r = t.record().data();
  ASSERT_EQ(c->BlankRecord(r), DBResult::kOk);
  EXPECT_EQ(c->WriteField(r, kName, "Plains   "), DBResult::kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(r), "Plains");
  EXPECT_EQ(c->WriteField(r, kName, "12345678901234567890"), DBResult::kOk) << "20 fits";
  EXPECT_EQ(c->WriteField(r, kName, "123456789012345678901"), DBResult::kTextTooLong);
  EXPECT_STREQ(reinterpret_cast<char*>(r), "12345678901234567890") << "left as it was";
  ASSERT_EQ(t.table()->WriteTableOption(kOptNoTrim, 1), DBResult::kOk);
  EXPECT_EQ(c->WriteField(r, kName, "Plains "), DBResult::kOk);
  EXPECT_STREQ(reinterpret_cast<char*>(r), "Plains ");
  EXPECT_EQ(c->WriteField(r, 9, "x"), DBResult::kInvalidArgument);
  EXPECT_EQ(c->WriteField(r, 0, "x"), DBResult::kInvalidArgument);
}

TEST(CursorEdits, MemoWriteReadAndCancel) {
  CardTable t;
  ASSERT_EQ(t.Define(), DBResult::kOk);
  DSCursor* c = t.cursor();
  ASSERT_EQ(t.Insert("A", 1, "Flying"), DBResult::kOk);
  EXPECT_EQ(t.MemoOfCurrent(), "Flying");

  // An edit writes a new memo and is cancelled: the new blob is dropped, the record keeps
  // its old memo.
  const std::uint32_t blobs = t.table()->store().blobs().size();
  ASSERT_EQ(c->ReadCurrent(t.record().data()), DBResult::kOk);
  ASSERT_EQ(c->WriteBlob(t.record().data(), kText, 0, "Trample", 7), DBResult::kOk);
  EXPECT_EQ(t.table()->store().blobs().size(), blobs + 1);
  ASSERT_EQ(t.table()->DropPendingBlobs(0), DBResult::kOk);
  EXPECT_EQ(t.table()->store().blobs().size(), blobs);
  EXPECT_EQ(t.MemoOfCurrent(), "Flying");

  // Extending at an offset never touches the bytes the stored record refers to.
  ASSERT_EQ(c->ReadCurrent(t.record().data()), DBResult::kOk);
  ASSERT_EQ(c->WriteBlob(t.record().data(), kText, 6, ", haste", 7), DBResult::kOk);
  std::uint32_t length = 0;
  ASSERT_EQ(c->BlobLength(t.record().data(), kText, &length), DBResult::kOk);
  EXPECT_EQ(length, 13u);
  EXPECT_EQ(t.MemoOfCurrent(), "Flying");
  ASSERT_EQ(c->ReadCurrent(t.record().data()), DBResult::kOk);
  ASSERT_EQ(c->WriteBlob(t.record().data(), kText, 6, ", haste", 7), DBResult::kOk);
  ASSERT_EQ(c->UpdateCurrent(t.record().data()), DBResult::kOk);
  EXPECT_EQ(t.MemoOfCurrent(), "Flying, haste");

  // An empty text makes the memo null; a null memo has length 0 and reads as null.
  ASSERT_EQ(c->ReadCurrent(t.record().data()), DBResult::kOk);
  ASSERT_EQ(c->WriteBlob(t.record().data(), kText, 0, "", 0), DBResult::kOk);
  ASSERT_EQ(c->UpdateCurrent(t.record().data()), DBResult::kOk);
  EXPECT_EQ(t.MemoOfCurrent(), "");
  std::uint8_t byte = 0;
  length = 1;
  EXPECT_EQ(c->ReadBlob(t.record().data(), kText, 0, &byte, &length), DBResult::kValueIsNull);
  EXPECT_EQ(c->WriteBlob(t.record().data(), kText, 3, "x", 1), DBResult::kValueIsNull);
}

TEST_F(FourCards, OrderByIndexKeepsTheCurrentRecord) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(2), DBResult::kOk);
  EXPECT_EQ(c->OrderByIndex("NoSuchIndex"), DBResult::kIndexNotFound);
  EXPECT_EQ(c->OrderByIndex(""), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "B");
  ASSERT_EQ(c->OrderByIndex("CHANGEINDEX"), DBResult::kOk);
  EXPECT_EQ(t.CurrentName(), "B");
  EXPECT_EQ(t.Modify("X", 1), DBResult::kChangeLogEdit);
  EXPECT_EQ(c->RemoveCurrent(), DBResult::kChangeLogEdit);
}

TEST_F(FourCards, CopiedCursorSearchesWithoutMovingTheOriginal) {
  DSCursor* c = t.cursor();
  ASSERT_EQ(c->GoToNumber(3), DBResult::kOk);
  auto copy = Ref<DSCursor>::Adopt(NewCursor());
  ASSERT_EQ(copy->CopyCursor(c), DBResult::kOk);
  std::uint32_t n = 0;
  ASSERT_EQ(copy->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(copy->StepBy(1), DBResult::kOk);
  ASSERT_EQ(c->PositionNumber(&n), DBResult::kOk);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(copy->CopyCursor(nullptr), DBResult::kInvalidArgument);
}

TEST_F(FourCards, ASecondCursorSeesEditsMadeThroughTheFirst) {
  auto other = Ref<DSCursor>::Adopt(NewCursor());
  ASSERT_EQ(other->AttachToTable(t.table()), DBResult::kOk);
  EXPECT_EQ(other->AttachToTable(t.table()), DBResult::kWrongState);
  ASSERT_EQ(other->GoToNumber(3), DBResult::kOk);  // on C
  ASSERT_EQ(t.cursor()->GoToNumber(3), DBResult::kOk);
  ASSERT_EQ(t.cursor()->RemoveCurrent(), DBResult::kOk);
  EXPECT_EQ(other->ReadCurrent(nullptr), DBResult::kDeletedPosition);
  EXPECT_EQ(other->StepBy(1), DBResult::kOk);
  char name[21] = {};
  ASSERT_EQ(other->ReadField(nullptr, kName, name, nullptr), DBResult::kOk);
  EXPECT_STREQ(name, "D");
}

}  // namespace
}  // namespace zelvo
