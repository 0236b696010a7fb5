// The explain dump of a filter program: its field operands, then one line per instruction
// in program order, naming every operand by field name, constant value or result number.
#include <cstdio>

#include "filter/filter_internal.h"

namespace zelvo {

namespace {

const char* TypeName(ValueType type) {
  switch (type) {
    case FT_STRING:
      return "STRING";
    case FT_DATE:
      return "DATE";
    case FT_BLOB:
      return "BLOB";
    case FT_BOOL:
      return "BOOL";
    case FT_INT16:
      return "INT16";
    case FT_INT32:
      return "INT32";
    case FT_FLOAT:
      return "FLOAT";
    case FT_BCD:
      return "BCD";
    case FT_BYTES:
      return "BYTES";
    case FT_TIME:
      return "TIME";
    case FT_DATETIME:
      return "DATETIME";
    case FT_SQLTIMESTAMP:
      return "SQLTIMESTAMP";
    case FT_FMTBCD:
      return "FMTBCD";
    case FT_WIDESTRING:
      return "WIDESTRING";
    default:
      return "OPAQUE";
  }
}

const char* LoadName(Load load) {
  switch (load) {
    case Load::kDirect:
      return "in place";
    case Load::kUInt16:
      return "u16 widened";
    case Load::kUInt32:
      return "u32 as float";
    case Load::kInt8:
      return "i8 widened";
    case Load::kUInt8:
      return "u8 widened";
    case Load::kBool8:
      return "8-bit boolean";
    case Load::kBool32:
      return "32-bit boolean";
    case Load::kInt64:
      return "i64 as float";
    case Load::kUInt64:
      return "u64 as float";
    case Load::kInt16Float:
      return "int16 as float";
    case Load::kInt32Float:
      return "int32 as float";
  }
  return "";
}

const char* CondName(std::uint8_t cond) {
  static const char* const kNames[] = {"=", "<>", "<", ">", "<=", ">="};
  return cond < 6 ? kNames[cond] : "?";
}

}  // namespace

const char* OpName(Op op) {
  switch (op) {
    case Op::kIsNull:
      return "IsNull";
    case Op::kNotNull:
      return "NotNull";
    case Op::kNot:
      return "Not";
    case Op::kAndN:
      return "AndN";
    case Op::kOrN:
      return "OrN";
    case Op::kEqAnyText:
      return "EqAnyText";
    case Op::kCmpInt16:
      return "CmpInt16";
    case Op::kCmpInt32:
      return "CmpInt32";
    case Op::kCmpFloat:
      return "CmpFloat";
    case Op::kCmpBool:
      return "CmpBool";
    case Op::kCmpTimeStamp:
      return "CmpTimeStamp";
    case Op::kCmpString:
      return "CmpString";
    case Op::kCmpWide:
      return "CmpWide";
    case Op::kCmpBytes:
      return "CmpBytes";
    case Op::kAddInt16:
      return "AddInt16";
    case Op::kSubInt16:
      return "SubInt16";
    case Op::kMulInt16:
      return "MulInt16";
    case Op::kDivInt16:
      return "DivInt16";
    case Op::kAddInt32:
      return "AddInt32";
    case Op::kSubInt32:
      return "SubInt32";
    case Op::kMulInt32:
      return "MulInt32";
    case Op::kDivInt32:
      return "DivInt32";
    case Op::kAddFloat:
      return "AddFloat";
    case Op::kSubFloat:
      return "SubFloat";
    case Op::kMulFloat:
      return "MulFloat";
    case Op::kDivFloat:
      return "DivFloat";
    case Op::kConcat:
      return "Concat";
    case Op::kDateAddDays:
      return "DateAddDays";
    case Op::kTimeAddHours:
      return "TimeAddHours";
    case Op::kDateTimeAddDays:
      return "DateTimeAddDays";
    case Op::kTimeStampAddDays:
      return "TimeStampAddDays";
    case Op::kDateDiff:
      return "DateDiff";
    case Op::kDateTimeDiff:
      return "DateTimeDiff";
    case Op::kTimeStampDiff:
      return "TimeStampDiff";
    case Op::kTimeDiff:
      return "TimeDiff";
    case Op::kInt16ToFloat:
      return "Int16ToFloat";
    case Op::kInt32ToFloat:
      return "Int32ToFloat";
    case Op::kBcdToFloat:
      return "BcdToFloat";
    case Op::kDateTimeToTime:
      return "DateTimeToTime";
    case Op::kDateToDateTime:
      return "DateToDateTime";
    case Op::kDateToTimeStamp:
      return "DateToTimeStamp";
    case Op::kStringToWide:
      return "StringToWide";
    case Op::kBoolToString:
      return "BoolToString";
    case Op::kLike:
      return "Like";
    case Op::kLikeBlob:
      return "LikeBlob";
    case Op::kIn:
      return "In";
    case Op::kUpper:
      return "Upper";
    case Op::kLower:
      return "Lower";
    case Op::kSubstring:
      return "Substring";
    case Op::kTrim:
      return "Trim";
    case Op::kYear:
      return "Year";
    case Op::kMonth:
      return "Month";
    case Op::kDay:
      return "Day";
    case Op::kHour:
      return "Hour";
    case Op::kMinute:
      return "Minute";
    case Op::kSecond:
      return "Second";
    case Op::kGetDate:
      return "GetDate";
    case Op::kGetSqlDate:
      return "GetSqlDate";
    case Op::kDateOf:
      return "DateOf";
    case Op::kTimeOf:
      return "TimeOf";
  }
  return "?";
}

std::string FilterProgram::Impl::Explain() const {
  std::string out;
  char line[160];
  std::vector<FieldLoad> all = loads;
  all.insert(all.end(), converted_loads.begin(), converted_loads.end());
  for (const FieldLoad& load : all) {
    const SlotInfo& info = slot_info[load.slot];
    std::snprintf(line, sizeof(line), "field %s: %s %u, %s\n", info.label.c_str(),
                  TypeName(info.type), info.width, LoadName(load.load));
    out += line;
  }
  auto name = [this](std::uint16_t slot) -> std::string {
    return slot == kNoSlot ? std::string() : slot_info[slot].label;
  };
  for (std::size_t i = 0; i < program.size(); ++i) {
    const Instr& in = program[i];
    std::string operands = name(in.a);
    switch (in.op) {
      case Op::kCmpInt16:
      case Op::kCmpInt32:
      case Op::kCmpFloat:
      case Op::kCmpBool:
      case Op::kCmpTimeStamp:
      case Op::kCmpString:
      case Op::kCmpWide:
      case Op::kCmpBytes:
        operands += std::string(" ") + CondName(in.cond) + " " + name(in.b);
        break;
      case Op::kAndN:
      case Op::kOrN: {
        const InList& list = lists[in.aux];
        operands.clear();
        for (std::size_t k = 0; k < list.items.size(); ++k) {
          operands += (k ? (in.op == Op::kAndN ? " and " : " or ") : "") + name(list.items[k]);
        }
        break;
      }
      case Op::kEqAnyText: {
        const TextChoices& list = choices[in.aux];
        for (std::size_t k = 0; k < list.constants.size(); ++k) {
          operands += (k ? " or " : " = ") + name(list.constants[k]);
        }
        break;
      }
      case Op::kIn: {
        operands += " in (";
        const InList& list = lists[in.aux];
        for (std::size_t k = 0; k < list.items.size(); ++k) {
          operands += (k ? ", " : "") + name(list.items[k]);
        }
        operands += ")";
        break;
      }
      case Op::kDateAddDays:
      case Op::kTimeAddHours:
      case Op::kDateTimeAddDays:
      case Op::kTimeStampAddDays:
        operands += std::string(in.sign > 0 ? " + " : " - ") + name(in.b);
        break;
      case Op::kGetDate:
      case Op::kGetSqlDate:
        operands.clear();
        break;
      default:
        if (in.b != kNoSlot) operands += ", " + name(in.b);
        if (in.c != kNoSlot) operands += ", " + name(in.c);
        break;
    }
    std::string notes;
    if (in.partial != 0) notes += " partial " + std::to_string(in.partial);
    if (in.flags & kFlagCaseInsensitive) notes += " nocase";
    if (in.flags & kFlagFixedChar) notes += " fixedchar";
    if (in.flags & kFlagDynamic) notes += " pattern-per-record";
    std::snprintf(line, sizeof(line), "%3zu %-16s ", i, OpName(in.op));
    out += line + name(in.r) + " = " + operands + notes + "\n";
  }
  out += "pass when " + name(root) + " is true and not null\n";
  return out;
}

}  // namespace zelvo
