#include "platform/posix/file_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_time.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"

namespace platform {
namespace posix {

namespace {

constexpr std::int64_t kSecondsTo1970 = static_cast<std::int64_t>(kSecondsFrom1601To1970);
constexpr std::uint64_t kUnitsPerSecond = kFileTimeUnitsPerSecond;

bool IsReadOnlyMode(int folder, const std::string& name, mode_t mode, uid_t owner) {
  if (S_ISDIR(mode)) return false;
  const mode_t ownBits = owner == ::geteuid() ? S_IWUSR : (S_IWUSR | S_IWGRP | S_IWOTH);
  if ((mode & ownBits) == 0) return true;
  return ::faccessat(folder, name.c_str(), W_OK, 0) != 0 && errno != ENOENT;
}

std::uint32_t Attributes(mode_t mode, bool readOnly, const std::string& shownName, bool link) {
  std::uint32_t attributes = link ? static_cast<std::uint32_t>(kAttrReparsePoint) : 0u;
  if (S_ISDIR(mode)) attributes |= kAttrDirectory;
  // Pipes, sockets and devices: reading one may wait for ever or never end.
  if (!S_ISDIR(mode) && !S_ISREG(mode)) attributes |= kAttrDevice;
  if (readOnly) attributes |= kAttrReadOnly;
  if (IsHiddenName(shownName)) attributes |= kAttrHidden;
  return attributes == 0 ? kAttrNormal : attributes;
}

}  // namespace

FileTime FileTimeFromTimespec(std::int64_t seconds, long nanoseconds) {
  if (seconds < -kSecondsTo1970) return 0;
  return static_cast<std::uint64_t>(seconds + kSecondsTo1970) * kUnitsPerSecond +
         static_cast<std::uint64_t>(nanoseconds) / 100;
}

struct timespec TimespecFromFileTime(FileTime time) {
  struct timespec stamp;
  stamp.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(time / kUnitsPerSecond) - kSecondsTo1970);
  stamp.tv_nsec = static_cast<long>(time % kUnitsPerSecond) * 100;
  return stamp;
}

bool IsReadOnly(int folder, const std::string& name, const struct stat& status) {
  return IsReadOnlyMode(folder, name, status.st_mode, status.st_uid);
}

bool QueryFileData(int folder, const std::string& name, const std::string& shownName, FileData* data) {
  // A link is looked at first without following it, then (only then) again
  // through it: its target's data, marked as a link.
  struct statx extended;
  bool link = false;
  int result = ::statx(folder, name.c_str(), AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW,
                       STATX_BASIC_STATS | STATX_BTIME, &extended);
  if (result == 0 && S_ISLNK(extended.stx_mode)) {
    link = true;
    result = ::statx(folder, name.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &extended);
  }
  if (result == 0) {
    const bool isFolder = S_ISDIR(extended.stx_mode);
    data->attributes =
        Attributes(extended.stx_mode, IsReadOnlyMode(folder, name, extended.stx_mode, extended.stx_uid),
                   shownName, link);
    data->size = isFolder ? 0 : extended.stx_size;
    data->created = (extended.stx_mask & STATX_BTIME) != 0
                        ? FileTimeFromTimespec(extended.stx_btime.tv_sec, extended.stx_btime.tv_nsec)
                        : 0;
    data->accessed = FileTimeFromTimespec(extended.stx_atime.tv_sec, extended.stx_atime.tv_nsec);
    data->modified = FileTimeFromTimespec(extended.stx_mtime.tv_sec, extended.stx_mtime.tv_nsec);
    return true;
  }
  if (errno != ENOSYS) return FailWithErrno(errno, name);

  // Kernels without statx know no birth time.
  struct stat status;
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return FailWithErrno(errno, name);
  const bool isLink = S_ISLNK(status.st_mode);
  if (isLink && ::fstatat(folder, name.c_str(), &status, 0) != 0) return FailWithErrno(errno, name);
  const bool isFolder = S_ISDIR(status.st_mode);
  data->attributes = Attributes(status.st_mode, IsReadOnly(folder, name, status), shownName, isLink);
  data->size = isFolder ? 0 : static_cast<std::uint64_t>(status.st_size);
  data->created = 0;
  data->accessed = FileTimeFromTimespec(status.st_atim.tv_sec, status.st_atim.tv_nsec);
  data->modified = FileTimeFromTimespec(status.st_mtim.tv_sec, status.st_mtim.tv_nsec);
  return true;
}

}  // namespace posix
}  // namespace platform
