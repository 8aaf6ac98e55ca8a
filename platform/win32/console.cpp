#include "platform/win32/windows_api.h"

namespace platform {

Handle StandardOutput() {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  return output == nullptr || output == INVALID_HANDLE_VALUE ? kInvalidHandle : win32::FromHandle(output);
}

void IgnoreBrokenPipe() {}

}  // namespace platform
