#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/last_error.h"
#include "platform/posix/native_path.h"

namespace platform {

namespace {

// The capacity of the caller's name buffer.
constexpr std::size_t kNameCapacity = 260;

// Where unique numbers start: differs between processes and between calls,
// so that concurrent programs rarely try the same names.
unsigned StartNumber() {
  static std::atomic<unsigned> calls{0};
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<unsigned>(now.tv_nsec) ^ (static_cast<unsigned>(::getpid()) << 8) ^
         (calls.fetch_add(1) * 0x9E37u);
}

}  // namespace

std::uint32_t TempFolder(char* buffer, std::uint32_t capacity) {
  // The TMPDIR convention stands in for the TMP and TEMP variables of Windows.
  std::string folder = "/tmp/";
  const char* variable = std::getenv("TMPDIR");
  struct stat status;
  if (variable != nullptr && variable[0] == '/' && ::stat(variable, &status) == 0 &&
      S_ISDIR(status.st_mode)) {
    folder = variable;
    if (folder.back() != '/') folder += '/';
  }
  if (buffer == nullptr || folder.size() >= capacity) {
    if (buffer != nullptr && capacity > 0) buffer[0] = 0;
    SetLastError(kErrorInsufficientBuffer);
    return 0;
  }
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<std::uint32_t>(folder.size());
}

// As on Windows, only the first three characters of the prefix are used and
// the number is four hexadecimal digits, 0001 to FFFF.
bool TempFileName(const char* folder, const char* prefix, char* buffer) {
  if (folder == nullptr || buffer == nullptr) return posix::Fail(kErrorInvalidParameter);
  std::string base = folder;
  if (base.empty()) base = ".";
  if (base.back() != '/' && base.back() != '\\') base += '/';
  if (prefix != nullptr) base.append(prefix, strnlen(prefix, 3));

  struct stat status;
  const std::string nativeFolder = posix::NativePath(folder[0] != 0 ? folder : ".");
  if (::stat(nativeFolder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    return posix::Fail(kErrorDirectory);
  }
  // "XXXX.tmp" and the terminator must fit the 260 characters of the buffer.
  if (base.size() + 9 > kNameCapacity) {
    return posix::Fail(kErrorInsufficientBuffer);
  }

  const unsigned start = StartNumber();
  for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
    const unsigned number = (start + attempt) % 0xFFFF + 1;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%04X.tmp", number);
    const std::string name = base + suffix;
    const int fd =
        ::open(posix::NativePath(name.c_str()).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      std::memcpy(buffer, name.c_str(), name.size() + 1);
      SetLastError(kErrorSuccess);
      return true;
    }
    if (errno != EEXIST) return posix::FailWithErrno(errno, name);
  }
  return posix::Fail(kErrorFileExists);
}

}  // namespace platform
