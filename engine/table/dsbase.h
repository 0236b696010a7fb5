// DSBASE: an engine table. It owns the fields, the record store with record states, the
// change log, the orderings and the table options, and it saves itself as a data packet
// and loads itself from one. Every operation returns a result code and none throws.
//
// Thread safety: every operation holds the table's re-entrant lock for its whole duration,
// so cursors of one table serialise on it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "fields/field_types.h"
#include "packet/byte_buffer.h"
#include "packet/data_packet.h"
#include "ref_counted.h"
#include "result.h"
#include "table/change_log.h"
#include "table/ordering.h"
#include "table/record_store.h"

namespace zelvo {

struct TableDesc {
  char name[261] = {};
  std::uint32_t field_count = 0;
  std::uint32_t record_size = 0;
  std::uint32_t bookmark_size = 20;
  bool read_only = false;
  std::uint32_t index_count = 0;  // listed indexes
  std::uint32_t param_count = 0;  // kept packet parameters
  bool delta = false;
  std::uint32_t lcid = 0;
};

// Table option numbers of ReadTableOption / WriteTableOption.
enum TableOption : std::uint32_t {
  kOptLogChanges = 0,
  kOptReadOnly = 1,
  kOptChangeCount = 2,
  kOptNoConstraints = 3,
  kOptPartialPacket = 4,
  kOptLiveCount = 5,
  kOptNoAutoIncrement = 6,
  kOptDelta = 7,
  kOptNoMetadata = 8,
  kOptBlobsInDelta = 9,
  kOptSavePoint = 10,
  kOptFieldCountMode = 11,
  kOptMasterDetail = 12,
  kOptChangeView = 16,
  kOptUpdateMode = 18,
  kOptXmlMode = 19,
  kOptNoDeletes = 20,
  kOptNoInserts = 21,
  kOptNoEdits = 22,
  kOptNoTrim = 23,
  kOptHasChanged = 24,
};

// A packet parameter the table met while loading and did not consume; written back at the
// same place and in the same order.
struct KeptParameter {
  std::uint32_t field_number = 0;  // 0 for a table parameter
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> value;  // without a length prefix
};

// Called with every record about to be stored; a non-zero code aborts the store.
using CalcHookFn = DBResult (*)(void* datum, std::uint8_t* record);

class DSBASE final : public RefCounted {
 public:
  DSBASE();

  // Defines the fields of an empty table. kInvalidArgument / kUnusableType for fields the
  // record layout refuses; kWrongState when the table already has fields.
  DBResult DefineTable(const FieldDesc* fields, std::uint32_t count, std::string_view name);
  // Loads a packet: the first one defines the table and must carry metadata (kNoMetadata);
  // later ones add rows. `data` must stay valid for the call only. On failure while loading
  // the first packet the table stays empty.
  DBResult LoadPacket(const std::uint8_t* data, std::size_t size, bool last_packet);
  // Writes the whole table as a packet (binary, or XML in the table's XML mode).
  // kBadPacket when the table has no fields.
  DBResult WritePacket(PacketBytes* packet);

  // A table-level packet parameter: the well-known names take effect, others are kept.
  DBResult AddPacketOption(std::string_view name, std::uint32_t type, const void* value,
                           std::uint32_t length);
  // The value of a kept table parameter. kNotFound when there is none of that name.
  DBResult ReadPacketOption(std::string_view name, std::uint32_t* type,
                            std::vector<std::uint8_t>* value) const;

  DBResult DescribeTable(TableDesc* desc) const;
  DBResult DescribeFields(std::vector<FieldDesc>* fields) const;
  DBResult DescribeIndexes(std::vector<IndexDesc>* indexes) const;

  DBResult MergeChanges();

  // Creates a named index, or gives the default order its key fields (an empty name or
  // DEFAULT_ORDER, once). Defining an existing name again with the same definition changes
  // nothing. kInvalidArgument for a bad field list, kUnusableType for a key field that
  // cannot be a key, kKeyViolation for a unique index over duplicates, kIndexExists for a
  // name with another definition, kIndexInUse when the default order has key fields.
  DBResult DefineIndex(const IndexDesc& desc);
  // kIndexInUse for the default order or an index a cursor holds; kIndexNotFound.
  DBResult DropIndex(std::string_view name);
  // Adds an ordering made for one cursor (temporary or filtered) to the maintained list.
  void AddOrdering(Ordering* ordering);
  // Takes a temporary or filtered ordering out of the list when no cursor holds it.
  void DropUnusedOrdering(Ordering* ordering);
  // Sets a field state in a record buffer, or (buffer null) in a stored slot.
  DBResult SetSlotFieldState(std::uint8_t* record, std::uint32_t slot, std::uint32_t field,
                             std::uint8_t state);
  DBResult GetErrorText(DBResult code, char* text, std::size_t capacity) const;
  int CompareFieldValues(std::uint32_t field_type, const void* a, const void* b,
                         std::uint32_t units) const;
  // Frees one pending blob, or with 0 every blob added since the last stored record.
  DBResult DropPendingBlobs(std::uint32_t handle);
  DBResult ReadTableOption(std::uint32_t option, std::uint64_t* value);
  DBResult WriteTableOption(std::uint32_t option, std::uint64_t value);
  DBResult SetCalcHook(void* datum, CalcHookFn hook);

  // ---- Used by cursors and orderings (under the table lock). ----
  std::recursive_mutex& lock() const { return lock_; }
  RecordStore& store() { return store_; }
  const RecordStore& store() const { return store_; }
  const ChangeLog& change_log() const { return change_log_; }
  std::uint32_t lcid() const { return lcid_; }
  bool defined() const { return store_.field_count() != 0; }
  bool logging() const { return logging_; }
  bool delta() const { return delta_; }
  bool trimming() const { return !no_trim_; }
  std::uint32_t live_count() const { return live_count_; }
  std::uint32_t auto_inc_field() const { return auto_inc_field_; }
  std::int32_t next_auto_inc() const { return next_auto_inc_; }
  Ordering* default_order() const { return orderings_.empty() ? nullptr : orderings_[0]; }
  Ordering* change_index() const { return change_index_; }
  // A listed (non-temporary) ordering by name, letter case significant; null when none.
  Ordering* FindOrdering(std::string_view name) const;
  const std::vector<Ordering*>& orderings() const { return orderings_; }

  // Store operations. Each keeps every ordering in step and undoes its own partial work
  // when an ordering refuses.
  DBResult StoreNewRecord(const std::uint8_t* record, std::uint32_t* slot);
  DBResult ModifyRecord(std::uint32_t slot, const std::uint8_t* record, std::uint32_t* new_slot);
  DBResult DeleteRecord(std::uint32_t slot);
  DBResult UndoNewestChange(std::uint32_t* restored_slot);
  DBResult RestoreRecord(std::uint32_t slot, std::uint32_t* restored_slot);
  void AdvanceAutoIncrement() { ++next_auto_inc_; }
  // The oldest version of a record (the slot itself when it has none older).
  std::uint32_t OldestVersion(std::uint32_t slot) const;

 private:
  ~DSBASE() override;

  void Reset();
  DBResult FinishDefinition();
  DBResult RunCalcHook(std::uint32_t slot);
  void FreeSlot(std::uint32_t slot);
  DBResult EnterOrderings(std::uint32_t slot);
  void LeaveOrderings(std::uint32_t slot);
  DBResult RebuildOrderings();
  void RefreshChangeIndex();
  void NoteChange() { ++has_changed_; }
  std::uint32_t CountChanges() const;
  bool VersionsEqual(std::uint32_t a, std::uint32_t b) const;

  // Packet contents (table_packet.cpp).
  DBResult LoadFirstPacket(TDATAPACKET_READ* reader, std::uint32_t row_count,
                           std::size_t packet_size);
  // Reads this level's columns (nested levels into tables of their own), defines the table
  // and applies the level's table parameters.
  DBResult DefineFromColumns(TDATAPACKET_READ* reader);
  DBResult ReadColumns(TDATAPACKET_READ* reader, std::vector<FieldDesc>* fields,
                       std::vector<KeptParameter>* kept, std::vector<std::uint16_t>* attributes,
                       std::vector<Ref<DSBASE>>* nested);
  DBResult ReadTableParameters(TDATAPACKET_READ* reader);
  DBResult LoadRows(TDATAPACKET_READ* reader, std::uint32_t row_count, std::size_t packet_size,
                    bool top_level);
  DBResult ValidateChangeLog() const;
  std::vector<bool> ColumnFields() const;
  ColumnDesc ColumnOf(std::size_t field_index) const;
  void CollectColumns(std::vector<ColumnDesc>* columns) const;
  DBResult AddColumns(TDATAPACKET_WRITE* writer);
  DBResult WriteTableParameters(TDATAPACKET_WRITE* writer, bool nested);
  DBResult WriteRows(TDATAPACKET_WRITE* writer);
  DBResult WriteRow(TDATAPACKET_WRITE* writer, std::uint32_t slot, std::uint8_t state);
  DBResult KeyListOf(const void* value, std::uint32_t length, std::uint32_t type,
                     IndexDesc* desc) const;
  DBResult ApplyDefaultOrder(const void* value, std::uint32_t length, std::uint32_t type);
  DBResult ApplyKeyParameter(bool primary, const void* value, std::uint32_t length,
                             std::uint32_t type);

  mutable std::recursive_mutex lock_;
  std::string name_;
  RecordStore store_;
  ChangeLog change_log_;
  std::vector<KeptParameter> kept_;
  // The attribute word each column had in its packet (or its definition): written back as
  // it was, whatever attribute bits loading added to the field.
  std::vector<std::uint16_t> packet_attributes_;
  Ref<TDATAPACKET_READ> reader_;  // kept for further packets of the same table

  // Nested tables: per field of type FT_TABLE the table holding the nested rows, and the
  // rows of each record. A record's value is a 1-based group number, 0 for no rows, or
  // kNestedNotFetched when its rows were left out of the packet it came from.
  static constexpr std::uint32_t kNestedNotFetched = 0x80000000;
  struct NestedGroup {
    std::uint32_t first_slot = 0;
    std::uint32_t count = 0;
  };
  std::vector<Ref<DSBASE>> nested_;  // per field index; empty for other fields
  std::vector<std::vector<NestedGroup>> nested_groups_;
  std::vector<Ordering*> orderings_;  // every ordering, creation order; [0] the default order
  Ordering* change_index_ = nullptr;
  std::uint32_t next_ordering_id_ = 1;
  bool default_order_defined_ = false;  // key fields given by the owner (DefineIndex)

  std::uint32_t live_count_ = 0;
  std::uint32_t freed_count_ = 0;
  std::uint32_t auto_inc_field_ = 0;  // field number, 0 = none
  std::int32_t next_auto_inc_ = 1;
  std::uint32_t lcid_ = 0;
  std::uint64_t has_changed_ = 0;

  // Options.
  bool logging_ = true;
  bool read_only_ = false;
  bool no_constraints_ = false;
  bool delta_ = false;
  bool no_metadata_ = false;
  bool blobs_in_delta_ = false;
  std::uint64_t field_count_mode_ = 0;
  std::uint64_t master_detail_ = 0;
  std::uint64_t change_view_ = 0;
  std::uint64_t update_mode_ = 0;
  std::uint64_t xml_mode_ = 0;
  bool no_deletes_ = false;
  bool no_inserts_ = false;
  bool no_edits_ = false;
  bool no_trim_ = false;

  void* calc_datum_ = nullptr;
  CalcHookFn calc_hook_ = nullptr;
};

// New, empty table with one reference owned by the caller.
DSBASE* NewTable();

}  // namespace zelvo
