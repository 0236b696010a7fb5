// A small card table for table and cursor tests: Name (string 20), Mana (int32),
// Text (memo), Id (auto-increment), with helpers that go through the cursor as a client does.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "packet/data_packet.h"
#include "table/cursor.h"
#include "table/dsbase.h"

namespace zelvo::testing {

enum CardField : std::uint32_t { kName = 1, kMana = 2, kText = 3, kId = 4 };

inline std::vector<FieldDesc> CardFields() {
  std::vector<FieldDesc> fields(4);
  fields[0].SetName("Name");
  fields[0].type = FT_STRING;
  fields[0].units1 = 20;
  fields[1].SetName("Mana");
  fields[1].type = FT_INT32;
  fields[2].SetName("Text");
  fields[2].type = FT_BLOB;
  fields[2].subtype = kSubtypeText;
  fields[3].SetName("Id");
  fields[3].type = FT_INT32;
  fields[3].subtype = kSubtypeAutoinc;
  return fields;
}

// A table with one cursor, both released at the end.
class CardTable {
 public:
  CardTable() : table_(Ref<DSBASE>::Adopt(NewTable())), cursor_(Ref<DSCursor>::Adopt(NewCursor())) {}

  DBResult Define(std::vector<FieldDesc> fields = CardFields()) {
    ZELVO_RETURN_IF_ERROR(
        table_->DefineTable(fields.data(), static_cast<std::uint32_t>(fields.size()), "cards"));
    return Bind();
  }
  DBResult Load(const std::vector<std::uint8_t>& packet) {
    ZELVO_RETURN_IF_ERROR(table_->LoadPacket(packet.data(), packet.size(), true));
    return Bind();
  }
  DBResult Bind() {
    ZELVO_RETURN_IF_ERROR(cursor_->AttachToTable(table_.get()));
    record_.assign(cursor_->record_size(), 0);
    return DBResult::kOk;
  }

  DSBASE* table() { return table_.get(); }
  DSCursor* cursor() { return cursor_.get(); }
  std::vector<std::uint8_t>& record() { return record_; }

  // Inserts a card as the client does: blank buffer, no-record status, fields, post.
  DBResult Insert(const char* name, std::int32_t mana, const char* text = nullptr) {
    ZELVO_RETURN_IF_ERROR(cursor_->BlankRecord(record_.data()));
    (void)cursor_->WriteCursorOption(kCursorStatus, 0);
    ZELVO_RETURN_IF_ERROR(SetFields(name, mana, text));
    return cursor_->AddRecord(record_.data());
  }
  // Reads the current record, changes what is given, posts.
  DBResult Modify(const char* name, std::int32_t mana, const char* text = nullptr) {
    ZELVO_RETURN_IF_ERROR(cursor_->ReadCurrent(record_.data()));
    ZELVO_RETURN_IF_ERROR(SetFields(name, mana, text));
    return cursor_->UpdateCurrent(record_.data());
  }
  DBResult SetFields(const char* name, std::int32_t mana, const char* text) {
    if (name != nullptr) ZELVO_RETURN_IF_ERROR(cursor_->WriteField(record_.data(), kName, name));
    ZELVO_RETURN_IF_ERROR(cursor_->WriteField(record_.data(), kMana, &mana));
    if (text != nullptr) {
      ZELVO_RETURN_IF_ERROR(cursor_->WriteBlob(record_.data(), kText, 0, text,
                                               static_cast<std::uint32_t>(std::strlen(text))));
    }
    return DBResult::kOk;
  }

  // The name of the current record, or "<code>" off a record.
  std::string CurrentName() {
    char name[21] = {};
    std::uint8_t state = 0;
    DBResult r = cursor_->ReadField(nullptr, kName, name, &state);
    if (!Ok(r)) return "<" + std::to_string(Code(r)) + ">";
    return state == kFieldValue ? std::string(name) : "<null>";
  }
  // Every name in the cursor's order, from the top.
  std::string Names() {
    std::string names;
    (void)cursor_->GoBeforeFirst();
    while (cursor_->StepBy(1) == DBResult::kOk) names += (names.empty() ? "" : ",") + CurrentName();
    return names;
  }
  std::string MemoOfCurrent() {
    EXPECT_EQ(cursor_->ReadCurrent(record_.data()), DBResult::kOk);
    std::uint32_t length = 0;
    EXPECT_EQ(cursor_->BlobLength(record_.data(), kText, &length), DBResult::kOk);
    std::string text(length, '\0');
    if (length != 0) {
      EXPECT_EQ(cursor_->ReadBlob(record_.data(), kText, 0, text.data(), &length), DBResult::kOk);
    }
    return text;
  }
  std::uint64_t Changes() {
    std::uint64_t n = 0;
    EXPECT_EQ(table_->ReadTableOption(kOptChangeCount, &n), DBResult::kOk);
    return n;
  }
  std::vector<std::uint8_t> Save() {
    PacketBytes packet;
    EXPECT_EQ(table_->WritePacket(&packet), DBResult::kOk);
    return {packet.data(), packet.data() + packet.size()};
  }

 private:
  Ref<DSBASE> table_;
  Ref<DSCursor> cursor_;
  std::vector<std::uint8_t> record_;
};

}  // namespace zelvo::testing
