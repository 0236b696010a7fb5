// The client's field types (TFieldType) in the platform's enumeration order, which the
// filter parser types its nodes with, and their mapping from the engine's client field kinds.
#pragma once

#include <cstdint>
#include <string_view>

#include "fields/field_types.h"

namespace zelvo {

// The order matters: "ftBlob to ftTypedBinary" is a range of this enumeration.
enum TFieldType : std::uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
};

TFieldType FieldTypeOfKind(ClientFieldKind kind);
// The platform's name of a type ("ftString"), for diagnostics and tests.
std::string_view FieldTypeName(TFieldType type);

// Classes the typing rules speak of.
bool IsBlobType(TFieldType type);      // ftBlob..ftTypedBinary, ftOraBlob, ftOraClob
bool IsStringType(TFieldType type);    // ftString, ftFixedChar, ftWideString, ftGuid
bool IsTemporalType(TFieldType type);  // ftDate, ftTime, ftDateTime, ftTimeStamp
bool IsNumericType(TFieldType type);   // ftSmallint ... ftFMTBcd, the arithmetic types

}  // namespace zelvo
