// Loading and saving a card table file, side by side with SQLite restoring the same data
// from its own database file into memory and backing the in-memory database up to a file.
// Each measurement also reports the peak memory it added to the process.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "card_data.h"
#include "packet/packet_file.h"
#include "table/cursor.h"
#include "table/dsbase.h"

namespace zelvo {
namespace {

std::string ZrBasePath(int rows) { return "/tmp/zelvo_bench_" + std::to_string(rows) + ".zrBase"; }
std::string SqlitePath(int rows) { return "/tmp/zelvo_bench_" + std::to_string(rows) + ".sqlite"; }

// Resident memory now, and the peak since the last ResetPeak (Linux).
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

template <typename F>
double PeakMbDuring(F&& body) {
  ResetPeak();
  const long before = StatusKb("VmRSS:");
  body();
  return static_cast<double>(StatusKb("VmHWM:") - before) / 1024.0;
}

PacketBytes ReadFile(const std::string& path) {
  PacketBytes bytes;
  std::string error;
  if (!ReadPacketFile(path, &bytes, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return bytes;
}

void WriteFile(const std::string& path, const PacketBytes& bytes) {
  std::string error;
  if (!WritePacketFile(path, bytes.data(), bytes.size(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
}

Ref<DSBASE> BuildTable(int rows) {
  const bench::CardRows& d = bench::CardData(rows);
  auto table = Ref<DSBASE>::Adopt(NewTable());
  const std::vector<FieldDesc> fields = bench::CardFieldDescs();
  (void)table->DefineTable(fields.data(), static_cast<std::uint32_t>(fields.size()), "cards");
  (void)table->WriteTableOption(kOptLogChanges, 0);
  auto cursor = Ref<DSCursor>::Adopt(NewCursor());
  (void)cursor->AttachToTable(table.get());
  std::vector<std::uint8_t> record(cursor->record_size());
  for (int r = 0; r < rows; ++r) {
    (void)cursor->BlankRecord(record.data());
    for (std::uint32_t c = 0; c < fields.size(); ++c) {
      if (d.IsNumber(c)) {
        (void)cursor->WriteField(record.data(), c + 1, &d.number[c][r]);
      } else if (fields[c].type == FT_BLOB) {
        const std::string& text = d.text[c][r];
        (void)cursor->WriteBlob(record.data(), c + 1, 0, text.data(),
                                static_cast<std::uint32_t>(text.size()));
      } else {
        (void)cursor->WriteField(record.data(), c + 1, d.text[c][r].c_str());
      }
    }
    (void)cursor->WriteCursorOption(kCursorStatus, 0);
    (void)cursor->AddRecord(record.data());
  }
  return table;
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::abort();
  }
}

void BuildSqliteFile(int rows) {
  std::remove(SqlitePath(rows).c_str());
  sqlite3* db = nullptr;
  Check(sqlite3_open(SqlitePath(rows).c_str(), &db), db);
  Check(sqlite3_exec(db,
                     "CREATE TABLE cards(Name TEXT, Color TEXT, ColorID INTEGER, Cost TEXT, "
                     "Mana INTEGER, Type TEXT, TypeIndex INTEGER, Power TEXT, Toughness TEXT, "
                     "Text TEXT, Version TEXT); BEGIN;",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO cards VALUES(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                           nullptr),
        db);
  const bench::CardRows& d = bench::CardData(rows);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 11; ++c) {
      if (d.IsNumber(static_cast<std::size_t>(c))) {
        sqlite3_bind_int(insert, c + 1, d.number[c][r]);
      } else {
        const std::string& s = d.text[c][r];
        sqlite3_bind_text(insert, c + 1, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
      }
    }
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

void Prepare(int rows) {
  static std::vector<int> done;
  for (int r : done) {
    if (r == rows) return;
  }
  Ref<DSBASE> table = BuildTable(rows);
  PacketBytes packet;
  (void)table->WritePacket(&packet);
  WriteFile(ZrBasePath(rows), packet);
  BuildSqliteFile(rows);
  done.push_back(rows);
}

void Backup(sqlite3* from, sqlite3* to) {
  sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
  sqlite3_backup_step(b, -1);
  sqlite3_backup_finish(b);
}

void BM_LoadZrBase(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  Prepare(rows);
  double peak = 0;
  for (auto _ : state) {
    peak = PeakMbDuring([&] {
      PacketBytes bytes = ReadFile(ZrBasePath(rows));
      auto table = Ref<DSBASE>::Adopt(NewTable());
      if (table->LoadPacket(bytes.data(), bytes.size(), true) != DBResult::kOk) std::abort();
      benchmark::DoNotOptimize(table->live_count());
    });
  }
  state.counters["peak_MB"] = peak;
  state.counters["file_MB"] = static_cast<double>(ReadFile(ZrBasePath(rows)).size()) / 1048576.0;
}
BENCHMARK(BM_LoadZrBase)->Arg(30000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteRestoreIntoMemory(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  Prepare(rows);
  double peak = 0;
  for (auto _ : state) {
    peak = PeakMbDuring([&] {
      sqlite3* file = nullptr;
      sqlite3* memory = nullptr;
      sqlite3_open(SqlitePath(rows).c_str(), &file);
      sqlite3_open(":memory:", &memory);
      Backup(file, memory);
      sqlite3_close(file);
      sqlite3_close(memory);
    });
  }
  state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_SqliteRestoreIntoMemory)
    ->Arg(30000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_SaveZrBase(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  Prepare(rows);
  PacketBytes bytes = ReadFile(ZrBasePath(rows));
  auto table = Ref<DSBASE>::Adopt(NewTable());
  (void)table->LoadPacket(bytes.data(), bytes.size(), true);
  const std::string out = ZrBasePath(rows) + ".saved";
  for (auto _ : state) {
    PacketBytes packet;
    if (table->WritePacket(&packet) != DBResult::kOk) std::abort();
    WriteFile(out, packet);
  }
  std::remove(out.c_str());
}
BENCHMARK(BM_SaveZrBase)->Arg(30000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SqliteBackupToFile(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  Prepare(rows);
  sqlite3* file = nullptr;
  sqlite3* memory = nullptr;
  sqlite3_open(SqlitePath(rows).c_str(), &file);
  sqlite3_open(":memory:", &memory);
  Backup(file, memory);
  sqlite3_close(file);
  const std::string out = SqlitePath(rows) + ".saved";
  for (auto _ : state) {
    std::remove(out.c_str());
    sqlite3* target = nullptr;
    sqlite3_open(out.c_str(), &target);
    Backup(memory, target);
    sqlite3_close(target);
  }
  sqlite3_close(memory);
  std::remove(out.c_str());
}
BENCHMARK(BM_SqliteBackupToFile)
    ->Arg(30000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace zelvo

BENCHMARK_MAIN();
