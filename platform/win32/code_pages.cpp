#include "platform/win32/windows_api.h"

namespace platform {

bool NarrowIsUtf8() { return ::GetACP() == CP_UTF8; }

std::size_t OemToNarrow(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::size_t count = text == nullptr ? 0 : length;
  if (count > capacity - 1) count = capacity - 1;
  if (count > MAXDWORD) count = MAXDWORD;
  if (count > 0) ::OemToCharBuffA(text, buffer, static_cast<DWORD>(count));
  buffer[count] = 0;
  return count;
}

}  // namespace platform
