// TSV cells and the UTF-8 / Windows-1252 edge.
#include "commands/tsv.h"

#include "client/field_kinds.h"
#include "client/value_text.h"
#include "commands/commands.h"

namespace zelvo::zrbase {

void AppendEscaped(std::string_view text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '\\': out->append("\\\\"); break;
      case '\t': out->append("\\t"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      default: out->push_back(c); break;
    }
  }
}

std::string Unescape(std::string_view cell) {
  std::string out;
  out.reserve(cell.size());
  for (std::size_t i = 0; i < cell.size(); ++i) {
    if (cell[i] != '\\') {
      out.push_back(cell[i]);
      continue;
    }
    if (i + 1 >= cell.size()) throw ToolError("a value ends in a lone backslash");
    switch (cell[++i]) {
      case '\\': out.push_back('\\'); break;
      case 't': out.push_back('\t'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      default:
        throw ToolError(std::string("unknown escape \\") + cell[i] + " in a value");
    }
  }
  return out;
}

std::vector<std::string_view> SplitTsvLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::vector<std::string_view> cells;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    if (tab == std::string_view::npos) {
      cells.push_back(line.substr(start));
      return cells;
    }
    cells.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

std::string ToCodePage(std::string_view utf8, std::string_view what) {
  std::string bytes, bad;
  if (!client::Utf8ToCp1252(utf8, &bytes, &bad)) {
    throw ToolError(std::string(what) + " holds " + bad +
                    ", which Windows-1252 cannot hold");
  }
  return bytes;
}

void AppendCell(const client::TField& field, std::string* out) {
  if (field.IsNull()) {
    out->append(kNullCell);
    return;
  }
  const std::string text = field.AsString();
  if (client::KindIsText8(field.DataType())) {
    AppendEscaped(client::Cp1252ToUtf8(text), out);
  } else {
    AppendEscaped(text, out);
  }
}

std::optional<std::string> ValueOfArgument(const client::TField& field, std::string_view text) {
  if (text == kNullCell) return std::nullopt;
  const std::string value = Unescape(text);
  if (client::KindIsText8(field.DataType())) {
    return ToCodePage(value, "the value of field '" + field.FieldName() + "'");
  }
  return value;
}

void SetFromCell(client::TField& field, std::string_view cell) {
  const std::optional<std::string> value = ValueOfArgument(field, cell);
  if (value.has_value()) {
    field.SetAsString(*value);
  } else {
    field.Clear();
  }
}

}  // namespace zelvo::zrbase
