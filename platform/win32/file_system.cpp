#include "platform/backend.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

void FillData(const WIN32_FILE_ATTRIBUTE_DATA& source, FileData* data) {
  data->attributes = source.dwFileAttributes;
  win32::FillSizeAndTimes(source, data);
}

}  // namespace

std::uint32_t GetAttributes(const char* path) {
  std::wstring wide;
  if (!win32::LongPath(path, &wide)) return kInvalidAttributes;
  return ::GetFileAttributesW(wide.c_str());
}

std::uint32_t GetAttributes(const WideChar* path) {
  if (path == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidAttributes;
  }
  return ::GetFileAttributesW(win32::Wide(path));
}

bool GetAttributesEx(const char* path, FileData* data) {
  if (data == nullptr) return win32::Fail(kErrorInvalidParameter);
  std::wstring wide;
  if (!win32::LongPath(path, &wide)) return false;
  WIN32_FILE_ATTRIBUTE_DATA source;
  if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &source)) return false;
  FillData(source, data);
  return true;
}

bool GetAttributesEx(const WideChar* path, FileData* data) {
  if (path == nullptr || data == nullptr) return win32::Fail(kErrorInvalidParameter);
  WIN32_FILE_ATTRIBUTE_DATA source;
  if (!::GetFileAttributesExW(win32::Wide(path), GetFileExInfoStandard, &source)) return false;
  FillData(source, data);
  return true;
}

bool SetAttributes(const char* path, std::uint32_t attributes) {
  std::wstring wide;
  return win32::LongPath(path, &wide) && ::SetFileAttributesW(wide.c_str(), attributes) != 0;
}

bool SetAttributes(const WideChar* path, std::uint32_t attributes) {
  if (path == nullptr) return win32::Fail(kErrorInvalidParameter);
  return ::SetFileAttributesW(win32::Wide(path), attributes) != 0;
}

bool backend::DeleteFile(const char* path) {
  std::wstring wide;
  return win32::LongPath(path, &wide) && ::DeleteFileW(wide.c_str()) != 0;
}

bool backend::DeleteFile(const WideChar* path) {
  if (path == nullptr) return win32::Fail(kErrorInvalidParameter);
  return ::DeleteFileW(win32::Wide(path)) != 0;
}

bool backend::MoveFileOver(const char* from, const char* to) {
  std::wstring source, target;
  if (!win32::LongPath(from, &source) || !win32::LongPath(to, &target)) return false;
  return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         0;
}

bool IsSameFile(const char* path, Handle file) {
  if (path == nullptr || file == kInvalidHandle) return false;
  std::wstring wide;
  if (!win32::LongPath(path, &wide)) return false;
  BY_HANDLE_FILE_INFORMATION opened;
  if (!::GetFileInformationByHandle(win32::ToHandle(file), &opened)) return false;
  // Opened for no access at all, so that a file shared with nobody is still seen.
  HANDLE named = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION found;
  const bool got = ::GetFileInformationByHandle(named, &found) != 0;
  ::CloseHandle(named);
  return got && found.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
         found.nFileIndexHigh == opened.nFileIndexHigh && found.nFileIndexLow == opened.nFileIndexLow;
}

bool backend::CreateDirectory(const char* path) {
  std::wstring wide;
  return win32::LongPath(path, &wide) && ::CreateDirectoryW(wide.c_str(), nullptr) != 0;
}

bool backend::CreateDirectory(const WideChar* path) {
  if (path == nullptr) return win32::Fail(kErrorInvalidParameter);
  return ::CreateDirectoryW(win32::Wide(path), nullptr) != 0;
}

}  // namespace platform
