// The XML packet writer: exact documents for the documented cases, the attribute forms of
// parameters, nested tables, character handling, and the calls XML refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fields/type_word.h"
#include "packet/data_packet.h"
#include "packet/xml_names.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

using testing::Column;

constexpr std::uint32_t kStr1 = 0x00490001;
constexpr std::uint32_t kUInt16 = 0x00020002;
constexpr std::uint32_t kInt32 = 0x00010004;
constexpr std::uint32_t kInt16 = 0x00010002;
constexpr std::string_view kProlog = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";
constexpr std::string_view kPrologUtf8 =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>  ";

Ref<TDATAPACKET_WRITE> Writer(std::uint32_t mode = kXmlMode) {
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  EXPECT_EQ(w->SetTextMode(mode), DBResult::kOk);
  return w;
}

DBResult PutRowState(TDATAPACKET_WRITE* w, std::uint8_t state = 0) {
  return w->PutValue(kItemValue, 1, &state);
}

DBResult PutText(TDATAPACKET_WRITE* w, std::string_view text) {
  return w->PutValue(kItemValue, static_cast<std::uint32_t>(text.size()), text.data());
}

std::string Finish(TDATAPACKET_WRITE* w, DBResult expected = DBResult::kOk) {
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), expected);
  return std::string(reinterpret_cast<const char*>(packet.data()), packet.size());
}

// One column of `type` and one row holding `value` (null when `value` is null).
std::string OneValue(std::uint32_t type, const void* value, std::uint32_t length,
                     std::uint32_t mode = kXmlMode) {
  auto w = Writer(mode);
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(Column("V", type)), DBResult::kOk);
  EXPECT_EQ(PutRowState(w.get()), DBResult::kOk);
  EXPECT_EQ(w->PutValue(value == nullptr ? kItemNull : kItemValue, length, value), DBResult::kOk);
  const std::string xml = Finish(w.get());
  const std::size_t at = xml.find("<ROWDATA>");
  const std::size_t end = xml.find("/>", at);
  if (at == std::string::npos || end == std::string::npos) return xml;
  return xml.substr(at + 9, end + 2 - at - 9);
}

TEST(XmlWriter, NameAbcExampleIsWrittenExactly) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Name", kStr1)), DBResult::kOk);
  const std::uint16_t width = 20;
  ASSERT_EQ(w->AddParameter(kParamColumn, "WIDTH", kUInt16, 2, &width), DBResult::kOk);
  ASSERT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  ASSERT_EQ(PutText(w.get(), "abc"), DBResult::kOk);
  EXPECT_EQ(w->GetTextMode(), kXmlMode);
  const std::string xml = Finish(w.get());
  if (std::getenv("ZELVO_WRITE_FUZZ_SEEDS") != nullptr) {
    std::ofstream(std::string(ZELVO_FUZZ_CORPUS_DIR) + "/xml_packet/name_abc", std::ios::binary)
        << xml;
  }
  EXPECT_EQ(xml,
            std::string(kProlog) +
                "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/>"
                "</METADATA><ROWDATA><ROW Name=\"abc\"/></ROWDATA></DATAPACKET>");
}

TEST(XmlWriter, Utf8ModeNamesItsEncoding) {
  auto w = Writer(kXmlModeUtf8);
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Name", kStr1)), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  ASSERT_EQ(PutText(w.get(), "\xE9"), DBResult::kOk);
  EXPECT_EQ(Finish(w.get()),
            std::string(kPrologUtf8) +
                "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                "<FIELD attrname=\"Name\" fieldtype=\"string\"/></FIELDS><PARAMS/></METADATA>"
                "<ROWDATA><ROW Name=\"\xC3\xA9\"/></ROWDATA></DATAPACKET>");
}

TEST(XmlWriter, CharactersAreEscapedAndBytesAbove127Referenced) {
  EXPECT_EQ(OneValue(kStr1, "a<b", 3), "<ROW V=\"a&lt;b\"/>");
  EXPECT_EQ(OneValue(kStr1, "\xE9", 1), "<ROW V=\"&#233;\"/>");
  EXPECT_EQ(OneValue(kStr1, "\xE9", 1, kXmlModeUtf8), "<ROW V=\"\xC3\xA9\"/>");
  EXPECT_EQ(OneValue(kStr1, "\"'&>\\", 5), "<ROW V=\"&quot;&apos;&amp;&gt;&#092;\"/>");
}

TEST(XmlWriter, NullAndUnchangedValuesLeaveTheirAttributeOut) {
  EXPECT_EQ(OneValue(kInt32, nullptr, 0), "<ROW/>");
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 2), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("A", kInt32)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("B", kInt32)), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get(), 8), DBResult::kOk);
  const std::int32_t v = 5;
  ASSERT_EQ(w->PutValue(kItemUnchanged, 0, nullptr), DBResult::kOk);
  ASSERT_EQ(w->PutValue(kItemValue, 4, &v), DBResult::kOk);
  const std::string xml = Finish(w.get());
  EXPECT_NE(xml.find("<ROWDATA><ROW RowState=\"8\" B=\"5\"/></ROWDATA>"), std::string::npos) << xml;
}

TEST(XmlWriter, TimeAndMidnightDateTimeForms) {
  const std::int32_t five_seconds = 5000;
  EXPECT_EQ(OneValue(MakeType(PT_TIME, 4), &five_seconds, 4), "<ROW V=\"00:00:05000\"/>");
  const double midnight = 730120.0 * 86400000.0;
  EXPECT_EQ(OneValue(MakeType(PT_DATETIME, 8), &midnight, 8), "<ROW V=\"20000101\"/>");
}

TEST(XmlWriter, ColumnNamesBecomeAttributeNames) {
  struct Case {
    std::vector<const char*> names;
    std::string fields;
  };
  const Case cases[] = {
      {{"Unit Price"}, "<FIELD fieldname=\"Unit Price\" attrname=\"Unit_Price\""},
      {{"a!b#c$d%e(f)g*h?i"},
       "<FIELD fieldname=\"a!b#c$d%e(f)g*h?i\" attrname=\"a_b_c_d_e_f_g_h_i\""},
      {{"Cost/Mana"}, "<FIELD fieldname=\"Cost/Mana\" attrname=\"Cost_Mana\""},
      {{"1st"}, "<FIELD fieldname=\"1st\" attrname=\"_1st\""},
      {{"Pr\xE9is"}, "<FIELD fieldname=\"Pr&#233;is\" attrname=\"Pr_is\""},
      {{""}, "<FIELD fieldname=\"\" attrname=\"xF0\""},
      {{"A B", "A_B"},
       "<FIELD fieldname=\"A B\" attrname=\"A_B\" fieldtype=\"i4\"/>"
       "<FIELD fieldname=\"A_B\" attrname=\"xF1\""},
      {{"Name.Old", "x-y"},
       "<FIELD attrname=\"Name.Old\" fieldtype=\"i4\"/><FIELD attrname=\"x-y\""},
  };
  for (const Case& c : cases) {
    auto w = Writer();
    ASSERT_EQ(w->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(c.names.size())),
              DBResult::kOk);
    for (const char* name : c.names) ASSERT_EQ(w->AddColumn(Column(name, kInt32)), DBResult::kOk);
    ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const std::int32_t v = static_cast<std::int32_t>(i);
      ASSERT_EQ(w->PutValue(kItemValue, 4, &v), DBResult::kOk);
    }
    const std::string xml = Finish(w.get());
    EXPECT_NE(xml.find("<FIELDS>" + c.fields), std::string::npos) << xml;
    // The document reads back with the columns' own names.
    auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
    ASSERT_EQ(r->OpenPacket(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size()),
              DBResult::kOk)
        << xml;
    for (const char* name : c.names) {
      ColumnDesc column;
      ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
      EXPECT_STREQ(column.name, name);
      char param[256];
      std::uint32_t type = 0, length = 0;
      EXPECT_EQ(r->NextParameter(param, &type, &length, nullptr), DBResult::kAfterLast);
    }
    std::string trace;
    ASSERT_EQ(testing::ReadWholePacket(reinterpret_cast<const std::uint8_t*>(xml.data()),
                                       xml.size(), &trace),
              DBResult::kOk);
    EXPECT_NE(trace.find(" [00] [00 00 00 00]"), std::string::npos) << trace;
  }
}

TEST(XmlWriter, ParametersTakeTheirAttributeOrElementForm) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 2), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Flags", MakeType(PT_BYTES, 4), 0x000F)), DBResult::kOk);
  const char subtype[] = "Guid";
  ASSERT_EQ(w->AddParameter(kParamColumn, "SUBTYPE", 0x00490002, sizeof(subtype), subtype),
            DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Price", MakeType(PT_FLOAT, 8))), DBResult::kOk);
  const std::uint16_t one = 1;
  ASSERT_EQ(w->AddParameter(kParamColumn, "CALCULATED", kUInt16, 2, &one), DBResult::kOk);
  const double min = 0.5;
  ASSERT_EQ(w->AddParameter(kParamColumn, "MINVALUE", MakeType(PT_FLOAT, 8), 8, &min),
            DBResult::kOk);
  const std::int32_t lcid = 1033;
  // An LCID of 4 bytes would not fit the 2-byte attribute form: it keeps its own type.
  ASSERT_EQ(w->AddParameter(kParamTable, "LCID", kInt32, 4, &lcid), DBResult::kOk);
  const std::uint8_t order[] = {1, 0, 0, 0, 2, 0x80};
  ASSERT_EQ(w->AddParameter(kParamTable, "DEFAULT_ORDER", 0x00820002, sizeof(order), order),
            DBResult::kOk);
  ASSERT_EQ(w->AddParameter(kParamTable, "DEFAULT_ORDER", 0x00820002, sizeof(order), order),
            DBResult::kOk);
  const std::int16_t mode = 3;
  ASSERT_EQ(w->AddParameter(kParamTable, "UPDATEMODE", kInt16 | kTypeRoundtrip, 2, &mode),
            DBResult::kOk);
  const char label[] = "A \"quoted\" label";
  ASSERT_EQ(w->AddParameter(kParamTable, "LABEL", 0x00490001, sizeof(label) - 1, label),
            DBResult::kOk);
  const std::string xml = Finish(w.get());
  EXPECT_NE(xml.find("<FIELDS><FIELD attrname=\"Flags\" fieldtype=\"bin.hex\" readonly=\"true\" "
                     "required=\"true\" hidden=\"true\" linkfield=\"true\" WIDTH=\"4\" "
                     "SUBTYPE=\"Guid\"/>"
                     "<FIELD attrname=\"Price\" fieldtype=\"r8\" CALCULATED=\"1\" "
                     "MINVALUE=\"0.5\"/></FIELDS>"
                     "<PARAMS DEFAULT_ORDER=\"32770\">"
                     "<PARAM Name=\"LCID\" Value=\"1033\" Type=\"i4\"/>"
                     "<PARAM Name=\"DEFAULT_ORDER\" Value=\"32770\" Type=\"UIntArray\"/>"
                     "<PARAM Name=\"UPDATEMODE\" Value=\"3\" Type=\"i2\" Roundtrip=\"True\"/>"
                     "<PARAM Name=\"LABEL\" Value=\"A &quot;quoted&quot; label\"/></PARAMS>"),
            std::string::npos)
      << xml;
  std::string trace;
  ASSERT_EQ(testing::ReadWholePacket(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size(),
                                     &trace),
            DBResult::kOk);
  EXPECT_EQ(trace,
            "column Flags type=004B0001 attr=001F\n"
            "  column param WIDTH type=00010002 len=2 04 00\n"
            "  column param SUBTYPE type=00490001 len=5 47 75 69 64 00\n"
            "column Price type=00040008 attr=0010\n"
            "  column param CALCULATED type=00030002 len=2 01 00\n"
            "  column param MINVALUE type=00490001 len=4 30 2E 35 00\n"
            "  table param DEFAULT_ORDER type=00820004 len=8 01 00 00 00 02 80 00 00\n"
            "  table param LCID type=00010004 len=4 09 04 00 00\n"
            "  table param DEFAULT_ORDER type=00820004 len=8 01 00 00 00 02 80 00 00\n"
            "  table param UPDATEMODE type=80010002 len=2 03 00\n"
            "  table param LABEL type=00490001 len=17 41 20 22 71 75 6F 74 65 64 22 20 6C 61 62 "
            "65 6C 00\n"
            "\n");
}

TEST(XmlWriter, RowsOnlyPacketsHaveNoMetadata) {
  auto w = Writer();
  const ColumnDesc columns[] = {Column("Unit Price", kInt32), Column("S", kStr1)};
  ASSERT_EQ(w->BeginRowPacket(kPacketVersion, 2, columns), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  const std::int32_t v = 4;
  ASSERT_EQ(w->PutValue(kItemValue, 4, &v), DBResult::kOk);
  ASSERT_EQ(PutText(w.get(), "x"), DBResult::kOk);
  EXPECT_EQ(Finish(w.get()), std::string(kProlog) +
                                 "<DATAPACKET Version=\"2.0\"><ROWDATA>"
                                 "<ROW Unit_Price=\"4\" S=\"x\"/></ROWDATA></DATAPACKET>");
  // Text mode 1 writes no metadata for a full packet either; no rows give an empty ROWDATA.
  auto w1 = Writer(1);
  ASSERT_EQ(w1->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w1->AddColumn(Column("A", kInt32)), DBResult::kOk);
  EXPECT_EQ(Finish(w1.get()),
            std::string(kProlog) + "<DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>");
}

TEST(XmlWriter, RefusesWhatXmlCannotCarryAtTheCallThatBringsIt) {
  struct Case {
    const char* what;
    DBResult (*run)(TDATAPACKET_WRITE*);
    DBResult expected;
  };
  const Case cases[] = {
      {"64-bit integer column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(PT_INT, 8)));
       },
       DBResult::kXmlBadValue},
      {"64-bit unsigned column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(PT_UINT, 8)));
       },
       DBResult::kXmlBadValue},
      {"10-byte float column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(PT_FLOAT, 10)));
       },
       DBResult::kXmlBadValue},
      {"structure column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 2);
         return w->AddColumn(Column("V", MakeType(PT_STRUCT, 1) | kTypeComposite));
       },
       DBResult::kXmlBadValue},
      {"array column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 2);
         return w->AddColumn(Column("V", MakeType(PT_ARRAY, 2) | kTypeComposite));
       },
       DBResult::kXmlBadValue},
      {"reference column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(PT_REF, 8)));
       },
       DBResult::kXmlBadValue},
      {"opaque column",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(0, 6)));
       },
       DBResult::kXmlBadValue},
      {"base type 19",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->AddColumn(Column("V", MakeType(19, 4)));
       },
       DBResult::kXmlBadValue},
      {"64-bit column of a rows-only packet",
       [](TDATAPACKET_WRITE* w) {
         const ColumnDesc c = Column("V", MakeType(PT_INT, 8));
         return w->BeginRowPacket(kPacketVersion, 1, &c);
       },
       DBResult::kXmlBadValue},
      {"64-bit parameter",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         (void)w->AddColumn(Column("V", kInt32));
         const std::int64_t v = 1;
         return w->AddParameter(kParamTable, "P", MakeType(PT_INT, 8), 8, &v);
       },
       DBResult::kXmlBadValue},
      {"array parameter of floats",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         (void)w->AddColumn(Column("V", kInt32));
         const std::uint8_t v[12] = {1};
         return w->AddParameter(kParamTable, "P", MakeType(PT_FLOAT, 8) | kTypeArray, 12, v);
       },
       DBResult::kXmlBadValue},
      {"blob that was not fetched",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         (void)w->AddColumn(Column("V", MakeVaryingType(PT_BYTES, 4)));
         (void)PutRowState(w);
         const std::uint8_t none = 0;
         return w->PutValue(kItemValue, 0x80000010, &none);
       },
       DBResult::kXmlNegativeLength},
      {"nested rows that were not fetched",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 2);
         (void)w->AddColumn(Column("L", MakeType(PT_NESTED, 1)));
         (void)w->AddColumn(Column("Q", kInt32));
         (void)PutRowState(w);
         const std::uint32_t count = 0x80000000;
         return w->PutValue(kItemValue, 4, &count);
       },
       DBResult::kXmlNegativeLength},
      {"text mode after the start",
       [](TDATAPACKET_WRITE* w) {
         (void)w->BeginPacket(kPacketVersion, 1);
         return w->SetTextMode(0);
       },
       DBResult::kWrongState},
  };
  for (const Case& c : cases) {
    auto w = Writer();
    EXPECT_EQ(c.run(w.get()), c.expected) << c.what;
  }
  // The same calls are fine in binary.
  auto binary = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  ASSERT_EQ(binary->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  EXPECT_EQ(binary->AddColumn(Column("V", MakeType(PT_INT, 8))), DBResult::kOk);
}

TEST(XmlWriter, ValuesXmlCannotHoldFailTheFinish) {
  auto w = Writer();
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("S", kStr1)), DBResult::kOk);
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  ASSERT_EQ(PutText(w.get(), "bell\x07"), DBResult::kOk);
  EXPECT_EQ(Finish(w.get(), DBResult::kXmlBadValue), "");
  EXPECT_EQ(w->GetColumnCount(), 0u) << "the writer is released as after any finish";
}

TEST(XmlWriter, NestedTablesAreElementsOfTheirRow) {
  auto w = Writer();
  const std::uint32_t nested = MakeType(PT_NESTED, 1) | kTypeComposite | kTypeNestedColumn;
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 4), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Id", kInt32)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Card Lines", nested)), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Q", kInt16)), DBResult::kOk);
  const std::int32_t p = 1;
  ASSERT_EQ(w->AddParameter(kParamTable, "INNER", kInt32, 4, &p), DBResult::kOk);
  ASSERT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Tail", kInt32)), DBResult::kOk);
  auto put32 = [&](std::uint32_t v) { ASSERT_EQ(w->PutValue(kItemValue, 4, &v), DBResult::kOk); };
  ASSERT_EQ(PutRowState(w.get()), DBResult::kOk);
  put32(7);
  put32(0xFFFFFFFF);  // counted later
  for (std::int16_t q : {1, 2}) {
    ASSERT_EQ(PutRowState(w.get(), 4), DBResult::kOk);
    ASSERT_EQ(w->PutValue(kItemValue, 2, &q), DBResult::kOk);
  }
  ASSERT_EQ(w->CloseNestedRows(), DBResult::kOk);
  put32(9);
  EXPECT_EQ(Finish(w.get()),
            std::string(kProlog) +
                "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
                "<FIELD attrname=\"Id\" fieldtype=\"i4\"/>"
                "<FIELD fieldname=\"Card Lines\" attrname=\"Card_Lines\" fieldtype=\"nested\">"
                "<FIELDS><FIELD attrname=\"Q\" fieldtype=\"i2\"/></FIELDS>"
                "<PARAMS><PARAM Name=\"INNER\" Value=\"1\" Type=\"i4\"/></PARAMS></FIELD>"
                "<FIELD attrname=\"Tail\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA>"
                "<ROWDATA><ROW Id=\"7\" Tail=\"9\"><Card_Lines>"
                "<ROWCard_Lines RowState=\"4\" Q=\"1\"/><ROWCard_Lines RowState=\"4\" Q=\"2\"/>"
                "</Card_Lines></ROW></ROWDATA></DATAPACKET>");
}

TEST(XmlWriter, TextModeWithoutTextOutputMarksABinaryPacket) {
  auto w = Writer(kXmlMetadata);
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("A", kInt32)), DBResult::kOk);
  PacketBytes packet;
  ASSERT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
  ASSERT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
  EXPECT_EQ(r->Header().flags, kHeaderMetadata | kHeaderRowOffset | kHeaderXml);
  EXPECT_EQ(r->GetTextMode(), 0u);
}

TEST(XmlWriter, OutOfMemoryFailsCleanlyAtEveryAllocation) {
  const std::int64_t live_before = RefCounted::LiveObjects();
  const std::string text(200, 'q');
  DBResult last = DBResult::kOutOfMemory;
  int failing_call = 1;
  for (; last != DBResult::kOk && failing_call < 200; ++failing_call) {
    ByteBuffer::FailAllocationForTesting(failing_call);
    auto w = Writer();
    last = w->BeginPacket(kPacketVersion, 1);
    if (Ok(last)) last = w->AddColumn(Column("S", kStr1));
    for (int row = 0; Ok(last) && row < 2000; ++row) {
      last = PutRowState(w.get());
      if (Ok(last)) last = PutText(w.get(), text);
    }
    PacketBytes packet;
    if (Ok(last)) last = w->FinishPacket(&packet);
    EXPECT_TRUE(last == DBResult::kOk || last == DBResult::kOutOfMemory) << Code(last);
    if (Ok(last)) {
      auto r = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
      ByteBuffer::FailAllocationForTesting(0);
      EXPECT_EQ(r->OpenPacket(packet.data(), packet.size()), DBResult::kOk);
    }
  }
  ByteBuffer::FailAllocationForTesting(0);
  EXPECT_EQ(last, DBResult::kOk);
  EXPECT_GT(failing_call, 5) << "writing took several allocations";
  EXPECT_EQ(RefCounted::LiveObjects(), live_before);
}

}  // namespace
}  // namespace zelvo
