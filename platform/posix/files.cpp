// File handles are descriptors; the calls keep the Windows results: whole
// reads and writes, dispositions, share modes (see share_table.h), no opening
// of folders, no writing to read-only files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix/file_status.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/share_table.h"

namespace platform {

namespace {

bool ToDescriptor(Handle file, int* fd) {
  if (file < 0 || file > INT_MAX) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *fd = static_cast<int>(file);
  return true;
}

// Opens without truncating; `existed` tells whether the file was there. The
// creating dispositions never follow a link at the path: a file is made or
// emptied only where the name itself is.
int OpenDescriptor(const std::string& path, int flags, std::uint32_t disposition, bool* existed) {
  switch (disposition) {
    case kOpenExisting:
      *existed = true;
      return ::open(path.c_str(), flags);
    case kCreateNew:
      *existed = false;
      return ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    default:
      // Try both ways until one holds, so that a file created or deleted in
      // between still gives a true answer for `existed`. With O_NOFOLLOW a
      // link (dangling or not) ends the loop at once; only another process
      // creating and deleting the file in step could keep it going.
      flags |= O_NOFOLLOW;
      for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = ::open(path.c_str(), flags);
        if (fd >= 0 || errno != ENOENT) {
          *existed = true;
          return fd;
        }
        fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
      }
      errno = EBUSY;
      return -1;
  }
}

std::int64_t FailCount(std::uint32_t code) {
  SetLastError(code);
  return -1;
}

}  // namespace

bool backend::ValidHandle(Handle file) { return file >= 0 && file <= INT_MAX; }

Handle backend::OpenFile(const char* path, std::uint32_t access, std::uint32_t share,
                         std::uint32_t disposition, bool sequential) {
  if (path == nullptr || access == 0 || access > kAccessReadWrite || disposition > kCreateNew) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  const std::string native = posix::NativePath(path);
  int flags = O_CLOEXEC;
  if (access == kAccessReadWrite) {
    flags |= O_RDWR;
  } else if (access == kAccessWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }

  bool existed = false;
  const int fd = OpenDescriptor(native, flags, disposition, &existed);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) {
      SetLastError(kErrorFileExists);
    } else if (error == ELOOP && disposition != kOpenExisting) {
      SetLastError(kErrorAccessDenied);  // a link where the file should be made
    } else {
      posix::FailWithErrno(error, native);
    }
    return kInvalidHandle;
  }

  struct stat status;
  std::uint32_t refusal = kErrorSuccess;
  if (::fstat(fd, &status) != 0) {
    refusal = posix::ErrorFromErrno(errno, native);
  } else if (S_ISDIR(status.st_mode)) {
    refusal = kErrorAccessDenied;
  } else if (existed && ((access & kAccessWrite) != 0 || disposition == kCreateAlways) &&
             posix::IsReadOnly(AT_FDCWD, native, status)) {
    refusal = kErrorAccessDenied;
  } else if (!posix::AddOpenFile(fd, status.st_dev, status.st_ino, access, share)) {
    refusal = kErrorSharingViolation;
  }
  if (refusal != kErrorSuccess) {
    ::close(fd);
    SetLastError(refusal);
    return kInvalidHandle;
  }

  if (existed && disposition == kCreateAlways && status.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    posix::RemoveOpenFile(fd);
    ::close(fd);
    posix::FailWithErrno(error, native);
    return kInvalidHandle;
  }
  if (sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  NoteHandleOpened();
  const bool reused = existed && (disposition == kCreateAlways || disposition == kOpenAlways);
  SetLastError(reused ? kErrorAlreadyExists : kErrorSuccess);
  return fd;
}

std::int64_t backend::ReadFile(Handle file, void* buffer, std::size_t size) {
  const int fd = static_cast<int>(file);
  if (buffer == nullptr && size != 0) return FailCount(kErrorInvalidParameter);
  char* bytes = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    const ssize_t got = ::read(fd, bytes + total, size - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      return FailCount(posix::ErrorFromErrno(errno, std::string()));
    }
    if (got == 0) break;
    total += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(total);
}

std::int64_t backend::WriteFile(Handle file, const void* buffer, std::size_t size) {
  const int fd = static_cast<int>(file);
  if (buffer == nullptr && size != 0) return FailCount(kErrorInvalidParameter);
  const char* bytes = static_cast<const char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    const ssize_t put = ::write(fd, bytes + total, size - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      const std::uint32_t code = posix::ErrorFromErrno(errno, std::string());
      // A full device ends the write short; what went out is counted.
      if (code == kErrorDiskFull && total > 0) {
        SetLastError(code);
        return static_cast<std::int64_t>(total);
      }
      return FailCount(code);
    }
    total += static_cast<std::size_t>(put);
  }
  return static_cast<std::int64_t>(total);
}

std::int64_t backend::SeekFile(Handle file, std::int64_t offset, std::uint32_t origin) {
  const int fd = static_cast<int>(file);
  int whence;
  switch (origin) {
    case kSeekBegin:
      whence = SEEK_SET;
      break;
    case kSeekCurrent:
      whence = SEEK_CUR;
      break;
    case kSeekEnd:
      whence = SEEK_END;
      break;
    default:
      return FailCount(kErrorInvalidParameter);
  }
  const off_t position = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (position < 0) return FailCount(posix::ErrorFromErrno(errno, std::string()));
  return static_cast<std::int64_t>(position);
}

std::int64_t FileSize(Handle file) {
  int fd;
  if (!ToDescriptor(file, &fd)) return -1;
  struct stat status;
  if (::fstat(fd, &status) != 0) return FailCount(posix::ErrorFromErrno(errno, std::string()));
  return static_cast<std::int64_t>(status.st_size);
}

bool backend::TruncateFile(Handle file) {
  const int fd = static_cast<int>(file);
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0 || ::ftruncate(fd, position) != 0) return posix::FailWithErrno(errno, std::string());
  return true;
}

bool backend::CloseFile(Handle file) {
  const int fd = static_cast<int>(file);
  posix::RemoveOpenFile(fd);
  // The descriptor is released even when close reports an error (EINTR, EIO).
  if (::close(fd) != 0 && errno == EBADF) return posix::Fail(kErrorInvalidHandle);
  NoteHandleClosed();
  return true;
}

bool SetFileTimes(Handle file, const FileTime* created, const FileTime* accessed, const FileTime* modified) {
  int fd;
  if (!ToDescriptor(file, &fd)) return false;
  // The creation time cannot be set here; a time of 0 means "unchanged", as
  // on Windows.
  (void)created;
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = 0;
  times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
  if (accessed != nullptr && *accessed != 0) times[0] = posix::TimespecFromFileTime(*accessed);
  if (modified != nullptr && *modified != 0) times[1] = posix::TimespecFromFileTime(*modified);
  if (::futimens(fd, times) != 0) return posix::FailWithErrno(errno, std::string());
  return true;
}

}  // namespace platform
