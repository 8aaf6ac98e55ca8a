#include "app/project_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Output to a closed pipe is lost, and the run goes on to its own status.
  platform::IgnoreBrokenPipe();
  // Ctrl-C and its kin end a change through its failure path: the old
  // archive stays, the temporary file goes, the message is shown.
  platform::InstallInterruptHandling();
  return pakkaro::RunProject(argc, argv);
}
