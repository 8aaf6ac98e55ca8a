#include <cstring>

#include "platform/fault_injection.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

template <typename Source, typename Char>
void Fill(const Source& source, FindData<Char>* found) {
  found->data.attributes = source.dwFileAttributes;
  found->data.size = (static_cast<std::uint64_t>(source.nFileSizeHigh) << 32) | source.nFileSizeLow;
  found->data.created = win32::FromFileTime(source.ftCreationTime);
  found->data.accessed = win32::FromFileTime(source.ftLastAccessTime);
  found->data.modified = win32::FromFileTime(source.ftLastWriteTime);
  static_assert(sizeof found->name == sizeof source.cFileName, "name buffers differ");
  static_assert(sizeof found->shortName == sizeof source.cAlternateFileName, "short name buffers differ");
  std::memcpy(found->name, source.cFileName, sizeof found->name);
  std::memcpy(found->shortName, source.cAlternateFileName, sizeof found->shortName);
}

}  // namespace

SearchHandle FindFirst(const char* pattern, FindData<char>* found) {
  if (pattern == nullptr || found == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kInvalidSearch;
  }
  WIN32_FIND_DATAA source;
  const HANDLE search = ::FindFirstFileA(pattern, &source);
  if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
  NoteHandleOpened();
  Fill(source, found);
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
  WIN32_FIND_DATAA source;
  if (!::FindNextFileA(reinterpret_cast<HANDLE>(search), &source)) return false;
  Fill(source, found);
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
