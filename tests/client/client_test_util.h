// A small card table made through the table component, and a temporary directory, for the
// component's tests.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/client_dataset.h"

namespace zelvo::client::testing {

// Name string(20), Mana integer, Text memo, Id autoinc; rows inserted through the component.
inline void MakeCards(TClientDataSet* ds, const std::vector<std::pair<std::string, int>>& cards) {
  ds->FieldDefs().Clear();
  ds->FieldDefs().Add("Name", ClientFieldKind::kString, 20);
  ds->FieldDefs().Add("Mana", ClientFieldKind::kInteger);
  ds->FieldDefs().Add("Text", ClientFieldKind::kMemo);
  ds->FieldDefs().Add("Id", ClientFieldKind::kAutoInc);
  ds->CreateDataSet();
  for (const auto& [name, mana] : cards) {
    ds->Append();
    ds->FieldByName("Name").SetAsString(name);
    ds->FieldByName("Mana").SetAsInteger(mana);
    ds->Post();
  }
  ds->First();
}

// Every Name from the top, comma-separated; the current record is left at the end.
inline std::string Names(TClientDataSet* ds) {
  std::string names;
  for (ds->First(); !ds->Eof(); ds->Next()) {
    names += (names.empty() ? "" : ",") + ds->FieldByName("Name").AsString();
  }
  return names;
}

class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("zelvo_client_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs `f` and returns the message of the EDatabaseError it throws ("" when none).
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return "";
}

}  // namespace zelvo::client::testing
