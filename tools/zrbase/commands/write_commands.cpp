// The commands that write a database file: convert, create and edit. Each builds the whole
// table in memory first; the output is written (through a temporary file) only at the end,
// so a failing command leaves no output behind.
#include <filesystem>
#include <fstream>
#include <istream>
#include <sstream>

#include "client/field_kinds.h"
#include "commands/commands.h"
#include "commands/options.h"
#include "commands/tsv.h"

namespace zelvo::zrbase {
namespace {

using client::TClientDataSet;

// An input file is never changed: refuse to write over it.
void CheckNotInput(const std::string& in, const std::string& out) {
  std::error_code ec;
  if (std::filesystem::exists(out, ec) && std::filesystem::equivalent(in, out, ec)) {
    throw ToolError("the output file " + out + " is the input file");
  }
}

std::uint32_t SizeNumber(const std::string& text, const std::string& spec) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    throw ToolError("bad size '" + text + "' in field definition '" + spec + "'");
  }
  return static_cast<std::uint32_t>(std::stoul(text));
}

// NAME:KIND[:SIZE[:SCALE]][:required]
client::TFieldDef ParseFieldDef(const std::string& spec) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = spec.find(':', start);
    parts.push_back(spec.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts[0].empty()) {
    throw ToolError("bad field definition '" + spec + "' (NAME:KIND[:SIZE[:SCALE]][:required])");
  }
  client::TFieldDef def;
  def.name = ToCodePage(parts[0], "a field name");
  const auto kind = client::KindOfName(parts[1]);
  if (!kind) throw ToolError("unknown field kind '" + parts[1] + "' in '" + spec + "'");
  def.kind = *kind;
  if (parts.size() > 2 && parts.back() == "required") {
    def.required = true;
    parts.pop_back();
  }
  if (parts.size() > 4) throw ToolError("bad field definition '" + spec + "'");
  if (parts.size() > 2) def.size = SizeNumber(parts[2], spec);
  if (parts.size() > 3) def.scale = SizeNumber(parts[3], spec);
  if (client::KindHasSize(def.kind) && def.kind != ClientFieldKind::kGuid && def.size == 0) {
    throw ToolError("field '" + parts[0] + "' of kind " + parts[1] + " needs a size");
  }
  if (!client::KindHasSize(def.kind) && parts.size() > 2) {
    throw ToolError("field '" + parts[0] + "' of kind " + parts[1] + " takes no size");
  }
  return def;
}

void LoadRows(const std::string& path, TClientDataSet* ds) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + path);
  std::string line;
  if (!std::getline(in, line)) throw ToolError(path + ": no header line");
  std::vector<client::TField*> columns;
  for (std::string_view name : SplitTsvLine(line)) {
    columns.push_back(&ds->FieldByName(ToCodePage(Unescape(name), "a field name")));
  }
  std::size_t number = 1;
  while (std::getline(in, line)) {
    ++number;
    const std::vector<std::string_view> cells = SplitTsvLine(line);
    if (cells.size() == 1 && cells[0].empty() && columns.size() != 1) continue;
    if (cells.size() != columns.size()) {
      throw ToolError(path + ":" + std::to_string(number) + ": " + std::to_string(cells.size()) +
                      " values for " + std::to_string(columns.size()) + " fields");
    }
    ds->Append();
    for (std::size_t i = 0; i < cells.size(); ++i) SetFromCell(*columns[i], cells[i]);
    ds->Post();
  }
}

// Splits "set N FIELD VALUE": the first `count` words at single blanks or TABs, then the
// rest of the line.
std::vector<std::string> Words(const std::string& line, std::size_t count) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (words.size() < count && pos <= line.size()) {
    const std::size_t end = line.find_first_of(" \t", pos);
    if (end == std::string::npos) {
      words.push_back(line.substr(pos));
      pos = line.size() + 1;
      break;
    }
    words.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  if (pos <= line.size()) words.push_back(line.substr(pos));
  return words;
}

int RecordNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    throw ToolError("bad record number '" + text + "'");
  }
  return std::stoi(text);
}

void ApplyStep(const std::string& line, TClientDataSet* ds) {
  std::vector<std::string> w = Words(line, 1);
  const std::string& step = w[0];
  if (step == "set") {
    w = Words(line, 3);
    if (w.size() != 4) throw ToolError("set needs N FIELD VALUE");
    ds->SetRecNo(RecordNumber(w[1]));
    client::TField& field = ds->FieldByName(ToCodePage(w[2], "a field name"));
    ds->Edit();
    SetFromCell(field, w[3]);
    ds->Post();
  } else if (step == "insert") {
    if (w.size() != 2) throw ToolError("insert needs FIELD=VALUE pairs");
    ds->Append();
    for (std::string_view pair : SplitTsvLine(w[1])) {
      const std::size_t eq = pair.find('=');
      if (eq == std::string_view::npos) throw ToolError("insert needs FIELD=VALUE, not '" + std::string(pair) + "'");
      client::TField& field = ds->FieldByName(ToCodePage(pair.substr(0, eq), "a field name"));
      SetFromCell(field, pair.substr(eq + 1));
    }
    ds->Post();
  } else if (step == "delete") {
    w = Words(line, 2);
    if (w.size() != 2) throw ToolError("delete needs N");
    ds->SetRecNo(RecordNumber(w[1]));
    ds->Delete();
  } else if (step == "undo" && w.size() == 1) {
    ds->UndoLastChange(true);
  } else if (step == "merge" && w.size() == 1) {
    ds->MergeChangeLog();
  } else if (step == "log" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
    ds->SetLogChanges(w[1] == "on");
  } else {
    throw ToolError("unknown editing step '" + line + "'");
  }
}

}  // namespace

int Convert(const Args& args, Io io) {
  const Options options = ParseOptions(args, {{"--utf8"}, {}}, 2, 2, "zrbase convert IN OUT [--utf8]");
  CheckNotInput(options.positional[0], options.positional[1]);
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  ds.SaveToFile(options.positional[1], options.Has("--utf8"));
  return kExitOk;
}

int Create(const Args& args, Io io) {
  const Options options =
      ParseOptions(args, {{}, {"--field", "--rows"}}, 1, 1,
                   "zrbase create OUT --field NAME:KIND[:SIZE[:SCALE]][:required]... [--rows FILE.tsv]");
  if (!options.HasValue("--field")) throw ToolError("create needs at least one --field");
  TClientDataSet ds(kTableName);
  for (const std::string& spec : options.All("--field")) {
    const client::TFieldDef def = ParseFieldDef(spec);
    ds.FieldDefs().Add(def.name, def.kind, def.size, def.required, def.scale);
  }
  ds.CreateDataSet();
  ds.DisableControls();
  if (options.HasValue("--rows")) {
    ds.SetLogChanges(false);  // the rows are the table's original content
    LoadRows(options.Value("--rows"), &ds);
    ds.SetLogChanges(true);
  }
  ds.SaveToFile(options.positional[0]);
  return kExitOk;
}

int Edit(const Args& args, Io io) {
  const Options options = ParseOptions(args, {{"--no-log"}, {}}, 2, 2, "zrbase edit IN OUT [--no-log]");
  CheckNotInput(options.positional[0], options.positional[1]);
  TClientDataSet ds(kTableName);
  ds.LoadFromFile(options.positional[0]);
  ds.DisableControls();
  if (options.Has("--no-log")) ds.SetLogChanges(false);
  std::string line;
  std::size_t number = 0;
  while (std::getline(io.in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    try {
      ApplyStep(line, &ds);
    } catch (const ToolError& e) {
      throw ToolError("step " + std::to_string(number) + ": " + e.what());
    }
  }
  ds.SaveToFile(options.positional[1]);
  return kExitOk;
}

}  // namespace zelvo::zrbase
