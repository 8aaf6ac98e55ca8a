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

// Names as narrow text: a UTF-16 unit takes at most three bytes, so the
// buffers hold any name the system can give (see the assertions below).
void CopyNarrow(const wchar_t* name, char* out) {
  const std::string narrow = win32::ToNarrow(name);
  std::memcpy(out, narrow.c_str(), narrow.size() + 1);
}

void Fill(const WIN32_FIND_DATAW& source, FindData<char>* found) {
  static_assert(sizeof found->name >= 3 * (sizeof source.cFileName / sizeof(wchar_t)),
                "a name would not fit");
  static_assert(sizeof found->shortName >= 3 * (sizeof source.cAlternateFileName / sizeof(wchar_t)),
                "a short name would not fit");
  FillData(source, found);
  CopyNarrow(source.cFileName, found->name);
  CopyNarrow(source.cAlternateFileName, found->shortName);
}

// Both kinds of search step on the wide call; only the names are filled
// in each kind's own characters.
template <typename Char>
bool FindNextAs(SearchHandle search, FindData<Char>* found) {
  if (found == nullptr) return win32::Fail(kErrorInvalidParameter);
  if (search == kInvalidSearch) return win32::Fail(kErrorInvalidHandle);
  WIN32_FIND_DATAW source;
  if (!::FindNextFileW(reinterpret_cast<HANDLE>(search), &source)) return false;
  Fill(source, found);
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
  std::wstring wide;
  if (!win32::LongPath(pattern, &wide)) return kInvalidSearch;
  WIN32_FIND_DATAW source;
  const HANDLE search = ::FindFirstFileW(wide.c_str(), &source);
  if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
  Fill(source, found);
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

bool FindNext(SearchHandle search, FindData<char>* found) { return FindNextAs(search, found); }

bool FindNext(SearchHandle search, FindData<WideChar>* found) { return FindNextAs(search, found); }

bool FindClose(SearchHandle search) {
  if (search == kInvalidSearch) return win32::Fail(kErrorInvalidHandle);
  if (!::FindClose(reinterpret_cast<HANDLE>(search))) return false;
  NoteHandleClosed();
  return true;
}

}  // namespace platform
