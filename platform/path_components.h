// Walking the names of a relative path, for the backends that open a path
// one folder at a time. Both separators count on every platform.
#ifndef PAKKARO_PLATFORM_PATH_COMPONENTS_H
#define PAKKARO_PLATFORM_PATH_COMPONENTS_H

#include <string>

namespace platform {

inline bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

// The next name at `at`, after any separators, with `at` moved past it;
// false when the path has no more names.
inline bool NextPathComponent(const char*& at, std::string* name) {
  while (IsPathSeparator(*at)) ++at;
  const char* end = at;
  while (*end != '\0' && !IsPathSeparator(*end)) ++end;
  if (end == at) return false;
  name->assign(at, end);
  at = end;
  return true;
}

}  // namespace platform

#endif  // PAKKARO_PLATFORM_PATH_COMPONENTS_H
