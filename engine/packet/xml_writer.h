// The XML form of the packet writer. DSDATAPACKET in a text mode (SetTextMode with bit 0 or 1)
// builds the binary packet as always, checking each call for what XML cannot carry, and
// FinishPacket hands the finished binary packet to WriteXmlPacket, which walks it with a
// packet reader and prints the document. The document is described in docs/packet-xml.md.
#pragma once

#include <cstdint>
#include <vector>

#include "packet/data_packet.h"
#include "packet/row_items.h"

namespace zelvo {

// The check AddColumn, BeginRowPacket and AddParameter make in a text mode: kXmlBadValue for
// a type without a field type word (see XmlTypeWordOf), kOk otherwise.
DBResult XmlCheckType(std::uint32_t type);

// The check PutValue makes in a text mode for a value (state 0) of `item`: kXmlNegativeLength
// for a blob that was not fetched (a length with bit 31 set) and for a nested table whose
// rows were not fetched (a count with bit 31 set other than the "counted later" -1): the
// document would lose them without a trace.
DBResult XmlCheckValue(const RowItem& item, std::uint32_t length, const void* value);

// Prints the finished binary packet `binary` as an XML document in text mode `mode` into
// `*xml` (one line, no terminator). A packet without metadata (BeginRowPacket, ResetPacket)
// carries no column descriptors, so its columns are taken from `columns` (all levels, in
// descriptor order, as GetColumnList returns them); they are ignored otherwise.
// Returns kXmlBadValue for a column, parameter or value the text form cannot carry (see
// AppendXmlValue), kOutOfMemory, or a reader's code for a damaged packet. `*xml` is left
// empty on failure.
DBResult WriteXmlPacket(const PacketBytes& binary, const std::vector<ColumnDesc>& columns,
                        std::uint32_t mode, PacketBytes* xml);

}  // namespace zelvo
