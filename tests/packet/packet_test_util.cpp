// Packet test helpers.
#include "packet_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "fields/type_word.h"

namespace zelvo::testing {

std::string Hex(const std::uint8_t* data, std::size_t size) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(buf, sizeof(buf), i == 0 ? "%02X" : " %02X", data[i]);
    s += buf;
  }
  return s;
}

namespace {

DBResult ReadParameters(TDATAPACKET_READ* reader, const char* owner, std::string* trace) {
  std::vector<std::uint8_t> value(1 << 20);
  char name[256];
  for (;;) {
    std::uint32_t length = static_cast<std::uint32_t>(value.size());
    std::uint32_t type = 0;
    DBResult r = reader->NextParameter(name, &type, &length, value.data());
    if (r == DBResult::kAfterLast) return DBResult::kOk;
    if (r != DBResult::kOk) return r;
    char head[64];
    std::snprintf(head, sizeof(head), " type=%08X len=%u ", type, length);
    *trace += std::string("  ") + owner + " param " + name + head +
              Hex(value.data(), std::min<std::size_t>(length, 64)) + "\n";
  }
}

DBResult ReadLevel(TDATAPACKET_READ* reader, int depth, std::string* trace) {
  for (;;) {
    ColumnDesc column;
    DBResult r = reader->NextColumn(&column);
    if (r == DBResult::kAfterLast) break;
    if (r != DBResult::kOk) return r;
    char line[128];
    std::snprintf(line, sizeof(line), "%*scolumn %s type=%08X attr=%04X\n", depth * 2, "",
                  column.name, column.type, column.attributes);
    *trace += line;
    ZELVO_RETURN_IF_ERROR(ReadParameters(reader, "column", trace));
    if (TypeBase(column.type) == PT_NESTED) ZELVO_RETURN_IF_ERROR(ReadLevel(reader, depth + 1, trace));
  }
  return ReadParameters(reader, "table", trace);
}

}  // namespace

DBResult ReadWholePacket(const std::uint8_t* data, std::size_t size, std::string* trace) {
  trace->clear();
  auto reader = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
  ZELVO_RETURN_IF_ERROR(reader->OpenPacket(data, size));
  ZELVO_RETURN_IF_ERROR(ReadLevel(reader.get(), 0, trace));
  std::vector<std::uint8_t> value(1 << 20);
  for (;;) {
    std::uint32_t length = static_cast<std::uint32_t>(value.size());
    std::uint32_t state = 0;
    DBResult r = reader->NextValue(&length, value.data(), &state);
    if (r == DBResult::kAfterLast) break;
    if (r != DBResult::kOk && r != DBResult::kValueIsNull) return r;
    if (state == kItemNull) *trace += " null";
    else if (state == kItemUnchanged) *trace += " unchanged";
    else *trace += " [" + Hex(value.data(), (length & 0x80000000) ? 0 : length) + "]";
  }
  *trace += "\n";
  return DBResult::kOk;
}

void MaybeWriteFuzzSeed(const std::string& name, const Bytes& packet) {
  if (std::getenv("ZELVO_WRITE_FUZZ_SEEDS") == nullptr) return;
  std::ofstream out(std::string(ZELVO_FUZZ_CORPUS_DIR) + "/" + (name.rfind("table_", 0) == 0 ? std::string("table_load") : std::string("packet_reader")) + "/" + name,
                    std::ios::binary);
  out.write(reinterpret_cast<const char*>(packet.data()),
            static_cast<std::streamsize>(packet.size()));
}

}  // namespace zelvo::testing
