// UTF-16 <-> UTF-8 for the wide forms of the POSIX backend, whose file names
// are UTF-8 bytes.
#ifndef PAKKARO_PLATFORM_POSIX_UTF_CONVERSION_H
#define PAKKARO_PLATFORM_POSIX_UTF_CONVERSION_H

#include <string>

#include "platform/platform.h"

namespace platform {
namespace posix {

// A lone surrogate is kept as its own three-byte sequence, so that any wide
// name survives the round trip through Utf8ToUtf16.
std::string Utf16ToUtf8(const WideChar* text);
// Bytes that are not UTF-8 (a name written by another program) become
// U+FFFD each.
std::u16string Utf8ToUtf16(const std::string& text);

}  // namespace posix
}  // namespace platform

#endif  // PAKKARO_PLATFORM_POSIX_UTF_CONVERSION_H
