// Paths beyond MAX_PATH for the Win32 calls. The narrow ("A") calls stop at
// 260 characters; their wide forms reach 32767 when the path is full and
// carries the "\\?\" prefix, which also turns off every rewriting of it.
#ifndef PAKKARO_PLATFORM_WIN32_LONG_PATH_H
#define PAKKARO_PLATFORM_WIN32_LONG_PATH_H

#include <string>

namespace platform {
namespace win32 {

// Narrow text in the ANSI code page as UTF-16; false when it is not valid.
bool AnsiToWide(const char* text, std::wstring* wide);
// UTF-16 as narrow ANSI text; false when a character has no place there.
bool WideToAnsi(const wchar_t* text, std::wstring::size_type length, std::string* narrow);

// The path in the form a wide call takes at any length: a path that fits
// MAX_PATH stays as it is; a longer one is made full, gets '\' separators
// and "\\?\" ("\\?\UNC\" for a share). Empty when it cannot be converted.
std::wstring LongPath(const char* path);

}  // namespace win32
}  // namespace platform

#endif  // PAKKARO_PLATFORM_WIN32_LONG_PATH_H
