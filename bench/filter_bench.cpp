// Filter evaluation over 1,000,000 card records held in column arrays as the table stores
// them, side by side with SQLite counting the same predicates over the same data in memory.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fields/record_layout.h"
#include "filter/expr_parser.h"
#include "filter/filter_program.h"

namespace {

using namespace zelvo;

constexpr std::size_t kRecords = 1000000;

struct Predicate {
  const char* name;
  const char* filter;  // Zelvo filter text
  const char* where;   // the same predicate for SQLite
};

// "Name = 'Pla*'" is a prefix test; LIKE is case-sensitive in Zelvo, so SQLite runs with
// case_sensitive_like on.
constexpr Predicate kPredicates[] = {
    {"DefaultBatch",
     "(Name='Plains')or(Name='Island')or(Name='Swamp')or(Name='Mountain')or(Name='Forest')",
     "(Name='Plains') OR (Name='Island') OR (Name='Swamp') OR (Name='Mountain') OR "
     "(Name='Forest')"},
    {"NamePrefix", "Name = 'Pla*'", "substr(Name, 1, 3) = 'Pla'"},
    {"NameLike", "Name LIKE '%ain%'", "Name LIKE '%ain%'"},
    {"MemoLike", "Text LIKE '%flying%'", "Text LIKE '%flying%'"},
    {"ManaPlusOne", "Mana + 1 = 5", "Mana + 1 = 5"},
};

// Memo texts back to back in one arena, as a blob store keeps them.
class Memos : public BlobSource {
 public:
  std::uint32_t Add(const std::string& text) {
    offsets_.push_back(bytes_.size());
    bytes_ += text;
    return static_cast<std::uint32_t>(offsets_.size());
  }
  void Finish() { offsets_.push_back(bytes_.size()); }
  DBResult BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                     std::uint32_t* length) const override {
    if (handle == 0 || handle >= offsets_.size()) return DBResult::kBlobHandle;
    *data = reinterpret_cast<const std::uint8_t*>(bytes_.data()) + offsets_[handle - 1];
    *length = static_cast<std::uint32_t>(offsets_[handle] - offsets_[handle - 1]);
    return DBResult::kOk;
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> offsets_;
};

struct Card {
  std::string name, color, cost, type, text, version;
  int color_id, mana, type_index, power, toughness;
};

// The store and the SQLite copy, built once.
struct Data {
  std::vector<FieldDesc> fields;
  std::vector<std::vector<std::uint8_t>> columns;
  std::vector<std::uint8_t> states;
  std::vector<const std::uint8_t*> bases;
  std::vector<std::uint32_t> strides;
  Memos memos;
  sqlite3* db = nullptr;

  Data() { Build(); }

  FieldDesc Field(const char* name, std::uint32_t type, std::uint32_t width = 0,
                  std::uint32_t subtype = 0) {
    FieldDesc f;
    f.SetName(name);
    f.type = type;
    f.units1 = width;
    f.subtype = subtype;
    return f;
  }

  static Card MakeCard(std::mt19937& rng) {
    static const char* const kLands[] = {"Plains", "Island", "Swamp", "Mountain", "Forest"};
    static const char* const kFirst[] = {
        "Serra",    "Shivan", "Llanowar",  "Plague",   "Platinum", "Plated",  "Mountain",
        "Goblin",   "Elvish", "Sengir",    "Mahamoti", "Air",      "Lord of", "Wall of",
        "Prodigal", "Royal",  "Sleeping",  "Planar",   "Storm",    "Giant",   "Dwarven",
        "Hurloon",  "Mesa",   "Nightmare", "Savannah", "Swamp",    "Crusade", "Plains"};
    static const char* const kSecond[] = {
        "Angel",    "Dragon", "Elves",    "Rats",        "Giant",  "Djinn",  "Atlantis", "Stone",
        "Sorcerer", "Guard",  "Assassin", "Knight",      "Lions",  "Crab",   "Vampire",  "Wurm",
        "Pegasus",  "Chain",  "Spider",   "Mountaineer", "Shaman", "Walker", "Titan",    "Drake"};
    static const char* const kColors[] = {"White", "Blue", "Black", "Red", "Green", "Colorless"};
    static const char* const kTypes[] = {"Creature",    "Instant",  "Sorcery",
                                         "Enchantment", "Artifact", "Land"};
    static const char* const kSentences[] = {
        "Tap: add one mana of any color.",
        "Creatures with flying can't block this turn.",
        "Draw a card.",
        "Target creature gains flying until end of turn.",
        "When this enters the battlefield, you gain 3 life.",
        "Deal 2 damage to any target.",
        "Regenerate this creature.",
        "This creature can block only creatures with flying.",
        "Sacrifice a land: return target card from your graveyard to your hand.",
        "Protection from red.",
        "Trample.",
        "Counter target spell unless its controller pays 2.",
    };
    Card c;
    std::uniform_int_distribution<int> pct(0, 99);
    if (pct(rng) < 15) {
      c.name = kLands[rng() % 5];
      c.type = "Land";
      c.type_index = 5;
      c.mana = 0;
    } else {
      c.name = std::string(kFirst[rng() % std::size(kFirst)]) + " " +
               kSecond[rng() % std::size(kSecond)];
      c.type_index = static_cast<int>(rng() % 5);
      c.type = kTypes[c.type_index];
      c.mana = static_cast<int>(rng() % 9);
    }
    c.color_id = static_cast<int>(rng() % 6);
    c.color = kColors[c.color_id];
    c.cost = std::to_string(c.mana) + std::string(static_cast<std::size_t>(c.mana % 3), 'W');
    c.power = static_cast<int>(rng() % 8);
    c.toughness = static_cast<int>(rng() % 8);
    const int sentences = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < sentences; ++i) {
      if (i) c.text += " ";
      c.text += kSentences[rng() % std::size(kSentences)];
    }
    c.version = "v" + std::to_string(1 + rng() % 9);
    return c;
  }

  void Build() {
    fields = {Field("Name", FT_STRING, 40),   Field("Color", FT_STRING, 10),
              Field("ColorID", FT_INT32),     Field("Cost", FT_STRING, 20),
              Field("Mana", FT_INT32),        Field("Type", FT_STRING, 40),
              Field("TypeIndex", FT_INT32),   Field("Power", FT_INT32),
              Field("Toughness", FT_INT32),   Field("Text", FT_BLOB, 0, kSubtypeText),
              Field("Version", FT_STRING, 10)};
    std::uint32_t record_size = 0;
    if (ComputeRecordLayout(&fields, {}, &record_size) != DBResult::kOk) std::abort();
    const std::size_t nf = fields.size();
    columns.resize(nf);
    for (std::size_t f = 0; f < nf; ++f) columns[f].assign(kRecords * fields[f].length, 0);
    states.assign(kRecords * nf, kFieldValue);

    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE cards(Name TEXT, Color TEXT, ColorID INTEGER, Cost TEXT, "
                 "Mana INTEGER, Type TEXT, TypeIndex INTEGER, Power INTEGER, "
                 "Toughness INTEGER, Text TEXT, Version TEXT); BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO cards VALUES(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    std::mt19937 rng(20030517);
    for (std::size_t i = 0; i < kRecords; ++i) {
      Card c = MakeCard(rng);
      auto text = [&](std::size_t f, const std::string& v) {
        std::memcpy(columns[f].data() + i * fields[f].length, v.data(),
                    std::min<std::size_t>(v.size(), fields[f].length - 1));
      };
      auto integer = [&](std::size_t f, std::int32_t v) {
        std::memcpy(columns[f].data() + i * 4, &v, 4);
      };
      text(0, c.name);
      text(1, c.color);
      integer(2, c.color_id);
      text(3, c.cost);
      integer(4, c.mana);
      text(5, c.type);
      integer(6, c.type_index);
      integer(7, c.power);
      integer(8, c.toughness);
      integer(9, static_cast<std::int32_t>(memos.Add(c.text)));
      text(10, c.version);

      sqlite3_bind_text(insert, 1, c.name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, c.color.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 3, c.color_id);
      sqlite3_bind_text(insert, 4, c.cost.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 5, c.mana);
      sqlite3_bind_text(insert, 6, c.type.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(insert, 7, c.type_index);
      sqlite3_bind_int(insert, 8, c.power);
      sqlite3_bind_int(insert, 9, c.toughness);
      sqlite3_bind_text(insert, 10, c.text.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 11, c.version.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    memos.Finish();
    sqlite3_exec(db, "COMMIT; PRAGMA case_sensitive_like = ON;", nullptr, nullptr, nullptr);
    for (std::size_t f = 0; f < nf; ++f) {
      bases.push_back(columns[f].data());
      strides.push_back(fields[f].length);
    }
  }

  std::unique_ptr<FilterProgram> Compile(const char* text) const {
    std::vector<FilterField> filter_fields = FilterFieldsOf(fields);
    std::vector<std::uint8_t> expression;
    std::string message;
    std::unique_ptr<FilterProgram> program;
    if (ParseFilterText(text, filter_fields, FormatSettings::Fixed(), {}, &expression, &message) !=
            DBResult::kOk ||
        FilterProgram::Compile(expression, fields, {.lcid = 0x0409, .blobs = &memos}, &program) !=
            DBResult::kOk) {
      std::fprintf(stderr, "cannot compile %s: %s\n", text, message.c_str());
      std::abort();
    }
    return program;
  }

  std::int64_t CountZelvo(FilterProgram& program) const {
    RecordRef ref;
    ref.bases = bases.data();
    ref.strides = strides.data();
    const std::size_t nf = fields.size();
    std::int64_t count = 0;
    for (std::size_t i = 0; i < kRecords; ++i) {
      ref.index = i;
      ref.states = states.data() + i * nf;
      count += program.Passes(ref) ? 1 : 0;
    }
    return count;
  }

  std::int64_t CountSqlite(const char* where) const {
    const std::string sql = std::string("SELECT count(*) FROM cards WHERE ") + where;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    std::int64_t count = -1;
    if (sqlite3_step(stmt) == SQLITE_ROW) count = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return count;
  }
};

Data& Shared() {
  static Data* data = new Data;
  return *data;
}

void BM_Zelvo(benchmark::State& state, const Predicate& p) {
  Data& data = Shared();
  auto program = data.Compile(p.filter);
  const std::int64_t expected = data.CountSqlite(p.where);
  std::int64_t count = 0;
  for (auto _ : state) {
    count = data.CountZelvo(*program);
    benchmark::DoNotOptimize(count);
  }
  if (count != expected) state.SkipWithError("Zelvo and SQLite count differently");
  state.counters["passing"] = static_cast<double>(count);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kRecords));
}

void BM_SQLite(benchmark::State& state, const Predicate& p) {
  Data& data = Shared();
  std::int64_t count = 0;
  for (auto _ : state) {
    count = data.CountSqlite(p.where);
    benchmark::DoNotOptimize(count);
  }
  state.counters["passing"] = static_cast<double>(count);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kRecords));
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const Predicate& p : kPredicates) {
    benchmark::RegisterBenchmark((std::string("Zelvo/") + p.name).c_str(), BM_Zelvo, p)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("SQLite/") + p.name).c_str(), BM_SQLite, p)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
