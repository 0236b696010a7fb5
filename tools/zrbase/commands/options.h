// Command-line options of the zrbase commands: flags, options with a value (repeatable),
// and positional arguments, in any order.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "commands/commands.h"

namespace zelvo::zrbase {

struct OptionSpec {
  std::set<std::string> flags;        // "--utf8"
  std::set<std::string> with_value;   // "--filter"
};

struct Options {
  std::vector<std::string> positional;
  std::set<std::string> flags;
  std::map<std::string, std::vector<std::string>> values;

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  bool HasValue(const std::string& name) const { return values.count(name) != 0; }
  // The last value given for `name`, or "".
  std::string Value(const std::string& name) const;
  const std::vector<std::string>& All(const std::string& name) const;
};

// Throws ToolError for an unknown option, a missing value or a positional count outside
// [min_positional, max_positional]. "--name=value" is accepted as well; "--" ends options.
Options ParseOptions(const Args& args, const OptionSpec& spec, std::size_t min_positional,
                     std::size_t max_positional, const std::string& usage);

}  // namespace zelvo::zrbase
