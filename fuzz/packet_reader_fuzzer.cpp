// Fuzz target: the packet reader driven as a table drives it (see packet_walk.h). Any
// crash, over-read or hang is a finding.
#include <cstddef>
#include <cstdint>

#include "packet_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zelvo::fuzz::PacketWalk walk;
  walk.Run(data, size);
  return 0;
}
