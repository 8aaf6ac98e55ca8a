// The program's run: registration with -c, or packing one project folder.
#ifndef PAKKARO_APP_PROJECT_RUN_H
#define PAKKARO_APP_PROJECT_RUN_H

namespace pakkaro {

// Exit statuses of the program.
enum ExitStatus : int { kExitPacked = 0, kExitRegistered = 1, kExitFailed = -1 };

// Runs the program on its command line and answers its exit status.
int RunProject(int argc, char** argv);

}  // namespace pakkaro

#endif  // PAKKARO_APP_PROJECT_RUN_H
