// The walk of a packet that the packet fuzz targets share: a reader driven as a table
// drives it (columns with their parameters, nested levels recursively, table parameters,
// rows, then the same bytes as a further packet).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fields/type_word.h"
#include "packet/data_packet.h"

namespace zelvo::fuzz {

class PacketWalk {
 public:
  // Walks `data` as a first packet and then as a further one; results are ignored, only
  // crashes, over-reads and hangs matter.
  void Run(const std::uint8_t* data, std::size_t size) {
    auto reader = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
    if (reader->OpenPacket(data, size) != DBResult::kOk) return;
    ReadLevel(reader.get());
    ReadRows(reader.get());
    if (reader->OpenRowPacket(data, size) == DBResult::kOk) ReadRows(reader.get());
  }

 private:
  bool ReadParameters(TDATAPACKET_READ* reader) {
    char name[256];
    for (;;) {
      std::uint32_t length = static_cast<std::uint32_t>(value_.size());
      std::uint32_t type = 0;
      const DBResult r = reader->NextParameter(name, &type, &length, value_.data());
      if (r == DBResult::kAfterLast) return true;
      if (r != DBResult::kOk) return false;
    }
  }

  bool ReadLevel(TDATAPACKET_READ* reader) {
    for (;;) {
      ColumnDesc column;
      const DBResult r = reader->NextColumn(&column);
      if (r == DBResult::kAfterLast) break;
      if (r != DBResult::kOk || !ReadParameters(reader)) return false;
      if (TypeBase(column.type) == PT_NESTED && !ReadLevel(reader)) return false;
    }
    return ReadParameters(reader);
  }

  void ReadRows(TDATAPACKET_READ* reader) {
    for (;;) {
      std::uint32_t length = static_cast<std::uint32_t>(value_.size());
      std::uint32_t state = 0;
      DBResult r = reader->NextValue(&length, value_.data(), &state);
      if (r == DBResult::kInvalidArgument) {
        const std::uint8_t* data = nullptr;
        r = reader->NextValueRef(&data, &length, &state);
      }
      if (r != DBResult::kOk && r != DBResult::kValueIsNull) return;
    }
  }

  std::vector<std::uint8_t> value_ = std::vector<std::uint8_t>(1 << 16);
};

}  // namespace zelvo::fuzz
