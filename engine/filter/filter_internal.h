// Inside the filter program: operand slots, instructions and the program state shared by
// the compiler (filter_compiler.cpp), the evaluator (filter_eval.cpp) and the explain dump.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fields/collation.h"
#include "fields/field_types.h"
#include "filter/filter_program.h"
#include "filter/like_pattern.h"

namespace zelvo {

// Value types of operands: engine field types, as the evaluator holds them. Fields of other
// types are widened into these when loaded; FT_UNKNOWN is an opaque value (null tests only).
using ValueType = std::uint32_t;

enum class Op : std::uint8_t {
  // Null tests and logic.
  kIsNull,
  kNotNull,
  kNot,
  kAndN,
  kOrN,        // AND and OR, a chain of them in one instruction over a list of operands
  kEqAnyText,  // several "text field = constant" tests of one OR chain in one instruction
  // Comparisons; Instr::cond says which.
  kCmpInt16,
  kCmpInt32,
  kCmpFloat,
  kCmpBool,
  kCmpTimeStamp,
  kCmpString,
  kCmpWide,
  kCmpBytes,
  // Arithmetic.
  kAddInt16,
  kSubInt16,
  kMulInt16,
  kDivInt16,
  kAddInt32,
  kSubInt32,
  kMulInt32,
  kDivInt32,
  kAddFloat,
  kSubFloat,
  kMulFloat,
  kDivFloat,
  kConcat,
  kDateAddDays,
  kTimeAddHours,
  kDateTimeAddDays,
  kTimeStampAddDays,  // Instr::sign: + or -
  kDateDiff,
  kDateTimeDiff,
  kTimeStampDiff,
  kTimeDiff,
  // Conversions of the coercion step.
  kInt16ToFloat,
  kInt32ToFloat,
  kBcdToFloat,
  kDateTimeToTime,
  kDateToDateTime,
  kDateToTimeStamp,
  kStringToWide,
  kBoolToString,
  // Patterns and lists.
  kLike,
  kLikeBlob,
  kIn,
  // Functions.
  kUpper,
  kLower,
  kSubstring,
  kTrim,
  kYear,
  kMonth,
  kDay,
  kHour,
  kMinute,
  kSecond,
  kGetDate,
  kGetSqlDate,
  kDateOf,
  kTimeOf,
};

enum Cond : std::uint8_t { kCondEq, kCondNe, kCondLt, kCondGt, kCondLe, kCondGe };

// Instr::flags.
enum : std::uint8_t {
  kFlagCaseInsensitive = 1,
  kFlagFixedChar = 2,  // left operand is a FixedChar field: trailing blanks do not count
  kFlagLeftField = 4,
  kFlagFastBytes = 8,     // CmpString "="/"<>" against a constant: bytes first (fast_*)
  kFlagDynamic = 32,      // LIKE pattern prepared when the instruction runs
  kFlagDateTimeArg = 64,  // date and time functions: the argument is a date-time
};

// Trim sides in Instr::cond.
enum : std::uint8_t { kTrimBoth = 0, kTrimLeft = 1, kTrimRight = 2 };

constexpr std::uint16_t kNoSlot = 0xFFFF;

// An operand's value area and null flag. Field slots are rebound for every record; constant
// and result slots point into the program's arena.
constexpr std::uint32_t kUnknownLength = 0xFFFFFFFF;
enum : std::uint8_t { kAsciiNo = 0, kAsciiYes = 1, kAsciiUnknown = 2 };

struct Slot {
  const std::uint8_t* data = nullptr;
  std::uint8_t null = 0;
  // Text slots: facts about the current text, worked out once per record when first asked
  // (a field compared with five constants measures its text once).
  std::uint8_t ascii = kAsciiUnknown;  // printable ASCII only
  std::uint32_t length = kUnknownLength;
};

struct Instr {
  Op op = Op::kNot;
  std::uint8_t cond = 0;
  std::uint8_t flags = 0;
  std::int8_t sign = 1;
  std::uint16_t a = kNoSlot, b = kNoSlot, c = kNoSlot;  // operands
  std::uint16_t r = kNoSlot;                            // result
  std::uint32_t a_width = 0, b_width = 0, r_width = 0;  // bytes of the value areas
  std::uint32_t partial = 0;  // string comparisons: characters compared, 0 for all
  std::uint32_t aux = 0;      // LIKE: pattern index; IN: list index
  // kFlagFastBytes: the compared texts are byte-equal exactly when the first fast_length
  // bytes of A equal the constant's; up to 8 of them are one masked 64-bit compare.
  std::uint32_t fast_length = 0;
  std::uint64_t fast_word = 0;
  std::uint64_t fast_mask = 0;
  std::uint8_t* out = nullptr;  // the result's value area
  // The slots themselves, resolved when compiling ends; absent operands point at a slot
  // of zeros, so that the evaluator never tests for them.
  Slot* sa = nullptr;
  Slot* sb = nullptr;
  Slot* sc = nullptr;
  Slot* sr = nullptr;
};

// How a field's value reaches its slot.
enum class Load : std::uint8_t {
  kDirect,      // the slot points at the value in place
  kUInt16,      // u16 widened to INT32
  kUInt32,      // u32 as FLOAT
  kInt8,        // i8 (first byte) widened to INT16
  kUInt8,       // u8 (first byte) widened to INT16
  kBool8,       // u8 boolean as BOOL
  kBool32,      // u32 boolean as BOOL
  kInt64,       // i64 as FLOAT
  kUInt64,      // u64 as FLOAT
  kInt16Float,  // INT16 read as FLOAT (the field is only used converted)
  kInt32Float,  // INT32 read as FLOAT
};

struct FieldLoad {
  std::uint32_t field = 0;  // RecordRef index
  std::uint16_t slot = 0;
  Load load = Load::kDirect;
  std::uint8_t* scratch = nullptr;  // converted value (not kDirect)
};

struct InList {
  std::vector<std::uint16_t> items;
  ValueType type = FT_UNKNOWN;
  std::uint32_t width = 0;
};

// The constants of a kEqAnyText instruction, with their fast_word and fast_mask.
struct TextChoices {
  std::vector<std::uint16_t> constants;
  std::vector<std::uint64_t> words;
  std::vector<std::uint64_t> masks;
  bool all_ascii = true;
};

struct SlotInfo {  // compile-time facts, kept for Explain
  ValueType type = FT_UNKNOWN;
  std::uint32_t width = 0;
  std::string label;  // "Name", "'Plains'", "r3"
};

class FilterProgram::Impl {
 public:
  bool Run(const RecordRef& record);
  void RunLoads(const RecordRef& record);
  std::string Explain() const;

  std::vector<std::uint8_t> expression;
  std::vector<Slot> slots;
  std::vector<SlotInfo> slot_info;
  std::vector<FieldLoad> loads;            // read in place
  std::vector<FieldLoad> converted_loads;  // read through a conversion
  std::vector<Instr> program;
  std::vector<LikePattern> patterns;
  std::vector<InList> lists;
  std::vector<TextChoices> choices;
  std::vector<std::uint64_t> arena;      // 8-byte aligned value areas of constants and results
  std::vector<std::uint8_t> zeros;       // the value area of a null field: reads as 0 or ""
  std::vector<char16_t> wide_a, wide_b;  // aligned copies for UTF-16 collation
  std::uint16_t root = kNoSlot;
  const Collation* collation = nullptr;     // case-sensitive
  const Collation* collation_ci = nullptr;  // case-insensitive
  bool ascii_exact = false;  // printable ASCII texts collate equal only when byte-equal
  const BlobSource* blobs = nullptr;
  FilterClock clock = nullptr;
};

template <typename T>
inline T LoadAs(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
inline void StoreAs(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

// The name of an opcode as Explain prints it.
const char* OpName(Op op);

// The local date and time now, as GETDATE gives it.
double LocalNow();

}  // namespace zelvo
