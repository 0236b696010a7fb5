// The commands that only read a database file: info, dump, count and locate.
#include <ostream>

#include "client/field_kinds.h"
#include "client/value_text.h"
#include "commands/commands.h"
#include "commands/options.h"
#include "commands/tsv.h"

namespace zelvo::zrbase {
namespace {

using client::TClientDataSet;

const OptionSpec kViewSpec{{"--case-insensitive", "--no-partial", "--sort-case-insensitive"},
                           {"--filter", "--sort"}};
const OptionSpec kLocateSpec{{"--case-insensitive", "--partial", "--sort-case-insensitive"},
                             {"--filter", "--sort"}};

// Applies the sort fields and the filter a table window would have.
void ApplyView(const Options& options, bool filter_options, TClientDataSet* ds) {
  if (options.HasValue("--sort")) {
    std::vector<client::SortField> fields;
    for (const std::string& spec : options.All("--sort")) {
      client::SortField f;
      f.name = spec;
      const std::size_t colon = spec.rfind(':');
      if (colon != std::string::npos) {
        const std::string order = spec.substr(colon + 1);
        if (order != "desc" && order != "asc") throw ToolError("bad sort order in '" + spec + "'");
        f.descending = order == "desc";
        f.name = spec.substr(0, colon);
      }
      f.name = ToCodePage(f.name, "a field name");
      f.case_insensitive = options.Has("--sort-case-insensitive");
      fields.push_back(f);
    }
    ds->SortByFields(fields);
  }
  if (options.HasValue("--filter")) {
    FilterOptions fo;
    if (filter_options) {
      fo.case_insensitive = options.Has("--case-insensitive");
      fo.no_partial_compare = options.Has("--no-partial");
    }
    ds->SetFilterOptions(fo);
    ds->SetFilter(ToCodePage(options.Value("--filter"), "the filter"));
    ds->SetFiltered(true);
  }
}

// Writes `text` to `out` once it has grown, so a million records are not a million writes.
void FlushIfLarge(std::string* text, std::ostream& out, bool force = false) {
  if (force || text->size() >= (1u << 16)) {
    out.write(text->data(), static_cast<std::streamsize>(text->size()));
    text->clear();
  }
}

}  // namespace

int Info(const Args& args, Io io) {
  const Options options = ParseOptions(args, {}, 1, 1, "zrbase info FILE");
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  std::string text = std::string("format ") + (ds.LoadedXml() ? "xml" : "binary") + "\n";
  for (int i = 0; i < ds.FieldCount(); ++i) {
    const client::TField& f = ds.Fields(i);
    const FieldDesc& d = f.Desc();
    std::string attrs;
    static constexpr std::pair<std::uint32_t, const char*> kAttrs[] = {
        {kAttrHidden, "hidden"}, {kAttrReadOnly, "readonly"}, {kAttrRequired, "required"},
        {kAttrLinkField, "linkfield"}};
    for (const auto& [bit, name] : kAttrs) {
      if ((d.attributes & bit) != 0) attrs += (attrs.empty() ? "" : ",") + std::string(name);
    }
    const std::string_view subtype = SubtypeName(d.subtype);
    text += "field\t" + std::to_string(f.FieldNo()) + "\t";
    AppendEscaped(client::Cp1252ToUtf8(f.FieldName()), &text);
    text += "\t" + std::string(client::KindName(f.DataType())) + "\t" + std::to_string(f.Size()) +
            "\t" + (subtype.empty() ? std::string("-") : std::string(subtype)) + "\t" +
            (attrs.empty() ? std::string("-") : attrs) + "\n";
  }
  text += "records " + std::to_string(ds.TableRecordCount()) + "\n";
  text += "log " + std::to_string(ds.ChangeLogEntries()) + "\n";
  text += "changes " + std::to_string(ds.ChangeCount()) + "\n";
  text += "lcid " + std::to_string(ds.Lcid()) + "\n";
  io.out << text;
  return kExitOk;
}

int Dump(const Args& args, Io io) {
  const Options options = ParseOptions(
      args, kViewSpec, 1, 1,
      "zrbase dump FILE [--filter EXPR] [--case-insensitive] [--no-partial] [--sort FIELD[:desc]]... "
      "[--sort-case-insensitive]");
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  ds.DisableControls();
  ApplyView(options, true, &ds);
  std::string text;
  for (int i = 0; i < ds.FieldCount(); ++i) {
    if (i != 0) text += '\t';
    AppendEscaped(client::Cp1252ToUtf8(ds.Fields(i).FieldName()), &text);
  }
  text += '\n';
  std::vector<client::TField*> fields;
  for (int i = 0; i < ds.FieldCount(); ++i) fields.push_back(&ds.Fields(i));
  for (ds.First(); !ds.Eof(); ds.Next()) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i != 0) text += '\t';
      AppendCell(*fields[i], &text);
    }
    text += '\n';
    FlushIfLarge(&text, io.out);
  }
  FlushIfLarge(&text, io.out, true);
  return kExitOk;
}

int Count(const Args& args, Io io) {
  const Options options = ParseOptions(
      {args}, {{"--case-insensitive", "--no-partial"}, {"--filter"}}, 1, 1,
      "zrbase count FILE [--filter EXPR] [--case-insensitive] [--no-partial]");
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  ds.DisableControls();
  ApplyView(options, true, &ds);
  io.out << ds.RecordCount() << "\n";
  return kExitOk;
}

int Locate(const Args& args, Io io) {
  const Options options = ParseOptions(
      args, kLocateSpec, 3, 3,
      "zrbase locate FILE FIELD VALUE [--case-insensitive] [--partial] [--filter EXPR] "
      "[--sort FIELD[:desc]]... [--sort-case-insensitive]");
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  ds.DisableControls();
  ApplyView(options, false, &ds);
  const client::TField& field =
      ds.FieldByName(ToCodePage(options.positional[1], "the field name"));
  std::uint32_t locate_options = 0;
  if (options.Has("--case-insensitive")) locate_options |= client::loCaseInsensitive;
  if (options.Has("--partial")) locate_options |= client::loPartialKey;
  const std::string name = field.FieldName();
  if (!ds.Locate(name, {ValueOfArgument(field, options.positional[2])}, locate_options)) {
    return kExitNotFound;
  }
  io.out << ds.RecNo() << "\n";
  return kExitOk;
}

}  // namespace zelvo::zrbase
