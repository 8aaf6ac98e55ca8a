#include <string>
#include <vector>

#include "app/project_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Output to a closed pipe is lost, and the run goes on to its own status.
  platform::IgnoreBrokenPipe();
  // Ctrl-C and its kin end a change through its failure path: the old
  // archive stays, the temporary file goes, the message is shown.
  platform::InstallInterruptHandling();
  // The arguments as the system holds them, every character kept.
  std::vector<std::string> arguments = platform::ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return pakkaro::RunProject(static_cast<int>(arguments.size()), pointers.data());
}
