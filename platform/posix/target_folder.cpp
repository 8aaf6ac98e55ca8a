// The target folder is a descriptor; every name below it is resolved with
// openat and O_NOFOLLOW from the descriptor of its parent, so a folder that
// is replaced by a link after it was checked is never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/fault_injection.h"
#include "platform/path_components.h"
#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/share_table.h"

namespace platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Closes a descriptor at the end of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool IsLink(int folder, const std::string& name) {
  struct stat status;
  return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace

struct TargetFolder::State {
  Descriptor folder;
  std::string path;  // base and relative joined, as given to Open
  dev_t device = 0;
  ino_t inode = 0;
};

TargetFolder::TargetFolder() : state_(new State()) {}

TargetFolder::~TargetFolder() = default;

TargetFolder::OpenResult TargetFolder::Open(const char* base, const char* relative, bool create,
                                            bool* created) {
  if (created != nullptr) *created = false;
  state_->folder.Reset();
  if (base == nullptr || relative == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kFailed;
  }
  std::string start(base);
  for (char& c : start) {
    if (c == '\\') c = '/';
  }
  if (start.empty()) start = ".";
  Descriptor current(::open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (current.Get() < 0) {
    posix::FailWithErrno(errno, start);
    return kFailed;
  }
  const char* at = relative;
  std::string name;
  while (NextPathComponent(at, &name)) {
    if (name == "." || name == "..") {
      SetLastError(kErrorInvalidParameter);
      return kFailed;
    }
    bool made = false;
    int next = ::openat(current.Get(), name.c_str(), kFolderFlags);
    if (next < 0 && errno == ENOENT && create) {
      if (FailInjected(Operation::kCreateDirectory)) return kFailed;
      if (::mkdirat(current.Get(), name.c_str(), 0777) == 0) {
        made = true;
      } else if (errno != EEXIST) {
        posix::FailWithErrno(errno, name);
        return kFailed;
      }
      next = ::openat(current.Get(), name.c_str(), kFolderFlags);
    }
    if (next < 0) {
      const int error = errno;
      if ((error == ELOOP || error == ENOTDIR) && IsLink(current.Get(), name)) {
        SetLastError(kErrorAccessDenied);
        return kLinkInTheWay;
      }
      posix::FailWithErrno(error, name);
      return kFailed;
    }
    current.Reset(next);
    if (created != nullptr) *created = made;
  }
  struct stat status;
  if (::fstat(current.Get(), &status) != 0) {
    posix::FailWithErrno(errno, start);
    return kFailed;
  }
  state_->device = status.st_dev;
  state_->inode = status.st_ino;
  state_->path = start + "/" + relative;
  for (char& c : state_->path) {
    if (c == '\\') c = '/';
  }
  state_->folder.Reset(current.Release());
  return kOpened;
}

bool TargetFolder::Unmoved() const {
  // Whatever way the path takes now, it must arrive at the very folder the
  // descriptor holds; a folder moved, removed or put behind a link fails.
  struct stat status;
  return state_->folder.Get() >= 0 && ::stat(state_->path.c_str(), &status) == 0 &&
         status.st_dev == state_->device && status.st_ino == state_->inode;
}

std::uint32_t TargetFolder::Attributes(const char* name) const {
  struct stat status;
  if (state_->folder.Get() < 0 || ::fstatat(state_->folder.Get(), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return kInvalidAttributes;
  }
  if (S_ISLNK(status.st_mode)) return kAttrReparsePoint;
  if (S_ISDIR(status.st_mode)) return kAttrDirectory;
  return kAttrNormal;
}

namespace {

// Creates `name` in `folder` as a new file, never through a link; registers
// it as held by nobody else. -1 with the last error set on failure, errno
// kept for the caller.
int CreateNewFile(int folder, const char* name) {
  const int fd = ::openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int error = errno;
    if (error == EEXIST) {
      SetLastError(kErrorFileExists);
    } else {
      posix::FailWithErrno(error, name);
    }
    errno = error;
    return -1;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 ||
      !posix::AddOpenFile(fd, status.st_dev, status.st_ino, kAccessReadWrite, kShareNone)) {
    ::unlinkat(folder, name, 0);
    ::close(fd);
    SetLastError(kErrorSharingViolation);
    errno = EBUSY;
    return -1;
  }
  NoteHandleOpened();
  SetLastError(kErrorSuccess);
  return fd;
}

}  // namespace

Handle TargetFolder::CreateTemporary(std::string* tempName) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[48];
    static const long process = static_cast<long>(::getpid());
    std::snprintf(name, sizeof name, ".~kx%ld-%u.tmp", process, serial.fetch_add(1));
    const int fd = CreateNewFile(state_->folder.Get(), name);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return kInvalidHandle;
    }
    *tempName = name;
    return fd;
  }
  SetLastError(kErrorFileExists);
  return kInvalidHandle;
}

Handle TargetFolder::CreateNew(const char* name) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  if (state_->folder.Get() < 0) {
    SetLastError(kErrorInvalidHandle);
    return kInvalidHandle;
  }
  const int fd = CreateNewFile(state_->folder.Get(), name);
  return fd < 0 ? kInvalidHandle : fd;
}

bool TargetFolder::Replace(const char* from, const char* to) {
  if (::renameat(state_->folder.Get(), from, state_->folder.Get(), to) != 0) {
    return posix::FailWithErrno(errno, to);
  }
  return true;
}

bool TargetFolder::Remove(const char* name) {
  if (FailInjected(Operation::kDeleteFile)) return false;
  if (::unlinkat(state_->folder.Get(), name, 0) != 0) return posix::FailWithErrno(errno, name);
  return true;
}

bool NamesFollowWindowsRules() { return false; }

}  // namespace platform
