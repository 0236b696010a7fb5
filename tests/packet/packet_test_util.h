// Helpers for packet tests: write a packet through a script of calls, and read a whole packet
// back the way a table does, into a readable trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packet/data_packet.h"

namespace zelvo::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(const PacketBytes& p) { return Bytes(p.data(), p.data() + p.size()); }

inline ColumnDesc Column(const char* name, std::uint32_t type, std::uint16_t attributes = 0) {
  ColumnDesc c;
  std::snprintf(c.name, sizeof(c.name), "%s", name);
  c.type = type;
  c.attributes = attributes;
  return c;
}

std::string Hex(const std::uint8_t* data, std::size_t size);
inline std::string Hex(const Bytes& b) { return Hex(b.data(), b.size()); }

// Reads columns with their parameters (nested levels recursively), table parameters and
// every row. Returns kOk with the trace, or the first failing code.
DBResult ReadWholePacket(const std::uint8_t* data, std::size_t size, std::string* trace);
inline DBResult ReadWholePacket(const Bytes& b, std::string* trace) {
  return ReadWholePacket(b.data(), b.size(), trace);
}

// Writes `packet` into the fuzz corpus folder when ZELVO_WRITE_FUZZ_SEEDS is set, so that the
// fuzzer starts from every shape the tests build.
void MaybeWriteFuzzSeed(const std::string& name, const Bytes& packet);

}  // namespace zelvo::testing
