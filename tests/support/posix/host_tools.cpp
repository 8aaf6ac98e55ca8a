#include "tests/support/host_tools.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {
namespace {

int StatusOf(int status) {
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool IsPosixBuild() { return true; }

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

std::string HostName(const std::string& text) { return text; }

}  // namespace testing_support
