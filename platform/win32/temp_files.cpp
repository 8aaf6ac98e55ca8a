#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

std::uint32_t TempFolder(char* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  wchar_t wide[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, wide);
  const std::string narrow = length == 0 || length > MAX_PATH ? std::string() : win32::ToNarrow(wide, length);
  // A buffer that is too small gets the size it would need; here that is a
  // failure with an empty buffer.
  if (narrow.empty() || narrow.size() >= capacity) {
    if (capacity > 0) buffer[0] = 0;
    if (length != 0) ::SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  win32::CopyResult(narrow, buffer, capacity);
  return static_cast<std::uint32_t>(narrow.size());
}

bool TempFileName(const char* folder, const char* prefix, char* buffer) {
  if (folder == nullptr || buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  std::wstring wideFolder, widePrefix;
  if (!win32::ToWide(folder, &wideFolder) || !win32::ToWide(prefix != nullptr ? prefix : "", &widePrefix)) {
    return false;
  }
  wchar_t made[MAX_PATH];
  if (::GetTempFileNameW(wideFolder.c_str(), widePrefix.c_str(), 0, made) == 0) return false;
  // The name must fit the caller's buffer of MAX_PATH bytes whole; a file
  // whose name cannot be handed back is not left behind.
  const std::string narrow = win32::ToNarrow(made);
  if (win32::CopyResult(narrow, buffer, MAX_PATH) > narrow.size()) {
    ::DeleteFileW(made);
    return win32::Fail(kErrorInsufficientBuffer);
  }
  return true;
}

}  // namespace platform
