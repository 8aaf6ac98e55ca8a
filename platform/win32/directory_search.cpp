#include <cstring>
#include <string>

#include "platform/fault_injection.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// The reparse-point attribute stands for links only: a junction or a
// symbolic link is never walked through, while other reparse points (cloud
// placeholders, deduplicated files) are ordinary files and folders.
DWORD LinkAttributes(const WIN32_FIND_DATAW& source) {
  DWORD attributes = source.dwFileAttributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && source.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT &&
      source.dwReserved0 != IO_REPARSE_TAG_SYMLINK) {
    attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
  }
  return attributes;
}

template <typename Char>
void FillData(const WIN32_FIND_DATAW& source, FindData<Char>* found) {
  found->data.attributes = LinkAttributes(source);
  win32::FillSizeAndTimes(source, &found->data);
}

void Fill(const WIN32_FIND_DATAW& source, FindData<WideChar>* found) {
  FillData(source, found);
  static_assert(sizeof found->name == sizeof source.cFileName, "name buffers differ");
  static_assert(sizeof found->shortName == sizeof source.cAlternateFileName, "short name buffers differ");
  std::memcpy(found->name, source.cFileName, sizeof found->name);
  std::memcpy(found->shortName, source.cAlternateFileName, sizeof found->shortName);
}

// Names in the ANSI code page, as the narrow search gives them: a character
// without a place there becomes '?'. False when the name does not fit.
bool ToNarrowName(const wchar_t* name, char* out, int capacity) {
  if (name[0] == 0) {
    out[0] = 0;
    return true;
  }
  const int written = ::WideCharToMultiByte(CP_ACP, 0, name, -1, out, capacity, nullptr, nullptr);
  if (written <= 0) {
    out[0] = 0;
    return false;
  }
  return true;
}

bool Fill(const WIN32_FIND_DATAW& source, FindData<char>* found) {
  FillData(source, found);
  if (!ToNarrowName(source.cFileName, found->name, static_cast<int>(sizeof found->name))) return false;
  ToNarrowName(source.cAlternateFileName, found->shortName, static_cast<int>(sizeof found->shortName));
  return true;
}

}  // namespace

// The narrow search runs on the wide calls, so that folders deeper than
// MAX_PATH can be listed too.
SearchHandle FindFirst(const char* pattern, FindData<char>* found) {
  if (pattern == nullptr || found == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidSearch;
  }
  const std::wstring wide = win32::LongPath(pattern);
  // An empty path gets the system's own answer.
  if (wide.empty() && *pattern != '\0') {
    ::SetLastError(kErrorFileNotFound);
    return kInvalidSearch;
  }
  WIN32_FIND_DATAW source;
  const HANDLE search = ::FindFirstFileW(wide.c_str(), &source);
  if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
  // A name too long for narrow text is passed over, as a vanished one.
  while (!Fill(source, found)) {
    if (!::FindNextFileW(search, &source)) {
      ::FindClose(search);
      ::SetLastError(kErrorFileNotFound);
      return kInvalidSearch;
    }
  }
  NoteHandleOpened();
  return reinterpret_cast<SearchHandle>(search);
}

SearchHandle FindFirst(const WideChar* pattern, FindData<WideChar>* found) {
  if (pattern == nullptr || found == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidSearch;
  }
  WIN32_FIND_DATAW source;
  const HANDLE search = ::FindFirstFileW(win32::Wide(pattern), &source);
  if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
  NoteHandleOpened();
  Fill(source, found);
  return reinterpret_cast<SearchHandle>(search);
}

bool FindNext(SearchHandle search, FindData<char>* found) {
  if (found == nullptr) return win32::Fail(kErrorInvalidParameter);
  if (search == kInvalidSearch) return win32::Fail(kErrorInvalidHandle);
  WIN32_FIND_DATAW source;
  do {
    if (!::FindNextFileW(reinterpret_cast<HANDLE>(search), &source)) return false;
  } while (!Fill(source, found));
  return true;
}

bool FindNext(SearchHandle search, FindData<WideChar>* found) {
  if (found == nullptr) return win32::Fail(kErrorInvalidParameter);
  if (search == kInvalidSearch) return win32::Fail(kErrorInvalidHandle);
  WIN32_FIND_DATAW source;
  if (!::FindNextFileW(reinterpret_cast<HANDLE>(search), &source)) return false;
  Fill(source, found);
  return true;
}

bool FindClose(SearchHandle search) {
  if (search == kInvalidSearch) return win32::Fail(kErrorInvalidHandle);
  if (!::FindClose(reinterpret_cast<HANDLE>(search))) return false;
  NoteHandleClosed();
  return true;
}

}  // namespace platform
