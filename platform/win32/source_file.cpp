// Opening a file whose data goes into an archive: at any path length, and
// only when what was opened is a file on a disk (not a pipe or a device).
#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

Handle backend::OpenSourceFile(const char* path) {
  if (path == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  std::wstring wide;
  if (!win32::LongPath(path, &wide)) return kInvalidHandle;
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    ::SetLastError(kErrorAccessDenied);
    return kInvalidHandle;
  }
  NoteHandleOpened();
  return win32::FromHandle(file);
}

}  // namespace platform
