// What replacing an archive safely needs from the system: durable data and
// names, a cheap copy, the old file's rights on the new one, a writer's lock
// that readers do not see, a rename that never replaces, and names no one can
// guess.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/share_table.h"

namespace platform {

namespace {

constexpr std::uint32_t kLockPollMilliseconds = 50;
constexpr std::size_t kCopyPiece = 1 << 20;

bool FailErrno() { return posix::FailWithErrno(errno, std::string()); }

// Plain reads and writes, for file systems that copy_file_range refuses.
bool CopyByReading(int from, off_t fromOffset, int to, off_t toOffset, std::uint64_t length) {
  std::string piece(kCopyPiece, '\0');
  while (length > 0) {
    const std::size_t want = length < kCopyPiece ? static_cast<std::size_t>(length) : kCopyPiece;
    const ssize_t got = ::pread(from, &piece[0], want, fromOffset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FailErrno();
    if (got == 0) return posix::Fail(kErrorHandleEof);
    std::size_t written = 0;
    while (written < static_cast<std::size_t>(got)) {
      const ssize_t put = ::pwrite(to, piece.data() + written, static_cast<std::size_t>(got) - written,
                                   toOffset + static_cast<off_t>(written));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return FailErrno();
      written += static_cast<std::size_t>(put);
    }
    fromOffset += got;
    toOffset += got;
    length -= static_cast<std::uint64_t>(got);
  }
  return true;
}

}  // namespace

bool backend::FlushFile(Handle file) {
  if (::fsync(static_cast<int>(file)) != 0) return FailErrno();
  return true;
}

bool FlushFolderOf(const char* path) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  std::string folder = posix::NativePath(path);
  const std::size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return posix::FailWithErrno(errno, folder);
  const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot flush a folder
  const int error = errno;
  ::close(fd);
  return flushed || posix::FailWithErrno(error, folder);
}

bool backend::CopyFileData(Handle from, std::int64_t fromOffset, Handle to, std::int64_t toOffset,
                           std::uint64_t length) {
  const int source = static_cast<int>(from);
  const int target = static_cast<int>(to);
  // A whole file into an empty one shares its blocks where the file system
  // can (a reflink), and costs nothing to copy.
  struct stat status;
  if (fromOffset == 0 && toOffset == 0 && ::fstat(source, &status) == 0 &&
      static_cast<std::uint64_t>(status.st_size) == length && ::ioctl(target, FICLONE, source) == 0) {
    return true;
  }
  auto fromAt = static_cast<off_t>(fromOffset);
  auto toAt = static_cast<off_t>(toOffset);
  while (length > 0) {
    const std::size_t want = length < (1ull << 30) ? static_cast<std::size_t>(length) : (1u << 30);
    const ssize_t copied = ::copy_file_range(source, &fromAt, target, &toAt, want, 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      return CopyByReading(source, fromAt, target, toAt, length);
    }
    if (copied < 0) return FailErrno();
    if (copied == 0) return posix::Fail(kErrorHandleEof);
    length -= static_cast<std::uint64_t>(copied);
  }
  return true;
}

bool CopyFileIdentity(Handle from, Handle to) {
  if (from < 0 || from > INT_MAX || to < 0 || to > INT_MAX) return posix::Fail(kErrorInvalidHandle);
  struct stat status;
  if (::fstat(static_cast<int>(from), &status) != 0) return FailErrno();
  // Owner first: changing it may clear the set-id bits that the mode brings back.
  if (::fchown(static_cast<int>(to), status.st_uid, status.st_gid) != 0 && errno == EPERM) {
    // Not ours to give away; the group may still be one of ours.
    if (::fchown(static_cast<int>(to), static_cast<uid_t>(-1), status.st_gid) != 0 && errno != EPERM) {
      return FailErrno();
    }
  }
  if (::fchmod(static_cast<int>(to), status.st_mode & 07777) != 0) return FailErrno();
  return true;
}

std::uint32_t LinkCount(Handle file) {
  struct stat status;
  if (file < 0 || file > INT_MAX || ::fstat(static_cast<int>(file), &status) != 0) return 0;
  return status.st_nlink > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(status.st_nlink);
}

bool LockForWriting(Handle file, std::uint32_t waitMilliseconds) {
  if (file < 0 || file > INT_MAX) return posix::Fail(kErrorInvalidHandle);
  for (std::uint32_t waited = 0;; waited += kLockPollMilliseconds) {
    if (::flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return FailErrno();
    if (waited >= waitMilliseconds) return posix::Fail(kErrorSharingViolation);
    ::usleep(kLockPollMilliseconds * 1000);
  }
}

bool backend::MoveFileNew(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return posix::Fail(kErrorInvalidParameter);
  const std::string source = posix::NativePath(from);
  const std::string target = posix::NativePath(to);
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return posix::Fail(kErrorFileExists);
  if (errno != EINVAL && errno != ENOSYS) return posix::FailWithErrno(errno, target);
  // No such rename on this file system: a second name that cannot replace,
  // then the first one dropped.
  if (::link(source.c_str(), target.c_str()) != 0) {
    return errno == EEXIST ? posix::Fail(kErrorFileExists) : posix::FailWithErrno(errno, target);
  }
  ::unlink(source.c_str());
  return true;
}

bool RandomBytes(void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::getrandom(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FailErrno();
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace platform
