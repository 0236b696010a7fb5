// Index builds, switching orderings and prefix search over one million card records,
// side by side with SQLite doing the same on the same data in an in-memory database.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstring>
#include <string>

#include "card_data.h"
#include "filter/expr_parser.h"
#include "table/cursor.h"
#include "table/dsbase.h"

namespace zelvo {
namespace {

constexpr int kRows = 1000000;
constexpr std::uint32_t kNameField = 1;
constexpr std::uint32_t kManaField = 5;

DSBASE* CardTable() {
  static DSBASE* table = [] {
    const bench::CardRows& d = bench::CardData(kRows);
    DSBASE* t = NewTable();
    const std::vector<FieldDesc> fields = bench::CardFieldDescs();
    (void)t->DefineTable(fields.data(), static_cast<std::uint32_t>(fields.size()), "cards");
    (void)t->WriteTableOption(kOptLogChanges, 0);
    auto cursor = Ref<DSCursor>::Adopt(NewCursor());
    (void)cursor->AttachToTable(t);
    std::vector<std::uint8_t> record(cursor->record_size());
    for (int r = 0; r < kRows; ++r) {
      (void)cursor->BlankRecord(record.data());
      for (std::uint32_t c = 0; c < fields.size(); ++c) {
        if (d.IsNumber(c)) {
          (void)cursor->WriteField(record.data(), c + 1, &d.number[c][r]);
        } else if (fields[c].type == FT_BLOB) {
          (void)cursor->WriteBlob(record.data(), c + 1, 0, d.text[c][r].data(),
                                  static_cast<std::uint32_t>(d.text[c][r].size()));
        } else {
          (void)cursor->WriteField(record.data(), c + 1, d.text[c][r].c_str());
        }
      }
      (void)cursor->WriteCursorOption(kCursorStatus, 0);
      (void)cursor->AddRecord(record.data());
    }
    return t;
  }();
  return table;
}

sqlite3* CardDatabase() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    sqlite3_open(":memory:", &d);
    sqlite3_exec(d,
                 "CREATE TABLE cards(Name TEXT, Color TEXT, ColorID INTEGER, Cost TEXT, "
                 "Mana INTEGER, Type TEXT, TypeIndex INTEGER, Power TEXT, Toughness TEXT, "
                 "Text TEXT, Version TEXT); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(d, "INSERT INTO cards VALUES(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    const bench::CardRows& rows = bench::CardData(kRows);
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < 11; ++c) {
        if (rows.IsNumber(static_cast<std::size_t>(c))) {
          sqlite3_bind_int(insert, c + 1, rows.number[c][r]);
        } else {
          const std::string& s = rows.text[c][r];
          sqlite3_bind_text(insert, c + 1, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
        }
      }
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(d, "COMMIT;", nullptr, nullptr, nullptr);
    return d;
  }();
  return db;
}

IndexDesc Index(const char* name, std::uint32_t field, bool descending, bool case_insensitive) {
  IndexDesc d;
  d.SetName(name);
  d.field_count = 1;
  d.fields[0] = field;
  d.descending[0] = descending;
  d.case_insensitive[0] = case_insensitive;
  return d;
}

void BuildIndex(benchmark::State& state, const IndexDesc& desc) {
  DSBASE* table = CardTable();
  for (auto _ : state) {
    if (table->DefineIndex(desc) != DBResult::kOk) std::abort();
    state.PauseTiming();
    (void)table->DropIndex(desc.Name());
    state.ResumeTiming();
  }
}

void SqliteIndex(benchmark::State& state, const char* create) {
  sqlite3* db = CardDatabase();
  for (auto _ : state) {
    sqlite3_exec(db, create, nullptr, nullptr, nullptr);
    state.PauseTiming();
    sqlite3_exec(db, "DROP INDEX i;", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
}

void BM_IndexNameCaseInsensitive(benchmark::State& s) { BuildIndex(s, Index("N", kNameField, false, true)); }
void BM_SqliteIndexNameNocase(benchmark::State& s) {
  SqliteIndex(s, "CREATE INDEX i ON cards(Name COLLATE NOCASE);");
}
void BM_IndexNameDescending(benchmark::State& s) { BuildIndex(s, Index("D", kNameField, true, false)); }
void BM_SqliteIndexNameDescending(benchmark::State& s) {
  SqliteIndex(s, "CREATE INDEX i ON cards(Name DESC);");
}
void BM_IndexMana(benchmark::State& s) { BuildIndex(s, Index("M", kManaField, false, false)); }
void BM_SqliteIndexMana(benchmark::State& s) { SqliteIndex(s, "CREATE INDEX i ON cards(Mana);"); }
BENCHMARK(BM_IndexNameCaseInsensitive)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteIndexNameNocase)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_IndexNameDescending)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteIndexNameDescending)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_IndexMana)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SqliteIndexMana)->Unit(benchmark::kMillisecond)->Iterations(3);

// Switching a cursor on a record from the Mana index to the Name index and back: the
// record is found again in the other order. SQLite: the record's place in the other
// order through its index.
void BM_SwitchOrdering(benchmark::State& state) {
  DSBASE* table = CardTable();
  (void)table->DefineIndex(Index("SwitchName", kNameField, false, true));
  (void)table->DefineIndex(Index("SwitchMana", kManaField, false, false));
  auto cursor = Ref<DSCursor>::Adopt(NewCursor());
  (void)cursor->AttachToTable(table);
  (void)cursor->OrderByIndex("SwitchMana");
  (void)cursor->GoToNumber(kRows / 2);
  for (auto _ : state) {
    (void)cursor->OrderByIndex("SwitchName");
    (void)cursor->OrderByIndex("SwitchMana");
  }
}
BENCHMARK(BM_SwitchOrdering)->Unit(benchmark::kMillisecond);

void BM_SqliteSwitchOrdering(benchmark::State& state) {
  sqlite3* db = CardDatabase();
  sqlite3_exec(db, "CREATE INDEX sn ON cards(Name COLLATE NOCASE); CREATE INDEX sm ON cards(Mana);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* by_name = nullptr;
  sqlite3_stmt* by_mana = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM cards WHERE Name < ?1 COLLATE NOCASE", -1, &by_name,
                     nullptr);
  sqlite3_prepare_v2(db, "SELECT count(*) FROM cards WHERE Mana < ?1", -1, &by_mana, nullptr);
  const bench::CardRows& d = bench::CardData(kRows);
  const std::string& name = d.text[0][kRows / 2];
  for (auto _ : state) {
    sqlite3_bind_text(by_name, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_step(by_name);
    sqlite3_reset(by_name);
    sqlite3_bind_int(by_mana, 1, d.number[4][kRows / 2]);
    sqlite3_step(by_mana);
    sqlite3_reset(by_mana);
  }
  sqlite3_finalize(by_name);
  sqlite3_finalize(by_mana);
  sqlite3_exec(db, "DROP INDEX sn; DROP INDEX sm;", nullptr, nullptr, nullptr);
}
BENCHMARK(BM_SqliteSwitchOrdering)->Unit(benchmark::kMillisecond);

// The search bar: the first record whose name begins with "pla" in any letter case, on the
// case-insensitive name index. SQLite answers the same question, the first such name in
// name order, by scanning with LIKE (case-insensitive for ASCII).
void BM_LocatePrefix(benchmark::State& state) {
  DSBASE* table = CardTable();
  (void)table->DefineIndex(Index("LocateName", kNameField, false, true));
  auto cursor = Ref<DSCursor>::Adopt(NewCursor());
  (void)cursor->AttachToTable(table);
  (void)cursor->OrderByIndex("LocateName");
  std::vector<std::uint8_t> key(cursor->record_size());
  (void)cursor->BlankRecord(key.data());
  (void)cursor->WriteField(key.data(), kNameField, "pla");
  for (auto _ : state) {
    if (cursor->FindByKey(0, 3, key.data(), nullptr) != DBResult::kOk) std::abort();
  }
}
BENCHMARK(BM_LocatePrefix)->Unit(benchmark::kMicrosecond);

void BM_SqliteLocatePrefixScan(benchmark::State& state) {
  sqlite3* db = CardDatabase();
  sqlite3_stmt* find = nullptr;
  sqlite3_prepare_v2(db, "SELECT rowid FROM cards WHERE Name LIKE 'pla%' ORDER BY Name COLLATE NOCASE LIMIT 1", -1, &find,
                     nullptr);
  for (auto _ : state) {
    sqlite3_step(find);
    sqlite3_reset(find);
  }
  sqlite3_finalize(find);
}
BENCHMARK(BM_SqliteLocatePrefixScan)->Unit(benchmark::kMicrosecond);

// The batch update's default filter over the case-insensitive name index: a filtered
// ordering in name order of the passing records. SQLite: the same selection in name order.
constexpr const char* kBatchFilter =
    "(Name='Plains')or(Name='Island')or(Name='Swamp')or(Name='Mountain')or(Name='Forest')";

void BM_FilteredOrdering(benchmark::State& state) {
  DSBASE* table = CardTable();
  (void)table->DefineIndex(Index("FilterName", kNameField, false, true));
  std::vector<FieldDesc> fields;
  (void)table->DescribeFields(&fields);
  std::vector<std::uint8_t> expression;
  std::string message;
  (void)ParseFilterText(kBatchFilter, FilterFieldsOf(fields), FormatSettings{}, {}, &expression,
                        &message);
  std::uint32_t count = 0;
  for (auto _ : state) {
    auto cursor = Ref<DSCursor>::Adopt(NewCursor());
    (void)cursor->AttachToTable(table);
    (void)cursor->OrderByIndex("FilterName");
    std::uint32_t handle = 0;
    if (cursor->AttachFilter(expression.data(), static_cast<std::uint32_t>(expression.size()),
                             &handle) != DBResult::kOk) {
      std::abort();
    }
    (void)cursor->CountRecords(&count);
  }
  state.counters["records"] = count;
}
BENCHMARK(BM_FilteredOrdering)->Unit(benchmark::kMillisecond);

void BM_SqliteFilteredOrdering(benchmark::State& state) {
  sqlite3* db = CardDatabase();
  sqlite3_exec(db, "CREATE INDEX fn ON cards(Name COLLATE NOCASE);", nullptr, nullptr, nullptr);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT rowid FROM cards WHERE Name='Plains' OR Name='Island' OR "
                     "Name='Swamp' OR Name='Mountain' OR Name='Forest' ORDER BY Name COLLATE NOCASE",
                     -1, &query, nullptr);
  int count = 0;
  for (auto _ : state) {
    count = 0;
    while (sqlite3_step(query) == SQLITE_ROW) ++count;
    sqlite3_reset(query);
  }
  sqlite3_finalize(query);
  sqlite3_exec(db, "DROP INDEX fn;", nullptr, nullptr, nullptr);
  state.counters["records"] = count;
}
BENCHMARK(BM_SqliteFilteredOrdering)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelvo

BENCHMARK_MAIN();
