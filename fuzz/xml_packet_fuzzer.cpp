// Fuzz target: the XML packet reader driven as a table drives a reader (columns with their
// parameters, nested levels recursively, table parameters, rows, then the same bytes as a
// further packet), and every document that reads is written back as XML and read again.
// Any crash, over-read, hang or unreadable re-written document is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fields/type_word.h"
#include "packet/data_packet.h"
#include "packet/packet_copy.h"
#include "packet/xml_names.h"

using zelvo::DBResult;

namespace {

std::vector<std::uint8_t> value_buffer(1 << 16);

bool ReadParameters(zelvo::TDATAPACKET_READ* reader) {
  char name[256];
  for (;;) {
    std::uint32_t length = static_cast<std::uint32_t>(value_buffer.size());
    std::uint32_t type = 0;
    DBResult r = reader->NextParameter(name, &type, &length, value_buffer.data());
    if (r == DBResult::kAfterLast) return true;
    if (r != DBResult::kOk) return false;
  }
}

bool ReadLevel(zelvo::TDATAPACKET_READ* reader, int depth) {
  for (;;) {
    zelvo::ColumnDesc column;
    DBResult r = reader->NextColumn(&column);
    if (r == DBResult::kAfterLast) break;
    if (r != DBResult::kOk || !ReadParameters(reader)) return false;
    if (zelvo::TypeBase(column.type) == zelvo::PT_NESTED && !ReadLevel(reader, depth + 1)) {
      return false;
    }
  }
  return ReadParameters(reader);
}

void ReadRows(zelvo::TDATAPACKET_READ* reader) {
  for (;;) {
    std::uint32_t length = static_cast<std::uint32_t>(value_buffer.size());
    std::uint32_t state = 0;
    DBResult r = reader->NextValue(&length, value_buffer.data(), &state);
    if (r == DBResult::kInvalidArgument) {
      const std::uint8_t* data = nullptr;
      r = reader->NextValueRef(&data, &length, &state);
    }
    if (r != DBResult::kOk && r != DBResult::kValueIsNull) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto reader = zelvo::Ref<zelvo::TDATAPACKET_READ>::Adopt(zelvo::NewPacketReader());
  if (reader->OpenPacket(data, size) != DBResult::kOk) return 0;
  ReadLevel(reader.get(), 0);
  ReadRows(reader.get());
  if (reader->OpenRowPacket(data, size) == DBResult::kOk) ReadRows(reader.get());

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
