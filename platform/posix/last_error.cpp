#include "platform/posix/last_error.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

namespace platform {

namespace {
thread_local std::uint32_t t_lastError = kErrorSuccess;
// A path not found is told apart from a folder not found only when someone
// asks: most callers just probe whether a name exists, and the look at the
// parent would cost each of them a second walk of the path.
thread_local bool t_notFoundPending = false;
thread_local std::string t_notFoundPath;

// True when the folder that would hold `path` exists.
bool ParentIsFolder(const std::string& path) {
  std::string::size_type end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  const std::string::size_type slash = path.rfind('/', end - 1);
  std::string parent;
  if (slash == std::string::npos) {
    parent = ".";
  } else if (slash == 0) {
    parent = "/";
  } else {
    parent = path.substr(0, slash);
  }
  struct stat status;
  return ::stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}
}  // namespace

std::uint32_t LastError() {
  if (t_notFoundPending) {
    t_notFoundPending = false;
    t_lastError = ParentIsFolder(t_notFoundPath) ? kErrorFileNotFound : kErrorPathNotFound;
  }
  return t_lastError;
}

void SetLastError(std::uint32_t code) {
  t_notFoundPending = false;
  t_lastError = code;
}

namespace posix {

std::uint32_t ErrorFromErrno(int error, const std::string& path) {
  switch (error) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return ParentIsFolder(path) ? kErrorFileNotFound : kErrorPathNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    default:
      return kErrorGeneric;
  }
}

bool FailWithErrno(int error, const std::string& path) {
  if (error == ENOENT) {
    t_notFoundPath = path;
    t_notFoundPending = true;
    return false;
  }
  SetLastError(ErrorFromErrno(error, path));
  return false;
}

bool Fail(std::uint32_t code) {
  SetLastError(code);
  return false;
}

}  // namespace posix
}  // namespace platform
