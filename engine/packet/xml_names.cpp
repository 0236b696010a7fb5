// Field type words, attribute-form parameters and row attribute names of XML packets.
#include "packet/xml_names.h"

#include <unordered_set>

#include "fields/type_word.h"

namespace zelvo {

namespace {

struct TypeWordEntry {
  std::string_view word;
  std::uint32_t type;
};

constexpr std::uint32_t kIntArrayType = kTypeArray | (PT_INT << kTypeBaseShift) | 4;
constexpr std::uint32_t kUIntArrayType = kTypeArray | (PT_UINT << kTypeBaseShift) | 4;

// Every word the reader accepts, with the type word it reads as.
constexpr TypeWordEntry kReadWords[] = {
    {"i1", MakeType(PT_INT, 1)},
    {"i2", MakeType(PT_INT, 2)},
    {"i4", MakeType(PT_INT, 4)},
    {"i8", MakeType(PT_INT, 8)},
    {"i", MakeType(PT_INT, 4)},
    {"int", MakeType(PT_INT, 4)},
    {"ui1", MakeType(PT_UINT, 1)},
    {"ui2", MakeType(PT_UINT, 2)},
    {"ui4", MakeType(PT_UINT, 4)},
    {"ui8", MakeType(PT_UINT, 8)},
    {"ui", MakeType(PT_UINT, 4)},
    {"uint", MakeType(PT_UINT, 4)},
    {"boolean", MakeType(PT_BOOL, 2)},
    {"r8", MakeType(PT_FLOAT, 8)},
    {"r10", MakeType(PT_FLOAT, 10)},
    {"fixed", MakeType(PT_BCD, 32)},
    {"fixedFMT", MakeType(PT_FMTBCD, 32)},
    {"date", MakeType(PT_DATE, 4)},
    {"time", MakeType(PT_TIME, 4)},
    {"dateTime", MakeType(PT_DATETIME, 8)},
    {"SQLdateTime", MakeType(PT_SQLTIMESTAMP, 16)},
    {"string", MakeVaryingType(PT_STRING, 1)},
    {"string.uni", MakeVaryingType(PT_WIDESTRING, 1)},
    {"bin.hex", MakeVaryingType(PT_BYTES, 1)},
    {"nested", MakeType(PT_NESTED, 0) | kTypeComposite | kTypeNestedColumn},
    {"struct", MakeType(PT_STRUCT, 0) | kTypeComposite},
    {"IntArray", kIntArrayType},
    {"UIntArray", kUIntArrayType},
};

constexpr XmlAttributeParam kAttributeParams[] = {
    {"UNIQUE_KEY", "UIntArray", false},
    {"DEFAULT_ORDER", "UIntArray", false},
    {"CHANGE_LOG", "UIntArray", false},
    {"SERVER_COL", "string", false},
    {"DATASET_DELTA", "boolean", false},
    {"READONLY", "boolean", false},
    {"SUBTYPE", "string", false},
    {"DECIMALS", "i2", false},
    {"WIDTH", "i2", false},
    {"LCID", "i2", false},
    {"AUTOINCVALUE", "i4", false},
    {"TABLENAME", "string", false},
    {"MD_FIELDLINKS", "UIntArray", false},
    {"TYPENAME", "string", false},
    {"UPDATEMODE", "i2", false},
    {"MD_SEMANTICS", "UIntArray", false},
    {"CALCULATED", "boolean", false},
    {"DELTA", "boolean", false},
    {"PRIMARY_KEY", "UIntArray", false},
    {"MINVALUE", "string", true},
    {"MAXVALUE", "string", true},
    {"DEFVALUE", "string", true},
};

bool IsIntegerBase(std::uint32_t base) { return base == PT_INT || base == PT_UINT; }

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

}  // namespace

DBResult XmlTypeWordOf(std::uint32_t type, std::string_view* word) {
  const std::uint32_t base = TypeBase(type);
  const std::uint32_t size = TypeSize(type);
  if (TypeIsArray(type)) {
    // Only integer arrays have words, and the reader widens their elements to 4 bytes.
    if (TypeIsVarying(type) || !IsIntegerBase(base) || size == 0 || size > 4 || size == 3) {
      return DBResult::kXmlBadValue;
    }
    *word = base == PT_INT ? "IntArray" : "UIntArray";
    return DBResult::kOk;
  }
  auto by_size = [&](std::string_view w1, std::string_view w2, std::string_view w4) {
    switch (size) {
      case 1:
        *word = w1;
        return DBResult::kOk;
      case 2:
        *word = w2;
        return DBResult::kOk;
      case 4:
        *word = w4;
        return DBResult::kOk;
      default:
        return DBResult::kXmlBadValue;
    }
  };
  switch (base) {
    case PT_INT:
      return by_size("i1", "i2", "i4");
    case PT_UINT:
      return by_size("ui1", "ui2", "ui4");
    case PT_BOOL:
      *word = "boolean";
      return DBResult::kOk;
    case PT_FLOAT:
      if (size != 8) return DBResult::kXmlBadValue;
      *word = "r8";
      return DBResult::kOk;
    case PT_BCD:
      *word = "fixed";
      return DBResult::kOk;
    case PT_FMTBCD:
      *word = "fixedFMT";
      return DBResult::kOk;
    case PT_DATE:
      *word = "date";
      return DBResult::kOk;
    case PT_TIME:
      *word = "time";
      return DBResult::kOk;
    case PT_DATETIME:
      *word = "dateTime";
      return DBResult::kOk;
    case PT_SQLTIMESTAMP:
      *word = "SQLdateTime";
      return DBResult::kOk;
    case PT_STRING:
      *word = "string";
      return DBResult::kOk;
    case PT_WIDESTRING:
      *word = "string.uni";
      return DBResult::kOk;
    case PT_BYTES:
    case PT_BYTES_ALIAS:
      *word = "bin.hex";
      return DBResult::kOk;
    case PT_NESTED:
      *word = "nested";
      return DBResult::kOk;
    default:
      return DBResult::kXmlBadValue;
  }
}

DBResult TypeOfXmlTypeWord(std::string_view word, std::uint32_t* type) {
  for (const TypeWordEntry& entry : kReadWords) {
    if (EqualsIgnoringAsciiCase(entry.word, word)) {
      *type = entry.type;
      return DBResult::kOk;
    }
  }
  return DBResult::kUnusableType;
}

const XmlAttributeParam* FindAttributeParam(std::string_view name) {
  for (const XmlAttributeParam& param : kAttributeParams) {
    if (param.name == name) return &param;
  }
  return nullptr;
}

bool FitsAttributeForm(const XmlAttributeParam& param, std::uint32_t type) {
  if ((type & kTypeRoundtrip) != 0) return false;
  const std::uint32_t base = TypeBase(type);
  const std::uint32_t size = TypeSize(type);
  if (param.any_type) return true;
  if (param.read_word == "UIntArray") {
    return TypeIsArray(type) && !TypeIsVarying(type) && IsIntegerBase(base) && size >= 1 &&
           size <= 4 && size != 3;
  }
  if (TypeIsArray(type)) return false;
  if (param.read_word == "string") return base == PT_STRING;
  if (param.read_word == "boolean") return base == PT_BOOL || (IsIntegerBase(base) && size <= 4);
  const std::uint32_t read_size = param.read_word == "i2" ? 2 : 4;
  return IsIntegerBase(base) && size >= 1 && size <= read_size && size != 3;
}

std::vector<std::string> XmlAttributeNames(const std::vector<std::string_view>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  std::unordered_set<std::string> used = {"RowState"};
  auto taken = [&used](const std::string& candidate) { return used.count(candidate) != 0; };
  for (std::size_t pos = 0; pos < names.size(); ++pos) {
    std::string name;
    name.reserve(names[pos].size() + 1);
    for (char c : names[pos]) name.push_back(IsNameChar(c) ? c : '_');
    if (!name.empty() && !IsNameStart(name[0])) name.insert(name.begin(), '_');
    if (name.empty() || taken(name)) {
      name = "xF" + std::to_string(pos);
      while (taken(name)) name.push_back('_');
    }
    used.insert(name);
    out.push_back(std::move(name));
  }
  return out;
}

}  // namespace zelvo
