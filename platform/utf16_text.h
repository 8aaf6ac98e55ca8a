// UTF-8 <-> UTF-16 for both backends. Narrow text is UTF-8 on every build;
// the file systems' own names are UTF-8 bytes (POSIX) or UTF-16 units
// (Windows). A lone surrogate, which a Windows file name may hold, travels as
// its own three-byte sequence, so that every name survives the round trip.
#ifndef PAKKARO_PLATFORM_UTF16_TEXT_H
#define PAKKARO_PLATFORM_UTF16_TEXT_H

#include <cstddef>
#include <string>

namespace platform {
namespace text {

std::string Utf16ToUtf8(const char16_t* text, std::size_t length);

// Decodes UTF-8, three-byte surrogate sequences included. A byte that does
// not start a valid sequence becomes `replacement`; with replacement 0 the
// conversion stops there and answers false.
bool Utf8ToUtf16(const char* text, std::size_t length, char16_t replacement, std::u16string* out);

}  // namespace text
}  // namespace platform

#endif  // PAKKARO_PLATFORM_UTF16_TEXT_H
