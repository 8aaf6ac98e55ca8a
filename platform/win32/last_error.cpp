#include "platform/win32/windows_api.h"

namespace platform {

std::uint32_t LastError() { return ::GetLastError(); }

void SetLastError(std::uint32_t code) { ::SetLastError(code); }

}  // namespace platform
