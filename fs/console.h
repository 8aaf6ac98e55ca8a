// Formatted output to the process's standard output, as bytes: no code-page
// conversion and no newline translation, so the program's Windows-1252
// texts go out exactly as stored.
#ifndef PAKKARO_FS_CONSOLE_H
#define PAKKARO_FS_CONSOLE_H

#include <cstdarg>

#include "platform/platform.h"

namespace fs {

// printf-style formatting: %s and %i as in printf, also %d %u %o %x %X %c
// %p %e %f %g %a (their upper-case forms, flags, width, precision and the
// length modifiers hh h l ll j z t L). %s and %c take text of the call's own
// character type. Returns the number of bytes the platform wrote.
int ConsolePrint(const char* format, ...);
int ConsolePrintV(const char* format, std::va_list args);

// The wide forms write the UTF-16 units as little-endian bytes and return
// the number of units written.
int ConsolePrintW(const platform::WideChar* format, ...);
int ConsolePrintVW(const platform::WideChar* format, std::va_list args);

// Replaces the cached output handle (kInvalidHandle: fetch the standard
// output again on the next print) and returns the previous one, so that the
// output can be sent elsewhere, a test's file for example.
platform::Handle SetConsoleOutput(platform::Handle handle);

}  // namespace fs

#endif  // PAKKARO_FS_CONSOLE_H
