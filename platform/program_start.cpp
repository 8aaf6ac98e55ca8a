#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

int RunProgram(int argc, char** argv, int (*run)(int argc, char** argv)) {
  // Output to a closed pipe is lost, and the run goes on to its own status.
  IgnoreBrokenPipe();
  // Ctrl-C and its kin end a change through its failure path: the old
  // archive stays, the temporary file goes, the message is shown.
  InstallInterruptHandling();
  // The arguments as the system holds them, every character kept.
  std::vector<std::string> arguments = ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(&argument[0]);
  pointers.push_back(nullptr);
  return run(static_cast<int>(arguments.size()), pointers.data());
}

}  // namespace platform
