#include <string>
#include <vector>

#include "app/project_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Output to a closed pipe is lost, and the run goes on to its own status.
  platform::IgnoreBrokenPipe();
  // The arguments as the system holds them, every character kept.
  std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return pakkaro::RunProject(static_cast<int>(arguments.size()), pointers.data());
}
