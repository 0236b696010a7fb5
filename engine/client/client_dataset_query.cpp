// TClientDataSet: filters, index definitions, orderings and locate — the parts that turn
// client texts (filter expressions, field lists) into engine orderings.
#include <algorithm>
#include <cctype>

#include "client/client_dataset.h"
#include "client/field_kinds.h"

namespace zelvo::client {
namespace {

std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view name = list.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (!name.empty()) names.emplace_back(name);
    start = end + 1;
  }
  return names;
}

bool SameFilterOptions(const FilterOptions& a, const FilterOptions& b) {
  return a.case_insensitive == b.case_insensitive && a.no_partial_compare == b.no_partial_compare;
}

}  // namespace

// ---- Filters ----

std::vector<std::uint8_t> TClientDataSet::ParseOrRaise(const std::string& text,
                                                       const FilterOptions& options) {
  std::vector<std::uint8_t> expression;
  std::string message;
  const DBResult r =
      ParseFilterText(text, filter_fields_, FilterFormat(), options, &expression, &message);
  if (r == DBResult::kInvalidArgument) Raise(message);
  Check(r);
  return expression;
}

void TClientDataSet::AttachFilterText(const std::string& text, const FilterOptions& options) {
  if (text.empty()) return;
  const std::vector<std::uint8_t> expression = ParseOrRaise(text, options);
  std::uint32_t handle = 0;
  Check(cursor_->AttachFilter(expression.data(), static_cast<std::uint32_t>(expression.size()),
                              &handle));
  filter_handle_ = handle;
}

void TClientDataSet::DetachFilterText() {
  if (filter_handle_ == 0) return;
  const std::uint32_t handle = filter_handle_;
  filter_handle_ = 0;
  Check(cursor_->DetachFilter(handle));
}

void TClientDataSet::SetFilter(std::string_view text) {
  const std::string new_text(text);
  if (Active() && filtered_) {
    CheckBrowseMode();
    if (new_text != filter_) {
      // Parse before anything changes: a text that does not parse leaves the old filter in
      // force, so what the table shows always matches Filter().
      if (!new_text.empty()) (void)ParseOrRaise(new_text, filter_options_);
      DetachFilterText();
      AttachFilterText(new_text, filter_options_);
    }
    filter_ = new_text;
    First();
    Notify(DataEvent::kDataSetChanged);
    return;
  }
  filter_ = new_text;
}

void TClientDataSet::SetFiltered(bool on) {
  if (!Active()) {
    filtered_ = on;
    return;
  }
  CheckBrowseMode();
  if (on != filtered_) {
    if (on) {
      AttachFilterText(filter_, filter_options_);  // raises with the flag still off
    } else {
      DetachFilterText();
    }
    filtered_ = on;
  }
  First();
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::SetFilterOptions(const FilterOptions& options) {
  if (Active() && filtered_ && !SameFilterOptions(options, filter_options_)) {
    CheckBrowseMode();
    if (!filter_.empty()) (void)ParseOrRaise(filter_, options);
    DetachFilterText();
    AttachFilterText(filter_, options);
    filter_options_ = options;
    First();
    Notify(DataEvent::kDataSetChanged);
    return;
  }
  filter_options_ = options;
}

// ---- Orderings ----

IndexDesc TClientDataSet::DescOf(const TIndexDef& def) {
  IndexDesc desc;
  desc.SetName(def.name.substr(0, 31));
  const std::vector<std::string> names = SplitNames(def.fields);
  const std::vector<std::string> desc_names = SplitNames(def.desc_fields);
  const std::vector<std::string> ci_names = SplitNames(def.case_ins_fields);
  auto listed = [](const std::vector<std::string>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& n) {
      return n.size() == name.size() &&
             std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
             });
    });
  };
  for (const std::string& name : names) {
    if (desc.field_count == kMaxKeyFields) break;
    const TField& field = FieldByName(name);
    const std::uint32_t i = desc.field_count++;
    desc.fields[i] = field.FieldNo();
    desc.descending[i] = desc_names.empty() ? (def.options & ixDescending) != 0 : listed(desc_names, name);
    desc.case_insensitive[i] =
        ci_names.empty() ? (def.options & ixCaseInsensitive) != 0 : listed(ci_names, name);
  }
  if ((def.options & ixPrimary) != 0) {
    desc.unique = 2;
  } else if ((def.options & ixUnique) != 0) {
    desc.unique = 1;
  }
  return desc;
}

void TClientDataSet::ReadIndexDefs() {
  if (!Active() || index_defs_read_) return;
  std::vector<IndexDesc> indexes;
  Check(table_->DescribeIndexes(&indexes));
  for (const IndexDesc& d : indexes) {
    const std::string name(d.Name().empty() ? kDefaultOrderName : d.Name());
    if (index_defs_.FindIndex(name) != nullptr) continue;
    TIndexDef def;
    def.name = name;
    std::string desc_fields, ci_fields;
    for (std::uint32_t i = 0; i < d.field_count && i < kMaxKeyFields; ++i) {
      if (d.fields[i] == 0 || d.fields[i] > descs_.size()) continue;
      const std::string field(descs_[d.fields[i] - 1].Name());
      def.fields += (def.fields.empty() ? "" : ";") + field;
      if (d.descending[i] != 0) desc_fields += (desc_fields.empty() ? "" : ";") + field;
      if (d.case_insensitive[i] != 0) ci_fields += (ci_fields.empty() ? "" : ";") + field;
    }
    def.desc_fields = desc_fields;
    def.case_ins_fields = ci_fields;
    if (d.unique == 2) def.options |= ixPrimary;
    if (d.unique != 0) def.options |= ixUnique;
    index_defs_.Add(def);
  }
  index_defs_read_ = true;
}

TIndexDefs& TClientDataSet::IndexDefs() {
  ReadIndexDefs();
  return index_defs_;
}

void TClientDataSet::AddIndex(const std::string& name, const std::string& fields,
                              std::uint32_t options, const std::string& desc_fields,
                              const std::string& case_ins_fields, std::uint32_t grouping_level) {
  TIndexDef def{name, fields, options, desc_fields, case_ins_fields, grouping_level};
  if (Active()) Check(table_->DefineIndex(DescOf(def)));
  if (index_defs_.FindIndex(name) == nullptr) index_defs_.Add(std::move(def));
}

// After the active ordering changed: stay on the current record, or go to the first.
void TClientDataSet::Reposition() {
  eof_ = bof_ = false;
  if (!has_record_ || !Fetch()) {
    (void)cursor_->GoBeforeFirst();
    if (Ok(cursor_->StepBy(1)) && Fetch()) {
      bof_ = true;
    } else {
      has_record_ = false;
      eof_ = bof_ = true;
    }
  }
}

void TClientDataSet::SetIndexName(const std::string& name) {
  if (!Active()) {
    index_name_ = name;
    sort_fields_.clear();
    return;
  }
  CheckBrowseMode();
  DBResult r = cursor_->OrderByIndex(name);
  if (r == DBResult::kIndexNotFound) {
    const TIndexDef* def = index_defs_.FindIndex(name);
    if (def == nullptr) Raise("Index '" + name + "' not found");
    Check(table_->DefineIndex(DescOf(*def)));
    r = cursor_->OrderByIndex(name);
  }
  Check(r);
  index_name_ = name;
  sort_fields_.clear();
  Reposition();
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::SortByFields(const std::vector<SortField>& fields) {
  if (!Active()) {
    sort_fields_ = fields;
    index_name_.clear();
    return;
  }
  CheckBrowseMode();
  if (fields.empty() || fields.size() > kMaxKeyFields) Raise("Sort needs 1 to 16 fields");
  std::vector<std::uint32_t> numbers, descending, case_insensitive;
  for (const SortField& f : fields) {
    numbers.push_back(FieldByName(f.name).FieldNo());
    descending.push_back(f.descending ? 1 : 0);
    case_insensitive.push_back(f.case_insensitive ? 1 : 0);
  }
  Check(cursor_->OrderByFields(static_cast<std::uint32_t>(numbers.size()), numbers.data(),
                               descending.data(), case_insensitive.data()));
  sort_fields_ = fields;
  index_name_.clear();
  Reposition();
  Notify(DataEvent::kDataSetChanged);
}

void TClientDataSet::ApplyOrderingOnOpen() {
  if (!sort_fields_.empty()) {
    const std::vector<SortField> fields = sort_fields_;
    SortByFields(fields);
  } else if (!index_name_.empty()) {
    const std::string name = index_name_;
    SetIndexName(name);
  }
  if (filtered_) AttachFilterText(filter_, filter_options_);
}

// ---- Locate ----

bool TClientDataSet::Locate(std::string_view field_names,
                            const std::vector<std::optional<std::string>>& values,
                            std::uint32_t options) {
  CheckBrowseMode();
  const std::vector<std::string> names = SplitNames(field_names);
  if (names.empty() || names.size() != values.size()) {
    Raise("Locate needs one value per field");
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const TField& field = FieldByName(names[i]);
    if (!text.empty()) text += " and ";
    const std::string bracketed = "[" + field.FieldName() + "]";
    if (!values[i].has_value()) {
      text += bracketed + " IS NULL";
      continue;
    }
    const std::string& value = *values[i];
    switch (field.DataType()) {
      case ClientFieldKind::kString: case ClientFieldKind::kFixedString:
      case ClientFieldKind::kWideString: case ClientFieldKind::kGuid: {
        // Quotes are doubled: a value such as O'Brien must stay one literal whatever
        // follows it.
        std::string quoted;
        for (char c : value) {
          quoted += c;
          if (c == '\'') quoted += '\'';
        }
        const bool partial = (options & loPartialKey) != 0 && i + 1 == names.size();
        text += bracketed + "='" + quoted + (partial ? "*'" : "'");
        break;
      }
      case ClientFieldKind::kDate: case ClientFieldKind::kTime:
      case ClientFieldKind::kDateTime: case ClientFieldKind::kTimeStamp:
        text += bracketed + "='" + value + "'";
        break;
      case ClientFieldKind::kSmallint: case ClientFieldKind::kInteger:
      case ClientFieldKind::kAutoInc: case ClientFieldKind::kWord:
      case ClientFieldKind::kLargeint: case ClientFieldKind::kBoolean:
      case ClientFieldKind::kFloat: case ClientFieldKind::kCurrency:
      case ClientFieldKind::kBcd: case ClientFieldKind::kFmtBcd:
        if (value.empty() || value.find_first_of(" '()[]") != std::string::npos) {
          Raise("'" + value + "' is not a valid value for field '" + field.FieldName() + "'");
        }
        text += bracketed + "=" + value;
        break;
      default:
        Raise("Field '" + field.FieldName() + "' is of an unsupported type");
    }
  }
  FilterOptions filter_options;
  filter_options.case_insensitive = (options & loCaseInsensitive) != 0;
  filter_options.no_partial_compare = (options & loPartialKey) == 0;
  const std::vector<std::uint8_t> expression = ParseOrRaise(text, filter_options);
  (void)cursor_->GoBeforeFirst();
  const DBResult r =
      cursor_->FindNextMatch(expression.data(), static_cast<std::uint32_t>(expression.size()));
  if (Ok(r) && Fetch()) {
    eof_ = bof_ = false;
    Notify(DataEvent::kRecordChanged);
    return true;
  }
  ReturnTo(TBookmark{current_mark_, has_record_});
  if (r != DBResult::kNotFound && !Ok(r)) Check(r);
  return false;
}

}  // namespace zelvo::client
