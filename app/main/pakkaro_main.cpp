#include "app/project_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Output to a closed pipe is lost, and the run goes on to its own status.
  platform::IgnoreBrokenPipe();
  return pakkaro::RunProject(argc, argv);
}
