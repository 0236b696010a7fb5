// The XML packet reader: what it accepts, what each row item reads back as, and the codes
// broken documents get. Broken inputs are small inline fixtures, one case per line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fields/type_word.h"
#include "packet/data_packet.h"
#include "packet/packet_copy.h"
#include "packet/xml_names.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

using testing::Column;

constexpr std::string_view kHead = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";

Ref<TDATAPACKET_READ> Reader() { return Ref<TDATAPACKET_READ>::Adopt(NewPacketReader()); }

// Keeps `text` as a seed of the XML fuzz target when ZELVO_WRITE_FUZZ_SEEDS is set.
void MaybeWriteSeed(std::string name, const std::string& text) {
  if (std::getenv("ZELVO_WRITE_FUZZ_SEEDS") == nullptr) return;
  for (char& c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  std::ofstream out(std::string(ZELVO_FUZZ_CORPUS_DIR) + "/xml_packet/" + name, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

DBResult Open(TDATAPACKET_READ* r, const std::string& text) {
  return r->OpenPacket(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The whole packet as the binary test trace (columns, parameters, rows).
DBResult Trace(const std::string& text, std::string* trace) {
  // A copy of exactly the text's size, so that the sanitizer sees any read past it.
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  return testing::ReadWholePacket(bytes.data(), bytes.size(), trace);
}

// A document with the given FIELDS content and ROWDATA content.
std::string Doc(const std::string& fields, const std::string& rows, std::string_view head = kHead) {
  return std::string(head) + "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" + fields +
         "</FIELDS><PARAMS/></METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

// The row items of the only row of a one-column document, as "state:hex".
std::string OnlyValue(const std::string& doc) {
  auto r = Reader();
  EXPECT_EQ(Open(r.get(), doc), DBResult::kOk) << doc;
  std::uint8_t value[256];
  std::uint32_t length = sizeof(value), state = 0;
  EXPECT_EQ(r->NextValue(&length, value, &state), DBResult::kOk) << "row state";
  length = sizeof(value);
  DBResult res = r->NextValue(&length, value, &state);
  EXPECT_TRUE(res == DBResult::kOk || res == DBResult::kValueIsNull) << res;
  EXPECT_EQ(res == DBResult::kValueIsNull, state == kItemNull);
  return std::to_string(state) + ":" + testing::Hex(value, state == kItemValue ? length : 0);
}

TEST(XmlReader, ReadsTheOneRowExample) {
  const std::string doc =
      Doc("<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"20\"/>", "<ROW Name=\"abc\"/>");
  auto r = Reader();
  ASSERT_EQ(Open(r.get(), doc), DBResult::kOk);
  EXPECT_EQ(r->GetTextMode(), kXmlMode);
  EXPECT_EQ(r->Header().column_count, 1);
  EXPECT_EQ(r->Header().row_count, 1u);
  ColumnDesc column;
  ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
  EXPECT_STREQ(column.name, "Name");
  EXPECT_EQ(column.type, MakeVaryingType(PT_STRING, 1));
  EXPECT_EQ(column.attributes, kAttrXmlAttribute) << "values travel in attributes";
  char name[256];
  std::uint32_t type = 0, length = 2;
  std::int16_t width = 0;
  ASSERT_EQ(r->NextParameter(name, &type, &length, &width), DBResult::kOk);
  EXPECT_STREQ(name, "WIDTH");
  EXPECT_EQ(type, MakeType(PT_INT, 2));
  EXPECT_EQ(width, 20);
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_NE(trace.find(" [00] [61 62 63]\n"), std::string::npos) << trace;
}

TEST(XmlReader, TheOneRowExampleIsTheBinaryExampleWithItsXmlMarks) {
  const std::string doc =
      "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
      "<FIELDS><FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS>"
      "<PARAMS/></METADATA><ROWDATA><ROW Name=\"abc\"/></ROWDATA></DATAPACKET>";
  PacketBytes binary;
  ASSERT_EQ(CopyPacket(reinterpret_cast<const std::uint8_t*>(doc.data()), doc.size(), 0, &binary),
            DBResult::kOk);
  // The binary example, with attribute bit 0x0010 (offset 21) and WIDTH as i2 (offset 2D).
  EXPECT_EQ(testing::Hex(binary.data(), binary.size()),
            "96 19 E0 BD 01 00 00 00 18 00 00 00 01 00 01 00 00 00 03 00 00 00 33 00 "
            "04 4E 61 6D 65 01 00 49 00 10 00 01 00 05 57 49 44 54 48 02 00 01 00 14 00 "
            "00 00 00 00 03 61 62 63");
}

TEST(XmlReader, TellsUtf8ModeFromTheProlog) {
  const std::string fields = "<FIELD attrname=\"S\" fieldtype=\"string\"/>";
  for (const char* head : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                           "<?xml version='1.0' encoding = 'utf-8' standalone='yes'?>"}) {
    const std::string doc = Doc(fields, "<ROW S=\"\xC3\xA9\xE2\x82\xAC\"/>", head);
    auto r = Reader();
    ASSERT_EQ(Open(r.get(), doc), DBResult::kOk) << head;
    EXPECT_EQ(r->GetTextMode(), kXmlModeUtf8);
    EXPECT_EQ(OnlyValue(doc), "0:E9 80") << "U+00E9 and the euro sign of code page 1252";
  }
  // Without UTF-8 in the prolog every byte is the character of its number.
  const std::string latin = Doc(fields, "<ROW S=\"\xE9\xC3\xA9\"/>");
  auto r = Reader();
  ASSERT_EQ(Open(r.get(), latin), DBResult::kOk);
  EXPECT_EQ(r->GetTextMode(), kXmlMode);
  EXPECT_EQ(OnlyValue(latin), "0:E9 C3 A9");
  const std::string other =
      Doc(fields, "<ROW S=\"\xE9\"/>", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>");
  EXPECT_EQ(OnlyValue(other), "0:E9");
}

TEST(XmlReader, DecodesEntityAndCharacterReferences) {
  const std::string fields =
      "<FIELD attrname=\"S\" fieldtype=\"string\"/><FIELD attrname=\"W\" "
      "fieldtype=\"string.uni\"/>";
  const std::string doc =
      Doc(fields,
          "<ROW S=\"&lt;&gt;&amp;&apos;&quot;&#233;&#xE9;&#009;&#010;&#013;&#092;\" "
          "W=\"&#8364;&#x1F600;a\"/>");
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("[3C 3E 26 27 22 E9 E9 09 0A 0D 5C] [AC 20 3D D8 00 DE 61 00]"),
            std::string::npos)
      << trace;
}

TEST(XmlReader, AbsentAttributesAreNullOrUnchangedInModifiedRows) {
  const std::string doc =
      Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"/><FIELD attrname=\"B\" fieldtype=\"string\"/>",
          "<ROW A=\"1\"/><ROW RowState=\"8\" A=\"2\"/><ROW RowState=\"4\" B=\"\"/>");
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_NE(trace.find(" [00] [01 00 00 00] null [08] [02 00 00 00] unchanged [04] null [00]\n"),
            std::string::npos)
      << "an empty string stays a value (one zero byte)\n"
      << trace;
}

TEST(XmlReader, AcceptsTheDocumentVariantsTheFormAllows) {
  const std::string field = "<FIELD attrname=\"N\" fieldtype=\"I4\"/>";
  struct Case {
    const char* what;
    std::string doc;
  };
  const Case cases[] = {
      {"no prolog", "<DATAPACKET><METADATA><FIELDS>" + field +
                        "</FIELDS></METADATA><ROWDATA><ROW N=\"7\"/></ROWDATA></DATAPACKET>"},
      {"white space before the first tag",
       " \r\n\t<DATAPACKET><METADATA><FIELDS>" + field +
           "</FIELDS></METADATA><ROWDATA><ROW N=\"7\"/></ROWDATA></DATAPACKET>"},
      {"comments and processing instructions anywhere",
       "<?xml version=\"1.0\"?><!-- a --><?pi x?><DATAPACKET><!-- b --><METADATA><FIELDS>" + field +
           "<?pi?></FIELDS></METADATA><ROWDATA><!-- c --><ROW N=\"7\"><!-- d --></ROW>"
           "</ROWDATA></DATAPACKET><!-- e -->"},
      {"line breaks and indentation",
       "<DATAPACKET>\n  <METADATA>\n    <FIELDS>\n      " + field +
           "\n    </FIELDS>\n  </METADATA>\n  <ROWDATA>\n    <ROW N=\"7\"/>\n  </ROWDATA>\n"
           "</DATAPACKET>\n"},
      {"row elements named ROW and more", Doc(field, "<ROWxyz N=\"7\"/>")},
      {"value in a child element (tagname)",
       Doc("<FIELD tagname=\"N\" fieldtype=\"i4\"/>", "<ROW><N>7</N></ROW>")},
      {"value in CDATA",
       Doc("<FIELD tagname=\"N\" fieldtype=\"i4\"/>", "<ROW><N><![CDATA[7]]></N></ROW>")},
      {"unknown row attributes", Doc(field, "<ROW X=\"1\" N=\"7\" dt=\"y\"/>")},
  };
  for (const Case& c : cases) {
    MaybeWriteSeed(std::string("accept_") + c.what, c.doc);
    std::string trace;
    ASSERT_EQ(Trace(c.doc, &trace), DBResult::kOk) << c.what;
    EXPECT_NE(trace.find(" [07 00 00 00]"), std::string::npos) << c.what << "\n" << trace;
  }
  // A METADATA element alone is a packet without rows.
  std::string trace;
  ASSERT_EQ(Trace("<METADATA><FIELDS>" + field + "</FIELDS></METADATA>", &trace), DBResult::kOk);
  EXPECT_EQ(trace.substr(0, 32), "column N type=00010004 attr=0010");
}

TEST(XmlReader, TypeWordsAreReadCaseInsensitively) {
  struct Case {
    const char* word;
    std::uint32_t type;
  };
  const Case cases[] = {
      {"i1", 0x00010001},      {"I2", 0x00010002},         {"i4", 0x00010004},
      {"i8", 0x00010008},      {"i", 0x00010004},          {"INT", 0x00010004},
      {"ui1", 0x00020001},     {"UI2", 0x00020002},        {"ui4", 0x00020004},
      {"ui8", 0x00020008},     {"ui", 0x00020004},         {"uint", 0x00020004},
      {"Boolean", 0x00030002}, {"r8", 0x00040008},         {"R10", 0x0004000A},
      {"fixed", 0x00050020},   {"FIXEDfmt", 0x00120020},   {"date", 0x00060004},
      {"TIME", 0x00070004},    {"datetime", 0x00080008},   {"sqldatetime", 0x00110010},
      {"STRING", 0x00490001},  {"String.Uni", 0x004A0001}, {"BIN.HEX", 0x004B0004},
      {"struct", 0x010C0000},
  };
  for (const Case& c : cases) {
    const std::string doc =
        Doc(std::string("<FIELD attrname=\"C\" fieldtype=\"") + c.word + "\"/>", "");
    auto r = Reader();
    ASSERT_EQ(Open(r.get(), doc), DBResult::kOk) << c.word;
    ColumnDesc column;
    ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
    EXPECT_EQ(column.type, c.type) << c.word;
  }
}

TEST(XmlReader, VaryingPrefixesFitTheWidthAndTheValues) {
  const std::string long_text(300, 'x');
  struct Case {
    const char* what;
    std::string field;
    std::string row;
    std::uint32_t type;
  };
  const Case cases[] = {
      {"short string", "<FIELD attrname=\"C\" fieldtype=\"string\"/>", "<ROW C=\"a\"/>",
       0x00490001},
      {"long string value", "<FIELD attrname=\"C\" fieldtype=\"string\"/>",
       "<ROW C=\"" + long_text + "\"/>", 0x00490002},
      {"wide string field", "<FIELD attrname=\"C\" fieldtype=\"string\" WIDTH=\"254\"/>", "",
       0x00490002},
      {"bytes of a width", "<FIELD attrname=\"C\" fieldtype=\"bin.hex\" WIDTH=\"10\"/>", "",
       0x004B0001},
      {"bytes without width are a blob", "<FIELD attrname=\"C\" fieldtype=\"bin.hex\"/>", "",
       0x004B0004},
      {"memo", "<FIELD attrname=\"C\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\" WIDTH=\"1\"/>", "",
       0x004B0004},
  };
  for (const Case& c : cases) {
    auto r = Reader();
    ASSERT_EQ(Open(r.get(), Doc(c.field, c.row)), DBResult::kOk) << c.what;
    ColumnDesc column;
    ASSERT_EQ(r->NextColumn(&column), DBResult::kOk);
    EXPECT_EQ(column.type, c.type) << c.what;
  }
}

TEST(XmlReader, MemoValuesAreText) {
  const std::string doc =
      Doc("<FIELD attrname=\"M\" fieldtype=\"bin.hex\" SUBTYPE=\"text\"/>"
          "<FIELD attrname=\"B\" fieldtype=\"bin.hex\"/>",
          "<ROW M=\"AAEC&#233;\" B=\"AAEC\"/>");
  MaybeWriteSeed("memo", doc);
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("[41 41 45 43 E9] [00 01 02]"), std::string::npos) << trace;
}

TEST(XmlReader, ParametersKeepTheirTypesNamesAndRoundTripBit) {
  const std::string doc =
      std::string(kHead) +
      "<DATAPACKET><METADATA><FIELDS><FIELD attrname=\"A\" fieldtype=\"i4\" DISPLAY=\"x\">"
      "<PARAM Name=\"P1\" Value=\"5\" Type=\"ui2\" Roundtrip=\"True\"/></FIELD></FIELDS>"
      "<PARAMS DEFAULT_ORDER=\"1 32770\" LCID=\"1033\" READONLY=\"TRUE\" MINVALUE=\"3\">"
      "<PARAM Name=\"Text &amp; more\" Value=\"v\"/><PARAM Name=\"BIN\" Value=\"AQI=\" "
      "Type=\"bin.hex\"/></PARAMS></METADATA><ROWDATA/></DATAPACKET>";
  MaybeWriteSeed("params", doc);
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_EQ(trace,
            "column A type=00010004 attr=0010\n"
            "  column param DISPLAY type=00490001 len=2 78 00\n"
            "  column param P1 type=80020002 len=2 05 00\n"
            "  table param DEFAULT_ORDER type=00820004 len=12 02 00 00 00 01 00 00 00 02 80 00 00\n"
            "  table param LCID type=00010002 len=2 09 04\n"
            "  table param READONLY type=00030002 len=2 01 00\n"
            "  table param MINVALUE type=00490001 len=2 33 00\n"
            "  table param Text & more type=00490001 len=2 76 00\n"
            "  table param BIN type=004B0001 len=2 01 02\n"
            "\n");
}

TEST(XmlReader, NestedRowsFollowTheirColumnOrder) {
  const std::string doc =
      Doc("<FIELD attrname=\"Id\" fieldtype=\"i4\"/><FIELD attrname=\"L\" fieldtype=\"nested\">"
          "<FIELDS><FIELD attrname=\"Q\" fieldtype=\"i2\"/></FIELDS><PARAMS/></FIELD>"
          "<FIELD attrname=\"Tail\" fieldtype=\"i4\"/>",
          "<ROW Id=\"1\" Tail=\"9\"><L><ROWL Q=\"5\"/><ROWL/></L></ROW><ROW Id=\"2\"/>");
  MaybeWriteSeed("nested_small", doc);
  std::string trace;
  ASSERT_EQ(Trace(doc, &trace), DBResult::kOk);
  EXPECT_NE(trace.find("column L type=050E0001 attr=0010\n  column Q type=00010002"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(" [00] [01 00 00 00] [02 00 00 00] [00] [05 00] [00] null [09 00 00 00]"
                       " [00] [02 00 00 00] [00 00 00 00] null\n"),
            std::string::npos)
      << trace;
}

// Documents the reader refuses, with the code each one gets.
TEST(XmlReader, RefusesBrokenDocumentsWithTheirCodes) {
  const std::string f = "<FIELD attrname=\"A\" fieldtype=\"i4\"/>";
  const std::string nested =
      "<FIELD attrname=\"L\" fieldtype=\"nested\"><FIELDS>" + f + "</FIELDS></FIELD>";
  struct Case {
    const char* what;
    std::string doc;
    DBResult code;
  };
  const Case cases[] = {
      {"no buffer", "", DBResult::kWrongState},
      {"not XML at all", "hello, world", DBResult::kBadPacket},
      {"only white space", "  \n ", DBResult::kBadPacket},
      {"a byte-order mark", "\xEF\xBB\xBF<DATAPACKET/>", DBResult::kBadPacket},
      {"only a prolog", std::string(kHead), DBResult::kBadPacket},
      {"unclosed tag", Doc(f, "<ROW A=\"1\">"), DBResult::kBadPacket},
      {"mismatched tags", Doc(f, "<ROW A=\"1\"></ROWX>"), DBResult::kBadPacket},
      {"unclosed attribute", Doc(f, "<ROW A=\"1/>"), DBResult::kBadPacket},
      {"duplicate attribute", Doc(f, "<ROW A=\"1\" A=\"2\"/>"), DBResult::kBadPacket},
      {"undefined entity", Doc(f, "<ROW A=\"&nbsp;\"/>"), DBResult::kBadPacket},
      {"bad character reference", Doc(f, "<ROW A=\"&#1;\"/>"), DBResult::kBadPacket},
      {"two root elements", Doc(f, "") + "<DATAPACKET/>", DBResult::kBadPacket},
      {"first element not a packet", "<TABLE><ROW/></TABLE>", DBResult::kBadPacket},
      {"empty DATAPACKET", "<DATAPACKET/>", DBResult::kBadPacket},
      {"unknown element in DATAPACKET", "<DATAPACKET><FOO/></DATAPACKET>", DBResult::kBadPacket},
      {"METADATA without FIELDS", "<DATAPACKET><METADATA><PARAMS/></METADATA></DATAPACKET>",
       DBResult::kBadPacket},
      {"two FIELDS", "<METADATA><FIELDS/><FIELDS/></METADATA>", DBResult::kBadPacket},
      {"METADATA after ROWDATA",
       "<DATAPACKET><ROWDATA/><METADATA><FIELDS/></METADATA></DATAPACKET>", DBResult::kNoMetadata},
      {"FIELD without attrname", Doc("<FIELD fieldtype=\"i4\"/>", ""), DBResult::kBadPacket},
      {"FIELD with an empty attrname", Doc("<FIELD attrname=\"\" fieldtype=\"i4\"/>", ""),
       DBResult::kBadPacket},
      {"FIELD without fieldtype", Doc("<FIELD attrname=\"A\"/>", ""), DBResult::kBadPacket},
      {"unknown field type word", Doc("<FIELD attrname=\"A\" fieldtype=\"i3\"/>", ""),
       DBResult::kUnusableType},
      {"two columns with one attribute name", Doc(f + f, ""), DBResult::kBadPacket},
      {"FIELDS inside a plain FIELD",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"><FIELDS/></FIELD>", ""), DBResult::kBadPacket},
      {"other element in FIELDS", Doc("<COLUMN/>", ""), DBResult::kBadPacket},
      {"PARAM without Name",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"><PARAM Value=\"1\"/></FIELD>", ""),
       DBResult::kBadPacket},
      {"PARAM with children",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"><PARAM Name=\"P\"><X/></PARAM></FIELD>", ""),
       DBResult::kBadPacket},
      {"PARAM of an unknown type",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"><PARAM Name=\"P\" Value=\"1\" "
           "Type=\"x\"/></FIELD>",
           ""),
       DBResult::kUnusableType},
      {"PARAM of a type without value",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\"><PARAM Name=\"P\" Type=\"nested\"/></FIELD>",
           ""),
       DBResult::kUnusableType},
      {"parameter value not of its type",
       Doc("<FIELD attrname=\"A\" fieldtype=\"i4\" WIDTH=\"wide\"/>", ""), DBResult::kBadPacket},
      {"array parameter with a word in it",
       "<METADATA><FIELDS/><PARAMS DEFAULT_ORDER=\"1 two\"/></METADATA>", DBResult::kBadPacket},
      {"row element not named ROW", Doc(f, "<RECORD A=\"1\"/>"), DBResult::kBadPacket},
      {"row element in lower case", Doc(f, "<row A=\"1\"/>"), DBResult::kBadPacket},
      {"RowState not a number", Doc(f, "<ROW RowState=\"x\"/>"), DBResult::kBadPacket},
      {"RowState above 255", Doc(f, "<ROW RowState=\"256\"/>"), DBResult::kBadPacket},
      {"unknown child of a row", Doc(f, "<ROW><A>1</A></ROW>"), DBResult::kBadPacket},
      {"nested rows twice", Doc(nested, "<ROW><L/><L/></ROW>"), DBResult::kBadPacket},
      {"nested row not named ROW", Doc(nested, "<ROW><L><X/></L></ROW>"), DBResult::kBadPacket},
      {"rows-only packet opened first", "<DATAPACKET><ROWDATA><ROW/></ROWDATA></DATAPACKET>",
       DBResult::kNoMetadata},
      {"ROWDATA alone", "<ROWDATA/>", DBResult::kNoMetadata},
      {"DOCTYPE", "<!DOCTYPE DATAPACKET [<!ENTITY a \"b\">]>" + Doc(f, ""), DBResult::kBadPacket},
      {"binary signature with format level 4",
       std::string("\x96\x19\xE0\xBD\x04\x00\x00\x00", 8) + Doc(f, ""), DBResult::kBadPacket},
  };
  for (const Case& c : cases) {
    MaybeWriteSeed(std::string("broken_") + c.what, c.doc);
    std::vector<std::uint8_t> bytes(c.doc.begin(), c.doc.end());
    auto r = Reader();
    EXPECT_EQ(r->OpenPacket(bytes.data(), bytes.size()), c.code) << c.what;
    EXPECT_EQ(r->GetTextMode(), 0u) << c.what;
  }
}

TEST(XmlReader, RefusesTooManyLevels) {
  std::string fields = "<FIELD attrname=\"A\" fieldtype=\"i4\"/>";
  for (int level = 0; level < 63; ++level) {
    fields = "<FIELD attrname=\"N\" fieldtype=\"nested\"><FIELDS>" + fields + "</FIELDS></FIELD>";
  }
  auto r = Reader();
  EXPECT_EQ(Open(r.get(), Doc(fields, "")), DBResult::kBadPacket);
}

TEST(XmlReader, RefusesRowsFarSparserThanAnyTable) {
  // Absent attributes cost the text nothing; 2000 columns times 3000 empty rows would ask
  // for six million row items from 100 KB.
  std::string fields;
  for (int c = 0; c < 2000; ++c) {
    fields += "<FIELD attrname=\"c" + std::to_string(c) + "\" fieldtype=\"i4\"/>";
  }
  std::string rows;
  for (int r = 0; r < 3000; ++r) rows += "<ROW/>";
  auto r = Reader();
  EXPECT_EQ(Open(r.get(), Doc(fields, rows)), DBResult::kBadPacket);
  EXPECT_EQ(Open(r.get(), Doc(fields, rows.substr(0, 6 * 1000))), DBResult::kOk);
}

TEST(XmlReader, OutOfMemoryFailsCleanlyAtEveryAllocation) {
  std::string rows;
  for (int r = 0; r < 3000; ++r) rows += "<ROW S=\"" + std::string(100, 'x') + "\"/>";
  const std::string doc = Doc("<FIELD attrname=\"S\" fieldtype=\"string\"/>", rows);
  const std::int64_t live_before = RefCounted::LiveObjects();
  DBResult last = DBResult::kOutOfMemory;
  int failing_call = 1;
  for (; last != DBResult::kOk && failing_call < 200; ++failing_call) {
    ByteBuffer::FailAllocationForTesting(failing_call);
    auto r = Reader();
    last = Open(r.get(), doc);
    EXPECT_TRUE(last == DBResult::kOk || last == DBResult::kOutOfMemory) << Code(last);
    EXPECT_EQ(r->GetTextMode(), Ok(last) ? kXmlMode : 0u);
  }
  ByteBuffer::FailAllocationForTesting(0);
  EXPECT_EQ(last, DBResult::kOk);
  EXPECT_GT(failing_call, 5) << "reading took several allocations";
  EXPECT_EQ(RefCounted::LiveObjects(), live_before);
}

TEST(XmlReader, EveryTruncationOfAValidDocumentFails) {
  const std::string doc = Doc(
      "<FIELD fieldname=\"Unit Price\" attrname=\"Unit_Price\" fieldtype=\"r8\"/>"
      "<FIELD attrname=\"L\" fieldtype=\"nested\"><FIELDS><FIELD attrname=\"Q\" fieldtype=\"i2\">"
      "<PARAM Name=\"P\" Value=\"1\"/></FIELD></FIELDS><PARAMS X=\"1\"/></FIELD>",
      "<ROW Unit_Price=\"1.5\"><L><ROWL Q=\"5\"/></L></ROW><ROW RowState=\"4\"/>");
  std::string whole;
  ASSERT_EQ(Trace(doc, &whole), DBResult::kOk);
  for (std::size_t size = 0; size < doc.size(); ++size) {
    std::string trace;
    EXPECT_NE(Trace(doc.substr(0, size), &trace), DBResult::kOk) << size;
  }
}

TEST(XmlReader, RowPacketsReuseTheFirstPacketsColumns) {
  const std::string first =
      Doc("<FIELD fieldname=\"Unit Price\" attrname=\"UP\" fieldtype=\"i4\"/>"
          "<FIELD attrname=\"S\" fieldtype=\"string\"/>",
          "<ROW UP=\"1\" S=\"a\"/>");
  const std::string rows =
      "<DATAPACKET Version=\"2.0\"><ROWDATA><ROW UP=\"2\"/><ROW S=\"b\" UP=\"3\"/></ROWDATA>"
      "</DATAPACKET>";
  auto r = Reader();
  ASSERT_EQ(Open(r.get(), first), DBResult::kOk);
  ASSERT_EQ(r->OpenRowPacket(reinterpret_cast<const std::uint8_t*>(rows.data()), rows.size()),
            DBResult::kOk);
  std::string items;
  for (;;) {
    std::uint8_t value[16];
    std::uint32_t length = sizeof(value), state = 0;
    DBResult res = r->NextValue(&length, value, &state);
    if (res == DBResult::kAfterLast) break;
    ASSERT_TRUE(res == DBResult::kOk || res == DBResult::kValueIsNull) << res;
    items += state == kItemNull ? " null" : " " + testing::Hex(value, length);
  }
  EXPECT_EQ(items, " 00 02 00 00 00 null 00 03 00 00 00 62");

  // After a binary first packet the attribute names come from the column names.
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
  ASSERT_EQ(w->AddColumn(Column("Unit Price", 0x00010004)), DBResult::kOk);
  PacketBytes binary;
  ASSERT_EQ(w->FinishPacket(&binary), DBResult::kOk);
  auto r2 = Reader();
  ASSERT_EQ(r2->OpenPacket(binary.data(), binary.size()), DBResult::kOk);
  const std::string named = "<ROWDATA><ROW Unit_Price=\"7\"/></ROWDATA>";
  ASSERT_EQ(r2->OpenRowPacket(reinterpret_cast<const std::uint8_t*>(named.data()), named.size()),
            DBResult::kOk);
  std::uint8_t value[16];
  std::uint32_t length = sizeof(value), state = 0;
  ASSERT_EQ(r2->NextValue(&length, value, &state), DBResult::kOk);
  length = sizeof(value);
  ASSERT_EQ(r2->NextValue(&length, value, &state), DBResult::kOk);
  EXPECT_EQ(testing::Hex(value, length), "07 00 00 00");
  // A broken row packet leaves the reader where it was.
  const std::string broken = "<ROWDATA><ROW";
  EXPECT_EQ(r2->OpenRowPacket(reinterpret_cast<const std::uint8_t*>(broken.data()), broken.size()),
            DBResult::kBadPacket);
  EXPECT_EQ(r2->NextValue(&length, value, &state), DBResult::kAfterLast);
}

}  // namespace
}  // namespace zelvo
