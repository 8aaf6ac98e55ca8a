#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>

#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix/last_error.h"

namespace platform {

bool backend::MapFile(Handle file, std::uint64_t size, unsigned char** data, std::intptr_t* mapping) {
  if (file < 0 || file > INT_MAX) return posix::Fail(kErrorInvalidHandle);
  if (size == 0) return posix::Fail(kErrorInvalidParameter);
  if (size > SIZE_MAX) return posix::Fail(kErrorNotEnoughMemory);
  const int fd = static_cast<int>(file);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return posix::Fail(kErrorInvalidHandle);
  if ((flags & O_ACCMODE) != O_RDWR) return posix::Fail(kErrorAccessDenied);
  struct stat status;
  if (::fstat(fd, &status) != 0) return posix::FailWithErrno(errno, std::string());
  // A mapping longer than the file extends it, as a Windows section does;
  // touching pages past the end would otherwise fault.
  if (static_cast<std::uint64_t>(status.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    return posix::FailWithErrno(errno, std::string());
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return posix::FailWithErrno(errno, std::string());
  *data = static_cast<unsigned char*>(view);
  *mapping = 0;
  NoteHandleOpened();
  return true;
}

void FileMapping::Unmap() {
  if (data_ != nullptr) {
    ::munmap(data_, static_cast<std::size_t>(size_));
    NoteHandleClosed();
  }
  data_ = nullptr;
  size_ = 0;
  mapping_ = 0;
}

}  // namespace platform
