#include "platform/platform.h"

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

std::string ConsoleText(const std::string& narrow) { return narrow; }

std::string MessageText(const std::string& windows1252) { return Windows1252ToUtf8(windows1252); }

}  // namespace platform
