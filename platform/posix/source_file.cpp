// Opening a file whose data goes into an archive. The walk already passes
// over pipes, sockets and devices, but a path may be swapped for one after
// the walk saw it; only the descriptor itself tells what was opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/share_table.h"

namespace platform {

Handle backend::OpenSourceFile(const char* path) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidHandle;
  }
  const std::string native = posix::NativePath(path);
  // O_NONBLOCK: opening a pipe with no writer would otherwise wait for ever.
  // O_NOCTTY: a terminal never becomes ours.
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    posix::FailWithErrno(errno, native);
    return kInvalidHandle;
  }
  struct stat status;
  std::uint32_t refusal = kErrorSuccess;
  if (::fstat(fd, &status) != 0) {
    refusal = posix::ErrorFromErrno(errno, native);
  } else if (!S_ISREG(status.st_mode)) {
    refusal = kErrorAccessDenied;
  } else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    // Reads of a regular file never wait, but they should not see EAGAIN.
    refusal = posix::ErrorFromErrno(errno, native);
  } else if (!posix::AddOpenFile(fd, status.st_dev, status.st_ino, kAccessRead, kShareRead)) {
    refusal = kErrorSharingViolation;
  }
  if (refusal != kErrorSuccess) {
    ::close(fd);
    SetLastError(refusal);
    return kInvalidHandle;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  NoteHandleOpened();
  SetLastError(kErrorSuccess);
  return fd;
}

}  // namespace platform
