// Option parsing for the zrbase commands.
#include "commands/options.h"

namespace zelvo::zrbase {

std::string Options::Value(const std::string& name) const {
  auto it = values.find(name);
  return it == values.end() || it->second.empty() ? std::string() : it->second.back();
}

const std::vector<std::string>& Options::All(const std::string& name) const {
  static const std::vector<std::string> kNone;
  auto it = values.find(name);
  return it == values.end() ? kNone : it->second;
}

Options ParseOptions(const Args& args, const OptionSpec& spec, std::size_t min_positional,
                     std::size_t max_positional, const std::string& usage) {
  Options options;
  bool only_positional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (only_positional || a.size() < 2 || a.compare(0, 2, "--") != 0) {
      options.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      only_positional = true;
      continue;
    }
    std::string name = a, value;
    const std::size_t eq = a.find('=');
    const bool inline_value = eq != std::string::npos;
    if (inline_value) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    }
    if (spec.flags.count(name) != 0 && !inline_value) {
      options.flags.insert(name);
    } else if (spec.with_value.count(name) != 0) {
      if (!inline_value) {
        if (i + 1 >= args.size()) throw ToolError("option " + name + " needs a value");
        value = args[++i];
      }
      options.values[name].push_back(value);
    } else {
      throw ToolError("unknown option " + name + " (usage: " + usage + ")");
    }
  }
  if (options.positional.size() < min_positional || options.positional.size() > max_positional) {
    throw ToolError("wrong number of arguments (usage: " + usage + ")");
  }
  return options;
}

}  // namespace zelvo::zrbase
