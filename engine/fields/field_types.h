// The catalogue of engine field types: codes, field descriptions, attribute bits, subtypes,
// the client's field kinds, and the mapping between field types and packet type words.
#pragma once

#include <cstdint>
#include <string_view>

#include "result.h"

namespace zelvo {

// Engine field types. The numbers are stored nowhere but in memory; packets carry type words.
enum FieldType : std::uint32_t {
  FT_UNKNOWN = 0,
  FT_STRING = 1,
  FT_DATE = 2,
  FT_BLOB = 3,
  FT_BOOL = 4,
  FT_INT16 = 5,
  FT_INT32 = 6,
  FT_FLOAT = 7,
  FT_BCD = 8,
  FT_BYTES = 9,
  FT_TIME = 10,
  FT_DATETIME = 11,
  FT_UINT16 = 12,
  FT_UINT32 = 13,
  FT_EXTENDED = 14,
  FT_VARBYTES = 15,
  FT_INT64 = 18,
  FT_UINT64 = 19,
  FT_STRUCT = 20,
  FT_ARRAY = 21,
  FT_REF = 22,
  FT_TABLE = 23,
  FT_SQLTIMESTAMP = 24,
  FT_FMTBCD = 25,
  FT_INT8 = 0x1001,
  FT_UINT8 = 0x1002,
  FT_BOOL8 = 0x1003,
  FT_BOOL32 = 0x1004,
  FT_WIDESTRING = 0x1007,
};

// Field attribute bits, also the u16 attribute word of a packet column.
enum FieldAttribute : std::uint32_t {
  kAttrHidden = 0x0001,
  kAttrReadOnly = 0x0002,
  kAttrRequired = 0x0004,
  kAttrLinkField = 0x0008,
};

// Field state bytes kept after the values of a record.
enum FieldState : std::uint8_t {
  kFieldValue = 0,
  kFieldNull = 1,
  kFieldUnchanged = 2,
};

// Calculated markers of a field description.
enum CalculatedMarker : std::uint32_t {
  kStoredField = 0,
  kCalculatedByOwner = 1,
  kCalculatedByEngine = 2,  // never written to packets
};

// Subtype codes of the "SUBTYPE" parameter.
enum Subtype : std::uint32_t {
  kSubtypeNone = 0,
  kSubtypeMoney = 21,
  kSubtypeText = 22,
  kSubtypeBinary = 23,
  kSubtypeFormatted = 24,
  kSubtypeOle = 25,
  kSubtypeGraphics = 26,
  kSubtypeQKortOle = 27,
  kSubtypeTypedBinary = 28,
  kSubtypeAutoinc = 29,
  kSubtypeAccessOle = 30,
  kSubtypeFixedChar = 31,
  kSubtypeWideText = 32,  // has no name and is never written as a parameter
  kSubtypeHMemo = 33,
  kSubtypeHBinary = 34,
  kSubtypeAdtNestedTable = 35,
  kSubtypeBFile = 36,
  kSubtypeAdtDate = 37,
  kSubtypeGuid = 38,
  kSubtypeReference = 70,
  kSubtypeUnknownName = 255,  // a "SUBTYPE" text that is not in the table
};

constexpr std::size_t kMaxFieldName = 31;
constexpr std::uint32_t kMaxFieldLength = 65531;

// The description of one field of a table.
struct FieldDesc {
  char name[kMaxFieldName + 1] = {};  // zero-terminated
  std::uint32_t type = FT_UNKNOWN;
  std::uint32_t subtype = kSubtypeNone;
  // Characters or bytes (strings, bytes, blobs), precision (BCD), children (structure),
  // elements (array) or columns (nested table).
  std::uint32_t units1 = 0;
  // Decimal places (BCD and other numeric types); for a structure or array, the number of
  // fields that follow it as its descendants.
  std::uint32_t units2 = 0;
  std::uint32_t length = 0;        // bytes of the value in a record (record layout fills it)
  std::uint32_t offset = 0;        // offset of the value in the record
  std::uint32_t state_offset = 0;  // offset of the field state byte in the record
  std::uint16_t field_number = 0;  // from 1
  std::uint16_t parent_number = 0; // enclosing structure or array, 0 at the top
  std::uint32_t calculated = kStoredField;
  std::uint32_t attributes = 0;
  std::uint32_t param_count = 0;   // packet parameters kept for the field

  std::string_view Name() const;
  // Stores at most kMaxFieldName bytes of `name`.
  void SetName(std::string_view name);
};

// True for the types whose values live outside the record (nested rows, blobs) or that have
// no value of their own; such fields cannot be index keys.
bool IsKeyableType(std::uint32_t field_type);

// ASCII letters compared without case (names of subtypes, parameters and type words).
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The subtype name of a code ("Money" ...), or an empty view for codes without a name.
std::string_view SubtypeName(std::uint32_t subtype);
// The subtype code of a name, compared case-insensitively; kSubtypeUnknownName when unknown.
std::uint32_t SubtypeOfName(std::string_view name);

// The programs' data layer describes fields by kind.
enum class ClientFieldKind {
  kUnknown,
  kString,
  kFixedString,
  kWideString,
  kGuid,
  kSmallint,
  kInteger,
  kAutoInc,
  kWord,
  kLargeint,
  kBoolean,
  kFloat,
  kCurrency,
  kBcd,
  kFmtBcd,
  kDate,
  kTime,
  kDateTime,
  kTimeStamp,
  kBytes,
  kVarBytes,
  kMemo,
  kBlob,
  kFmtMemo,
  kGraphic,
  kParadoxOle,
  kDBaseOle,
  kTypedBinary,
  kOraClob,
  kOraBlob,
  kStruct,
  kArray,
  kReference,
  kDataSet,
};

struct EngineTypeOfKind {
  std::uint32_t type;
  std::uint32_t subtype;
};

// The engine field type and subtype of a client field kind. kUnknown gives FT_UNKNOWN.
EngineTypeOfKind EngineTypeOf(ClientFieldKind kind);
// The client field kind of an engine field type and subtype.
ClientFieldKind ClientKindOf(std::uint32_t field_type, std::uint32_t subtype);

// The packet type word of a field: from its type, record length and first unit count.
std::uint32_t PacketTypeOfField(std::uint32_t field_type, std::uint32_t length,
                                std::uint32_t units1);

// The field type, record length and first unit count of a packet column's type word.
// Variable-length columns get length 0 (their width arrives in a "WIDTH" parameter).
// Fails with kUnusableType for a type word with the array bit.
struct FieldTypeOfPacket {
  std::uint32_t type = FT_UNKNOWN;
  std::uint32_t length = 0;
  std::uint32_t units1 = 0;
};
DBResult FieldTypeOfPacketType(std::uint32_t type_word, FieldTypeOfPacket* out);

}  // namespace zelvo
