#include <cstdint>
#include <ctime>

#include "platform/win32/windows_api.h"

namespace platform {

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool ToLocalTime(std::int64_t seconds, std::tm* out) {
  if (out == nullptr) return false;
  const __time64_t time = seconds;
  return _localtime64_s(out, &time) == 0;
}

std::int64_t FromLocalTime(std::tm* local) {
  if (local == nullptr) return -1;
  return static_cast<std::int64_t>(_mktime64(local));
}

}  // namespace platform
