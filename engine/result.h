// Result codes of the table engine: one 16-bit status for every engine operation.
// Nothing below client/ throws; an operation reports failure only through these codes,
// and the client layer turns a non-zero code into an exception with ErrorText's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace zelvo {

enum class [[nodiscard]] DBResult : std::uint16_t {
  kOk = 0,
  kRowLayout = 0x2103,          // row items of a level could not be built
  kBeforeFirst = 0x2201,        // cursor before the first record of its range
  kAfterLast = 0x2202,          // cursor after the last record; also "end of list"
  kDeletedPosition = 0x2204,    // the record the cursor stood on was deleted
  kNoRecord = 0x2205,           // cursor on no record
  kNotFound = 0x2206,           // record or key not found
  kNoMessage = 0x2208,          // no message text; item not in a list
  kOutOfMemory = 0x2501,
  kKeyViolation = 0x2601,
  kRequiredField = 0x2604,
  kValueIsNull = 0x260C,
  kOutOfRange = 0x2701,         // slot, field number or offset out of range
  kInvalidArgument = 0x2702,    // missing or malformed argument, buffer too small
  kIndexNotFound = 0x270D,
  kUnusableType = 0x2710,       // type cannot serve (key, width, converter)
  kTextTooLong = 0x2711,        // text longer than its string field holds
  kIndexExists = 0x2719,
  kBlobHandle = 0x272E,
  kIndexInUse = 0x2733,
  kReadOnlyField = 0x2906,
  kWrongState = 0x2A04,         // operation not possible now / out of order
  kNoKeyFields = 0x2A05,
  kTableReadOnly = 0x2A0B,
  kChangeLogEdit = 0x2A0F,
  kFilterNotCompiled = 0x2E5F,  // filter uses types or functions without an operation
  kConstraint = 0x2EAE,
  kEmptyChangeLog = 0x4002,
  kNoMetadata = 0x4003,
  kNoPacket = 0x4004,
  kBadPacket = 0x4005,
  kBlobNotFetched = 0x4009,
  kCountUnknown = 0x400A,
  kXmlBadValue = 0x4010,
  kXmlNegativeLength = 0x4011,
};

constexpr bool Ok(DBResult r) { return r == DBResult::kOk; }
constexpr std::uint16_t Code(DBResult r) { return static_cast<std::uint16_t>(r); }

// The message text of a code, or an empty view when the engine has none.
std::string_view ErrorText(DBResult code);

// Copies the message of `code` into `text` (zero-terminated, cut to `capacity` - 1 characters).
// Returns kNoMessage, leaving `text` empty, when the code has no text.
DBResult GetErrorText(DBResult code, char* text, std::size_t capacity);

// Writes the code in hexadecimal with its message, for test failures and diagnostics.
std::ostream& operator<<(std::ostream& out, DBResult code);

}  // namespace zelvo

// Propagates a failing code to the caller. The engine's one control-flow macro.
#define ZELVO_RETURN_IF_ERROR(expr)              \
  do {                                           \
    ::zelvo::DBResult zelvo_r_ = (expr);         \
    if (zelvo_r_ != ::zelvo::DBResult::kOk) {    \
      return zelvo_r_;                           \
    }                                            \
  } while (0)
