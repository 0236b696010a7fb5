// The table component: walking, record numbers, bookmarks, editing states, fields, errors,
// notifications and files.
#include "client/client_dataset.h"

#include <gtest/gtest.h>

#include <fstream>

#include "client_test_util.h"

namespace zelvo::client {
namespace {

using testing::ErrorOf;
using testing::MakeCards;
using testing::Names;
using testing::TempDir;

class ClientDataSetTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeCards(&ds_, {{"Alpha", 1}, {"Bravo", 2}, {"Charlie", 3}}); }
  std::string Current() { return ds_.FieldByName("Name").AsString(); }
  TClientDataSet ds_;
};

TEST(ClientDataSetClosedTest, EveryOperationNamesTheComponent) {
  TClientDataSet ds("clTable");
  const std::string closed = "clTable: Cannot perform this operation on a closed dataset";
  EXPECT_EQ(ErrorOf([&] { ds.First(); }), closed);
  EXPECT_EQ(ErrorOf([&] { ds.RecordCount(); }), closed);
  EXPECT_EQ(ErrorOf([&] { ds.Edit(); }), closed);
  EXPECT_EQ(ErrorOf([&] { ds.FieldByName("Name"); }), closed);
  EXPECT_EQ(ErrorOf([&] { ds.SaveToFile("/tmp/never.zrBase"); }), closed);
}

TEST_F(ClientDataSetTest, FieldByNameErrorsAndLookup) {
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("Colour"); }), "clTable: Field 'Colour' not found");
  EXPECT_EQ(ds_.FieldByName("nAmE").FieldNo(), 1u);
  EXPECT_EQ(ds_.FindField("Colour"), nullptr);
  ASSERT_EQ(ds_.FieldCount(), 4);
  EXPECT_EQ(ds_.Fields(2).DataType(), ClientFieldKind::kMemo);
  EXPECT_EQ(ds_.Fields(0).Size(), 20u);
}

TEST_F(ClientDataSetTest, EofAndBofAtBothEnds) {
  ds_.First();
  EXPECT_TRUE(ds_.Bof());
  EXPECT_FALSE(ds_.Eof());
  ds_.Next();
  EXPECT_FALSE(ds_.Bof());
  ds_.Next();
  EXPECT_EQ(Current(), "Charlie");
  EXPECT_FALSE(ds_.Eof());
  ds_.Next();  // at the last record: Eof, and the record stays current
  EXPECT_TRUE(ds_.Eof());
  EXPECT_EQ(Current(), "Charlie");
  EXPECT_EQ(ds_.RecNo(), 3);
  ds_.Prior();
  EXPECT_FALSE(ds_.Eof());
  EXPECT_EQ(Current(), "Bravo");
  ds_.Last();
  EXPECT_TRUE(ds_.Eof());
  ds_.First();
  ds_.Prior();
  EXPECT_TRUE(ds_.Bof());
  EXPECT_EQ(Current(), "Alpha");
}

TEST_F(ClientDataSetTest, MoveByCountsWhatItMoved) {
  ds_.First();
  EXPECT_EQ(ds_.MoveBy(5), 2);
  EXPECT_TRUE(ds_.Eof());
  EXPECT_EQ(ds_.MoveBy(-1), -1);
  EXPECT_EQ(Current(), "Bravo");
  EXPECT_EQ(ds_.MoveBy(-7), -1);
  EXPECT_TRUE(ds_.Bof());
  EXPECT_EQ(ds_.MoveBy(0), 0);
}

TEST(ClientDataSetEmptyTest, EmptyTableHasBothFlags) {
  TClientDataSet ds;
  MakeCards(&ds, {});
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), 0);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.FieldByName("Name").IsNull());
  EXPECT_EQ(ds.FieldByName("Mana").AsInteger(), 0);
  EXPECT_EQ(ErrorOf([&] { ds.Delete(); }),
            "clTable: Cannot perform this operation on an empty dataset");
  ds.Edit();  // on an empty table an edit is an insert
  EXPECT_EQ(ds.State(), DataSetState::kInsert);
}

TEST_F(ClientDataSetTest, RecNoSetAndOutOfRange) {
  EXPECT_EQ(ds_.RecordCount(), 3);
  ds_.SetRecNo(2);
  EXPECT_EQ(Current(), "Bravo");
  EXPECT_EQ(ds_.RecNo(), 2);
  const std::string error = ErrorOf([&] { ds_.SetRecNo(9); });
  EXPECT_EQ(error.rfind("clTable: ", 0), 0u) << error;
  EXPECT_EQ(Current(), "Bravo");  // unchanged after the failure
  EXPECT_EQ(ds_.RecNo(), 2);
}

TEST_F(ClientDataSetTest, BookmarksSurviveInsertsAndFailForDeletedRecords) {
  ds_.SetRecNo(2);
  const TBookmark bravo = ds_.GetBookmark();
  ds_.SetRecNo(3);
  const TBookmark charlie = ds_.GetBookmark();
  EXPECT_EQ(ds_.CompareBookmarks(bravo, charlie), -1);
  ds_.Append();
  ds_.FieldByName("Name").SetAsString("Delta");
  ds_.Post();
  ds_.GotoBookmark(bravo);
  EXPECT_EQ(Current(), "Bravo");
  EXPECT_TRUE(ds_.BookmarkValid(charlie));
  ds_.GotoBookmark(charlie);
  ds_.Delete();
  EXPECT_EQ(Current(), "Delta");
  EXPECT_FALSE(ds_.BookmarkValid(charlie));
  EXPECT_EQ(Current(), "Delta");  // the validity check does not move the component
  EXPECT_EQ(ErrorOf([&] { ds_.GotoBookmark(charlie); }), "clTable: Record not found");
  EXPECT_EQ(Current(), "Delta");
  TBookmark none;
  EXPECT_FALSE(ds_.BookmarkValid(none));
}

TEST_F(ClientDataSetTest, InsertAppendsInTheDefaultOrderAndGetsAutoIncrement) {
  ds_.SetRecNo(2);
  ds_.Insert();
  EXPECT_EQ(ds_.State(), DataSetState::kInsert);
  EXPECT_EQ(ds_.RecNo(), -1);
  ds_.FieldByName("Name").SetAsString("Echo");
  ds_.Post();
  EXPECT_EQ(ds_.State(), DataSetState::kBrowse);
  EXPECT_EQ(Current(), "Echo");
  EXPECT_EQ(ds_.RecNo(), 4);
  EXPECT_EQ(ds_.FieldByName("Id").AsInteger(), 4);
  EXPECT_EQ(Names(&ds_), "Alpha,Bravo,Charlie,Echo");
}

TEST_F(ClientDataSetTest, CancelOfAnInsertReturnsToTheRecord) {
  ds_.SetRecNo(2);
  ds_.Insert();
  ds_.FieldByName("Name").SetAsString("Ghost");
  ds_.FieldByName("Text").SetAsString("never stored");
  ds_.Cancel();
  EXPECT_EQ(ds_.State(), DataSetState::kBrowse);
  EXPECT_EQ(Current(), "Bravo");
  EXPECT_EQ(ds_.RecordCount(), 3);
  EXPECT_EQ(ds_.ChangeCount(), 3);  // the three appends only
}

TEST_F(ClientDataSetTest, CancelOfAnEditKeepsValuesAndMemo) {
  ds_.SetRecNo(1);
  ds_.Edit();
  ds_.FieldByName("Text").SetAsString("old rules");
  ds_.Post();
  ds_.Edit();
  ds_.FieldByName("Name").SetAsString("Changed");
  ds_.FieldByName("Text").SetAsString("new rules");
  EXPECT_EQ(ds_.FieldByName("Text").AsString(), "new rules");
  ds_.Cancel();
  EXPECT_EQ(Current(), "Alpha");
  EXPECT_EQ(ds_.FieldByName("Text").AsString(), "old rules");
  ds_.Next();
  ds_.Prior();
  EXPECT_EQ(ds_.FieldByName("Text").AsString(), "old rules");
}

TEST_F(ClientDataSetTest, MovingPostsAPendingEdit) {
  ds_.SetRecNo(1);
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(7);
  ds_.Next();
  EXPECT_EQ(ds_.State(), DataSetState::kBrowse);
  ds_.First();
  EXPECT_EQ(ds_.FieldByName("Mana").AsInteger(), 7);
}

TEST_F(ClientDataSetTest, DeleteGoesToTheNextThenToTheNewLast) {
  ds_.SetRecNo(2);
  ds_.Delete();
  EXPECT_EQ(Current(), "Charlie");
  EXPECT_FALSE(ds_.Eof());
  ds_.Delete();  // the last record: its predecessor becomes current, Eof set
  EXPECT_EQ(Current(), "Alpha");
  EXPECT_TRUE(ds_.Eof());
  ds_.Delete();
  EXPECT_TRUE(ds_.IsEmpty());
  EXPECT_TRUE(ds_.Eof() && ds_.Bof());
}

TEST_F(ClientDataSetTest, DeleteLoopReachesEof) {
  // The classic "delete or step" loop must end.
  int steps = 0;
  for (ds_.First(); !ds_.Eof() && steps < 10; ++steps) {
    if (ds_.FieldByName("Mana").AsInteger() >= 2) {
      ds_.Delete();
    } else {
      ds_.Next();
    }
  }
  EXPECT_LT(steps, 10);
  EXPECT_EQ(Names(&ds_), "Alpha");
}

TEST_F(ClientDataSetTest, EmptyTextIsAnEmptyStringNotNull) {
  TempDir dir;
  ds_.SetLogChanges(false);  // edits in place: the saved rows keep their order
  ds_.SetRecNo(1);
  ds_.Edit();
  ds_.FieldByName("Name").SetAsString("");
  ds_.Post();
  EXPECT_FALSE(ds_.FieldByName("Name").IsNull());
  ds_.SetRecNo(2);
  ds_.Edit();
  ds_.FieldByName("Name").Clear();
  ds_.FieldByName("Mana").SetAsString("");  // not a string field: null
  ds_.Post();
  ds_.SaveToFile(dir.File("t.zrBase"));
  TClientDataSet loaded;
  loaded.LoadFromFile(dir.File("t.zrBase"));
  EXPECT_FALSE(loaded.FieldByName("Name").IsNull());
  EXPECT_EQ(loaded.FieldByName("Name").AsString(), "");
  loaded.Next();
  EXPECT_TRUE(loaded.FieldByName("Name").IsNull());
  EXPECT_TRUE(loaded.FieldByName("Mana").IsNull());
}

TEST_F(ClientDataSetTest, ValueErrorsLeaveTheBufferAlone) {
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("Mana").SetAsString("7"); }),
            "clTable: Dataset not in edit or insert mode");
  ds_.Edit();
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("Mana").SetAsString("x"); }),
            "clTable: 'x' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("Mana").SetAsString("99999999999"); }),
            "clTable: '99999999999' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { ds_.FieldByName("Name").SetAsString(std::string(21, 'x')); }),
            "clTable: Text too long for field 'Name' (20 characters)");
  EXPECT_EQ(ds_.FieldByName("Mana").AsInteger(), 1);
  EXPECT_EQ(ds_.FieldByName("Name").AsString(), "Alpha");
  EXPECT_EQ(ErrorOf([&] { (void)ds_.FieldByName("Name").AsInteger(); }),
            "clTable: 'Alpha' is not a valid integer value");
}

TEST_F(ClientDataSetTest, RequiredFieldRefusedAtPost) {
  TClientDataSet ds;
  ds.FieldDefs().Add("Name", ClientFieldKind::kString, 10, true);
  ds.CreateDataSet();
  ds.Append();
  const std::string error = ErrorOf([&] { ds.Post(); });
  EXPECT_EQ(error.rfind("clTable: ", 0), 0u);
  EXPECT_EQ(ds.State(), DataSetState::kInsert);  // still inserting: the user may fix it
  ds.FieldByName("Name").SetAsString("ok");
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);
}

TEST_F(ClientDataSetTest, LogChangesSwitchesTheChangeLog) {
  EXPECT_TRUE(ds_.LogChanges());
  EXPECT_EQ(ds_.ChangeLogEntries(), 3);
  ds_.MergeChangeLog();
  EXPECT_EQ(ds_.ChangeCount(), 0);
  ds_.SetLogChanges(false);
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(9);
  ds_.Post();
  EXPECT_EQ(ds_.ChangeCount(), 0);
  ds_.SetLogChanges(true);
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(10);
  ds_.Post();
  EXPECT_EQ(ds_.ChangeCount(), 1);
  ds_.UndoLastChange(true);
  EXPECT_EQ(ds_.FieldByName("Mana").AsInteger(), 9);
}

struct Heard {
  std::vector<std::pair<DataEvent, const TField*>> events;
  int Count(DataEvent e) const {
    int n = 0;
    for (const auto& [event, field] : events) n += event == e;
    return n;
  }
};

TEST_F(ClientDataSetTest, NotificationsTellFieldFromRecordAndNest) {
  TDataSource source;
  Heard heard;
  source.OnEvent = [&](DataEvent e, const TField* f) { heard.events.emplace_back(e, f); };
  source.SetDataSet(&ds_);

  ds_.Next();
  EXPECT_EQ(heard.Count(DataEvent::kRecordChanged), 1);
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(5);
  ASSERT_EQ(heard.Count(DataEvent::kFieldChanged), 1);
  for (const auto& [e, f] : heard.events) {
    if (e == DataEvent::kFieldChanged) EXPECT_EQ(f, &ds_.FieldByName("Mana"));
  }
  ds_.Post();
  EXPECT_EQ(heard.Count(DataEvent::kBeforePost), 1);

  heard.events.clear();
  ds_.DisableControls();
  ds_.DisableControls();
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(6);
  ds_.Post();
  ds_.Next();
  ds_.EnableControls();
  EXPECT_TRUE(heard.events.empty());  // still disabled once
  EXPECT_TRUE(ds_.ControlsDisabled());
  ds_.EnableControls();
  ASSERT_EQ(heard.events.size(), 1u);
  EXPECT_EQ(heard.events[0].first, DataEvent::kDataSetChanged);
  ds_.EnableControls();  // unmatched: ignored
  EXPECT_FALSE(ds_.ControlsDisabled());
  source.SetDataSet(nullptr);
  ds_.Next();
  EXPECT_EQ(heard.events.size(), 1u);
}

TEST_F(ClientDataSetTest, SaveChoosesTheFormByName) {
  TempDir dir;
  for (const char* name : {"a.xml", "b.XmL", "c.zrBase", "d.xml.zrBase"}) {
    ds_.SaveToFile(dir.File(name));
    std::ifstream in(dir.File(name), std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    const bool xml = std::string(name).find(".zrBase") == std::string::npos;
    EXPECT_EQ(head == "<?xml", xml) << name;
    TClientDataSet loaded;
    loaded.LoadFromFile(dir.File(name));
    EXPECT_EQ(loaded.LoadedXml(), xml);
    EXPECT_EQ(Names(&loaded), "Alpha,Bravo,Charlie");
  }
}

TEST_F(ClientDataSetTest, FailedSaveLeavesNothingBehind) {
  TempDir dir;
  const std::string target = dir.File("missing/dir/out.zrBase");
  const std::string error = ErrorOf([&] { ds_.SaveToFile(target); });
  EXPECT_EQ(error.rfind("clTable: ", 0), 0u) << error;
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ClientDataSetLoadTest, BadFilesRaiseAndLeaveTheComponentClosed) {
  TempDir dir;
  std::ofstream(dir.File("text.zrBase")) << "hello";
  std::ofstream(dir.File("empty.zrBase"));
  for (const char* name : {"absent.zrBase", "text.zrBase", "empty.zrBase"}) {
    TClientDataSet ds;
    const std::string error = ErrorOf([&] { ds.LoadFromFile(dir.File(name)); });
    EXPECT_EQ(error.rfind("clTable: ", 0), 0u) << name << ": " << error;
    EXPECT_FALSE(ds.Active());
  }
}

}  // namespace
}  // namespace zelvo::client
