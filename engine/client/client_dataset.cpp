// TClientDataSet: opening, saving, walking, bookmarks, editing and notifications. Filters,
// orderings and locate are in client_dataset_query.cpp.
#include "client/client_dataset.h"

#include <algorithm>
#include <cctype>

#include "client/field_kinds.h"
#include "client/value_text.h"
#include "packet/packet_file.h"

namespace zelvo::client {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool EndsWithXml(const std::string& path) {
  return path.size() >= 4 && EqualsIgnoringCase(std::string_view(path).substr(path.size() - 4), ".xml");
}

// The engine's field description of one definition.
FieldDesc DescOfDef(const TFieldDef& def) {
  FieldDesc d;
  d.SetName(def.name);
  const EngineTypeOfKind t = EngineTypeOf(def.kind);
  d.type = t.type;
  d.subtype = t.subtype;
  switch (def.kind) {
    case ClientFieldKind::kWideString:
      // A wide string keeps its characters only as UTF-16: an 8-bit field would lose every
      // character outside Windows-1252, and its subtype is not saved either.
      d.type = FT_WIDESTRING;
      d.subtype = kSubtypeNone;
      d.units1 = def.size * 2;
      break;
    case ClientFieldKind::kGuid:
      d.units1 = def.size != 0 ? def.size : 38;
      break;
    case ClientFieldKind::kBcd:
    case ClientFieldKind::kFmtBcd:
      d.units1 = def.size;
      d.units2 = def.scale;
      break;
    default:
      d.units1 = def.size;
      break;
  }
  if (def.required) d.attributes |= kAttrRequired;
  return d;
}

}  // namespace

TDataSource::~TDataSource() { SetDataSet(nullptr); }

void TDataSource::SetDataSet(TClientDataSet* dataset) {
  if (dataset_ != nullptr) {
    auto& s = dataset_->sources_;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
  }
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->sources_.push_back(this);
}

TClientDataSet::TClientDataSet(std::string name) : name_(std::move(name)) {}

TClientDataSet::~TClientDataSet() {
  for (TDataSource* s : sources_) s->dataset_ = nullptr;
}

void TClientDataSet::Raise(const std::string& message) const {
  throw EDatabaseError(name_ + ": " + message);
}

void TClientDataSet::CheckActive() const {
  if (!Active()) Raise("Cannot perform this operation on a closed dataset");
}

void TClientDataSet::CheckEditing() const {
  CheckActive();
  if (state_ != DataSetState::kEdit && state_ != DataSetState::kInsert) {
    Raise("Dataset not in edit or insert mode");
  }
}

void TClientDataSet::CheckBrowseMode() {
  CheckActive();
  if (state_ == DataSetState::kEdit || state_ == DataSetState::kInsert) {
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

void TClientDataSet::Notify(DataEvent event, const TField* field) {
  if (disable_count_ > 0) return;
  // A handler may unbind its source: walk a copy.
  const std::vector<TDataSource*> sources = sources_;
  for (TDataSource* s : sources) {
    if (s->OnEvent) s->OnEvent(event, field);
  }
}

void TClientDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::SetState(DataSetState state) {
  if (state_ == state) return;
  state_ = state;
  Notify(DataEvent::kStateChanged);
}

bool TClientDataSet::HasBlobFields() const {
  return std::any_of(descs_.begin(), descs_.end(), [](const FieldDesc& d) { return d.type == FT_BLOB; });
}

// ---- Opening, closing, saving ----

void TClientDataSet::LoadFromFile(const std::string& path) {
  Close();
  PacketBytes bytes;
  std::string error;
  if (!ReadPacketFile(path, &bytes, &error)) Raise(error);
  Ref<DSBASE> table = Ref<DSBASE>::Adopt(NewTable());
  if (!table) Raise(EngineMessage(DBResult::kOutOfMemory));
  Check(table->LoadPacket(bytes.data(), bytes.size(), true));
  std::uint64_t xml_mode = 0;
  (void)table->ReadTableOption(kOptXmlMode, &xml_mode);
  loaded_xml_ = xml_mode != 0;
  table_ = std::move(table);
  Open();
}

void TClientDataSet::CreateDataSet() {
  Close();
  if (field_defs_.Count() == 0) Raise("No fields defined");
  std::vector<FieldDesc> descs;
  for (const TFieldDef& def : field_defs_.Items()) descs.push_back(DescOfDef(def));
  Ref<DSBASE> table = Ref<DSBASE>::Adopt(NewTable());
  if (!table) Raise(EngineMessage(DBResult::kOutOfMemory));
  Check(table->DefineTable(descs.data(), static_cast<std::uint32_t>(descs.size()), ""));
  loaded_xml_ = false;
  table_ = std::move(table);
  Open();
}

void TClientDataSet::Open() {
  Ref<DSCursor> cursor = Ref<DSCursor>::Adopt(NewCursor());
  DBResult r = table_->WriteTableOption(kOptFieldCountMode, 1);
  TableDesc table_desc;
  if (Ok(r)) r = table_->DescribeTable(&table_desc);
  if (Ok(r)) r = cursor->AttachToTable(table_.get());
  if (Ok(r)) r = cursor->DescribeFields(&descs_);
  if (!Ok(r)) {
    table_ = Ref<DSBASE>();
    Raise(EngineMessage(r));
  }
  cursor_ = std::move(cursor);
  fields_.clear();
  for (const FieldDesc& d : descs_) fields_.push_back(std::make_unique<TField>(this, d));
  filter_fields_ = FilterFieldsOf(descs_);
  buffer_.assign(cursor_->record_size(), 0);
  index_defs_read_ = false;
  filter_handle_ = 0;
  modified_ = false;
  state_ = DataSetState::kBrowse;
  try {
    ApplyOrderingOnOpen();
  } catch (...) {
    Close();
    throw;
  }
  // First without notifying twice: the whole table is news.
  DisableControls();
  First();
  --disable_count_;
  Notify(DataEvent::kStateChanged);
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::Close() {
  if (!Active()) return;
  if (state_ != DataSetState::kBrowse) Cancel();
  cursor_ = Ref<DSCursor>();
  table_ = Ref<DSBASE>();
  fields_.clear();
  descs_.clear();
  filter_fields_.clear();
  buffer_.clear();
  has_record_ = false;
  eof_ = bof_ = true;
  filter_handle_ = 0;
  index_defs_read_ = false;
  SetState(DataSetState::kInactive);
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::SaveToFile(const std::string& path, bool utf8_xml) {
  CheckBrowseMode();
  const bool xml = EndsWithXml(path);
  Check(table_->WriteTableOption(kOptXmlMode, xml ? (utf8_xml ? 13 : 5) : 0));
  PacketBytes packet;
  Check(table_->WritePacket(&packet));
  std::string error;
  if (!WritePacketFile(path, packet.data(), packet.size(), &error)) Raise(error);
}

// ---- Walking ----

// Reads the record the engine cursor stands on into the buffer; false off a record.
bool TClientDataSet::Fetch() {
  const DBResult r = cursor_->ReadCurrent(buffer_.data());
  if (!Ok(r)) {
    has_record_ = false;
    return false;
  }
  Check(cursor_->MarkPosition(&current_mark_));
  has_record_ = true;
  return true;
}

void TClientDataSet::First() {
  CheckBrowseMode();
  (void)cursor_->GoBeforeFirst();
  const DBResult r = cursor_->StepBy(1);
  if (Ok(r)) {
    Fetch();
  } else if (r == DBResult::kAfterLast) {
    has_record_ = false;
  } else {
    Check(r);
  }
  bof_ = true;
  eof_ = !has_record_;
  Notify(DataEvent::kRecordChanged);
}

void TClientDataSet::Last() {
  CheckBrowseMode();
  (void)cursor_->GoAfterLast();
  const DBResult r = cursor_->StepBy(-1);
  if (Ok(r)) {
    Fetch();
  } else if (r == DBResult::kBeforeFirst) {
    has_record_ = false;
  } else {
    Check(r);
  }
  eof_ = true;
  bof_ = !has_record_;
  Notify(DataEvent::kRecordChanged);
}

// One record forward (+1) or back (-1). False, with Eof or Bof set, at the end.
bool TClientDataSet::StepOnce(int direction) {
  if (!has_record_) {
    eof_ = bof_ = true;
    return false;
  }
  const DBResult r = cursor_->StepBy(direction);
  if (Ok(r)) {
    Fetch();
    eof_ = bof_ = false;
    return true;
  }
  const DBResult end = direction > 0 ? DBResult::kAfterLast : DBResult::kBeforeFirst;
  if (r != end) Check(r);
  // Back onto the record we came from: the client's current record does not change.
  ReturnTo(TBookmark{current_mark_, true});
  (direction > 0 ? eof_ : bof_) = true;
  return false;
}

void TClientDataSet::Next() {
  CheckBrowseMode();
  StepOnce(1);
  Notify(DataEvent::kRecordChanged);
}

void TClientDataSet::Prior() {
  CheckBrowseMode();
  StepOnce(-1);
  Notify(DataEvent::kRecordChanged);
}

int TClientDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  const int direction = distance > 0 ? 1 : -1;
  int moved = 0;
  while (moved != distance && StepOnce(direction)) moved += direction;
  if (distance != 0) Notify(DataEvent::kRecordChanged);
  return moved;
}

void TClientDataSet::ReturnTo(const TBookmark& mark) {
  if (mark.assigned) {
    (void)cursor_->GoToMark(mark.mark);
    if (Fetch()) return;
  }
  (void)cursor_->GoBeforeFirst();
  if (Ok(cursor_->StepBy(1))) Fetch();
  else has_record_ = false;
}

// After the current record left the order (deleted, or posted out of the filter): the
// record that followed it, else the new last record with Eof set, else nothing.
void TClientDataSet::SettleAfterRemoval() {
  bof_ = eof_ = false;
  if (Ok(cursor_->StepBy(1)) && Fetch()) return;
  if (Ok(cursor_->StepBy(-1)) && Fetch()) {
    eof_ = true;
    return;
  }
  has_record_ = false;
  eof_ = bof_ = true;
}

int TClientDataSet::RecNo() {
  CheckActive();
  if (state_ == DataSetState::kInsert) return -1;
  if (!has_record_) return 0;
  std::uint32_t number = 0;
  Check(cursor_->PositionNumber(&number));
  return static_cast<int>(number);
}

void TClientDataSet::SetRecNo(int number) {
  CheckBrowseMode();
  if (number < 0) Check(DBResult::kBeforeFirst);
  const DBResult r = cursor_->GoToNumber(static_cast<std::uint32_t>(number));
  if (!Ok(r) || !Fetch()) {
    ReturnTo(TBookmark{current_mark_, has_record_});
    Check(Ok(r) ? DBResult::kNotFound : r);
  }
  eof_ = bof_ = false;
  Notify(DataEvent::kRecordChanged);
}

int TClientDataSet::RecordCount() {
  CheckActive();
  std::uint32_t count = 0;
  const DBResult r = cursor_->CountRecords(&count);
  if (r == DBResult::kCountUnknown) return -1;
  Check(r);
  return static_cast<int>(count);
}

// ---- Bookmarks ----

TBookmark TClientDataSet::GetBookmark() {
  CheckActive();
  if (!has_record_ || state_ == DataSetState::kInsert) return {};
  return TBookmark{current_mark_, true};
}

void TClientDataSet::GotoBookmark(const TBookmark& bookmark) {
  CheckBrowseMode();
  if (bookmark.assigned) {
    (void)cursor_->GoToMark(bookmark.mark);
    if (Fetch()) {
      eof_ = bof_ = false;
      Notify(DataEvent::kRecordChanged);
      return;
    }
  }
  ReturnTo(TBookmark{current_mark_, true});
  Raise("Record not found");
}

bool TClientDataSet::BookmarkValid(const TBookmark& bookmark) {
  CheckActive();
  if (!bookmark.assigned) return false;
  (void)cursor_->GoToMark(bookmark.mark);
  const bool valid = Ok(cursor_->ReadCurrent(nullptr));
  if (has_record_) (void)cursor_->GoToMark(current_mark_);
  return valid;
}

int TClientDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (!a.assigned || !b.assigned) return a.assigned == b.assigned ? 0 : (a.assigned ? 1 : -1);
  return DSCursor::CompareMarks(a.mark, b.mark);
}

// ---- Editing ----

void TClientDataSet::Edit() {
  CheckActive();
  if (state_ == DataSetState::kEdit || state_ == DataSetState::kInsert) return;
  if (!has_record_) {
    Insert();
    return;
  }
  // Edit from what is stored now, not from a buffer read before another change.
  if (!Fetch()) Raise("Record not found");
  modified_ = false;
  SetState(DataSetState::kEdit);
}

void TClientDataSet::Insert() {
  CheckBrowseMode();
  insert_return_ = TBookmark{current_mark_, has_record_};
  Check(cursor_->BlankRecord(buffer_.data()));
  // The engine appends a record inserted on no record at the end of a keyless order.
  if (has_record_) (void)cursor_->WriteCursorOption(kCursorStatus, 0);
  modified_ = false;
  eof_ = bof_ = false;
  SetState(DataSetState::kInsert);
  Notify(DataEvent::kRecordChanged);
}

void TClientDataSet::Post() {
  CheckActive();
  if (state_ == DataSetState::kBrowse) return;
  Notify(DataEvent::kBeforePost);
  if (state_ == DataSetState::kInsert) {
    Check(cursor_->AddRecord(buffer_.data()));
    state_ = DataSetState::kBrowse;
    // A record its filter refuses is stored but not shown: back to where the insert began.
    if (!Fetch()) ReturnTo(insert_return_);
  } else {
    Check(cursor_->UpdateCurrent(buffer_.data()));
    state_ = DataSetState::kBrowse;
    if (!Fetch()) SettleAfterRemoval();
  }
  modified_ = false;
  if (!has_record_) eof_ = bof_ = true;
  Notify(DataEvent::kStateChanged);
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::Cancel() {
  CheckActive();
  if (state_ == DataSetState::kBrowse) return;
  if (HasBlobFields()) (void)table_->DropPendingBlobs(0);
  const bool inserting = state_ == DataSetState::kInsert;
  state_ = DataSetState::kBrowse;
  modified_ = false;
  if (inserting) {
    ReturnTo(insert_return_);
  } else if (!Fetch()) {
    ReturnTo(TBookmark{current_mark_, true});
  }
  if (!has_record_) eof_ = bof_ = true;
  Notify(DataEvent::kStateChanged);
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::Delete() {
  CheckActive();
  if (state_ == DataSetState::kInsert) {
    Cancel();
    return;
  }
  if (state_ == DataSetState::kEdit) Cancel();
  if (!has_record_) Raise("Cannot perform this operation on an empty dataset");
  Check(cursor_->RemoveCurrent());
  SettleAfterRemoval();
  Notify(DataEvent::kDataSetChanged);
}

// ---- Fields ----

TField* TClientDataSet::FindField(std::string_view name) {
  for (auto& f : fields_) {
    if (EqualsIgnoringCase(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TClientDataSet::FieldByName(std::string_view name) {
  CheckActive();
  TField* f = FindField(name);
  if (f == nullptr) Raise("Field '" + std::string(name) + "' not found");
  return *f;
}

bool TClientDataSet::FieldIsNull(const FieldDesc& desc) const {
  if (!Active() || (!has_record_ && state_ == DataSetState::kBrowse)) return true;
  return buffer_[desc.state_offset] != kFieldValue;
}

std::string TClientDataSet::FieldText(const FieldDesc& desc) const {
  if (FieldIsNull(desc)) return {};
  switch (desc.type) {
    case FT_BLOB: {
      std::uint32_t length = 0;
      Check(cursor_->BlobLength(buffer_.data(), desc.field_number, &length));
      std::string bytes(length, '\0');
      if (length != 0) {
        Check(cursor_->ReadBlob(buffer_.data(), desc.field_number, 0, bytes.data(), &length));
        bytes.resize(length);
      }
      const ClientFieldKind kind = ClientKindOf(desc.type, desc.subtype);
      if (kind == ClientFieldKind::kMemo || kind == ClientFieldKind::kFmtMemo ||
          kind == ClientFieldKind::kOraClob) {
        return bytes;
      }
      return HexOf(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    case FT_STRUCT:
    case FT_ARRAY:
    case FT_TABLE:
      return {};
    default:
      return ValueToText(desc, buffer_.data() + desc.offset);
  }
}

void TClientDataSet::WriteFieldText(const TField& field, std::string_view text) {
  CheckEditing();
  const FieldDesc& desc = field.Desc();
  if (desc.type == FT_BLOB) {
    std::string bytes;
    if (KindIsBinary(field.DataType())) {
      if (!BytesOfHex(text, &bytes)) Raise("'" + std::string(text) + "' is not a valid hexadecimal value");
    } else {
      bytes.assign(text);
    }
    Check(cursor_->WriteBlob(buffer_.data(), desc.field_number, 0, bytes.data(),
                             static_cast<std::uint32_t>(bytes.size())));
  } else if (desc.type == FT_STRUCT || desc.type == FT_ARRAY || desc.type == FT_TABLE) {
    Raise("Field '" + field.FieldName() + "' cannot be written");
  } else if (text.empty() && desc.type != FT_STRING) {
    WriteFieldNull(field);
    return;
  } else {
    std::string value;
    const std::string error = TextToValue(desc, text, &value);
    if (!error.empty()) Raise(error);
    const DBResult r = cursor_->WriteField(buffer_.data(), desc.field_number, value.data());
    if (r == DBResult::kTextTooLong) {
      Raise("Text too long for field '" + field.FieldName() + "' (" +
            std::to_string(desc.units1) + " characters)");
    }
    Check(r);
  }
  modified_ = true;
  Notify(DataEvent::kFieldChanged, &field);
}

void TClientDataSet::WriteFieldNull(const TField& field) {
  CheckEditing();
  Check(cursor_->WriteField(buffer_.data(), field.FieldNo(), nullptr));
  modified_ = true;
  Notify(DataEvent::kFieldChanged, &field);
}

// ---- Change log ----

bool TClientDataSet::LogChanges() {
  CheckActive();
  std::uint64_t on = 0;
  Check(table_->ReadTableOption(kOptLogChanges, &on));
  return on != 0;
}

void TClientDataSet::SetLogChanges(bool on) {
  CheckActive();
  Check(table_->WriteTableOption(kOptLogChanges, on ? 1 : 0));
}

int TClientDataSet::ChangeCount() {
  CheckActive();
  std::uint64_t n = 0;
  Check(table_->ReadTableOption(kOptChangeCount, &n));
  return static_cast<int>(n);
}

int TClientDataSet::ChangeLogEntries() {
  CheckActive();
  return static_cast<int>(table_->change_log().size());
}

void TClientDataSet::UndoLastChange(bool follow_change) {
  CheckBrowseMode();
  Check(cursor_->UndoNewestChange(follow_change));
  if (!Fetch()) ReturnTo(TBookmark{current_mark_, true});
  eof_ = bof_ = !has_record_;
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::MergeChangeLog() {
  CheckBrowseMode();
  Check(table_->MergeChanges());
  ReturnTo(TBookmark{current_mark_, has_record_});
  Notify(DataEvent::kDataSetChanged);
}

int TClientDataSet::TableRecordCount() {
  CheckActive();
  std::uint64_t n = 0;
  Check(table_->ReadTableOption(kOptLiveCount, &n));
  return static_cast<int>(n);
}

std::uint32_t TClientDataSet::Lcid() {
  CheckActive();
  TableDesc desc;
  Check(table_->DescribeTable(&desc));
  return desc.lcid;
}

FormatSettings TClientDataSet::FilterFormat() {
  FormatSettings s = FormatSettings::Fixed();
  s.decimal_separator = '.';
  s.date_separator = '-';
  s.short_date_format = "yyyy-MM-dd";
  s.time_separator = ':';
  return s;
}

}  // namespace zelvo::client
