// Message texts of the engine's result codes.
#include "result.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace zelvo {

std::string_view ErrorText(DBResult code) {
  switch (code) {
    case DBResult::kOk: return "Operation succeeded";
    case DBResult::kRowLayout: return "Row layout of the data packet could not be built";
    case DBResult::kBeforeFirst: return "At beginning of table";
    case DBResult::kAfterLast: return "At end of table";
    case DBResult::kDeletedPosition: return "Record has been deleted";
    case DBResult::kNoRecord: return "No current record";
    case DBResult::kNotFound: return "Record or key not found";
    case DBResult::kNoMessage: return "No message for error";
    case DBResult::kOutOfMemory: return "Insufficient memory for this operation";
    case DBResult::kKeyViolation: return "Key violation";
    case DBResult::kRequiredField: return "Field value required";
    case DBResult::kValueIsNull: return "Field value is blank";
    case DBResult::kOutOfRange: return "Value out of range";
    case DBResult::kInvalidArgument: return "Invalid parameter";
    case DBResult::kIndexNotFound: return "Index not found";
    case DBResult::kUnusableType: return "Field type cannot be used here";
    case DBResult::kTextTooLong: return "Text is longer than the field allows";
    case DBResult::kIndexExists: return "Index already exists with another definition";
    case DBResult::kBlobHandle: return "Invalid blob handle";
    case DBResult::kIndexInUse: return "Index is in use or cannot be changed";
    case DBResult::kReadOnlyField: return "Field cannot be modified";
    case DBResult::kWrongState: return "Operation not applicable";
    case DBResult::kNoKeyFields: return "Ordering has no key fields";
    case DBResult::kTableReadOnly: return "Table is read only";
    case DBResult::kChangeLogEdit: return "Records cannot be edited through the change log view";
    case DBResult::kFilterNotCompiled:
      return "Filter expression uses an operation the engine cannot evaluate";
    case DBResult::kConstraint: return "Record or field constraint failed";
    case DBResult::kEmptyChangeLog: return "No changes to undo";
    case DBResult::kNoMetadata: return "Data packet has no field descriptions";
    case DBResult::kNoPacket: return "No data packet";
    case DBResult::kBadPacket: return "Invalid or damaged data packet";
    case DBResult::kBlobNotFetched: return "Blob has not been fetched";
    case DBResult::kCountUnknown: return "Record count not known";
    case DBResult::kXmlBadValue: return "Invalid value in XML data packet";
    case DBResult::kXmlNegativeLength: return "Negative value length in XML data packet";
  }
  return {};
}

DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) {
  if (text == nullptr || capacity == 0) return DBResult::kInvalidArgument;
  std::string_view message = ErrorText(code);
  std::size_t n = std::min(message.size(), capacity - 1);
  std::memcpy(text, message.data(), n);
  text[n] = '\0';
  return message.empty() ? DBResult::kNoMessage : DBResult::kOk;
}

std::ostream& operator<<(std::ostream& out, DBResult code) {
  char hex[8];
  std::snprintf(hex, sizeof(hex), "0x%04X", Code(code));
  return out << hex << " (" << ErrorText(code) << ")";
}

}  // namespace zelvo
