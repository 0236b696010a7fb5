// The zrbase commands: each takes its arguments (after the command name) and writes to the
// given streams. Run dispatches a whole command line and turns every error into one line
// "zrbase: MESSAGE" on the error stream and exit status 2.
#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelvo::zrbase {

struct Io {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

constexpr int kExitOk = 0;
constexpr int kExitNotFound = 1;  // locate found nothing
constexpr int kExitError = 2;

// An error of zrbase itself (usage, TSV text, file names), as opposed to one the table
// component raises.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

// `args` without the program name. Never throws.
int Run(const std::vector<std::string>& args, Io io);

using Args = std::vector<std::string>;
int Info(const Args& args, Io io);
int Dump(const Args& args, Io io);
int Count(const Args& args, Io io);
int Locate(const Args& args, Io io);
int Convert(const Args& args, Io io);
int Create(const Args& args, Io io);
int Edit(const Args& args, Io io);

// The name the table component goes by in messages.
inline constexpr const char* kTableName = "clTable";

}  // namespace zelvo::zrbase
