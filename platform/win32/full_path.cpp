#include <vector>

#include "platform/win32/long_path.h"
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

// The longest path the wide calls take, with its terminator.
constexpr DWORD kWidePathCapacity = 32768;

}  // namespace

std::uint32_t GetFullPath(const char* path, char* buffer, std::uint32_t capacity) {
  if (path == nullptr || (buffer == nullptr && capacity != 0)) {
    ::SetLastError(kErrorInvalidParameter);
    return 0;
  }
  std::wstring wide;
  if (!win32::ToWide(path, &wide)) return 0;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return 0;
  std::vector<wchar_t> full(needed);
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return 0;
  return win32::CopyResult(win32::ToNarrow(full.data(), length), buffer, capacity);
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
  std::vector<wchar_t> wide(kWidePathCapacity);
  const DWORD length = ::GetModuleFileNameW(::GetModuleHandleW(nullptr), wide.data(), kWidePathCapacity);
  if (length == 0 || length >= kWidePathCapacity) return CheckModulePath(length, buffer, capacity);
  const std::string narrow = win32::ToNarrow(wide.data(), length);
  if (narrow.size() >= capacity) {
    if (capacity > 0) buffer[0] = 0;
    return win32::Fail(kErrorInsufficientBuffer);
  }
  win32::CopyResult(narrow, buffer, capacity);
  return static_cast<std::uint32_t>(narrow.size());
}

std::uint32_t ModulePath(WideChar* buffer, std::uint32_t capacity) {
  if (buffer == nullptr) return win32::Fail(kErrorInvalidParameter);
  const DWORD length = ::GetModuleFileNameW(::GetModuleHandleW(nullptr), win32::Wide(buffer), capacity);
  return CheckModulePath(length, buffer, capacity);
}

}  // namespace platform
