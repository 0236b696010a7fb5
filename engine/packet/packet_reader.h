// DSEXTRACT: the binary packet reader. Every read is checked against the end of the
// caller's buffer; a packet that ends early or contradicts itself gives kBadPacket.
#pragma once

#include <cstdint>
#include <vector>

#include "packet/data_packet.h"
#include "packet/row_items.h"
#include "packet/xml_reader.h"

namespace zelvo {

class DSEXTRACT final : public TDATAPACKET_READ {
 public:
  DBResult OpenPacket(const std::uint8_t* data, std::size_t size) override;
  DBResult OpenRowPacket(const std::uint8_t* data, std::size_t size) override;
  DBResult NextColumn(ColumnDesc* column) override;
  DBResult PeekParameterSize(std::uint32_t* length) override;
  DBResult NextParameter(char* name, std::uint32_t* type, std::uint32_t* length,
                         void* value) override;
  DBResult PeekValueSize(std::uint32_t* length) override;
  DBResult NextValue(std::uint32_t* length, void* value, std::uint32_t* state) override;
  DBResult NextValueRef(const std::uint8_t** data, std::uint32_t* length,
                        std::uint32_t* state) override;
  std::uint32_t GetTextMode() const override { return xml_.TextMode(); }
  const PacketHeader& Header() const override { return header_; }
  DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) const override;

 private:
  struct Level {
    std::uint32_t column_count = 0;  // nested: its own columns (the top ends by the header)
    std::uint32_t columns_read = 0;
    std::int32_t parent = -1;
    LevelColumns columns;
    std::vector<RowItem> items;
    std::uint32_t flag_bytes = 0;
    std::uint64_t rows_remaining = 0;
    std::int64_t next_item = -1;  // -1 between rows
    std::size_t flags_pos = 0;
  };

  // Where the metadata stands: the parameters of the column just read, or of a level.
  enum class Phase { kColumnParams, kTableParams };

  struct Parameter {
    const std::uint8_t* name = nullptr;
    std::uint32_t name_length = 0;
    std::uint32_t type = 0;
    DecodedValue value;
    std::size_t end = 0;  // position after the parameter
  };

  struct Item {
    std::uint32_t state = kItemValue;
    DecodedValue value;
    bool row_start = false;
  };

  DBResult ParseHeader(const std::uint8_t* data, std::size_t size, bool* binary);
  bool LevelComplete(const Level& level) const;
  DBResult ReadTableCount();
  DBResult AfterParameters();
  DBResult ParseParameter(Parameter* param) const;
  DBResult FinishMetadata();
  DBResult SkipMetadata();
  DBResult PeekItem(Item* item);
  void ConsumeItem(const Item& item);
  void CompleteRow(std::int32_t index);
  void ResetRows();

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = 0;
  PacketHeader header_;
  std::vector<Level> levels_;
  std::int32_t current_ = 0;
  std::int32_t pending_nested_ = -1;
  Phase phase_ = Phase::kColumnParams;
  std::uint32_t param_count_ = 0;
  std::uint32_t param_index_ = 0;
  std::uint32_t columns_read_ = 0;
  bool open_ = false;
  bool metadata_done_ = false;
  bool items_failed_ = false;
  bool rows_done_ = false;
  std::uint32_t top_rows_read_ = 0;
  std::uint8_t row_state_ = 0;
  XmlPacketSource xml_;  // an XML packet in binary form, which data_ then points into
};

}  // namespace zelvo
