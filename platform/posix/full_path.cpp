// Full paths are resolved by text, as on Windows: "." and ".." are folded and
// runs of separators become one, but symbolic links are not followed. The
// result uses '/'; the root "/" takes the place of a drive root. Unlike
// Windows, trailing dots and spaces of a name are kept, as POSIX names may
// end in them.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/utf_conversion.h"

namespace platform {

namespace {

bool CurrentFolder(std::string* folder) {
  std::vector<char> buffer(256);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
      folder->assign(buffer.data());
      return true;
    }
    if (errno != ERANGE) return posix::FailWithErrno(errno, std::string());
    buffer.resize(buffer.size() * 2);
  }
}

bool ResolveFullPath(const std::string& native, std::string* full) {
  if (native.empty()) return posix::Fail(kErrorInvalidParameter);
  std::string absolute;
  if (native[0] != '/') {
    if (!CurrentFolder(&absolute)) return false;
    absolute += '/';
  }
  absolute += native;

  std::vector<std::string> components;
  std::string::size_type begin = 0;
  while (begin <= absolute.size()) {
    std::string::size_type end = absolute.find('/', begin);
    if (end == std::string::npos) end = absolute.size();
    const std::string component = absolute.substr(begin, end - begin);
    if (component == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    begin = end + 1;
  }
  full->clear();
  for (const std::string& component : components) {
    *full += '/';
    *full += component;
  }
  if (full->empty() || native.back() == '/') *full += '/';
  return true;
}

template <typename Char>
std::uint32_t CopyOut(const std::basic_string<Char>& full, Char* buffer, std::uint32_t capacity) {
  if (full.size() >= capacity) return static_cast<std::uint32_t>(full.size() + 1);
  std::memcpy(buffer, full.c_str(), (full.size() + 1) * sizeof(Char));
  return static_cast<std::uint32_t>(full.size());
}

// Empties the buffer and reports that it is too small; 0.
template <typename Char>
std::uint32_t TooSmall(Char* buffer, std::uint32_t capacity) {
  if (buffer != nullptr && capacity > 0) buffer[0] = 0;
  SetLastError(kErrorInsufficientBuffer);
  return 0;
}

bool ExecutablePath(std::string* path) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return posix::FailWithErrno(errno, std::string());
    if (static_cast<std::size_t>(length) < buffer.size()) {
      path->assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::uint32_t GetFullPath(const char* path, char* buffer, std::uint32_t capacity) {
  if (path == nullptr || (buffer == nullptr && capacity != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  std::string full;
  if (!ResolveFullPath(posix::NativePath(path), &full)) return 0;
  return CopyOut(full, buffer, capacity);
}

std::uint32_t GetFullPath(const WideChar* path, WideChar* buffer, std::uint32_t capacity) {
  if (path == nullptr || (buffer == nullptr && capacity != 0)) {
    SetLastError(kErrorInvalidParameter);
    return 0;
  }
  std::string full;
  if (!ResolveFullPath(posix::NativePath(path), &full)) return 0;
  return CopyOut(posix::Utf8ToUtf16(full), buffer, capacity);
}

std::uint32_t LogicalDrives() { return 0; }

std::uint32_t ModulePath(char* buffer, std::uint32_t capacity) {
  std::string path;
  if (!ExecutablePath(&path)) {
    if (buffer != nullptr && capacity > 0) buffer[0] = 0;
    return 0;
  }
  if (buffer == nullptr || path.size() >= capacity) return TooSmall(buffer, capacity);
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<std::uint32_t>(path.size());
}

std::uint32_t ModulePath(WideChar* buffer, std::uint32_t capacity) {
  std::string path;
  if (!ExecutablePath(&path)) {
    if (buffer != nullptr && capacity > 0) buffer[0] = 0;
    return 0;
  }
  const std::u16string wide = posix::Utf8ToUtf16(path);
  if (buffer == nullptr || wide.size() >= capacity) return TooSmall(buffer, capacity);
  std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(WideChar));
  return static_cast<std::uint32_t>(wide.size());
}

}  // namespace platform
