// Fuzz target: filter texts parsed, encoded, compiled and evaluated against a small fixed
// table, and raw bytes handed to the compiler as canonical expressions. The first byte picks
// the mode and the filter options. Any crash, over-read, leak or hang is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fields/dates.h"
#include "fields/record_layout.h"
#include "filter/expr_parser.h"
#include "filter/filter_program.h"

namespace {

using namespace zelvo;

class Memos : public BlobSource {
 public:
  DBResult BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                     std::uint32_t* length) const override {
    static const char kTexts[][32] = {"Flying, vigilance", "", "100% more"};
    if (handle == 0 || handle > 3) return DBResult::kBlobHandle;
    *data = reinterpret_cast<const std::uint8_t*>(kTexts[handle - 1]);
    *length = static_cast<std::uint32_t>(std::strlen(kTexts[handle - 1]));
    return DBResult::kOk;
  }
};

double FixedNow() { return JoinDateTime(DayNumberOf({2004, 1, 1}), 43200000); }

FieldDesc Field(const char* name, std::uint32_t type, std::uint32_t units1 = 0,
                std::uint32_t subtype = 0, std::uint32_t units2 = 0) {
  FieldDesc f;
  f.SetName(name);
  f.type = type;
  f.units1 = units1;
  f.units2 = units2;
  f.subtype = subtype;
  return f;
}

struct Table {
  std::vector<FieldDesc> fields;
  std::vector<FilterField> filter_fields;
  std::vector<std::vector<std::uint8_t>> records;
  Memos memos;

  Table() {
    fields = {Field("Name", FT_STRING, 12),   Field("Fixed", FT_STRING, 6, kSubtypeFixedChar),
              Field("Mana", FT_INT32),        Field("Power", FT_INT16),
              Field("Price", FT_FLOAT),       Field("Flying", FT_BOOL),
              Field("Released", FT_DATE),     Field("Seen", FT_TIME),
              Field("Stamp", FT_DATETIME),    Field("Text", FT_BLOB, 0, kSubtypeText),
              Field("Word", FT_UINT16),       Field("Cost", FT_BCD, 8, 0, 2),
              Field("Code", FT_BYTES, 4),     Field("Serial", FT_INT64),
              Field("When", FT_SQLTIMESTAMP), Field("Wide", FT_WIDESTRING, 12),
              Field("Tiny", FT_INT8),         Field("Nums", FT_VARBYTES, 6)};
    std::uint32_t size = 0;
    if (ComputeRecordLayout(&fields, {}, &size) != DBResult::kOk) std::abort();
    filter_fields = FilterFieldsOf(fields);
    // Three records: all values, all null, and extreme values with garbage past the text.
    for (int r = 0; r < 3; ++r) {
      std::vector<std::uint8_t> record(size, r == 2 ? 0xFF : 0);
      for (const FieldDesc& f : fields) record[f.state_offset] = r == 1 ? kFieldNull : kFieldValue;
      if (r == 0) {
        std::memcpy(record.data() + fields[0].offset, "Plains", 6);
        const std::int32_t mana = 4, day = 731352, handle = 1;
        std::memcpy(record.data() + fields[2].offset, &mana, 4);
        std::memcpy(record.data() + fields[6].offset, &day, 4);
        std::memcpy(record.data() + fields[9].offset, &handle, 4);
      } else if (r == 2) {
        // No terminator in the text fields, an unfetchable memo, a bad BCD.
        const std::uint32_t handle = 77;
        std::memcpy(record.data() + fields[9].offset, &handle, 4);
      }
      records.push_back(std::move(record));
    }
  }
};

Table& Shared() {
  static Table* table = new Table;
  return *table;
}

void Evaluate(const std::vector<std::uint8_t>& expression) {
  Table& table = Shared();
  std::unique_ptr<FilterProgram> program;
  FilterCompileOptions options;
  options.lcid = 0x0409;
  options.blobs = &table.memos;
  options.clock = &FixedNow;
  if (FilterProgram::Compile(expression, table.fields, options, &program) != DBResult::kOk) {
    return;
  }
  RecordBufferRef ref(table.fields);
  for (const auto& record : table.records) program->Passes(ref.Bind(record.data()));
  (void)program->Explain();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if (mode & 0x80) {
    // Raw canonical expression: the compiler must refuse damage, never crash.
    Evaluate(bytes);
    return 0;
  }
  FilterOptions options;
  options.case_insensitive = (mode & 1) != 0;
  options.no_partial_compare = (mode & 2) != 0;
  FormatSettings settings = FormatSettings::Fixed();
  if (mode & 4) settings.decimal_separator = ',';
  settings.current_year = 2004;
  std::vector<std::uint8_t> expression;
  std::string message;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (ParseFilterText(text, Shared().filter_fields, settings, options, &expression, &message) ==
      DBResult::kOk) {
    Evaluate(expression);
  } else if (message.empty()) {
    std::abort();  // every refused text names its reason
  }
  return 0;
}
