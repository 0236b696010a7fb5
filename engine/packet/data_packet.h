// The packet writer and reader interfaces through which a table saves and loads itself.
// Byte layout: docs/packet-format.md. Both objects are reference counted; a creator owns the
// first reference. One thread at a time may use an object.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packet/byte_buffer.h"
#include "ref_counted.h"
#include "result.h"

namespace zelvo {

// Signature of a binary packet (bytes 96 19 E0 BD), and the alternative one that is taken as
// binary without the format level checks (bytes CD AB 00 00).
constexpr std::uint32_t kPacketSignature = 0xBDE01996;
constexpr std::uint32_t kPacketSignatureAlt = 0x0000ABCD;
constexpr std::uint32_t kPacketHeaderSize = 24;
constexpr std::uint32_t kPacketVersion = 3;  // what a table passes to BeginPacket
constexpr std::uint32_t kMaxPacketLevels = 63;

enum PacketHeaderFlag : std::uint32_t {
  kHeaderMetadata = 0x0001,   // column descriptors and parameters are present
  kHeaderRowOffset = 0x0002,  // the u16 at offset 22 holds the offset of the first row
  kHeaderXml = 0x8000,
};

// A column as the writer is given it and the reader returns it.
struct ColumnDesc {
  char name[32] = {};  // zero-terminated, at most 31 characters
  std::uint32_t type = 0;
  std::uint16_t attributes = 0;
};

struct PacketHeader {
  std::uint16_t format_level = 0;
  std::uint32_t first_element = 0;
  std::uint16_t column_count = 0;  // every nesting level counted
  std::uint32_t row_count = 0;     // rows of the top level
  std::uint32_t flags = 0;
  std::uint16_t row_offset = 0;
};

// Row item states handed to PutValue and returned by NextValue.
enum ItemState : std::uint32_t {
  kItemValue = 0,
  kItemNull = 1,
  kItemUnchanged = 2,
};

enum ParamLevel : std::uint32_t {
  kParamColumn = 0,  // the column added last
  kParamTable = 1,   // the current level's table parameters
};

// The packet writer. Callers start a packet, add every column, then parameters, then rows,
// and finish. Out-of-order calls fail with kWrongState and change nothing.
class TDATAPACKET_WRITE : public RefCounted {
 public:
  // Chooses the output form before the packet starts: 0 binary, 5 XML, 13 XML in UTF-8.
  // kWrongState once a packet has begun.
  virtual DBResult SetTextMode(std::uint32_t mode) = 0;
  // A full packet with `column_count` columns in all (nested tables' columns included).
  // Fails with kBadPacket for a version above 3.
  virtual DBResult BeginPacket(std::uint32_t version, std::uint16_t column_count) = 0;
  // A rows-only packet for the given columns: no descriptors or parameters are written.
  virtual DBResult BeginRowPacket(std::uint32_t version, std::uint16_t column_count,
                                  const ColumnDesc* columns) = 0;
  // Appends a column; a nested-table column opens its level, whose columns follow it.
  virtual DBResult AddColumn(const ColumnDesc& column) = 0;
  // Appends a parameter. With `value` null it closes the current nested level instead.
  // For varying types `value` holds the bytes without a length prefix; for arrays, the u32
  // element count followed by the elements.
  virtual DBResult AddParameter(ParamLevel level, const char* name, std::uint32_t type,
                                std::uint32_t length, const void* value) = 0;
  // Writes the next row item. The first item of a row is its state byte (state 0, a value of
  // length 1). A nested-table value is its u32 row count: that many rows of the nested table
  // follow; 0xFFFFFFFF announces rows counted later by CloseNestedRows; a count with bit 31
  // otherwise set says the rows were not fetched.
  virtual DBResult PutValue(std::uint32_t state, std::uint32_t length, const void* value) = 0;
  virtual DBResult CloseNestedRows() = 0;
  // Completes the header and hands the packet over; the writer is empty afterwards.
  // Fails with kWrongState while a row or nested table is incomplete.
  virtual DBResult FinishPacket(PacketBytes* packet) = 0;
  virtual std::size_t GetPacketSize() const = 0;
  // Starts a rows-only packet with the same columns. kWrongState without columns.
  virtual DBResult ResetPacket() = 0;
  virtual std::uint32_t GetColumnCount() const = 0;
  // Copies the columns added so far; `columns` has room for GetColumnCount() entries.
  virtual DBResult GetColumnList(ColumnDesc* columns) const = 0;
  virtual std::uint32_t GetTextMode() const = 0;
  virtual DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) const = 0;
};

// The packet reader. It reads in place: the caller keeps the packet bytes alive and
// unchanged until the reader is done with them. It never reads outside them: a packet that
// ends early or contradicts itself gives kBadPacket.
class TDATAPACKET_READ : public RefCounted {
 public:
  // Opens a packet: a binary one directly, anything else through the XML parser
  // (GetTextMode then answers 5, or 13 when the document is UTF-8).
  virtual DBResult OpenPacket(const std::uint8_t* data, std::size_t size) = 0;
  // Opens a further packet of the same table, reusing the columns of the first.
  virtual DBResult OpenRowPacket(const std::uint8_t* data, std::size_t size) = 0;
  // The next column of the current level; kAfterLast at the end of the level's columns.
  // kWrongState while parameters of the previous element are unread.
  virtual DBResult NextColumn(ColumnDesc* column) = 0;
  virtual DBResult PeekParameterSize(std::uint32_t* length) = 0;
  // The next parameter of the current element (its column, then the level's table). `name`
  // has room for 256 bytes; `length` is in: the value buffer's size, out: the value's length
  // (kInvalidArgument and nothing consumed when the buffer is too small). kAfterLast at the
  // end of the element's parameters.
  virtual DBResult NextParameter(char* name, std::uint32_t* type, std::uint32_t* length,
                                 void* value) = 0;
  virtual DBResult PeekValueSize(std::uint32_t* length) = 0;
  // The next row item: the row state byte at the start of a row, then one item per column.
  // State kItemNull returns kValueIsNull; kItemUnchanged returns kOk with no bytes. `length`
  // as for NextParameter. kAfterLast once every row of the header's count has been read.
  virtual DBResult NextValue(std::uint32_t* length, void* value, std::uint32_t* state) = 0;
  // As NextValue, without a copy: `data` points into the packet (or the reader's own
  // storage) and stays valid until the next call.
  virtual DBResult NextValueRef(const std::uint8_t** data, std::uint32_t* length,
                                std::uint32_t* state) = 0;
  virtual std::uint32_t GetTextMode() const = 0;
  virtual const PacketHeader& Header() const = 0;
  virtual DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) const = 0;
};

// New writer and reader, each with one reference owned by the caller.
TDATAPACKET_WRITE* NewPacketWriter();
TDATAPACKET_READ* NewPacketReader();

}  // namespace zelvo
