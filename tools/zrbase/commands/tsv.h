// The TSV text forms at zrbase's edge: escaping, and field values between the table
// component's text (8-bit strings in Windows-1252) and UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_dataset.h"

namespace zelvo::zrbase {

inline constexpr std::string_view kNullCell = "\\N";

// Backslash, TAB, LF and CR as \\, \t, \n, \r.
void AppendEscaped(std::string_view text, std::string* out);
// The inverse; throws ToolError for a backslash before another character or at the end.
std::string Unescape(std::string_view cell);

// Splits a line at TABs (a trailing CR is dropped first).
std::vector<std::string_view> SplitTsvLine(std::string_view line);

// UTF-8 to Windows-1252; throws ToolError naming a character the code page cannot hold.
std::string ToCodePage(std::string_view utf8, std::string_view what);

// The cell of a field of the current record: \N for null, else its escaped UTF-8 text.
void AppendCell(const client::TField& field, std::string* out);
// Writes a cell (\N, or an escaped text) into a field in the edit or insert state.
void SetFromCell(client::TField& field, std::string_view cell);
// A command-line value (UTF-8, TSV escapes) for `field`: nullopt for \N, else the table
// component's text (8-bit for strings).
std::optional<std::string> ValueOfArgument(const client::TField& field, std::string_view text);

}  // namespace zelvo::zrbase
