#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// GetModuleFileName cuts a long name to the buffer and still succeeds; here a
// cut name is a failure with an empty buffer.
template <typename Char>
std::uint32_t CheckModulePath(DWORD length, Char* buffer, std::uint32_t capacity) {
  if (length == 0 || length >= capacity) {
    if (capacity > 0) buffer[0] = 0;
    if (length != 0) ::SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  return length;
}

}  // namespace

std::uint32_t GetFullPath(const char* path, char* buffer, std::uint32_t capacity) {
  if (path == nullptr || (buffer == nullptr && capacity != 0)) {
    ::SetLastError(kErrorInvalidParameter);
    return 0;
  }
  return ::GetFullPathNameA(path, capacity, buffer, nullptr);
}

std::uint32_t GetFullPath(const WideChar* path, WideChar* buffer, std::uint32_t capacity) {
  if (path == nullptr || (buffer == nullptr && capacity != 0)) {
    ::SetLastError(kErrorInvalidParameter);
    return 0;
  }
  return ::GetFullPathNameW(win32::Wide(path), capacity, win32::Wide(buffer), nullptr);
}

std::uint32_t LogicalDrives() { return ::GetLogicalDrives(); }

std::uint32_t ModulePath(char* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  const DWORD length = ::GetModuleFileNameA(::GetModuleHandleA(nullptr), buffer, capacity);
  return CheckModulePath(length, buffer, capacity);
}

std::uint32_t ModulePath(WideChar* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  const DWORD length = ::GetModuleFileNameW(::GetModuleHandleA(nullptr), win32::Wide(buffer), capacity);
  return CheckModulePath(length, buffer, capacity);
}

}  // namespace platform
