// Field type catalogue: subtype names, client kinds and packet type words.
#include "fields/field_types.h"

#include <algorithm>
#include <cstring>

#include "fields/type_word.h"

namespace zelvo {

std::string_view FieldDesc::Name() const { return {name, ::strnlen(name, sizeof(name))}; }

void FieldDesc::SetName(std::string_view text) {
  std::size_t n = std::min(text.size(), kMaxFieldName);
  std::memset(name, 0, sizeof(name));
  std::memcpy(name, text.data(), n);
}

bool IsKeyableType(std::uint32_t field_type) {
  switch (field_type) {
    case FT_BLOB:
    case FT_STRUCT:
    case FT_ARRAY:
    case FT_REF:
    case FT_TABLE:
      return false;
    default:
      return true;
  }
}

namespace {

struct SubtypeNameEntry {
  std::uint32_t code;
  std::string_view name;
};

constexpr SubtypeNameEntry kSubtypeNames[] = {
    {kSubtypeMoney, "Money"},           {kSubtypeText, "Text"},
    {kSubtypeBinary, "Binary"},         {kSubtypeFormatted, "Formatted"},
    {kSubtypeOle, "Ole"},               {kSubtypeGraphics, "Graphics"},
    {kSubtypeQKortOle, "qKORTOle"},     {kSubtypeTypedBinary, "TypedBinary"},
    {kSubtypeAutoinc, "Autoinc"},       {kSubtypeAccessOle, "AccessOle"},
    {kSubtypeFixedChar, "FixedChar"},   {kSubtypeHMemo, "HMemo"},
    {kSubtypeHBinary, "HBinary"},       {kSubtypeAdtNestedTable, "ADTNestedTable"},
    {kSubtypeBFile, "BFile"},           {kSubtypeAdtDate, "ADTDate"},
    {kSubtypeGuid, "Guid"},             {kSubtypeReference, "Reference"},
};

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view SubtypeName(std::uint32_t subtype) {
  for (const auto& entry : kSubtypeNames) {
    if (entry.code == subtype) return entry.name;
  }
  return {};
}

std::uint32_t SubtypeOfName(std::string_view name) {
  for (const auto& entry : kSubtypeNames) {
    if (EqualsIgnoringAsciiCase(entry.name, name)) return entry.code;
  }
  return kSubtypeUnknownName;
}

EngineTypeOfKind EngineTypeOf(ClientFieldKind kind) {
  using K = ClientFieldKind;
  switch (kind) {
    case K::kString: return {FT_STRING, kSubtypeNone};
    case K::kFixedString: return {FT_STRING, kSubtypeFixedChar};
    case K::kWideString: return {FT_STRING, kSubtypeWideText};
    case K::kGuid: return {FT_STRING, kSubtypeGuid};
    case K::kSmallint: return {FT_INT16, kSubtypeNone};
    case K::kInteger: return {FT_INT32, kSubtypeNone};
    case K::kAutoInc: return {FT_INT32, kSubtypeAutoinc};
    case K::kWord: return {FT_UINT16, kSubtypeNone};
    case K::kLargeint: return {FT_INT64, kSubtypeNone};
    case K::kBoolean: return {FT_BOOL, kSubtypeNone};
    case K::kFloat: return {FT_FLOAT, kSubtypeNone};
    case K::kCurrency: return {FT_FLOAT, kSubtypeMoney};
    case K::kBcd: return {FT_BCD, kSubtypeNone};
    case K::kFmtBcd: return {FT_FMTBCD, kSubtypeNone};
    case K::kDate: return {FT_DATE, kSubtypeNone};
    case K::kTime: return {FT_TIME, kSubtypeNone};
    case K::kDateTime: return {FT_DATETIME, kSubtypeNone};
    case K::kTimeStamp: return {FT_SQLTIMESTAMP, kSubtypeFormatted};
    case K::kBytes: return {FT_BYTES, kSubtypeNone};
    case K::kVarBytes: return {FT_VARBYTES, kSubtypeNone};
    case K::kMemo: return {FT_BLOB, kSubtypeText};
    case K::kBlob: return {FT_BLOB, kSubtypeBinary};
    case K::kFmtMemo: return {FT_BLOB, kSubtypeFormatted};
    case K::kGraphic: return {FT_BLOB, kSubtypeGraphics};
    case K::kParadoxOle: return {FT_BLOB, kSubtypeOle};
    case K::kDBaseOle: return {FT_BLOB, kSubtypeQKortOle};
    case K::kTypedBinary: return {FT_BLOB, kSubtypeTypedBinary};
    case K::kOraClob: return {FT_BLOB, kSubtypeHMemo};
    case K::kOraBlob: return {FT_BLOB, kSubtypeHBinary};
    case K::kStruct: return {FT_STRUCT, kSubtypeNone};
    case K::kArray: return {FT_ARRAY, kSubtypeNone};
    case K::kReference: return {FT_REF, kSubtypeNone};
    case K::kDataSet: return {FT_TABLE, kSubtypeNone};
    case K::kUnknown: break;
  }
  return {FT_UNKNOWN, kSubtypeNone};
}

ClientFieldKind ClientKindOf(std::uint32_t field_type, std::uint32_t subtype) {
  using K = ClientFieldKind;
  switch (field_type) {
    case FT_STRING:
      switch (subtype) {
        case kSubtypeFixedChar: return K::kFixedString;
        case kSubtypeWideText: return K::kWideString;
        case kSubtypeGuid: return K::kGuid;
        default: return K::kString;
      }
    case FT_WIDESTRING: return K::kWideString;
    case FT_INT8:
    case FT_UINT8:
    case FT_INT16: return K::kSmallint;
    case FT_INT32: return subtype == kSubtypeAutoinc ? K::kAutoInc : K::kInteger;
    case FT_UINT32: return K::kInteger;
    case FT_UINT16: return K::kWord;
    case FT_INT64:
    case FT_UINT64: return K::kLargeint;
    case FT_BOOL:
    case FT_BOOL8:
    case FT_BOOL32: return K::kBoolean;
    case FT_FLOAT: return subtype == kSubtypeMoney ? K::kCurrency : K::kFloat;
    case FT_BCD: return K::kBcd;
    case FT_FMTBCD: return K::kFmtBcd;
    case FT_DATE: return K::kDate;
    case FT_TIME: return K::kTime;
    case FT_DATETIME: return K::kDateTime;
    case FT_SQLTIMESTAMP: return K::kTimeStamp;
    case FT_BYTES: return K::kBytes;
    case FT_VARBYTES: return K::kVarBytes;
    case FT_BLOB:
      switch (subtype) {
        case kSubtypeText: return K::kMemo;
        case kSubtypeFormatted: return K::kFmtMemo;
        case kSubtypeOle:
        case kSubtypeQKortOle: return K::kParadoxOle;
        case kSubtypeGraphics: return K::kGraphic;
        case kSubtypeTypedBinary: return K::kTypedBinary;
        case kSubtypeHMemo: return K::kOraClob;
        case kSubtypeHBinary: return K::kOraBlob;
        default: return K::kBlob;
      }
    case FT_STRUCT: return K::kStruct;
    case FT_ARRAY: return K::kArray;
    case FT_REF: return K::kReference;
    case FT_TABLE: return K::kDataSet;
    default: return K::kUnknown;
  }
}

std::uint32_t PacketTypeOfField(std::uint32_t field_type, std::uint32_t length,
                                std::uint32_t units1) {
  // A variable-length value needs a 2-byte prefix once its longest value passes 254 bytes.
  auto varying = [length](std::uint32_t base) {
    return MakeVaryingType(base, length <= 254 ? 1 : 2);
  };
  switch (field_type) {
    case FT_UNKNOWN: return MakeType(0, length);
    case FT_STRING: return varying(PT_STRING);
    case FT_DATE: return MakeType(PT_DATE, 4);
    case FT_BLOB: return MakeVaryingType(PT_BYTES, 4);
    case FT_BOOL: return MakeType(PT_BOOL, 2);
    case FT_INT16: return MakeType(PT_INT, 2);
    case FT_INT32: return MakeType(PT_INT, 4);
    case FT_FLOAT: return MakeType(PT_FLOAT, 8);
    case FT_BCD: return MakeType(PT_BCD, length);
    case FT_BYTES: return MakeType(PT_BYTES, length);
    case FT_TIME: return MakeType(PT_TIME, 4);
    case FT_DATETIME: return MakeType(PT_DATETIME, 8);
    case FT_UINT16: return MakeType(PT_UINT, 2);
    case FT_UINT32: return MakeType(PT_UINT, 4);
    case FT_EXTENDED: return MakeType(PT_FLOAT, 10);
    case FT_VARBYTES: return varying(PT_BYTES);
    case FT_INT64: return MakeType(PT_INT, 8);
    case FT_UINT64: return MakeType(PT_UINT, 8);
    case FT_STRUCT: return MakeType(PT_STRUCT, units1) | kTypeComposite;
    case FT_ARRAY: return MakeType(PT_ARRAY, units1) | kTypeComposite | kTypeArrayColumn;
    case FT_REF: return MakeType(PT_REF, units1) | kTypeComposite;
    case FT_TABLE: return MakeType(PT_NESTED, units1) | kTypeComposite | kTypeNestedColumn;
    case FT_SQLTIMESTAMP: return MakeType(PT_SQLTIMESTAMP, 16);
    case FT_FMTBCD: return MakeType(PT_FMTBCD, length);
    case FT_INT8: return MakeType(PT_INT, 1);
    case FT_UINT8: return MakeType(PT_UINT, 1);
    case FT_BOOL8: return MakeType(PT_BOOL, 1);
    case FT_BOOL32: return MakeType(PT_BOOL, 4);
    case FT_WIDESTRING: return varying(PT_WIDESTRING);
    default: return 0;  // codes 16, 17 and unknown numbers have no packet type
  }
}

DBResult FieldTypeOfPacketType(std::uint32_t type_word, FieldTypeOfPacket* out) {
  if (TypeIsArray(type_word)) return DBResult::kUnusableType;
  const std::uint32_t size = TypeSize(type_word);
  const bool varying = TypeIsVarying(type_word);
  FieldTypeOfPacket r;
  auto by_size = [&](std::uint32_t s1, std::uint32_t t1, std::uint32_t s2, std::uint32_t t2,
                     std::uint32_t s3, std::uint32_t t3, std::uint32_t s4, std::uint32_t t4) {
    if (size == s1) r.type = t1;
    else if (size == s2) r.type = t2;
    else if (size == s3) r.type = t3;
    else if (size == s4) r.type = t4;
    else r.type = FT_UNKNOWN;
    r.length = size;
  };
  switch (TypeBase(type_word)) {
    case PT_INT: by_size(1, FT_INT8, 2, FT_INT16, 4, FT_INT32, 8, FT_INT64); break;
    case PT_UINT: by_size(1, FT_UINT8, 2, FT_UINT16, 4, FT_UINT32, 8, FT_UINT64); break;
    case PT_BOOL: by_size(1, FT_BOOL8, 2, FT_BOOL, 4, FT_BOOL32, 0xFFFFFFFF, FT_UNKNOWN); break;
    case PT_FLOAT: by_size(8, FT_FLOAT, 10, FT_EXTENDED, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0); break;
    case PT_BCD: r = {FT_BCD, size, 0}; break;
    case PT_FMTBCD: r = {FT_FMTBCD, size, 0}; break;
    case PT_DATE: r = {FT_DATE, size, 0}; break;
    case PT_TIME: r = {FT_TIME, size, 0}; break;
    case PT_DATETIME: r = {FT_DATETIME, size, 0}; break;
    case PT_SQLTIMESTAMP: r = {FT_SQLTIMESTAMP, size, 0}; break;
    case PT_STRING: r = {FT_STRING, varying ? 0 : size, 0}; break;
    case PT_WIDESTRING: r = {FT_WIDESTRING, varying ? 0 : size, 0}; break;
    case PT_BYTES:
    case PT_BYTES_ALIAS:
      if (!varying) r = {FT_BYTES, size, size};
      else if (size == 4) r = {FT_BLOB, 0, 0};
      else r = {FT_VARBYTES, 0, 0};
      break;
    case PT_STRUCT: r = {FT_STRUCT, 0, size}; break;
    case PT_ARRAY: r = {FT_ARRAY, 0, size}; break;
    case PT_NESTED: r = {FT_TABLE, 4, size}; break;
    default: r = {FT_UNKNOWN, size, 0}; break;
  }
  *out = r;
  return DBResult::kOk;
}

}  // namespace zelvo
