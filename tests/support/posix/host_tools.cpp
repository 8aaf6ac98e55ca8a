#include "tests/support/host_tools.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace testing_support {
namespace {

int StatusOf(int status) {
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool IsPosixBuild() { return true; }

bool HaveTool(const std::string& name) {
  static std::map<std::string, bool> known;
  const auto found = known.find(name);
  if (found != known.end()) return found->second;
  const bool have = RunCommand("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
  known.emplace(name, have);
  return have;
}

int RunCommand(const std::string& command, std::string* output) {
  if (output == nullptr) return StatusOf(std::system(command.c_str()));
  output->clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, got);
  return StatusOf(pclose(pipe));
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

}  // namespace testing_support
