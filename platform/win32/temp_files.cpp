#include "platform/win32/windows_api.h"

namespace platform {

std::uint32_t TempFolder(char* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  const DWORD length = ::GetTempPathA(capacity, buffer);
  // A buffer that is too small gets the size it would need; here that is a
  // failure with an empty buffer.
  if (length == 0 || length >= capacity) {
    if (capacity > 0) buffer[0] = 0;
    if (length != 0) ::SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  return length;
}

bool TempFileName(const char* folder, const char* prefix, char* buffer) {
  if (folder == nullptr || buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  return ::GetTempFileNameA(folder, prefix != nullptr ? prefix : "", 0, buffer) != 0;
}

}  // namespace platform
