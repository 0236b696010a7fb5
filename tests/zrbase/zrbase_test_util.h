// Runs the built zrbase binary on fixtures in a temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zelvo::zrbase::testing {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class Sandbox {
 public:
  Sandbox() {
    dir_ = std::filesystem::temp_directory_path() /
           ("zelvo_zrbase_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "io");
  }
  ~Sandbox() { std::filesystem::remove_all(dir_); }

  std::string File(const std::string& name) const { return (dir_ / name).string(); }
  // Files of the sandbox other than the captured streams.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      if (e.path().filename() != "io") names.push_back(e.path().filename().string());
    }
    return names;
  }

  Result Run(const std::vector<std::string>& args, const std::string& input = "") const {
    const std::string in = (dir_ / "io" / "stdin").string(), out = (dir_ / "io" / "stdout").string(),
                      err = (dir_ / "io" / "stderr").string();
    WriteAll(in, input);
    std::string command = ShellQuote(ZRBASE_BINARY);
    for (const std::string& a : args) command += " " + ShellQuote(a);
    command += " <" + ShellQuote(in) + " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    const int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }

 private:
  std::filesystem::path dir_;
};

inline std::string Example(const std::string& name) {
  return std::string(ZELVO_EXAMPLES_DIR) + "/" + name;
}

// The create arguments of the sample database (examples/cards.zrBase).
inline std::vector<std::string> CardFieldArgs() {
  return {"--field", "Name:string:40:required", "--field", "Color:string:3",
          "--field", "ColorID:integer",         "--field", "Cost:string:20",
          "--field", "Mana:integer",            "--field", "Type:string:40",
          "--field", "TypeIndex:integer",       "--field", "Power:string:4",
          "--field", "Toughness:string:4",      "--field", "Text:memo",
          "--field", "Version:string:10"};
}

}  // namespace zelvo::zrbase::testing
