// TClientDataSet: the table component the programs use. It owns one engine table (DSBASE)
// and one cursor (DSCursor) on it, offers field objects with text conversion, bookmarks,
// editing states, filters, index definitions, locate, and notifies bound data sources.
//
// Errors: every failed operation throws EDatabaseError whose message starts with the
// component's name and ": " ("clTable: Field 'Colour' not found"). A failed operation leaves
// the dataset as it was, except where a method says otherwise.
//
// Thread safety: one thread at a time, as the programs use it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_error.h"
#include "client/client_field.h"
#include "client/data_source.h"
#include "client/field_defs.h"
#include "client/index_defs.h"
#include "filter/expr_parser.h"
#include "filter/format_settings.h"
#include "ref_counted.h"
#include "table/cursor.h"
#include "table/dsbase.h"

namespace zelvo::client {

enum class DataSetState { kInactive, kBrowse, kEdit, kInsert };

// A position to come back to. Taken on a record; an unassigned one refers to nothing.
struct TBookmark {
  Bookmark mark;
  bool assigned = false;
};

enum LocateOption : std::uint32_t {
  loCaseInsensitive = 0x1,
  loPartialKey = 0x2,
};

// One key field of a temporary sort order.
struct SortField {
  std::string name;
  bool descending = false;
  bool case_insensitive = false;
};

class TClientDataSet {
 public:
  explicit TClientDataSet(std::string name = "clTable");
  ~TClientDataSet();
  TClientDataSet(const TClientDataSet&) = delete;
  TClientDataSet& operator=(const TClientDataSet&) = delete;

  const std::string& Name() const { return name_; }

  // ---- Opening, closing, saving ----
  // Reads the whole file and loads it, binary or XML by its content, then opens on the
  // first record (closing first when open). A file that cannot be read or loaded leaves the
  // dataset closed.
  void LoadFromFile(const std::string& path);
  // Writes the table: XML when the name ends in ".xml" in any letter case (UTF-8 XML when
  // `utf8_xml`), binary otherwise. Pending edits are posted first. The file is written under
  // a temporary name and renamed over `path` only when complete.
  void SaveToFile(const std::string& path, bool utf8_xml = false);
  // The definitions CreateDataSet builds a new, empty table from.
  TFieldDefs& FieldDefs() { return field_defs_; }
  void CreateDataSet();
  void Close();
  bool Active() const { return state_ != DataSetState::kInactive; }
  DataSetState State() const { return state_; }
  // True when the packet last loaded was in the XML form.
  bool LoadedXml() const { return loaded_xml_; }

  // ---- Walking ----
  // Pending edits are posted (or cancelled when nothing changed) before every move.
  void First();
  void Last();
  // At the last record Next sets Eof and stays; at the first Prior sets Bof and stays.
  void Next();
  void Prior();
  // Steps |distance| records; returns the number of records actually moved (signed).
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return Active() && !has_record_ && state_ != DataSetState::kInsert; }
  // 1-based number of the current record in the current order and filter; 0 without a
  // current record, -1 while inserting.
  int RecNo();
  // Goes to record `number`; a number beyond the count raises the engine's error.
  void SetRecNo(int number);
  // Records in the current order and filter.
  int RecordCount();

  // ---- Bookmarks ----
  TBookmark GetBookmark();
  // Raises "Record not found" when the record is no longer reachable.
  void GotoBookmark(const TBookmark& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark = TBookmark{}; }
  bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1 by position; unassigned bookmarks come first.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;

  // ---- Editing ----
  // Edit on an empty dataset starts an insert. Insert and Append start a new blank record;
  // Post stores it at its place in the active order.
  void Edit();
  void Insert();
  void Append() { Insert(); }
  void Post();
  void Cancel();
  void Delete();
  bool Modified() const { return modified_; }

  // ---- Fields ----
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // REQUIRES: 0 <= index < FieldCount().
  TField& Fields(int index) { return *fields_[static_cast<std::size_t>(index)]; }
  // Raises "Field 'x' not found". Names compare without regard to ASCII letter case.
  TField& FieldByName(std::string_view name);
  TField* FindField(std::string_view name);

  // ---- Change log ----
  bool LogChanges();
  void SetLogChanges(bool on);
  // Pending changes (condensed) and raw change-log entries.
  int ChangeCount();
  int ChangeLogEntries();
  void UndoLastChange(bool follow_change);
  void MergeChangeLog();
  // Live records of the whole table, unfiltered.
  int TableRecordCount();
  std::uint32_t Lcid();

  // ---- Bound controls ----
  // Counted: notifications resume when every DisableControls is matched, with a
  // kDataSetChanged. While disabled no data source hears anything, kBeforePost included.
  void DisableControls() { ++disable_count_; }
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // ---- Filters ----
  const std::string& Filter() const { return filter_; }
  // On a filtered open table the new text is parsed first; a text that does not parse
  // raises and leaves the old text and filter in force.
  void SetFilter(std::string_view text);
  bool Filtered() const { return filtered_; }
  // Switching on with a text that does not parse raises and stays off.
  void SetFiltered(bool on);
  FilterOptions GetFilterOptions() const { return filter_options_; }
  void SetFilterOptions(const FilterOptions& options);

  // ---- Orderings ----
  // The client's list of index definitions (the table's own indexes are added when the
  // list is first read on an open table).
  TIndexDefs& IndexDefs();
  // Adds a definition, and on an open table defines the index in the engine at once.
  void AddIndex(const std::string& name, const std::string& fields, std::uint32_t options,
                const std::string& desc_fields = "", const std::string& case_ins_fields = "",
                std::uint32_t grouping_level = 0);
  const std::string& IndexName() const { return index_name_; }
  // Selects a named ordering (empty: the default order), defining it from IndexDefs when the
  // engine does not have it yet; the current record stays current.
  void SetIndexName(const std::string& name);
  // Orders by a temporary index on `fields` (the current record stays current).
  void SortByFields(const std::vector<SortField>& fields);

  // The first record, in the current order and filter, whose fields (names separated by
  // ';') match `values` (nullopt: null). True and current on success; false and the
  // current record unchanged when none matches.
  bool Locate(std::string_view field_names, const std::vector<std::optional<std::string>>& values,
              std::uint32_t options);

  // The filter parser's locale settings: "." decimals, dates yyyy-MM-dd, 24-hour times.
  static FormatSettings FilterFormat();

  // The engine objects, for diagnostics and tools that inspect the table.
  DSBASE* Table() const { return table_.get(); }
  DSCursor* Cursor() const { return cursor_.get(); }

 private:
  friend class TField;
  friend class TDataSource;

  [[noreturn]] void Raise(const std::string& message) const;
  void Check(DBResult r) const {
    if (!Ok(r)) Raise(EngineMessage(r));
  }
  void CheckActive() const;
  void CheckEditing() const;
  void CheckBrowseMode();
  void Open();
  bool Fetch();
  bool StepOnce(int direction);
  void SettleAfterRemoval();
  void ReturnTo(const TBookmark& mark);
  void Notify(DataEvent event, const TField* field = nullptr);
  void SetState(DataSetState state);
  bool HasBlobFields() const;

  // Field access for TField.
  bool FieldIsNull(const FieldDesc& desc) const;
  std::string FieldText(const FieldDesc& desc) const;
  void WriteFieldText(const TField& field, std::string_view text);
  void WriteFieldNull(const TField& field);

  // Filters and orderings (client_dataset_query.cpp).
  void AttachFilterText(const std::string& text, const FilterOptions& options);
  void DetachFilterText();
  std::vector<std::uint8_t> ParseOrRaise(const std::string& text, const FilterOptions& options);
  IndexDesc DescOf(const TIndexDef& def);
  void ReadIndexDefs();
  void ApplyOrderingOnOpen();
  void Reposition();

  std::string name_;
  Ref<DSBASE> table_;
  Ref<DSCursor> cursor_;
  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<FieldDesc> descs_;
  std::vector<FilterField> filter_fields_;
  TFieldDefs field_defs_;
  TIndexDefs index_defs_;
  bool index_defs_read_ = false;
  std::string index_name_;
  std::vector<SortField> sort_fields_;

  DataSetState state_ = DataSetState::kInactive;
  std::vector<std::uint8_t> buffer_;  // the current record, or the one being edited
  bool has_record_ = false;
  bool eof_ = true;
  bool bof_ = true;
  bool modified_ = false;
  bool loaded_xml_ = false;
  Bookmark current_mark_;
  TBookmark insert_return_;  // where Cancel of an insert goes back to

  std::string filter_;
  bool filtered_ = false;
  FilterOptions filter_options_;
  std::uint32_t filter_handle_ = 0;  // 0: no expression attached

  int disable_count_ = 0;
  std::vector<TDataSource*> sources_;
};

}  // namespace zelvo::client
