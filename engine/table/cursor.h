// DSCursor: walks one ordering of a table with record numbers and bookmarks, and reads,
// inserts, modifies and deletes records through client record buffers.
//
// Positions count from 1 within the cursor's range [first, last]; first - 1 stands for
// before the first record and last + 1 for after the last. A cursor re-validates its
// position against its ordering's change count before every positioned operation, so all
// cursors of a table follow the changes made through any of them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ref_counted.h"
#include "result.h"
#include "table/dsbase.h"
#include "table/ordering.h"
#include "table/record_filter.h"

namespace zelvo {

// A 20-byte cursor position token.
struct Bookmark {
  std::uint32_t position = 0;
  std::uint32_t status = 0;
  std::uint32_t slot = 0;          // the record at the position, 0 if none
  std::uint32_t change_count = 0;  // of the ordering when the mark was taken
  std::uint32_t index_id = 0;
};
static_assert(sizeof(Bookmark) == 20);

// Cursor options of WriteCursorOption.
enum CursorOption : std::uint32_t {
  kCursorTable = 1,
  kCursorStatus = 2,
  kCursorOriginal = 3,
  kCursorFieldWritable = 4,
  kCursorFieldReadOnly = 5,
};

class DSCursor final : public RefCounted {
 public:
  DSCursor() = default;

  // Binds the cursor to a table, on its default order, before the first record.
  // kWrongState when already bound.
  DBResult AttachToTable(DSBASE* table);
  // Binds to (or requires) the source's table, takes over its ordering and goes to its
  // position. kInvalidArgument for a missing or unbound source.
  DBResult CopyCursor(DSCursor* source);
  DBResult DescribeCursor(TableDesc* desc) const;
  // The active ordering's descriptor, or all listed ones.
  DBResult DescribeIndexes(bool current_only, std::vector<IndexDesc>* indexes) const;
  DBResult DescribeFields(std::vector<FieldDesc>* fields) const;
  DSBASE* table() const { return table_; }

  // With a buffer, every value and field state of the current record. Off a record: the
  // cursor status as the code.
  DBResult ReadCurrent(std::uint8_t* record);
  DBResult MarkPosition(Bookmark* mark);
  DBResult PositionNumber(std::uint32_t* number);
  DBResult RecordStateOf(std::uint8_t* state);
  DBResult CountRecords(std::uint32_t* count);
  DBResult GoBeforeFirst();
  DBResult GoAfterLast();
  // Returns the new status: 0 on a record, kAfterLast / kBeforeFirst past the ends.
  DBResult StepBy(std::int32_t count);
  DBResult GoToNumber(std::uint32_t number);
  // Always kOk; a record that is gone leaves the cursor before the first record.
  DBResult GoToMark(const Bookmark& mark);
  static int CompareMarks(const Bookmark& a, const Bookmark& b);

  // Field access on a client record buffer, or (record null) on the current record.
  // Field numbers count from 1; kInvalidArgument beyond the field count.
  DBResult ReadField(const std::uint8_t* record, std::uint32_t field, void* value,
                     std::uint8_t* state);
  // `value` null makes the field null. Strings are zero-terminated texts: trailing blanks
  // are removed unless the table keeps them, and a text longer than the field's width is
  // refused with kTextTooLong (never cut).
  DBResult WriteField(std::uint8_t* record, std::uint32_t field, const void* value);
  DBResult BlobLength(const std::uint8_t* record, std::uint32_t field, std::uint32_t* length);
  // Copies at most *length bytes from `offset`; *length becomes the number copied.
  DBResult ReadBlob(const std::uint8_t* record, std::uint32_t field, std::uint32_t offset,
                    void* data, std::uint32_t* length);
  DBResult WriteBlob(std::uint8_t* record, std::uint32_t field, std::uint32_t offset,
                     const void* data, std::uint32_t length);
  // Every field null, then every field unchanged.
  DBResult BlankRecord(std::uint8_t* record);

  DBResult AddRecord(const std::uint8_t* record);
  DBResult UpdateCurrent(const std::uint8_t* record);
  DBResult RemoveCurrent();
  DBResult UndoNewestChange(bool follow);
  DBResult RestoreCurrent();
  // The oldest version of the current record. kNotFound when it was never modified.
  DBResult ReadOriginal(std::uint8_t* record);
  DBResult WriteCursorOption(std::uint32_t option, std::uint64_t value);

  // Makes the named listed ordering active (empty name: the default order), keeping the
  // current record. kIndexNotFound for unknown or temporary names.
  DBResult OrderByIndex(std::string_view name);
  // Orders by a field list through a temporary ordering (reusing a listed index with the
  // same leading keys as its source), keeping the current record. The flag arrays may be
  // null (ascending, case-sensitive). kInvalidArgument for an empty or bad field list.
  DBResult OrderByFields(std::uint32_t count, const std::uint32_t* fields,
                         const std::uint32_t* descending, const std::uint32_t* case_insensitive);

  // Key ranges and key search on an ordering with key fields (else kNoKeyFields). Keys are
  // record buffers with the key fields filled; a field count of 0 means all key fields.
  DBResult SetKeyRange(std::uint32_t fields, const std::uint8_t* low, bool low_inclusive,
                       const std::uint8_t* high, bool high_inclusive);
  DBResult ClearKeyRange();
  enum SeekCondition : std::uint32_t { kSeekEqual = 0, kSeekGreater = 1, kSeekGreaterOrEqual = 2 };
  // Places the cursor so that the next forward step reaches the first match.
  // kNotFound (the cursor stays) when an equal search finds nothing.
  DBResult SeekKey(std::uint32_t condition, std::uint32_t fields, std::uint32_t partial_length,
                   const std::uint8_t* key);
  // SeekKey equal, then onto the record; copies it into `record` when given.
  DBResult FindByKey(std::uint32_t fields, std::uint32_t partial_length, const std::uint8_t* key,
                     std::uint8_t* record);

  // Filters. A cursor's first filter puts it on a filtered ordering in its active order;
  // later filters narrow it. Detaching the last one leaves every record in it. The cursor
  // keeps its record when the record passes, else goes before the first record.
  // kInvalidArgument / kFilterNotCompiled for an expression that cannot be compiled.
  DBResult AttachFilter(const std::uint8_t* expression, std::uint32_t length,
                        std::uint32_t* handle);
  DBResult AttachFilterHook(void* datum, FilterHookFn hook, std::uint32_t* handle);
  // kNoMessage for a handle not in the list, kWrongState when the list is empty.
  DBResult DetachFilter(std::uint32_t handle);
  std::uint32_t filter_count() const { return filter_count_; }
  // Steps forward to the next record that matches the expression (compiled once and kept
  // when `expression` is null): kOk on it, kNotFound after the last record.
  DBResult FindNextMatch(const std::uint8_t* expression, std::uint32_t length);

  // Grows with every move and edit; a client may compare it.
  std::uint64_t position_changes() const { return position_changes_; }
  std::uint32_t record_size() const { return table_ != nullptr ? table_->store().record_size() : 0; }

 private:
  ~DSCursor() override;

  void Sync();
  void ComputeRange();
  DBResult CheckKeyFields(std::uint32_t* fields, std::uint32_t partial_length) const;
  void ReleaseActive();
  void ReturnTo(bool on_record, std::uint32_t slot);
  DBResult AddFilter(std::unique_ptr<RecordFilter> filter, std::uint32_t* handle);
  void Remember();
  bool OnRecord() const { return status_ == DBResult::kOk; }
  std::uint32_t CurrentSlot() const { return active_->SlotAt(position_); }
  void TakeOrdering(Ordering* ordering);
  DBResult CheckField(std::uint32_t field) const;
  void SetTo(std::uint32_t slot);

  DSBASE* table_ = nullptr;
  Ordering* active_ = nullptr;
  std::vector<FieldDesc> fields_;  // the cursor's own copy (read-only switches)
  std::vector<std::uint8_t> scratch_;

  std::int64_t position_ = 0;
  DBResult status_ = DBResult::kBeforeFirst;
  std::int64_t first_ = 1;
  std::int64_t last_ = 0;
  std::int64_t last_position_ = 0;
  std::uint32_t last_slot_ = 0;
  std::uint64_t seen_change_count_ = ~std::uint64_t{0};

  struct KeyRange {
    bool on = false;
    std::uint32_t fields = 0;
    bool has_low = false, low_inclusive = true;
    bool has_high = false, high_inclusive = true;
    bool equal = false;  // low and high the same key with the same bounds
    std::vector<std::uint8_t> low, high;
  };
  KeyRange range_;
  std::uint32_t filter_count_ = 0;
  std::unique_ptr<RecordFilter> locate_;
  std::uint64_t position_changes_ = 0;
};

// New, unbound cursor with one reference owned by the caller.
DSCursor* NewCursor();

}  // namespace zelvo
