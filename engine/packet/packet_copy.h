// The packet copier: reads a packet with a packet reader and writes it again with a packet
// writer, column by column, parameter by parameter and row by row, nested levels included.
// With the writer in a text mode it turns a binary packet into XML, and a reader turns
// either form back into binary, without a table in between.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packet/data_packet.h"

namespace zelvo {

// Copies the packet `reader` has just opened (OpenPacket; nothing read yet) into `writer`
// (new, its text mode already set) and finishes it into `*out`. Every column, parameter and
// row item is handed over as read, so a binary copy is byte-identical to its source; an XML
// copy changes only what the XML form changes. Returns the first code a reader or writer
// call fails with (for instance kXmlBadValue for a 64-bit integer column written as XML).
DBResult CopyPacket(TDATAPACKET_READ* reader, TDATAPACKET_WRITE* writer, PacketBytes* out);

// Reads the packet in `data` (binary or XML) and writes it in `text_mode` (0 binary,
// 5 XML, 13 XML in UTF-8) into `*out`. A packet without metadata cannot be copied on its
// own (kNoMetadata). The caller keeps `data` alive during the call.
DBResult CopyPacket(const std::uint8_t* data, std::size_t size, std::uint32_t text_mode,
                    PacketBytes* out);

}  // namespace zelvo
