// Copies a packet from a reader to a writer.
#include "packet/packet_copy.h"

#include <new>
#include <vector>

#include "fields/type_word.h"
#include "packet/converters.h"

namespace zelvo {

namespace {

DBResult CopyParameters(TDATAPACKET_READ* reader, TDATAPACKET_WRITE* writer, ParamLevel which,
                        std::vector<std::uint8_t>* buffer) {
  char name[256];
  for (;;) {
    std::uint32_t length = 0;
    std::uint32_t type = 0;
    DBResult r = reader->PeekParameterSize(&length);
    if (r == DBResult::kAfterLast) {
      // Reading past the last parameter is what moves the reader on to the next element.
      r = reader->NextParameter(name, &type, &length, nullptr);
      return r == DBResult::kAfterLast ? DBResult::kOk : r;
    }
    ZELVO_RETURN_IF_ERROR(r);
    // A blob parameter that was not fetched has a length word but no bytes.
    const std::uint32_t bytes = (length & kNotFetchedBit) != 0 ? 0 : length;
    if (buffer->size() < bytes + 1) buffer->resize(bytes + 1);
    length = static_cast<std::uint32_t>(buffer->size());
    ZELVO_RETURN_IF_ERROR(reader->NextParameter(name, &type, &length, buffer->data()));
    ZELVO_RETURN_IF_ERROR(writer->AddParameter(which, name, type, length, buffer->data()));
  }
}

DBResult CopyLevel(TDATAPACKET_READ* reader, TDATAPACKET_WRITE* writer, bool nested, int depth,
                   std::vector<std::uint8_t>* buffer) {
  if (depth > static_cast<int>(kMaxPacketLevels)) return DBResult::kBadPacket;
  for (;;) {
    ColumnDesc column;
    DBResult r = reader->NextColumn(&column);
    if (r == DBResult::kAfterLast) break;
    ZELVO_RETURN_IF_ERROR(r);
    ZELVO_RETURN_IF_ERROR(writer->AddColumn(column));
    ZELVO_RETURN_IF_ERROR(CopyParameters(reader, writer, kParamColumn, buffer));
    if (TypeBase(column.type) == PT_NESTED) {
      ZELVO_RETURN_IF_ERROR(CopyLevel(reader, writer, true, depth + 1, buffer));
    }
  }
  ZELVO_RETURN_IF_ERROR(CopyParameters(reader, writer, kParamTable, buffer));
  // The writer learns where a nested table's parameters end from a parameter without value.
  if (nested) ZELVO_RETURN_IF_ERROR(writer->AddParameter(kParamTable, nullptr, 0, 0, nullptr));
  return DBResult::kOk;
}

DBResult CopyRows(TDATAPACKET_READ* reader, TDATAPACKET_WRITE* writer) {
  // Values without bytes (a blob not fetched) still need a pointer: no pointer means null.
  static const std::uint8_t kNoBytes = 0;
  for (;;) {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::uint32_t state = kItemValue;
    DBResult r = reader->NextValueRef(&data, &length, &state);
    if (r == DBResult::kAfterLast) return DBResult::kOk;
    if (r != DBResult::kOk && r != DBResult::kValueIsNull) return r;
    if (state == kItemValue && data == nullptr) data = &kNoBytes;
    ZELVO_RETURN_IF_ERROR(writer->PutValue(state, length, state == kItemValue ? data : nullptr));
  }
}

}  // namespace

DBResult CopyPacket(TDATAPACKET_READ* reader, TDATAPACKET_WRITE* writer, PacketBytes* out) {
  if (reader == nullptr || writer == nullptr || out == nullptr) return DBResult::kInvalidArgument;
  try {
    std::vector<std::uint8_t> buffer(256);
    ZELVO_RETURN_IF_ERROR(writer->BeginPacket(kPacketVersion, reader->Header().column_count));
    ZELVO_RETURN_IF_ERROR(CopyLevel(reader, writer, false, 0, &buffer));
    ZELVO_RETURN_IF_ERROR(CopyRows(reader, writer));
    return writer->FinishPacket(out);
  } catch (const std::bad_alloc&) {
    return DBResult::kOutOfMemory;
  }
}

DBResult CopyPacket(const std::uint8_t* data, std::size_t size, std::uint32_t text_mode,
                    PacketBytes* out) {
  auto reader = Ref<TDATAPACKET_READ>::Adopt(NewPacketReader());
  auto writer = Ref<TDATAPACKET_WRITE>::Adopt(NewPacketWriter());
  if (!reader || !writer) return DBResult::kOutOfMemory;
  ZELVO_RETURN_IF_ERROR(reader->OpenPacket(data, size));
  ZELVO_RETURN_IF_ERROR(writer->SetTextMode(text_mode));
  return CopyPacket(reader.get(), writer.get(), out);
}

}  // namespace zelvo
