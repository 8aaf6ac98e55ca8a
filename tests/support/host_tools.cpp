#include "tests/support/host_tools.h"

#include <map>

namespace testing_support {

bool HaveTool(const std::string& name) {
  static std::map<std::string, bool> known;
  const auto found = known.find(name);
  if (found != known.end()) return found->second;
  const bool have = RunCommand("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
  known.emplace(name, have);
  return have;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : HostName(text)) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

}  // namespace testing_support
