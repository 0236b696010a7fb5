// zrbase: scripts what the viewer does on database files; see commands/commands.h.
#include <iostream>
#include <string>
#include <vector>

#include "commands/commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = zelvo::zrbase::Run(args, {std::cin, std::cout, std::cerr});
  std::cout.flush();
  return status;
}
