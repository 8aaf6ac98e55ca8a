#include <unistd.h>

#include "platform/platform.h"

namespace platform {

Handle StandardOutput() { return STDOUT_FILENO; }

}  // namespace platform
