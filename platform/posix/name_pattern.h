// The name matching of a Windows directory search, for the POSIX backend.
#ifndef PAKKARO_PLATFORM_POSIX_NAME_PATTERN_H
#define PAKKARO_PLATFORM_POSIX_NAME_PATTERN_H

#include <string>

namespace platform {
namespace posix {

// True when the UTF-8 `name` matches `pattern` as FindFirstFile matches it:
// '*' stands for any run of characters, '?' for exactly one, letters match
// without regard to case; "*" and "*.*" match every name, trailing dots of
// the pattern are dropped, and a pattern ending in ".*" also matches the name
// without that part ("readme.*" matches "readme").
bool MatchesNamePattern(const std::string& name, const std::string& pattern);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_NAME_PATTERN_H
