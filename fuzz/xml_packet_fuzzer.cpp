// Fuzz target: the XML packet reader driven as a table drives a reader (columns with their
// parameters, nested levels recursively, table parameters, rows, then the same bytes as a
// further packet), and every document that reads is written back as XML and read again.
// Any crash, over-read, hang or unreadable re-written document is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "packet/packet_copy.h"
#include "packet/xml_names.h"
#include "packet_walk.h"

using zelvo::DBResult;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zelvo::fuzz::PacketWalk walk;
  walk.Run(data, size);

  // What the reader took must survive the writer: a document the writer produces that the
  // reader refuses breaks the promise that every written document reads back.
  zelvo::PacketBytes xml;
  if (zelvo::CopyPacket(data, size, zelvo::kXmlMode, &xml) != DBResult::kOk) return 0;
  zelvo::PacketBytes again;
  if (zelvo::CopyPacket(xml.data(), xml.size(), zelvo::kXmlMode, &again) != DBResult::kOk) {
    std::abort();
  }
  return 0;
}
