#include <time.h>

#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace platform {

std::int64_t CurrentTime() { return static_cast<std::int64_t>(::time(nullptr)); }

bool ToLocalTime(std::int64_t seconds, std::tm* out) {
  if (out == nullptr) return false;
  const time_t time = static_cast<time_t>(seconds);
  if (static_cast<std::int64_t>(time) != seconds) return false;
  return ::localtime_r(&time, out) != nullptr;
}

std::int64_t FromLocalTime(std::tm* local) {
  if (local == nullptr) return -1;
  return static_cast<std::int64_t>(::mktime(local));
}

}  // namespace platform
