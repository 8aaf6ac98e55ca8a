// The POSIX backend reports errno values as the Windows codes of platform.h.
#ifndef PAKKARO_PLATFORM_POSIX_LAST_ERROR_H
#define PAKKARO_PLATFORM_POSIX_LAST_ERROR_H

#include <cstdint>
#include <string>

namespace platform {
namespace posix {

// The Windows code for `error`, raised by a call on `path` (native form). A
// missing name is "file not found" when its folder exists and "path not found"
// when the folder is missing too, as Windows tells the two apart.
std::uint32_t ErrorFromErrno(int error, const std::string& path);

// Sets the last error from `error` and `path`; always false, so a failing
// call can end with `return FailWithErrno(errno, path);`.
bool FailWithErrno(int error, const std::string& path);

// Sets the last error to `code`; always false.
bool Fail(std::uint32_t code);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_LAST_ERROR_H
