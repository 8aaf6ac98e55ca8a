#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/file_status.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"
#include "platform/posix/share_table.h"

namespace platform {

namespace {

bool QueryPath(const std::string& native, FileData* data) {
  if (native.empty()) return posix::Fail(kErrorPathNotFound);
  return posix::QueryFileData(AT_FDCWD, native, posix::LastComponent(native), data);
}

std::uint32_t AttributesOf(const std::string& native) {
  FileData data;
  return QueryPath(native, &data) ? data.attributes : kInvalidAttributes;
}

// Only the read-only bit has a POSIX counterpart; the others are accepted and
// have no effect. Folders keep their rights: a read-only folder on Windows
// still takes new files.
bool SetAttributesOf(const std::string& native, std::uint32_t attributes) {
  struct stat status;
  if (::stat(native.c_str(), &status) != 0) return posix::FailWithErrno(errno, native);
  if (S_ISDIR(status.st_mode)) return true;
  const mode_t mode = status.st_mode & 07777;
  const mode_t wanted = (attributes & kAttrReadOnly) != 0
                            ? mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                            : mode | S_IWUSR;
  if (wanted != mode && ::chmod(native.c_str(), wanted) != 0) return posix::FailWithErrno(errno, native);
  return true;
}

bool DeletePath(const std::string& native) {
  if (native.empty()) return posix::Fail(kErrorPathNotFound);
  struct stat status;
  if (::lstat(native.c_str(), &status) != 0) return posix::FailWithErrno(errno, native);
  if (S_ISDIR(status.st_mode)) return posix::Fail(kErrorAccessDenied);
  if (!S_ISLNK(status.st_mode) && posix::IsReadOnly(AT_FDCWD, native, status)) {
    return posix::Fail(kErrorAccessDenied);
  }
  if (posix::IsFileOpen(status.st_dev, status.st_ino)) return posix::Fail(kErrorSharingViolation);
  if (::unlink(native.c_str()) != 0) return posix::FailWithErrno(errno, native);
  return true;
}

bool CreateFolder(const std::string& native) {
  if (native.empty()) return posix::Fail(kErrorPathNotFound);
  if (::mkdir(native.c_str(), 0777) != 0) return posix::FailWithErrno(errno, native);
  return true;
}

}  // namespace

std::uint32_t GetAttributes(const char* path) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidAttributes;
  }
  return AttributesOf(posix::NativePath(path));
}

std::uint32_t GetAttributes(const WideChar* path) {
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidAttributes;
  }
  return AttributesOf(posix::NativePath(path));
}

bool GetAttributesEx(const char* path, FileData* data) {
  if (path == nullptr || data == nullptr) return posix::Fail(kErrorInvalidParameter);
  return QueryPath(posix::NativePath(path), data);
}

bool GetAttributesEx(const WideChar* path, FileData* data) {
  if (path == nullptr || data == nullptr) return posix::Fail(kErrorInvalidParameter);
  return QueryPath(posix::NativePath(path), data);
}

bool SetAttributes(const char* path, std::uint32_t attributes) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return SetAttributesOf(posix::NativePath(path), attributes);
}

bool SetAttributes(const WideChar* path, std::uint32_t attributes) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return SetAttributesOf(posix::NativePath(path), attributes);
}

bool backend::DeleteFile(const char* path) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return DeletePath(posix::NativePath(path));
}

bool backend::DeleteFile(const WideChar* path) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return DeletePath(posix::NativePath(path));
}

bool backend::MoveFileOver(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return posix::Fail(kErrorInvalidParameter);
  const std::string source = posix::NativePath(from);
  const std::string target = posix::NativePath(to);
  if (source.empty() || target.empty()) return posix::Fail(kErrorPathNotFound);
  struct stat status;
  if (::lstat(source.c_str(), &status) != 0) return posix::FailWithErrno(errno, source);
  if (posix::IsFileOpen(status.st_dev, status.st_ino)) return posix::Fail(kErrorSharingViolation);
  if (::lstat(target.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return posix::Fail(kErrorAccessDenied);
    if (!S_ISLNK(status.st_mode) && posix::IsReadOnly(AT_FDCWD, target, status)) {
      return posix::Fail(kErrorAccessDenied);
    }
    if (posix::IsFileOpen(status.st_dev, status.st_ino)) return posix::Fail(kErrorSharingViolation);
  }
  if (::rename(source.c_str(), target.c_str()) != 0) return posix::FailWithErrno(errno, target);
  return true;
}

bool IsSameFile(const char* path, Handle file) {
  if (path == nullptr || file < 0 || file > INT_MAX) return false;
  const std::string native = posix::NativePath(path);
  struct stat named;
  struct stat opened;
  if (native.empty() || ::stat(native.c_str(), &named) != 0) return false;
  if (::fstat(static_cast<int>(file), &opened) != 0) return false;
  return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

bool backend::CreateDirectory(const char* path) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return CreateFolder(posix::NativePath(path));
}

bool backend::CreateDirectory(const WideChar* path) {
  if (path == nullptr) return posix::Fail(kErrorInvalidParameter);
  return CreateFolder(posix::NativePath(path));
}

}  // namespace platform
