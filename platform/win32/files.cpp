#include <climits>

#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t kChunk = 1u << 30;

std::int64_t FailCount(std::uint32_t code) {
  ::SetLastError(code);
  return -1;
}

}  // namespace

// CloseHandle would take the invalid handle for the current process.
bool backend::ValidHandle(Handle file) { return file != kInvalidHandle; }

Handle backend::OpenFile(const char* path, std::uint32_t access, std::uint32_t share,
                         std::uint32_t disposition, bool sequential) {
  if (path == nullptr || access == 0 || access > kAccessReadWrite || disposition > kCreateNew) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  std::wstring wide;
  if (!win32::LongPath(path, &wide)) return kInvalidHandle;
  DWORD desired = 0;
  if ((access & kAccessRead) != 0) desired |= GENERIC_READ;
  if ((access & kAccessWrite) != 0) desired |= GENERIC_WRITE;
  DWORD sharing = 0;
  if ((share & kShareRead) != 0) sharing |= FILE_SHARE_READ;
  if ((share & kShareWrite) != 0) sharing |= FILE_SHARE_WRITE;
  if ((share & kShareDelete) != 0) sharing |= FILE_SHARE_DELETE;
  // A file is made or emptied only where the name itself is, never through a
  // link or junction at the path.
  if (disposition != kOpenExisting) {
    const DWORD present = ::GetFileAttributesW(wide.c_str());
    if (present != INVALID_FILE_ATTRIBUTES && (present & FILE_ATTRIBUTE_REPARSE_POINT)) {
      ::SetLastError(kErrorAccessDenied);
      return kInvalidHandle;
    }
  }
  static const DWORD kDispositions[] = {OPEN_EXISTING, CREATE_ALWAYS, OPEN_ALWAYS, CREATE_NEW};
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  const HANDLE file =
      ::CreateFileW(wide.c_str(), desired, sharing, nullptr, kDispositions[disposition], flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHandle;
  NoteHandleOpened();
  return win32::FromHandle(file);
}

std::int64_t backend::ReadFile(Handle file, void* buffer, std::size_t size) {
  if (buffer == nullptr && size != 0) return FailCount(kErrorInvalidParameter);
  char* bytes = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    const DWORD want = static_cast<DWORD>(size - total < kChunk ? size - total : kChunk);
    DWORD got = 0;
    if (!::ReadFile(win32::ToHandle(file), bytes + total, want, &got, nullptr)) return -1;
    if (got == 0) break;
    total += got;
  }
  return static_cast<std::int64_t>(total);
}

std::int64_t backend::WriteFile(Handle file, const void* buffer, std::size_t size) {
  if (buffer == nullptr && size != 0) return FailCount(kErrorInvalidParameter);
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    const DWORD want = static_cast<DWORD>(size - total < kChunk ? size - total : kChunk);
    DWORD put = 0;
    if (!::WriteFile(win32::ToHandle(file), bytes + total, want, &put, nullptr)) {
      // A full device ends the write short; what went out is counted.
      if (::GetLastError() == ERROR_DISK_FULL && total + put > 0)
        return static_cast<std::int64_t>(total + put);
      return -1;
    }
    if (put == 0) break;
    total += put;
  }
  return static_cast<std::int64_t>(total);
}

std::int64_t backend::SeekFile(Handle file, std::int64_t offset, std::uint32_t origin) {
  if (origin > kSeekEnd) return FailCount(kErrorInvalidParameter);
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(win32::ToHandle(file), distance, &position, origin)) return -1;
  return position.QuadPart;
}

std::int64_t FileSize(Handle file) {
  if (file == kInvalidHandle) return FailCount(kErrorInvalidHandle);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(win32::ToHandle(file), &size)) return -1;
  return size.QuadPart;
}

bool backend::TruncateFile(Handle file) { return ::SetEndOfFile(win32::ToHandle(file)) != 0; }

bool backend::CloseFile(Handle file) {
  if (!::CloseHandle(win32::ToHandle(file))) return false;
  NoteHandleClosed();
  return true;
}

bool SetFileTimes(Handle file, const FileTime* created, const FileTime* accessed, const FileTime* modified) {
  if (file == kInvalidHandle) return win32::Fail(kErrorInvalidHandle);
  FILETIME times[3];
  if (created != nullptr) times[0] = win32::ToFileTime(*created);
  if (accessed != nullptr) times[1] = win32::ToFileTime(*accessed);
  if (modified != nullptr) times[2] = win32::ToFileTime(*modified);
  return ::SetFileTime(win32::ToHandle(file), created != nullptr ? &times[0] : nullptr,
                       accessed != nullptr ? &times[1] : nullptr,
                       modified != nullptr ? &times[2] : nullptr) != 0;
}

}  // namespace platform
