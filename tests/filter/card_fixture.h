// A small table of card-like records for the filter tests: laid out with ComputeRecordLayout,
// held both as single record buffers and as the table's column arrays, with a memo store.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "fields/field_types.h"
#include "fields/record_ref.h"
#include "filter/expr_parser.h"
#include "filter/filter_program.h"

namespace zelvo::testing {

// Memo texts by handle (1-based); handle 99 stands for a blob that cannot be fetched.
class MemoStore : public BlobSource {
 public:
  std::uint32_t Add(std::string text);
  DBResult BlobBytes(std::uint32_t handle, const std::uint8_t** data,
                     std::uint32_t* length) const override;

 private:
  std::vector<std::string> texts_;
};

struct Date {
  int year, month, day;
};
struct Time {
  int hour, minute, second, ms = 0;
};
struct DateTime {
  Date date;
  Time time;
};
struct Memo {
  std::string text;
};
struct Bcd {
  std::string text;
};
struct Wide {
  std::u16string text;
};
using Value = std::variant<std::string, std::int64_t, double, bool, Date, Time, DateTime, Memo, Bcd,
                           Wide, std::vector<std::uint8_t>>;

// Fields: Name (string 30), Fixed (FixedChar 8), Mana (int32), Power (int16), Price (float),
// Flying (boolean), Released (date), Seen (time), Stamp (date-time), Text (memo), Big
// (int32), Word (u16), Cost (BCD 8.2), Code (bytes 4), Serial (int64), When (SQL time
// stamp), Wide (wide string 20 bytes), Tiny (int8). The parser's list adds a calculated
// field Total that the table does not store.
class CardFixture {
 public:
  CardFixture();

  std::span<const FieldDesc> fields() const { return fields_; }
  std::span<const FilterField> filter_fields() const { return filter_fields_; }
  const MemoStore& memos() const { return memos_; }
  std::size_t size() const { return records_.size(); }

  // Adds a record; unnamed fields are null. Names are keys of the field list.
  void Add(const std::map<std::string, Value>& values);

  // The record's label: its Name, or "<null>".
  std::string Label(std::size_t record) const;

  // Record i as a single buffer, and through the column arrays (rebuilt on demand).
  const RecordRef& Buffer(std::size_t record);
  const RecordRef& Column(std::size_t record);

  // Labels of the records the program passes. Fails the test when the buffer and the
  // column view disagree.
  std::vector<std::string> Passing(FilterProgram& program);

  // Parses with the options and compiles against the table (locale 0x0409; GETDATE is
  // 2004-01-01 12:00:00).
  DBResult Compile(const std::string& text, const FilterOptions& options,
                   const FormatSettings& settings, std::unique_ptr<FilterProgram>* program,
                   std::string* message) const;

 private:
  void BuildColumns();

  std::vector<FieldDesc> fields_;
  std::vector<FilterField> filter_fields_;
  std::uint32_t record_size_ = 0;
  std::vector<std::vector<std::uint8_t>> records_;
  MemoStore memos_;
  std::unique_ptr<RecordBufferRef> buffer_ref_;
  // Column store: one array per field, one state byte per field per record.
  std::vector<std::vector<std::uint8_t>> columns_;
  std::vector<std::uint8_t> states_;
  std::vector<const std::uint8_t*> bases_;
  std::vector<std::uint32_t> strides_;
  RecordRef column_ref_;
  bool columns_built_ = false;
};

}  // namespace zelvo::testing
