// <windows.h> for the Win32 backend. Its macros DeleteFile and CreateDirectory
// would rename our own functions of those names, so they are removed.
#ifndef PAKKARO_PLATFORM_WIN32_WINDOWS_API_H
#define PAKKARO_PLATFORM_WIN32_WINDOWS_API_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef DeleteFile
#undef CreateDirectory

#include "platform/platform.h"

namespace platform {
namespace win32 {

inline HANDLE ToHandle(Handle file) { return reinterpret_cast<HANDLE>(file); }
inline Handle FromHandle(HANDLE file) { return reinterpret_cast<Handle>(file); }

inline const wchar_t* Wide(const WideChar* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(WideChar* text) { return reinterpret_cast<wchar_t*>(text); }

inline FileTime FromFileTime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The size and the three times of a file from any of the system's records
// that hold them under the same field names (attribute data, find data).
template <typename Record>
void FillSizeAndTimes(const Record& source, FileData* data) {
  data->size = (static_cast<std::uint64_t>(source.nFileSizeHigh) << 32) | source.nFileSizeLow;
  data->created = FromFileTime(source.ftCreationTime);
  data->accessed = FromFileTime(source.ftLastAccessTime);
  data->modified = FromFileTime(source.ftLastWriteTime);
}

inline FILETIME ToFileTime(FileTime time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

// Sets the last error; always false.
inline bool Fail(std::uint32_t code) {
  ::SetLastError(code);
  return false;
}

}  // namespace win32
}  // namespace platform

#endif  // PAKKARO_PLATFORM_WIN32_WINDOWS_API_H
