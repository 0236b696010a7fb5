// Writes the benchmark card rows (bench/card_data.h) as a TSV file with a header line, the
// input of both `zrbase create` and sqlite3's .import in bench/zrbase_vs_sqlite.sh.
// Usage: zrbase_cards_tsv ROWS > cards.tsv
#include <cstdio>
#include <cstdlib>
#include <string>

#include "card_data.h"

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const auto& columns = zelvo::bench::CardColumns();
  const zelvo::bench::CardRows& data = zelvo::bench::CardData(rows);
  std::string out;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    out += (c == 0 ? "" : "\t") + std::string(columns[c].name);
  }
  out += '\n';
  for (int r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c != 0) out += '\t';
      const auto i = static_cast<std::size_t>(r);
      // The generated texts hold no TAB, LF, CR or backslash: no escapes needed.
      out += data.IsNumber(c) ? std::to_string(data.number[c][i]) : data.text[c][i];
    }
    out += '\n';
    if (out.size() > (1u << 20)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
