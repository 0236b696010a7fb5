// The XML form of the packet reader. DSEXTRACT hands every buffer that is not a binary packet
// to its XmlPacketSource, which tokenizes the document with expat, checks it against the
// packet rules, and writes the same packet in binary form through DSDATAPACKET; the binary
// reader then walks those bytes. The document is described in docs/packet-xml.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packet/byte_buffer.h"
#include "packet/data_packet.h"
#include "packet/xml_model.h"
#include "result.h"

namespace zelvo {

class XmlPacketSource {
 public:
  // Reads the XML document in `text` as the first packet of a table. On success data() and
  // size() hold the packet in binary form and TextMode() tells the document's mode (13 when
  // its prolog names UTF-8, else 5). Fails with:
  //   kBadPacket    text that does not begin (after white space) with "<", is not well-formed
  //                 XML, has a DOCTYPE, or breaks the packet structure (first element other
  //                 than DATAPACKET, METADATA or ROWDATA, METADATA without FIELDS, a FIELD
  //                 without attrname or tagname or without fieldtype, a row element whose
  //                 name does not begin with ROW, a PARAM without Name, a parameter value
  //                 that is not of its type, more than 63 levels or 65535 columns);
  //   kUnusableType a field type word that is not known, or a parameter of a type that has
  //                 no value (nested, struct);
  //   kNoMetadata   a rows-only document (ROWDATA without METADATA);
  //   kOutOfMemory.
  // On failure the source holds nothing (TextMode() 0).
  DBResult Open(const std::uint8_t* text, std::size_t size);

  // Reads the rows of the XML document in `text` as a further packet of the table whose
  // columns were noted (NoteColumn) since the last Open or Reset: data() and size() then hold
  // a binary packet without metadata. A METADATA element in the document is checked but its
  // columns are not used. Row attributes are matched by the attribute names of the first
  // packet when that was XML, otherwise by the names the writer derives from the column
  // names. Fails as Open does, and with kBadPacket for a value longer than its column's
  // length prefix allows, kUnusableType for structure or array columns. On failure the
  // previous binary bytes stay in place, so that a reader still walking them is safe.
  DBResult OpenRows(const std::uint8_t* text, std::size_t size);

  // The reader opened a binary packet: forget the XML packet and the noted columns.
  void Reset();

  // Called by the reader for every column descriptor it reads, in descriptor order.
  void NoteColumn(const ColumnDesc& column) { columns_.push_back(column); }

  const std::uint8_t* data() const { return packet_.data(); }
  std::size_t size() const { return packet_.size(); }
  std::uint32_t TextMode() const { return text_mode_; }

 private:
  PacketBytes packet_;
  std::uint32_t text_mode_ = 0;
  std::vector<ColumnDesc> columns_;
  std::vector<XmlColumnHints> hints_;  // of the first packet when it was XML, descriptor order
};

}  // namespace zelvo
