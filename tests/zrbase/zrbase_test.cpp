// zrbase end to end: the sample database, a table with every field kind, conversions,
// editing steps, and bad input (exit status 2, one message line, no output file).
#include <gtest/gtest.h>

#include "zrbase_test_util.h"

namespace zelvo::zrbase::testing {
namespace {

std::vector<std::string> Cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ZrbaseExamplesTest, RebuildingTheSampleGivesTheSameBytes) {
  Sandbox box;
  const Result r = box.Run(Cat({"create", box.File("cards.zrBase")}, Cat(CardFieldArgs(), {"--rows", Example("cards.tsv")})));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadAll(box.File("cards.zrBase")) == ReadAll(Example("cards.zrBase")))
      << "examples/cards.zrBase is stale: rebuild it with zrbase create";
}

TEST(ZrbaseExamplesTest, DumpGivesBackTheTsv) {
  Sandbox box;
  const Result r = box.Run({"dump", Example("cards.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ReadAll(Example("cards.tsv")));
  EXPECT_EQ(r.err, "");
}

TEST(ZrbaseExamplesTest, InfoDescribesTheSample) {
  Sandbox box;
  const Result r = box.Run({"info", Example("cards.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "format binary\n"
            "field\t1\tName\tstring\t40\t-\trequired\n"
            "field\t2\tColor\tstring\t3\t-\t-\n"
            "field\t3\tColorID\tinteger\t0\t-\t-\n"
            "field\t4\tCost\tstring\t20\t-\t-\n"
            "field\t5\tMana\tinteger\t0\t-\t-\n"
            "field\t6\tType\tstring\t40\t-\t-\n"
            "field\t7\tTypeIndex\tinteger\t0\t-\t-\n"
            "field\t8\tPower\tstring\t4\t-\t-\n"
            "field\t9\tToughness\tstring\t4\t-\t-\n"
            "field\t10\tText\tmemo\t0\tText\t-\n"
            "field\t11\tVersion\tstring\t10\t-\t-\n"
            "records 320\nlog 0\nchanges 0\nlcid 0\n");
}

struct QueryCase {
  const char* title;
  std::vector<std::string> args;  // after the sample file
  int status;
  std::string out;
};

class ZrbaseQueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(ZrbaseQueryTest, CountsAndLocatesOnTheSample) {
  Sandbox box;
  std::vector<std::string> args = {GetParam().args[0], Example("cards.zrBase")};
  args.insert(args.end(), GetParam().args.begin() + 1, GetParam().args.end());
  const Result r = box.Run(args);
  EXPECT_EQ(r.status, GetParam().status) << r.err;
  EXPECT_EQ(r.out, GetParam().out);
  EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZrbaseQueryTest,
    ::testing::Values(
        QueryCase{"CountAll", {"count"}, 0, "320\n"},
        QueryCase{"CountBasicLands",
                  {"count", "--filter",
                   "(Name='Plains')or(Name='Island')or(Name='Swamp')or(Name='Mountain')or(Name='Forest')"},
                  0, "5\n"},
        QueryCase{"CountPartial", {"count", "--filter", "Name = 'Urza''s*'"}, 0, "14\n"},
        QueryCase{"CountNoPartial", {"count", "--filter", "Name = 'Urza''s*'", "--no-partial"}, 0, "0\n"},
        QueryCase{"CountCaseInsensitive", {"count", "--filter", "Name = 'plains'", "--case-insensitive"}, 0, "1\n"},
        QueryCase{"CountCaseSensitive", {"count", "--filter", "Name = 'plains'"}, 0, "0\n"},
        QueryCase{"CountNumbers", {"count", "--filter", "Mana > 5"}, 0, "48\n"},
        QueryCase{"CountEmptyVersion", {"count", "--filter", "Version = ''"}, 0, "31\n"},
        QueryCase{"CountUtf8Constant", {"count", "--filter", "Name = '\xC3\x86ther*'"}, 0, "13\n"},
        QueryCase{"LocateCaseInsensitive", {"locate", "Name", "PLAINS", "--case-insensitive"}, 0, "1\n"},
        QueryCase{"LocatePartial", {"locate", "Name", "Urza's", "--partial"}, 0, "27\n"},
        QueryCase{"LocateWholeOnly", {"locate", "Name", "Urza's"}, 1, ""},
        QueryCase{"LocateUtf8", {"locate", "Name", "\xC3\x86ther Familiar"}, 0, "8\n"},
        QueryCase{"LocateEmptyString", {"locate", "Version", ""}, 0, "7\n"},
        QueryCase{"LocateNull", {"locate", "Text", "\\N"}, 0, "7\n"},
        QueryCase{"LocateNothing", {"locate", "Name", "Nothing Such"}, 1, ""},
        QueryCase{"LocateInSortAndFilter",
                  {"locate", "Name", "Island", "--filter", "Mana = 0", "--sort", "Name"}, 0, "20\n"}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.title); });

TEST(ZrbaseDumpTest, FilterAndSortLikeATableWindow) {
  Sandbox box;
  const Result r = box.Run({"dump", Example("cards.zrBase"), "--filter", "Mana >= 7", "--sort",
                            "Mana:desc", "--sort", "Name", "--sort-case-insensitive"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Name\tColor\t", 0), 0u);
  const std::size_t first = r.out.find('\n') + 1;
  EXPECT_EQ(r.out.substr(first, r.out.find('\t', first) - first), "Gilded Rite");
}

// Every kind create offers; one row of values, one of nulls and empty strings.
const std::vector<std::string> kAllKinds = {
    "S:string:10", "F:fixedchar:5", "W:widestring:10", "G:guid", "SI:smallint", "I:integer",
    "WD:word", "L:largeint", "A:autoinc", "B:boolean", "FL:float", "C:currency", "BC:bcd:10:2",
    "FB:fmtbcd:12:3", "D:date", "T:time", "DT:datetime", "TS:timestamp", "BY:bytes:4",
    "VB:varbytes:8", "M:memo", "BL:blob", "FM:fmtmemo", "GR:graphic", "TB:typedbinary"};
const char* const kAllKindsTsv =
    "S\tF\tW\tG\tSI\tI\tWD\tL\tA\tB\tFL\tC\tBC\tFB\tD\tT\tDT\tTS\tBY\tVB\tM\tBL\tFM\tGR\tTB\n"
    "\xC3\x86ther \xC3\xBC\tab\t\xCE\xA9mega \xE2\x98\x83\t{12345678-1234-1234-1234-123456789012}\t"
    "-32768\t2147483647\t65535\t-9223372036854775808\t1\tTrue\t0.1\t1e+300\t12.30\t-1.250\t"
    "2003-01-15\t13:45:01.250\t1999-12-31 23:59:59\t2000-02-29 00:00:01.500\t00ff10ab\t0102\t"
    "line1\\nline2\\ttab\\\\\tdeadbeef\tx\t89504e47\t00\n"
    "\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t2\tFalse\t-1.25e-05\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t"
    "\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\n";

std::vector<std::string> AllKindArgs() {
  std::vector<std::string> args;
  for (const std::string& f : kAllKinds) args.insert(args.end(), {"--field", f});
  return args;
}

class ZrbaseAllKindsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteAll(box_.File("rows.tsv"), kAllKindsTsv);
    const Result r = box_.Run(Cat({"create", box_.File("all.zrBase")}, Cat(AllKindArgs(), {"--rows", box_.File("rows.tsv")})));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  Sandbox box_;
};

TEST_F(ZrbaseAllKindsTest, DumpGivesEveryValueBack) {
  const Result r = box_.Run({"dump", box_.File("all.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kAllKindsTsv);
}

TEST_F(ZrbaseAllKindsTest, InfoNamesEveryKind) {
  const Result r = box_.Run({"info", box_.File("all.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& f : kAllKinds) {
    const std::size_t colon = f.find(':');
    std::string kind = f.substr(colon + 1);
    kind = kind.substr(0, kind.find(':'));
    EXPECT_NE(r.out.find("\t" + f.substr(0, colon) + "\t" + kind + "\t"), std::string::npos) << f;
  }
  EXPECT_NE(r.out.find("field\t3\tW\twidestring\t10\t-\t-\n"), std::string::npos);
  EXPECT_NE(r.out.find("field\t13\tBC\tbcd\t10\t-\t-\n"), std::string::npos);
  EXPECT_NE(r.out.find("field\t9\tA\tautoinc\t0\tAutoinc\treadonly\n"), std::string::npos) << r.out;
}

TEST_F(ZrbaseAllKindsTest, ConvertToBinaryIsByteIdentical) {
  const Result r = box_.Run({"convert", box_.File("all.zrBase"), box_.File("copy.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadAll(box_.File("copy.zrBase")) == ReadAll(box_.File("all.zrBase")));
}

// Drops column `index` from every line of a TSV text.
std::string WithoutColumn(const std::string& tsv, std::size_t index) {
  std::string out;
  std::size_t start = 0;
  while (start < tsv.size()) {
    const std::size_t end = tsv.find('\n', start);
    std::string line = tsv.substr(start, end - start);
    std::size_t from = 0;
    for (std::size_t i = 0; i < index; ++i) from = line.find('\t', from) + 1;
    const std::size_t to = line.find('\t', from);
    line.erase(from, to == std::string::npos ? std::string::npos : to - from + 1);
    out += line + "\n";
    start = end + 1;
  }
  return out;
}

TEST_F(ZrbaseAllKindsTest, XmlRefusesLargeintAndWritesNothing) {
  const Result r = box_.Run({"convert", box_.File("all.zrBase"), box_.File("all.xml")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "zrbase: clTable: Invalid value in XML data packet\n");
  EXPECT_FALSE(std::filesystem::exists(box_.File("all.xml")));
}

TEST(ZrbaseXmlTest, ConvertThroughXmlKeepsFieldsAndRecords) {
  // The XML form has no 64-bit integers: every other kind goes through it.
  Sandbox box;
  std::vector<std::string> kinds = kAllKinds;
  kinds.erase(kinds.begin() + 7);
  const std::string tsv = WithoutColumn(kAllKindsTsv, 7);
  WriteAll(box.File("rows.tsv"), tsv);
  std::vector<std::string> args = {"create", box.File("all.zrBase"), "--rows", box.File("rows.tsv")};
  for (const std::string& f : kinds) args.insert(args.end(), {"--field", f});
  Result r = box.Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const bool utf8 : {false, true}) {
    args = {"convert", box.File("all.zrBase"), box.File("all.XML")};
    if (utf8) args.push_back("--utf8");
    r = box.Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string xml = ReadAll(box.File("all.XML"));
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_EQ(xml.find("UTF-8") != std::string::npos, utf8);
    r = box.Run({"convert", box.File("all.XML"), box.File("back.zrBase")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"all.XML", "back.zrBase"}) {
      r = box.Run({"dump", box.File(name)});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, tsv) << name << (utf8 ? " (utf8)" : "");
    }
    std::string info_bin = box.Run({"info", box.File("all.zrBase")}).out;
    const std::string info_xml = box.Run({"info", box.File("all.XML")}).out;
    EXPECT_EQ(info_xml.substr(0, 11), "format xml\n");
    // The XML form knows one bytes type ("bin.hex"), read back as varying bytes.
    const std::string fixed = "\tBY\tbytes\t";
    info_bin.replace(info_bin.find(fixed), fixed.size(), "\tBY\tvarbytes\t");
    EXPECT_EQ(info_xml.substr(info_xml.find('\n')), info_bin.substr(info_bin.find('\n')));
  }
}

TEST(ZrbaseEditTest, StepsApplyInOrderAndLogByDefault) {
  Sandbox box;
  const std::string steps =
      "set 1 Name Renamed card\n"
      "insert Name=New\\tcard\tMana=3\n"
      "delete 2\n"
      "delete 2\n"
      "undo\n"
      "set 2 Version \\N\n";
  Result r = box.Run({"edit", Example("cards.zrBase"), box.File("out.zrBase")}, steps);
  ASSERT_EQ(r.status, 0) << r.err;
  r = box.Run({"dump", box.File("out.zrBase")});
  const std::string dump = r.out;
  EXPECT_NE(dump.find("\nRenamed card\t"), std::string::npos);
  EXPECT_EQ(dump.find("\nIsland\t"), std::string::npos);   // deleted
  EXPECT_NE(dump.find("\nSwamp\t"), std::string::npos);    // its deletion undone
  EXPECT_NE(dump.find("\nNew\\tcard\t\\N\t\\N\t\\N\t3\t"), std::string::npos) << dump.substr(0, 400);
  // A file with a change log converts to the same bytes as well.
  r = box.Run({"convert", box.File("out.zrBase"), box.File("copy.zrBase")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadAll(box.File("copy.zrBase")) == ReadAll(box.File("out.zrBase")));
  r = box.Run({"info", box.File("out.zrBase")});
  EXPECT_NE(r.out.find("records 320\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("log 4\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("changes 4\n"), std::string::npos) << r.out;
}

TEST(ZrbaseEditTest, NoLogAndMergeLeaveNoChangeLog) {
  Sandbox box;
  Result r = box.Run({"edit", Example("cards.zrBase"), box.File("a.zrBase"), "--no-log"},
                     "set 1 Mana 9\n");
  ASSERT_EQ(r.status, 0) << r.err;
  r = box.Run({"edit", Example("cards.zrBase"), box.File("b.zrBase")},
              "set 1 Mana 9\nmerge\nlog off\nset 2 Mana 8\nlog on\n");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"a.zrBase", "b.zrBase"}) {
    r = box.Run({"info", box.File(name)});
    EXPECT_NE(r.out.find("log 0\nchanges 0\n"), std::string::npos) << name << r.out;
  }
  EXPECT_NE(box.Run({"dump", box.File("b.zrBase")}).out.find("\nPlains\t\t0\t\t9\t"), std::string::npos);
}

// Bad input: exit 2, one line "zrbase: MESSAGE", nothing written.
struct BadCase {
  const char* title;
  std::vector<std::string> args;  // "@" + name is a sandbox file
  std::string input;
  std::string message;  // the exact line, or its start when it ends in "*"
};

class ZrbaseBadInputTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(ZrbaseBadInputTest, ExitsTwoWithOneLineAndNoOutput) {
  Sandbox box;
  const std::string cards = ReadAll(Example("cards.zrBase"));
  WriteAll(box.File("cards.zrBase"), cards);
  WriteAll(box.File("text.zrBase"), "this is not a packet\n");
  WriteAll(box.File("short.zrBase"), cards.substr(0, cards.size() / 2));
  WriteAll(box.File("badvalue.tsv"), "Name\tMana\nBolt\tx\n");
  WriteAll(box.File("badchar.tsv"), "Name\tMana\n\xD0\x96uk\t1\n");
  WriteAll(box.File("short.tsv"), "Name\tMana\nBolt\n");
  const auto before = box.Files();
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args) args.push_back(a[0] == '@' ? box.File(a.substr(1)) : a);
  const Result r = box.Run(args, GetParam().input);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  std::string expected = GetParam().message;
  if (!expected.empty() && expected.back() == '*') {
    expected.pop_back();
    EXPECT_EQ(r.err.rfind(expected, 0), 0u) << r.err;
  } else {
    // Paths in messages are the sandbox's: compare with them put back.
    std::string err = r.err;
    const std::string dir = box.File("");
    for (std::size_t p; (p = err.find(dir)) != std::string::npos;) err.replace(p, dir.size(), "@");
    EXPECT_EQ(err, expected + "\n");
  }
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(box.Files(), before) << "an output file was left behind";
  EXPECT_TRUE(ReadAll(box.File("cards.zrBase")) == cards) << "the input changed";
}

const std::vector<std::string> kTwoFields = {"--field", "Name:string:10", "--field", "Mana:integer"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ZrbaseBadInputTest,
    ::testing::Values(
        BadCase{"MissingFile", {"dump", "@absent.zrBase"}, "", "zrbase: clTable: *"},
        BadCase{"NotAPacket", {"info", "@text.zrBase"}, "", "zrbase: clTable: *"},
        BadCase{"TruncatedPacket", {"count", "@short.zrBase"}, "", "zrbase: clTable: *"},
        BadCase{"TruncatedPacketConvert", {"convert", "@short.zrBase", "@out.zrBase"}, "", "zrbase: clTable: *"},
        BadCase{"UnknownSortField", {"dump", "@cards.zrBase", "--sort", "Colour"}, "",
                "zrbase: clTable: Field 'Colour' not found"},
        BadCase{"UnknownLocateField", {"locate", "@cards.zrBase", "Colour", "x"}, "",
                "zrbase: clTable: Field 'Colour' not found"},
        BadCase{"UnknownFilterField", {"count", "@cards.zrBase", "--filter", "Colour='W'"}, "",
                "zrbase: clTable: Field 'Colour' not found"},
        BadCase{"BadFilter", {"dump", "@cards.zrBase", "--filter", "Name ="}, "",
                "zrbase: clTable: Expression expected but nothing found"},
        BadCase{"BadFilterConstant", {"count", "@cards.zrBase", "--filter", "Mana = 'x'"}, "",
                "zrbase: clTable: 'x' is not a valid integer value"},
        BadCase{"ValueFieldCannotTake",
                {"create", "@new.zrBase", "--field", "Name:string:10", "--field", "Mana:integer",
                 "--rows", "@badvalue.tsv"}, "", "zrbase: clTable: 'x' is not a valid integer value"},
        BadCase{"CharacterOutsideCodePage",
                {"create", "@new.zrBase", "--field", "Name:string:10", "--field", "Mana:integer",
                 "--rows", "@badchar.tsv"}, "",
                "zrbase: the value of field 'Name' holds U+0416, which Windows-1252 cannot hold"},
        BadCase{"ShortTsvLine",
                {"create", "@new.zrBase", "--field", "Name:string:10", "--field", "Mana:integer",
                 "--rows", "@short.tsv"}, "", "zrbase: @short.tsv:2: 1 values for 2 fields"},
        BadCase{"TooLongText", {"edit", "@cards.zrBase", "@out.zrBase"},
                "set 1 Color ABCD\n", "zrbase: clTable: Text too long for field 'Color' (3 characters)"},
        BadCase{"EditValue", {"edit", "@cards.zrBase", "@out.zrBase"}, "set 1 Mana many\n",
                "zrbase: clTable: 'many' is not a valid integer value"},
        BadCase{"EditRecordBeyondCount", {"edit", "@cards.zrBase", "@out.zrBase"}, "delete 999\n",
                "zrbase: clTable: *"},
        BadCase{"EditUnknownStep", {"edit", "@cards.zrBase", "@out.zrBase"}, "frobnicate 1\n",
                "zrbase: step 1: unknown editing step 'frobnicate 1'"},
        BadCase{"UnwritableOutput", {"convert", "@cards.zrBase", "@no/such/dir/out.zrBase"}, "",
                "zrbase: *"},
        BadCase{"OutputIsInput", {"convert", "@cards.zrBase", "@cards.zrBase"}, "",
                "zrbase: the output file @cards.zrBase is the input file"},
        BadCase{"UnknownKind", {"create", "@new.zrBase", "--field", "X:colour"}, "",
                "zrbase: unknown field kind 'colour' in 'X:colour'"},
        BadCase{"MissingSize", {"create", "@new.zrBase", "--field", "X:string"}, "",
                "zrbase: field 'X' of kind string needs a size"},
        BadCase{"UnknownOption", {"count", "@cards.zrBase", "--fast"}, "", "zrbase: unknown option --fast*"},
        BadCase{"ComingCommand", {"batch", "@cards.zrBase", "@out.zrBase"}, "",
                "zrbase: command 'batch' is not available yet"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.title); });

TEST(ZrbaseHelpTest, HelpListsCommandsAndComingOnes) {
  Sandbox box;
  Result r = box.Run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* c : {"info", "dump", "count", "locate", "convert", "create", "edit", "batch",
                        "cardtext", "cleanup", "export-mdb", "import-mdb"}) {
    EXPECT_NE(r.out.find(c), std::string::npos) << c;
  }
  r = box.Run({"dump", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--sort-case-insensitive"), std::string::npos);
}

}  // namespace
}  // namespace zelvo::zrbase::testing
