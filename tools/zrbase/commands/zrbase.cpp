// The zrbase dispatcher: command names, help texts, and the one place errors become
// "zrbase: MESSAGE" with exit status 2.
#include <cstring>
#include <iostream>
#include <map>
#include <utility>

#include "client/client_error.h"
#include "client/value_text.h"
#include "commands/commands.h"

namespace zelvo::zrbase {
namespace {

struct CommandInfo {
  const char* name;
  int (*run)(const Args&, Io);
  const char* usage;
  const char* help;
};

constexpr CommandInfo kCommands[] = {
    {"info", Info, "zrbase info FILE",
     "Describes a database file: its format, its fields (number, name, kind, width, subtype,\n"
     "attributes), its live records, change-log entries, number of changes and locale id.\n"},
    {"dump", Dump,
     "zrbase dump FILE [--filter EXPR] [--case-insensitive] [--no-partial]\n"
     "                 [--sort FIELD[:desc]]... [--sort-case-insensitive]",
     "Prints the records a table window would show, as TSV with a header line.\n"
     "  --filter EXPR            show only the records for which EXPR is true\n"
     "  --case-insensitive       string comparisons in EXPR ignore letter case\n"
     "  --no-partial             a trailing * in a string constant is an ordinary character\n"
     "  --sort FIELD[:desc]      order by a temporary index on these fields (repeatable)\n"
     "  --sort-case-insensitive  the sort ignores letter case\n"},
    {"count", Count, "zrbase count FILE [--filter EXPR] [--case-insensitive] [--no-partial]",
     "Prints the number of records that pass the filter (all records without one).\n"},
    {"locate", Locate,
     "zrbase locate FILE FIELD VALUE [--case-insensitive] [--partial] [--filter EXPR]\n"
     "                   [--sort FIELD[:desc]]... [--sort-case-insensitive]",
     "Prints the 1-based number of the first record, in the current order and filter, whose\n"
     "FIELD matches VALUE (\\N for null). Exit status 1, and no output, when none does.\n"
     "  --case-insensitive  letter case does not count\n"
     "  --partial           a string field matches every value that begins with VALUE\n"},
    {"convert", Convert, "zrbase convert IN OUT [--utf8]",
     "Loads IN (binary or XML) and saves it to OUT: XML when OUT ends in .xml (any letter\n"
     "case), UTF-8 XML with --utf8, binary otherwise.\n"},
    {"create", Create,
     "zrbase create OUT --field NAME:KIND[:SIZE[:SCALE]][:required]... [--rows FILE.tsv]",
     "Creates a table from field definitions, filled from a TSV file whose header names the\n"
     "fields; the rows are the table's original content (no change log).\n"
     "KIND: string, fixedchar, widestring, guid (SIZE characters); smallint, integer, word,\n"
     "largeint, autoinc, boolean, float, currency; bcd, fmtbcd (SIZE precision, SCALE places);\n"
     "date, time, datetime, timestamp; bytes, varbytes (SIZE bytes); memo, blob, fmtmemo,\n"
     "graphic, typedbinary.\n"},
    {"edit", Edit, "zrbase edit IN OUT [--no-log]",
     "Applies editing steps read from standard input, one per line, then saves to OUT:\n"
     "  set N FIELD VALUE               write FIELD of record N and post\n"
     "  insert FIELD=VALUE[<TAB>...]    insert a record and post it\n"
     "  delete N                        delete record N\n"
     "  undo | merge                    undo the newest change | merge the change log\n"
     "  log on | log off                switch change logging\n"
     "N counts in the default order; VALUE in the TSV text form, \\N for null.\n"},
};

constexpr const char* kComing[] = {"batch", "cardtext", "cleanup", "export-mdb", "import-mdb"};

constexpr const char* kValueForms =
    "Values (TSV): strings as text (UTF-8), \\\\ \\t \\n \\r escaped, \\N null; integers decimal;\n"
    "booleans True/False; floats shortest round-trip; BCD with its scale's decimals; dates\n"
    "YYYY-MM-DD; times HH:MM:SS[.mmm]; date-times and time stamps YYYY-MM-DD HH:MM:SS[.mmm];\n"
    "bytes and binary blobs lowercase hexadecimal.\n";

void PrintHelp(std::ostream& out) {
  out << "usage: zrbase COMMAND [options] ARGS...\n\nCommands:\n";
  for (const CommandInfo& c : kCommands) out << "  " << c.usage << "\n";
  out << "\nComing (not available yet):";
  for (const char* name : kComing) out << " " << name;
  out << "\n\nExit status: 0 success, 1 locate found nothing, 2 error.\n" << kValueForms
      << "'zrbase COMMAND --help' describes one command.\n";
}

}  // namespace

int Run(const std::vector<std::string>& args, Io io) {
  try {
    if (args.empty()) {
      PrintHelp(io.err);
      return kExitError;
    }
    const std::string& name = args[0];
    if (name == "--help" || name == "-h" || name == "help") {
      PrintHelp(io.out);
      return kExitOk;
    }
    for (const CommandInfo& c : kCommands) {
      if (name != c.name) continue;
      const Args rest(args.begin() + 1, args.end());
      for (const std::string& a : rest) {
        if (a == "--help") {
          io.out << "usage: " << c.usage << "\n\n" << c.help;
          return kExitOk;
        }
      }
      return c.run(rest, io);
    }
    for (const char* coming : kComing) {
      if (name == coming) throw ToolError("command '" + name + "' is not available yet");
    }
    throw ToolError("unknown command '" + name + "' (see zrbase --help)");
  } catch (const client::EDatabaseError& e) {
    // The component speaks Windows-1252 (field names, filter texts); the terminal UTF-8.
    io.err << "zrbase: " << client::Cp1252ToUtf8(e.what()) << "\n";
  } catch (const ToolError& e) {
    io.err << "zrbase: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    io.err << "zrbase: out of memory\n";
  } catch (const std::exception& e) {
    io.err << "zrbase: " << e.what() << "\n";
  }
  return kExitError;
}

}  // namespace zelvo::zrbase
