// Paths as the POSIX calls want them. Callers build paths with '\' as well as
// '/' (the folder walk turns every '/' into '\'), so both separate folders
// here; a file name that holds a '\' cannot be reached through this layer.
#ifndef PAKKARO_PLATFORM_POSIX_NATIVE_PATH_H
#define PAKKARO_PLATFORM_POSIX_NATIVE_PATH_H

#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

std::string NativePath(const char* path);
std::string NativePath(const WideChar* path);

// The last component of a native path, trailing separators ignored.
std::string LastComponent(const std::string& path);

// A name that Windows would show with the hidden attribute: a dot name other
// than "." and "..".
bool IsHiddenName(const std::string& name);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_NATIVE_PATH_H
