// Running the independent tools of the machine (unzip, 7zz, python3, zip,
// bsdtar) from a test. The Windows build, run under Wine, starts them as
// programs of the host; on a real Windows there are none.
#ifndef PAKKARO_TESTS_SUPPORT_HOST_TOOLS_H
#define PAKKARO_TESTS_SUPPORT_HOST_TOOLS_H

#include <string>

namespace testing_support {

// True on the POSIX build (links, the file-backed registry, fast file calls).
bool IsPosixBuild();
// True when the host can run `name` (looked up on the standard PATH).
bool HaveTool(const std::string& name);
// Runs a POSIX shell command on the host; its exit status, or -1 when it
// could not run. Its standard output goes to `output` when given, else to
// ours; its standard error goes to ours.
int RunCommand(const std::string& command, std::string* output = nullptr);
// The host's name of a path of this build's own form (a drive path under
// Wine); any other text as it is.
std::string HostName(const std::string& text);
// Quotes HostName(text) as one word for the shell.
std::string Quote(const std::string& text);

}  // namespace testing_support

#endif  // PAKKARO_TESTS_SUPPORT_HOST_TOOLS_H
