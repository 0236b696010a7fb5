// The engine side of filters: a canonical expression compiled once against a table's fields
// into a flat program that decides, record by record, whether a record passes.
//
// A cursor's AttachFilter compiles once and keeps the program (it holds its own copy of the
// expression, Expression(), for copying cursors); its filtered ordering then asks per record:
//   std::unique_ptr<FilterProgram> program;
//   DBResult r = FilterProgram::Compile({expression, length}, table_fields,
//                                       {.lcid = table_lcid, .blobs = &blob_store}, &program);
//   ... program->Passes(record) ...
// where `record` is a RecordRef over the table's column arrays (bases = the arrays, strides
// = the field lengths, index = the record, states = its row of the field-state matrix) or
// over one record buffer (RecordBufferRef below). DetachFilter just destroys the program.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fields/field_types.h"
#include "fields/record_ref.h"
#include "result.h"

namespace zelvo {

// The local date and time for GETDATE: day number x 86400000 + milliseconds since midnight.
using FilterClock = double (*)();

struct FilterCompileOptions {
  std::uint32_t lcid = 0;             // the table's locale: string collation
  const BlobSource* blobs = nullptr;  // memo values for LIKE; none: memos never match
  FilterClock clock = nullptr;        // none: the system's local time
};

class FilterProgram {
 public:
  // Compiles `expression` (a canonical expression) against the table's fields, laid out by
  // ComputeRecordLayout (fields[i] is the field of RecordRef index i). The program keeps its
  // own copy of the expression; `fields` and `options.blobs` must outlive it.
  // Returns kOk with *program set, or leaves *program empty and returns:
  //   kInvalidArgument    the block is damaged (bad header, offsets, sizes or node cycles);
  //   kFilterNotCompiled  a field is missing, or operand types, a function or its arguments
  //                       have no operation (e.g. a boolean compared with "<");
  //   kOutOfMemory        memory ran out.
  static DBResult Compile(std::span<const std::uint8_t> expression,
                          std::span<const FieldDesc> fields, const FilterCompileOptions& options,
                          std::unique_ptr<FilterProgram>* program);

  ~FilterProgram();
  FilterProgram(const FilterProgram&) = delete;
  FilterProgram& operator=(const FilterProgram&) = delete;

  // True when the record passes: the expression is true and not null. Reads the fields in
  // place through `record`; never fails and does not allocate (a LIKE whose pattern is not a
  // constant prepares it in room reserved when compiling). A field state other than 0 counts
  // as null, whatever the value bytes hold. Not thread-safe: the program's work areas are
  // shared by all calls, so one program serves one caller at a time.
  bool Passes(const RecordRef& record);

  // Replaces the blob source (the table's blob store may move).
  void SetBlobSource(const BlobSource* blobs);

  // One line per field operand and per instruction, for debugging and tests.
  std::string Explain() const;

  const std::vector<std::uint8_t>& Expression() const;

  class Impl;  // filter_internal.h; public only so that the compiler can build one

 private:
  explicit FilterProgram(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The RecordRef of single record buffers laid out by ComputeRecordLayout: per field the value
// at its offset, strides 0, and the field state bytes after the values.
class RecordBufferRef {
 public:
  explicit RecordBufferRef(std::span<const FieldDesc> fields);
  // REQUIRES: `record` holds a whole record of the fields given to the constructor.
  const RecordRef& Bind(const std::uint8_t* record);

 private:
  std::vector<std::uint32_t> offsets_;
  std::vector<const std::uint8_t*> bases_;
  std::vector<std::uint32_t> strides_;
  std::uint32_t states_offset_ = 0;
  RecordRef ref_;
};

}  // namespace zelvo
