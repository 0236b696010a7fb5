// The table component's orderings, filters and locate: record numbers and counts under
// them, placement of new records, and the failure rules of filter texts.
#include <gtest/gtest.h>

#include "client/client_dataset.h"
#include "client_test_util.h"

namespace zelvo::client {
namespace {

using testing::ErrorOf;
using testing::MakeCards;
using testing::Names;

class ClientQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeCards(&ds_, {{"Island", 0}, {"forest", 0}, {"Plains", 0}, {"Bolt", 1},
                     {"Counterspell", 2}, {"Urza's Mine", 0}, {"plague Rats", 3}});
  }
  std::string Current() { return ds_.FieldByName("Name").AsString(); }
  TClientDataSet ds_;
};

TEST_F(ClientQueryTest, IndexOrdersAndKeepsTheCurrentRecord) {
  ds_.AddIndex("NameIdx", "Name", ixCaseInsensitive);
  ds_.SetRecNo(4);  // Bolt
  ds_.SetIndexName("NameIdx");
  EXPECT_EQ(Current(), "Bolt");
  EXPECT_EQ(ds_.RecNo(), 1);
  EXPECT_EQ(Names(&ds_), "Bolt,Counterspell,forest,Island,plague Rats,Plains,Urza's Mine");
  ds_.SetIndexName("");
  EXPECT_EQ(Names(&ds_), "Island,forest,Plains,Bolt,Counterspell,Urza's Mine,plague Rats");
  EXPECT_EQ(ErrorOf([&] { ds_.SetIndexName("Nope"); }), "clTable: Index 'Nope' not found");
}

TEST_F(ClientQueryTest, IndexDefinedOnSelectionFromTheClientList) {
  // A definition added while closed is defined in the engine when first selected.
  TClientDataSet ds;
  ds.AddIndex("ManaDesc", "Mana;Name", ixDescending, "Mana", "Name");
  MakeCards(&ds, {{"b", 1}, {"A", 1}, {"c", 2}});
  ds.SetIndexName("ManaDesc");
  EXPECT_EQ(Names(&ds), "c,A,b");
  const TIndexDef* def = ds.IndexDefs().FindIndex("ManaDesc");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->fields, "Mana;Name");
  EXPECT_NE(ds.IndexDefs().FindIndex("DEFAULT_ORDER"), nullptr);
  TIndexDefs copy;
  copy.Assign(ds.IndexDefs());
  EXPECT_EQ(copy.Count(), ds.IndexDefs().Count());
  copy.Delete(0);
  EXPECT_EQ(copy.Count() + 1, ds.IndexDefs().Count());
  copy.Clear();
  EXPECT_EQ(copy.Count(), 0u);
}

TEST_F(ClientQueryTest, PostPlacesTheRecordByTheActiveOrder) {
  ds_.AddIndex("NameIdx", "Name", ixCaseInsensitive);
  ds_.SetIndexName("NameIdx");
  ds_.First();
  ds_.Insert();
  ds_.FieldByName("Name").SetAsString("Dark Ritual");
  ds_.Post();
  EXPECT_EQ(Current(), "Dark Ritual");
  EXPECT_EQ(ds_.RecNo(), 3);
  EXPECT_EQ(ds_.RecordCount(), 8);
  ds_.Edit();
  ds_.FieldByName("Name").SetAsString("Zombie");
  ds_.Post();
  EXPECT_EQ(Current(), "Zombie");
  EXPECT_EQ(ds_.RecNo(), 8);
}

TEST_F(ClientQueryTest, SortByFieldsDescendingAndCaseInsensitive) {
  ds_.SortByFields({{"Mana", true, false}, {"Name", false, true}});
  EXPECT_EQ(Names(&ds_), "plague Rats,Counterspell,Bolt,forest,Island,Plains,Urza's Mine");
  EXPECT_EQ(ErrorOf([&] { ds_.SortByFields({{"Colour", false, false}}); }),
            "clTable: Field 'Colour' not found");
}

TEST_F(ClientQueryTest, FilterCountsAndNumbersAmongPassingRecords) {
  ds_.SetFilter("Mana = 0");
  EXPECT_EQ(ds_.RecordCount(), 7);  // not applied until Filtered
  ds_.SetFiltered(true);
  EXPECT_EQ(ds_.RecordCount(), 4);
  EXPECT_TRUE(ds_.Bof());
  ds_.Last();
  EXPECT_EQ(ds_.RecNo(), 4);
  EXPECT_EQ(Current(), "Urza's Mine");
  ds_.Next();
  EXPECT_TRUE(ds_.Eof());
  ds_.AddIndex("NameIdx", "Name", ixCaseInsensitive);
  ds_.SetIndexName("NameIdx");
  EXPECT_EQ(Names(&ds_), "forest,Island,Plains,Urza's Mine");
  ds_.SetFiltered(false);
  EXPECT_EQ(ds_.RecordCount(), 7);
}

TEST_F(ClientQueryTest, FilterTextChangedWhileFiltered) {
  ds_.SetFilter("Mana > 0");
  ds_.SetFiltered(true);
  EXPECT_EQ(Names(&ds_), "Bolt,Counterspell,plague Rats");
  ds_.SetFilter("Name = 'P*'");
  EXPECT_EQ(Names(&ds_), "Plains");
  ds_.SetFilterOptions({true, false});
  EXPECT_EQ(Names(&ds_), "Plains,plague Rats");
  ds_.SetFilter("");
  EXPECT_EQ(ds_.RecordCount(), 7);
  EXPECT_TRUE(ds_.Filtered());
}

TEST_F(ClientQueryTest, BadTextWhileFilteredKeepsTheOldFilter) {
  ds_.SetFilter("Mana > 0");
  ds_.SetFiltered(true);
  EXPECT_EQ(ErrorOf([&] { ds_.SetFilter("Mana >"); }),
            "clTable: Expression expected but nothing found");
  EXPECT_EQ(ds_.Filter(), "Mana > 0");
  EXPECT_TRUE(ds_.Filtered());
  EXPECT_EQ(ds_.RecordCount(), 3);
}

TEST_F(ClientQueryTest, FilteredOnWithABadTextStaysOff) {
  ds_.SetFilter("Colour = 'W'");
  EXPECT_EQ(ErrorOf([&] { ds_.SetFiltered(true); }), "clTable: Field 'Colour' not found");
  EXPECT_FALSE(ds_.Filtered());
  EXPECT_EQ(ds_.RecordCount(), 7);
}

TEST_F(ClientQueryTest, RecordsLeavingTheFilter) {
  ds_.SetFilter("Mana = 0");
  ds_.SetFiltered(true);
  ds_.SetRecNo(2);  // forest
  ds_.Edit();
  ds_.FieldByName("Mana").SetAsInteger(5);
  ds_.Post();  // no longer passes: the next record becomes current
  EXPECT_EQ(Current(), "Plains");
  EXPECT_EQ(ds_.RecordCount(), 3);
  ds_.Insert();
  ds_.FieldByName("Name").SetAsString("Shock");
  ds_.FieldByName("Mana").SetAsInteger(1);
  ds_.Post();  // stored, not shown: back where the insert started
  EXPECT_EQ(Current(), "Plains");
  EXPECT_EQ(ds_.RecordCount(), 3);
  ds_.SetFiltered(false);
  EXPECT_EQ(ds_.RecordCount(), 8);
}

TEST_F(ClientQueryTest, LocatePartialAndCaseInsensitive) {
  EXPECT_TRUE(ds_.Locate("Name", {"pla"}, loPartialKey | loCaseInsensitive));
  EXPECT_EQ(Current(), "Plains");
  EXPECT_EQ(ds_.RecNo(), 3);
  EXPECT_TRUE(ds_.Locate("Name", {"pla"}, loPartialKey | loCaseInsensitive));  // from the top
  EXPECT_EQ(Current(), "Plains");
  EXPECT_TRUE(ds_.Locate("Name", {"pla"}, loPartialKey));
  EXPECT_EQ(Current(), "plague Rats");
  EXPECT_FALSE(ds_.Locate("Name", {"pla"}, loCaseInsensitive));  // whole values only
  EXPECT_EQ(Current(), "plague Rats");                           // unchanged
  EXPECT_TRUE(ds_.Locate("Name", {"ISLAND"}, loCaseInsensitive));
  EXPECT_EQ(ds_.RecNo(), 1);
  EXPECT_TRUE(ds_.Locate("Name", {"Urza's Mine"}, 0));  // a quote in the value
  EXPECT_EQ(ds_.RecNo(), 6);
  EXPECT_TRUE(ds_.Locate("Mana;Name", {"0", "forest"}, 0));
  EXPECT_EQ(ds_.RecNo(), 2);
  EXPECT_EQ(ErrorOf([&] { ds_.Locate("Text", {"x"}, 0); }),
            "clTable: Field 'Text' is of an unsupported type");
}

TEST_F(ClientQueryTest, LocateNullAndWithinTheFilter) {
  ds_.SetRecNo(4);
  ds_.Edit();
  ds_.FieldByName("Mana").Clear();
  ds_.Post();
  EXPECT_TRUE(ds_.Locate("Mana", {std::nullopt}, 0));
  EXPECT_EQ(Current(), "Bolt");
  ds_.SetFilter("Mana = 0");
  ds_.SetFiltered(true);
  EXPECT_FALSE(ds_.Locate("Name", {"Counterspell"}, 0));
  EXPECT_TRUE(ds_.Locate("Name", {"Urza's Mine"}, 0));
  EXPECT_EQ(ds_.RecNo(), 4);
}

}  // namespace
}  // namespace zelvo::client
