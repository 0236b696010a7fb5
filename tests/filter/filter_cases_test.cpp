// Runs the filter case files in tests/filter/cases/*.test: each case is a filter text with
// its options, then "----", then the exact message it fails with or the records it passes.
//
//   filter[options] TEXT        options: ci, nopartial, comma (decimal separator ","),
//   ----                        noarith (parser without arithmetic)
//   Plains                      passing records by Name, "<null>" for a null Name;
//   ...                         or "(none)", "error: MESSAGE", "compile: 0xNNNN"
//   (blank line)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "card_fixture.h"
#include "filter/filter_expr.h"

namespace zelvo::testing {
namespace {

struct FilterCase {
  std::string file;
  int line = 0;
  std::string text;
  std::string options;
  std::vector<std::string> expected;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FilterCase& c, std::ostream* out) {
  *out << c.file << ":" << c.line << ": " << c.text;
}

std::filesystem::path CasesDir() { return std::filesystem::path(__FILE__).parent_path() / "cases"; }

std::vector<FilterCase> LoadCases() {
  std::vector<FilterCase> cases;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(CasesDir())) {
    if (entry.path().extension() == ".test") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path);
    std::string line;
    int number = 0;
    FilterCase current;
    bool in_case = false;
    bool in_expected = false;
    auto finish = [&]() {
      if (in_case) cases.push_back(current);
      in_case = in_expected = false;
      current = FilterCase{};
    };
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!in_case) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("filter", 0) != 0) {
          ADD_FAILURE() << path << ":" << number << ": expected a filter line";
          continue;
        }
        current.file = path.filename().string();
        current.line = number;
        std::size_t text_start = line.find(' ');
        if (line.size() > 6 && line[6] == '[') {
          const std::size_t close = line.find(']');
          current.options = line.substr(7, close - 7);
          text_start = line.find(' ', close);
        }
        current.text = text_start == std::string::npos ? "" : line.substr(text_start + 1);
        in_case = true;
      } else if (!in_expected) {
        if (line != "----") ADD_FAILURE() << path << ":" << number << ": expected ----";
        in_expected = true;
      } else if (line.empty()) {
        finish();
      } else {
        current.expected.push_back(line);
      }
    }
    finish();
  }
  return cases;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

class FilterCases : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterCases, Holds) {
  const FilterCase& c = GetParam();
  SCOPED_TRACE(c.file + ":" + std::to_string(c.line) + ": " + c.text);
  FilterOptions options;
  FormatSettings settings = FormatSettings::Fixed();
  bool arithmetic = true;
  std::istringstream words(c.options);
  for (std::string word; std::getline(words, word, ',');) {
    if (word == "ci")
      options.case_insensitive = true;
    else if (word == "nopartial")
      options.no_partial_compare = true;
    else if (word == "comma")
      settings.decimal_separator = ',';
    else if (word == "noarith")
      arithmetic = false;
    else
      FAIL() << "unknown option " << word;
  }
  CardFixture cards;
  std::vector<std::string> actual;
  std::vector<std::uint8_t> expression;
  std::string message;
  DBResult r;
  if (arithmetic) {
    r = ParseFilterText(c.text, cards.filter_fields(), settings, options, &expression, &message);
  } else {
    TExprParser parser(cards.filter_fields(), settings, false);
    r = parser.Parse(c.text);
    message = parser.ErrorMessage();
    if (r == DBResult::kOk) {
      TFilterExpr encoder(settings, options);
      r = encoder.Encode(*parser.Root(), &expression);
      message = encoder.ErrorMessage();
    }
  }
  if (r != DBResult::kOk) {
    ASSERT_EQ(r, DBResult::kInvalidArgument);
    actual.push_back("error: " + message);
  } else {
    std::unique_ptr<FilterProgram> program;
    FilterCompileOptions compile;
    compile.lcid = 0x0409;
    compile.blobs = &cards.memos();
    std::string ignored;
    r = cards.Compile(c.text, options, settings, &program, &ignored);
    if (!arithmetic) r = FilterProgram::Compile(expression, cards.fields(), compile, &program);
    if (r != DBResult::kOk) {
      char code[16];
      std::snprintf(code, sizeof(code), "compile: 0x%04X", Code(r));
      actual.push_back(code);
    } else {
      actual = cards.Passing(*program);
      if (actual.empty()) actual.push_back("(none)");
    }
  }
  EXPECT_EQ(Join(actual), Join(c.expected));
}

std::string CaseName(const ::testing::TestParamInfo<FilterCase>& info) {
  std::string name = info.param.file.substr(0, info.param.file.find('.')) + "_line" +
                     std::to_string(info.param.line);
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Filter, FilterCases, ::testing::ValuesIn(LoadCases()), CaseName);

}  // namespace
}  // namespace zelvo::testing
