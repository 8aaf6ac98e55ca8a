// What replacing an archive safely needs from the system; see
// posix/file_replacement.cpp for the reasons. Renames go through
// MoveFileEx with write-through, so no folder needs flushing here.
#include <climits>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);  // RtlGenRandom, advapi32

namespace platform {

namespace {

constexpr DWORD kLockPollMilliseconds = 50;
constexpr std::size_t kCopyPiece = 1 << 20;
// The writer's lock is a byte far beyond any real end of file: Windows locks
// are binding on reads, and no reader ever reads there.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

bool ReadAt(HANDLE file, std::int64_t offset, void* buffer, DWORD size, DWORD* got) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ::ReadFile(file, buffer, size, got, &at) != 0 || ::GetLastError() == ERROR_HANDLE_EOF;
}

bool WriteAt(HANDLE file, std::int64_t offset, const void* buffer, DWORD size) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD put = 0;
  return ::WriteFile(file, buffer, size, &put, &at) != 0 && put == size;
}

}  // namespace

bool backend::FlushFile(Handle file) { return ::FlushFileBuffers(win32::ToHandle(file)) != 0; }

bool FlushFolderOf(const char*) { return true; }

bool backend::CopyFileData(Handle from, std::int64_t fromOffset, Handle to, std::int64_t toOffset,
                           std::uint64_t length) {
  const HANDLE source = win32::ToHandle(from);
  const HANDLE target = win32::ToHandle(to);
  // Positioned reads and writes move the file pointers; they are put back.
  LARGE_INTEGER zero = {};
  LARGE_INTEGER sourceAt = {};
  LARGE_INTEGER targetAt = {};
  if (!::SetFilePointerEx(source, zero, &sourceAt, FILE_CURRENT) ||
      !::SetFilePointerEx(target, zero, &targetAt, FILE_CURRENT)) {
    return false;
  }
  std::string piece(kCopyPiece, '\0');
  bool copied = true;
  while (copied && length > 0) {
    const DWORD want = static_cast<DWORD>(length < kCopyPiece ? length : kCopyPiece);
    DWORD got = 0;
    if (!ReadAt(source, fromOffset, &piece[0], want, &got)) {
      copied = false;
    } else if (got == 0) {
      ::SetLastError(ERROR_HANDLE_EOF);
      copied = false;
    } else {
      copied = WriteAt(target, toOffset, piece.data(), got);
      fromOffset += got;
      toOffset += got;
      length -= got;
    }
  }
  const DWORD error = ::GetLastError();
  ::SetFilePointerEx(source, sourceAt, nullptr, FILE_BEGIN);
  ::SetFilePointerEx(target, targetAt, nullptr, FILE_BEGIN);
  ::SetLastError(error);
  return copied;
}

bool CopyFileIdentity(Handle, Handle) { return true; }

std::uint32_t LinkCount(Handle file) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(win32::ToHandle(file), &information)) return 0;
  return information.nNumberOfLinks;
}

bool LockForWriting(Handle file, std::uint32_t waitMilliseconds) {
  for (DWORD waited = 0;; waited += kLockPollMilliseconds) {
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(win32::ToHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                     &at)) {
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) return false;
    if (waited >= waitMilliseconds) {
      ::SetLastError(kErrorSharingViolation);
      return false;
    }
    ::Sleep(kLockPollMilliseconds);
  }
}

bool backend::MoveFileNew(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return false;
  }
  std::wstring source, target;
  if (!win32::LongPath(from, &source) || !win32::LongPath(to, &target)) return false;
  if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) ::SetLastError(kErrorFileExists);
  return false;
}

bool RandomBytes(void* buffer, std::size_t size) {
  return size <= ULONG_MAX && SystemFunction036(buffer, static_cast<ULONG>(size)) != 0;
}

}  // namespace platform
