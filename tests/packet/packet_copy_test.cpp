// The packet copier: binary -> XML -> binary gives back the packet a table wrote, changed
// only where the XML form itself changes it; XML -> binary -> XML gives back the same text.
#include "packet/packet_copy.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fields/bcd.h"
#include "fields/dates.h"
#include "fields/field_types.h"
#include "fields/type_word.h"
#include "packet/xml_names.h"
#include "packet_test_util.h"

namespace zelvo {
namespace {

using testing::Bytes;
using testing::Hex;

constexpr std::uint32_t kUInt16 = 0x00020002;
constexpr std::uint32_t kInt16 = 0x00010002;

DBResult Copy(const Bytes& in, std::uint32_t mode, Bytes* out) {
  PacketBytes packet;
  DBResult r = CopyPacket(in.data(), in.size(), mode, &packet);
  *out = testing::ToBytes(packet);
  return r;
}

void WriteXmlSeed(const std::string& name, const Bytes& xml) {
  if (std::getenv("ZELVO_WRITE_FUZZ_SEEDS") == nullptr) return;
  std::ofstream out(std::string(ZELVO_FUZZ_CORPUS_DIR) + "/xml_packet/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(xml.data()), static_cast<std::streamsize>(xml.size()));
}

template <typename T>
std::string Raw(T v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof(v));
}

// A BCD value of a field of `length` bytes, zero-padded to the 18 bytes a packet holds.
std::string Bcd(const char* text, std::uint32_t precision, std::uint32_t places,
                std::uint32_t length) {
  std::string v(18, '\0');
  EXPECT_EQ(BcdFromText(text, precision, places, reinterpret_cast<std::uint8_t*>(v.data()), length),
            DBResult::kOk);
  return v;
}

std::string Utf16(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

// One parameter as a writer is handed it.
struct Param {
  std::string name;
  std::uint32_t type;
  std::string value;
};

// One column of the sample table: what a table writes for it, and what reading its XML
// form gives back.
struct Spec {
  const char* name;
  std::uint32_t type;
  std::uint32_t type_from_xml;
  std::uint16_t attributes = 0;
  std::vector<Param> params;
  std::vector<Param> params_from_xml;
  std::string values[2];  // rows 0 and 4 hold the first, row 1 the second
};

Param Width(std::uint16_t w) { return {"WIDTH", kUInt16, Raw(w)}; }
Param WidthFromXml(std::uint16_t w) { return {"WIDTH", kInt16, Raw(w)}; }
Param Decimals(std::uint16_t d) { return {"DECIMALS", kUInt16, Raw(d)}; }
Param DecimalsFromXml(std::uint16_t d) { return {"DECIMALS", kInt16, Raw(d)}; }
Param Subtype(const char* name, bool from_xml) {
  return {"SUBTYPE", from_xml ? 0x00490001u : 0x00490002u, std::string(name) + '\0'};
}

// Every field type the XML form can write, with the parameters a table gives it, and values
// that exercise the text forms: escapes, bytes above 127, empty strings, long memos, zero
// bytes in blobs, negative and fractional numbers.
std::vector<Spec> Specs() {
  const std::string memo =
      "Flying\r\nWhen this enters, \"draw\" a card & say <\xE9t\xE9>\t\\ " + std::string(300, 'm');
  std::vector<Spec> s = {
      {"Str",
       0x00490001,
       0x00490001,
       kAttrReadOnly,
       {Width(20)},
       {WidthFromXml(20)},
       {"a<b&c\"d'e\\f\tg\xE9h\x80", std::string(1, '\0')}},
      {"LongStr",
       0x00490002,
       0x00490002,
       kAttrRequired,
       {Width(300)},
       {WidthFromXml(300)},
       {std::string(280, 'L'), "x"}},
      {"Date",
       0x00060004,
       0x00060004,
       0,
       {},
       {},
       {Raw(std::int32_t{730120}), Raw(std::int32_t{0})}},
      {"Bool", 0x00030002, 0x00030002, 0, {}, {}, {Raw(std::uint16_t{1}), Raw(std::uint16_t{0})}},
      {"I16",
       0x00010002,
       0x00010002,
       kAttrHidden,
       {},
       {},
       {Raw(std::int16_t{-32768}), Raw(std::int16_t{7})}},
      {"I32",
       0x00010004,
       0x00010004,
       0,
       {},
       {},
       {Raw(std::int32_t{-123456789}), Raw(std::int32_t{0})}},
      {"Float", 0x00040008, 0x00040008, 0, {}, {}, {Raw(0.1 + 0.2), Raw(-1.5e-300)}},
      {"Bcd",
       0x00050007,
       0x00050020,
       0,
       {Decimals(2), Width(10)},
       {DecimalsFromXml(2), WidthFromXml(10)},
       {Bcd("-1234.5", 10, 2, 7), Bcd("0.05", 10, 2, 7)}},
      {"Bytes",
       0x000B0005,
       0x004B0001,
       0,
       {},
       {WidthFromXml(5)},
       {std::string("\x00\x01\xFE\xFF\x7F", 5), std::string(5, '\0')}},
      {"Time",
       0x00070004,
       0x00070004,
       0,
       {},
       {},
       {Raw(std::int32_t{49512345}), Raw(std::int32_t{0})}},
      {"DateTime",
       0x00080008,
       0x00080008,
       0,
       {},
       {},
       {Raw(JoinDateTime(730120, 49512345)), Raw(JoinDateTime(730120, 0))}},
      {"U16",
       0x00020002,
       0x00020002,
       0,
       {},
       {},
       {Raw(std::uint16_t{65535}), Raw(std::uint16_t{1})}},
      {"U32",
       0x00020004,
       0x00020004,
       0,
       {},
       {},
       {Raw(std::uint32_t{4000000000u}), Raw(std::uint32_t{2})}},
      {"VarB",
       0x004B0001,
       0x004B0001,
       0,
       {Width(10)},
       {WidthFromXml(10)},
       {std::string("\x00\xFF\x10", 3), "z"}},
      {"Stamp",
       0x00110010,
       0x00110010,
       0,
       {Subtype("Formatted", false)},
       {Subtype("Formatted", true)},
       {Raw(std::array<std::uint16_t, 6>{2024, 2, 29, 23, 59, 58}) + Raw(std::uint32_t{999}),
        Raw(std::array<std::uint16_t, 6>{1999, 12, 31, 0, 0, 0}) + Raw(std::uint32_t{0})}},
      {"FmtBcd",
       0x0012000C,
       0x00120020,
       0,
       {Decimals(4), Width(20)},
       {DecimalsFromXml(4), WidthFromXml(20)},
       {Bcd("12345678.9", 20, 4, 12), Bcd("-0.0001", 20, 4, 12)}},
      {"I8", 0x00010001, 0x00010001, 0, {}, {}, {Raw(std::int8_t{-128}), Raw(std::int8_t{127})}},
      {"U8", 0x00020001, 0x00020001, 0, {}, {}, {Raw(std::uint8_t{200}), Raw(std::uint8_t{0})}},
      {"Wide",
       0x004A0001,
       0x004A0001,
       0,
       {Width(20)},
       {WidthFromXml(20)},
       {Utf16(u"\u00E9\u20AC\U0001F600<"), Utf16(u"w")}},
      {"Memo",
       0x004B0004,
       0x004B0004,
       0,
       {Subtype("Text", false)},
       {Subtype("Text", true)},
       {memo, "short"}},
      {"Blob",
       0x004B0004,
       0x004B0004,
       0,
       {Subtype("Binary", false)},
       {Subtype("Binary", true)},
       {std::string(1000, '\0') + "\x01\x02", std::string("\xFF", 1)}},
      {"Unit Price",
       0x00040008,
       0x00040008,
       0,
       {{"DISPLAYLABEL", 0x00490001, {"Price\0", 6}}},
       {{"DISPLAYLABEL", 0x00490001, {"Price\0", 6}}},
       {Raw(12.5), Raw(1e16)}},
  };
  return s;
}

std::vector<Param> TableParams(bool from_xml) {
  std::vector<Param> p;
  std::string order = Raw(std::uint32_t{2});
  if (from_xml)
    order += Raw(std::uint32_t{1}) + Raw(std::uint32_t{0x8002});
  else
    order += Raw(std::uint16_t{1}) + Raw(std::uint16_t{0x8002});
  p.push_back({"DEFAULT_ORDER", from_xml ? 0x00820004u : 0x00820002u, order});
  std::string log = Raw(std::uint32_t{6});
  for (std::uint32_t v : {5u, 0u, 4u, 4u, 1u, 8u}) log += Raw(v);
  p.push_back({"CHANGE_LOG", 0x00820004, log});
  p.push_back({"AUTOINCVALUE", 0x00010004, Raw(std::int32_t{42})});
  // Kept parameters of other names: PARAM elements with their types and round-trip bit.
  p.push_back({"MYPARAM", 0x80010004, Raw(std::int32_t{-9})});
  p.push_back({"NOTE", 0x00490001, std::string("kept & \xE9\0", 9)});
  p.push_back({"LCID", 0x00010004, Raw(std::int32_t{0x10409})});
  p.push_back({"BLOBP", 0x004B0001, std::string("\x00\x01\x02", 3)});
  return p;
}

// The sample table's packet as a table writes it (`from_xml` false), or as reading its XML
// form gives it back (`from_xml` true).
Bytes SamplePacket(bool from_xml) {
  const std::vector<Spec> specs = Specs();
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  EXPECT_EQ(w->BeginPacket(kPacketVersion, static_cast<std::uint16_t>(specs.size())),
            DBResult::kOk);
  for (const Spec& s : specs) {
    std::uint16_t attributes = s.attributes;
    if (from_xml) attributes |= kAttrXmlAttribute;
    EXPECT_EQ(
        w->AddColumn(testing::Column(s.name, from_xml ? s.type_from_xml : s.type, attributes)),
        DBResult::kOk)
        << s.name;
    for (const Param& p : from_xml ? s.params_from_xml : s.params) {
      EXPECT_EQ(w->AddParameter(kParamColumn, p.name.c_str(), p.type,
                                static_cast<std::uint32_t>(p.value.size()), p.value.data()),
                DBResult::kOk)
          << s.name << " " << p.name;
    }
  }
  for (const Param& p : TableParams(from_xml)) {
    EXPECT_EQ(w->AddParameter(kParamTable, p.name.c_str(), p.type,
                              static_cast<std::uint32_t>(p.value.size()), p.value.data()),
              DBResult::kOk)
        << p.name;
  }
  // Rows: values, other values with empty strings, all null, a modified row whose fields
  // are all unchanged, an inserted row.
  const std::uint8_t states[] = {0, 0, 0, kRowModified, 4};
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(w->PutValue(kItemValue, 1, &states[row]), DBResult::kOk);
    for (const Spec& s : specs) {
      DBResult r;
      if (row == 2) {
        r = w->PutValue(kItemNull, 0, nullptr);
      } else if (row == 3) {
        r = w->PutValue(kItemUnchanged, 0, nullptr);
      } else {
        const std::string& v = s.values[row == 1 ? 1 : 0];
        r = w->PutValue(kItemValue, static_cast<std::uint32_t>(v.size()), v.data());
      }
      EXPECT_EQ(r, DBResult::kOk) << "row " << row << " " << s.name;
    }
  }
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

TEST(PacketCopy, BinaryCopyIsByteIdentical) {
  const Bytes source = SamplePacket(false);
  Bytes copy;
  ASSERT_EQ(Copy(source, 0, &copy), DBResult::kOk);
  EXPECT_EQ(Hex(copy), Hex(source));
}

TEST(PacketCopy, BinaryToXmlToBinaryChangesOnlyWhatXmlChanges) {
  const Bytes source = SamplePacket(false);
  const Bytes expected = SamplePacket(true);
  for (std::uint32_t mode : {kXmlMode, kXmlModeUtf8}) {
    Bytes xml, back;
    ASSERT_EQ(Copy(source, mode, &xml), DBResult::kOk) << mode;
    ASSERT_EQ(Copy(xml, 0, &back), DBResult::kOk) << std::string(xml.begin(), xml.end());
    std::string back_trace, expected_trace;
    ASSERT_EQ(testing::ReadWholePacket(back, &back_trace), DBResult::kOk);
    ASSERT_EQ(testing::ReadWholePacket(expected, &expected_trace), DBResult::kOk);
    EXPECT_EQ(back_trace, expected_trace) << "mode " << mode;
    EXPECT_TRUE(back == expected) << "mode " << mode;
    WriteXmlSeed(mode == kXmlMode ? "sample" : "sample_utf8", xml);
  }
}

TEST(PacketCopy, XmlToBinaryToXmlGivesTheSameText) {
  const Bytes source = SamplePacket(false);
  for (std::uint32_t mode : {kXmlMode, kXmlModeUtf8}) {
    Bytes xml, binary, again;
    ASSERT_EQ(Copy(source, mode, &xml), DBResult::kOk);
    ASSERT_EQ(Copy(xml, 0, &binary), DBResult::kOk);
    ASSERT_EQ(Copy(binary, mode, &again), DBResult::kOk);
    EXPECT_EQ(std::string(again.begin(), again.end()), std::string(xml.begin(), xml.end()));
    // And directly, XML to XML.
    ASSERT_EQ(Copy(xml, mode, &again), DBResult::kOk);
    EXPECT_EQ(std::string(again.begin(), again.end()), std::string(xml.begin(), xml.end()));
  }
}

TEST(PacketCopy, UnwritableColumnsAreRefusedByTheXmlWriter) {
  struct Case {
    const char* what;
    std::uint32_t type;
  };
  for (const Case& c :
       {Case{"64-bit integer", MakeType(PT_INT, 8)}, Case{"64-bit unsigned", MakeType(PT_UINT, 8)},
        Case{"extended float", MakeType(PT_FLOAT, 10)}, Case{"opaque bytes", MakeType(0, 6)}}) {
    auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
    ASSERT_EQ(w->BeginPacket(kPacketVersion, 1), DBResult::kOk);
    ASSERT_EQ(w->AddColumn(testing::Column("V", c.type)), DBResult::kOk) << c.what;
    PacketBytes binary;
    ASSERT_EQ(w->FinishPacket(&binary), DBResult::kOk);
    PacketBytes xml;
    EXPECT_EQ(CopyPacket(binary.data(), binary.size(), kXmlMode, &xml), DBResult::kXmlBadValue)
        << c.what;
    EXPECT_TRUE(xml.empty());
  }
}

// Id, Lines (nested: Text, Qty, Parts (nested: P)), Tail.
Bytes NestedPacket() {
  auto w = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  const std::uint32_t nested2 = MakeType(PT_NESTED, 3) | kTypeComposite | kTypeNestedColumn;
  const std::uint32_t nested1 = MakeType(PT_NESTED, 1) | kTypeComposite | kTypeNestedColumn;
  EXPECT_EQ(w->BeginPacket(kPacketVersion, 7), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Id", 0x00010004)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Lines", nested2)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Text", 0x00490001)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Qty", 0x00010002)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Parts", nested1)), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("P", 0x00010004)), DBResult::kOk);
  const std::int32_t p = 3;
  EXPECT_EQ(w->AddParameter(kParamTable, "INNER", 0x00010004, 4, &p), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, "MIDDLE", 0x00010004, 4, &p), DBResult::kOk);
  EXPECT_EQ(w->AddParameter(kParamTable, nullptr, 0, 0, nullptr), DBResult::kOk);
  EXPECT_EQ(w->AddColumn(testing::Column("Tail", 0x00010004)), DBResult::kOk);
  auto put = [&](std::uint32_t v) { EXPECT_EQ(w->PutValue(kItemValue, 4, &v), DBResult::kOk); };
  auto state = [&]() {
    const std::uint8_t s = 0;
    EXPECT_EQ(w->PutValue(kItemValue, 1, &s), DBResult::kOk);
  };
  auto line = [&](const char* text, std::int16_t qty, std::uint32_t parts) {
    state();
    EXPECT_EQ(w->PutValue(kItemValue, static_cast<std::uint32_t>(std::strlen(text)), text),
              DBResult::kOk);
    EXPECT_EQ(w->PutValue(kItemValue, 2, &qty), DBResult::kOk);
    put(parts);
    for (std::uint32_t i = 0; i < parts; ++i) {
      state();
      put(100 + i);
    }
  };
  state();
  put(1);
  put(2);
  line("a", 1, 2);
  line("b", 2, 0);
  put(10);
  state();
  put(2);
  put(0);
  put(20);
  state();
  put(3);
  put(1);
  line("c", 3, 1);
  EXPECT_EQ(w->PutValue(kItemNull, 0, nullptr), DBResult::kOk);
  PacketBytes packet;
  EXPECT_EQ(w->FinishPacket(&packet), DBResult::kOk);
  return testing::ToBytes(packet);
}

TEST(PacketCopy, NestedTablesTravelThroughXml) {
  const Bytes source = NestedPacket();
  Bytes xml, back, again;
  ASSERT_EQ(Copy(source, kXmlMode, &xml), DBResult::kOk);
  WriteXmlSeed("nested", xml);
  const std::string text(xml.begin(), xml.end());
  EXPECT_NE(text.find("<ROW Id=\"1\" Tail=\"10\"><Lines><ROWLines Text=\"a\" Qty=\"1\"><Parts>"
                      "<ROWParts P=\"100\"/><ROWParts P=\"101\"/></Parts></ROWLines>"
                      "<ROWLines Text=\"b\" Qty=\"2\"/></Lines></ROW>"
                      "<ROW Id=\"2\" Tail=\"20\"/>"
                      "<ROW Id=\"3\"><Lines><ROWLines Text=\"c\" Qty=\"3\"><Parts>"
                      "<ROWParts P=\"100\"/></Parts></ROWLines></Lines></ROW>"),
            std::string::npos)
      << text;
  ASSERT_EQ(Copy(xml, 0, &back), DBResult::kOk) << text;
  std::string original_trace, back_trace;
  ASSERT_EQ(testing::ReadWholePacket(source, &original_trace), DBResult::kOk);
  ASSERT_EQ(testing::ReadWholePacket(back, &back_trace), DBResult::kOk);
  // The rows come back item for item; the columns gain the XML attribute bit.
  EXPECT_EQ(back_trace.substr(back_trace.rfind('\n', back_trace.size() - 2)),
            original_trace.substr(original_trace.rfind('\n', original_trace.size() - 2)));
  EXPECT_NE(back_trace.find("column Lines type=050E0003 attr=0010"), std::string::npos)
      << back_trace;
  EXPECT_NE(back_trace.find("table param INNER"), std::string::npos) << back_trace;
  ASSERT_EQ(Copy(back, kXmlMode, &again), DBResult::kOk);
  EXPECT_EQ(std::string(again.begin(), again.end()), text);
}

TEST(PacketCopy, RefusesPacketsWithoutMetadataAndBadArguments) {
  PacketBytes out;
  const std::string rows_only =
      "<?xml version=\"1.0\"?><DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>";
  EXPECT_EQ(CopyPacket(reinterpret_cast<const std::uint8_t*>(rows_only.data()), rows_only.size(), 0,
                       &out),
            DBResult::kNoMetadata);
  EXPECT_EQ(CopyPacket(nullptr, nullptr, &out), DBResult::kInvalidArgument);
}

}  // namespace
}  // namespace zelvo
