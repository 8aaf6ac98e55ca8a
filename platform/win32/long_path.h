// Narrow text on Windows is UTF-8: every call converts it to UTF-16 and
// makes the wide ("W") system call, so that a name outside the ANSI code
// page reaches the file system whole. Paths beyond MAX_PATH take the wide
// calls' "\\?\" form, which reaches 32767 units when the path is full and
// also turns off every rewriting of it.
#ifndef PAKKARO_PLATFORM_WIN32_LONG_PATH_H
#define PAKKARO_PLATFORM_WIN32_LONG_PATH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {
namespace win32 {

// Narrow text as UTF-16; false (last error kErrorBadPathname) when it is not
// UTF-8.
bool ToWide(const char* text, std::wstring* wide);
bool ToWide(const char* text, std::size_t length, std::wstring* wide);
// UTF-16 as narrow text; nothing is lost (a lone surrogate keeps its unit).
std::string ToNarrow(const wchar_t* text, std::size_t length);
std::string ToNarrow(const wchar_t* text);

// The path in the form a wide call takes at any length: a path that fits
// MAX_PATH stays as it is; a longer one is made full, gets '\' separators
// and "\\?\" ("\\?\UNC\" for a share). False, with the last error set, when
// it cannot be converted.
bool LongPath(const char* path, std::wstring* wide);
bool LongPath(const std::wstring& path, std::wstring* wide);
// The full form with "\\?\" at any length (a path that has it stays as it is).
bool PrefixedFullPath(const std::wstring& path, std::wstring* wide);

// A narrow result into a caller's buffer, as the system's calls answer: the
// length without the terminator; when the buffer is too small, the capacity
// needed including the terminator (buffer untouched).
std::uint32_t CopyResult(const std::string& text, char* buffer, std::uint32_t capacity);

}  // namespace win32
}  // namespace platform

#endif  // PAKKARO_PLATFORM_WIN32_LONG_PATH_H
