// Client field types: the kind mapping and the type classes of the filter typing rules.
#include "filter/client_field_type.h"

namespace zelvo {

TFieldType FieldTypeOfKind(ClientFieldKind kind) {
  using K = ClientFieldKind;
  switch (kind) {
    case K::kUnknown:
      return ftUnknown;
    case K::kString:
      return ftString;
    case K::kFixedString:
      return ftFixedChar;
    case K::kWideString:
      return ftWideString;
    case K::kGuid:
      return ftGuid;
    case K::kSmallint:
      return ftSmallint;
    case K::kInteger:
      return ftInteger;
    case K::kAutoInc:
      return ftAutoInc;
    case K::kWord:
      return ftWord;
    case K::kLargeint:
      return ftLargeint;
    case K::kBoolean:
      return ftBoolean;
    case K::kFloat:
      return ftFloat;
    case K::kCurrency:
      return ftCurrency;
    case K::kBcd:
      return ftBCD;
    case K::kFmtBcd:
      return ftFMTBcd;
    case K::kDate:
      return ftDate;
    case K::kTime:
      return ftTime;
    case K::kDateTime:
      return ftDateTime;
    case K::kTimeStamp:
      return ftTimeStamp;
    case K::kBytes:
      return ftBytes;
    case K::kVarBytes:
      return ftVarBytes;
    case K::kMemo:
      return ftMemo;
    case K::kBlob:
      return ftBlob;
    case K::kFmtMemo:
      return ftFmtMemo;
    case K::kGraphic:
      return ftGraphic;
    case K::kParadoxOle:
      return ftParadoxOle;
    case K::kDBaseOle:
      return ftDBaseOle;
    case K::kTypedBinary:
      return ftTypedBinary;
    case K::kOraClob:
      return ftOraClob;
    case K::kOraBlob:
      return ftOraBlob;
    case K::kStruct:
      return ftADT;
    case K::kArray:
      return ftArray;
    case K::kReference:
      return ftReference;
    case K::kDataSet:
      return ftDataSet;
  }
  return ftUnknown;
}

std::string_view FieldTypeName(TFieldType type) {
  static constexpr std::string_view kNames[] = {
      "ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
      "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
      "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
      "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
      "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
      "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid",
      "ftTimeStamp",  "ftFMTBcd",
  };
  return type <= ftFMTBcd ? kNames[type] : std::string_view("ftUnknown");
}

bool IsBlobType(TFieldType type) {
  return (type >= ftBlob && type <= ftTypedBinary) || type == ftOraBlob || type == ftOraClob;
}

bool IsStringType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftGuid;
}

bool IsTemporalType(TFieldType type) {
  return type == ftDate || type == ftTime || type == ftDateTime || type == ftTimeStamp;
}

bool IsNumericType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
    case ftFMTBcd:
      return true;
    default:
      return false;
  }
}

}  // namespace zelvo
