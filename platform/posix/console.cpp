#include <signal.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

Handle StandardOutput() { return STDOUT_FILENO; }

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
