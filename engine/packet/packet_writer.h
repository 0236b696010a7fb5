// DSDATAPACKET: the binary packet writer.
#pragma once

#include <cstdint>
#include <vector>

#include "packet/byte_buffer.h"
#include "packet/data_packet.h"
#include "packet/row_items.h"

namespace zelvo {

class DSDATAPACKET final : public TDATAPACKET_WRITE {
 public:
  DBResult SetTextMode(std::uint32_t mode) override;
  DBResult BeginPacket(std::uint32_t version, std::uint16_t column_count) override;
  DBResult BeginRowPacket(std::uint32_t version, std::uint16_t column_count,
                          const ColumnDesc* columns) override;
  DBResult AddColumn(const ColumnDesc& column) override;
  DBResult AddParameter(ParamLevel level, const char* name, std::uint32_t type,
                        std::uint32_t length, const void* value) override;
  DBResult PutValue(std::uint32_t state, std::uint32_t length, const void* value) override;
  DBResult CloseNestedRows() override;
  DBResult FinishPacket(PacketBytes* packet) override;
  std::size_t GetPacketSize() const override { return buffer_.size(); }
  DBResult ResetPacket() override;
  std::uint32_t GetColumnCount() const override;
  DBResult GetColumnList(ColumnDesc* columns) const override;
  std::uint32_t GetTextMode() const override { return text_mode_; }
  DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) const override;

 private:
  struct Level {
    std::uint32_t column_count = 0;  // top: all columns of the packet; nested: its own
    std::uint32_t columns_added = 0;
    std::int32_t parent = -1;
    LevelColumns columns;
    std::size_t table_count_pos = 0;  // u16 table parameter count, 0 until written
    bool closed = false;
    bool items_built = false;
    std::vector<RowItem> items;
    std::uint32_t flag_bytes = 0;
    std::int64_t rows_expected = 0;  // nested: rows still to come; below 0 when counted later
    std::size_t count_pos = 0;       // nested: position of the count to patch
    std::int64_t next_item = -1;     // -1 between rows
    std::size_t row_start = 0;
  };

  DBResult Begin(std::uint32_t version, std::uint16_t column_count, std::uint32_t flags);
  DBResult RegisterColumn(const ColumnDesc& column, bool write);
  bool LevelFull(const Level& level) const;
  DBResult WriteTableCount(Level* level);
  DBResult CloseLevel(std::int32_t index);
  DBResult FinishMetadata();
  DBResult BuildItems(Level* level);
  DBResult StartRow(Level* level, const void* value);
  void CompleteRow(std::int32_t index);
  void WriteU16(std::size_t pos, std::uint16_t v);
  void WriteU32(std::size_t pos, std::uint32_t v);

  ByteBuffer buffer_;
  std::vector<Level> levels_;
  std::vector<ColumnDesc> all_columns_;
  std::int32_t current_ = 0;
  bool begun_ = false;
  bool full_packet_ = false;
  bool metadata_done_ = false;
  bool rows_begun_ = false;
  bool column_params_open_ = false;
  std::size_t column_param_pos_ = 0;
  std::uint32_t header_flags_ = 0;
  std::uint32_t row_count_ = 0;
  std::uint16_t format_level_ = 1;
  std::uint32_t text_mode_ = 0;
};

}  // namespace zelvo
