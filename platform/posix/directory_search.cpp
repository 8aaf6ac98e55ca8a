// A directory search lists the folder with readdir, in the file system's
// order, and keeps the entries whose names match the pattern's last
// component. As on Windows, "." and ".." come first (except in the root,
// which has neither), entries that vanish while listed are passed over, and a
// search handle is a small number, checked on every use.
#include <dirent.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/posix/file_status.h"
#include "platform/posix/last_error.h"
#include "platform/posix/name_pattern.h"
#include "platform/posix/native_path.h"
#include "platform/posix/utf_conversion.h"

namespace platform {

namespace {

struct FolderCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};

struct Search {
  std::unique_ptr<DIR, FolderCloser> folder;
  std::string pattern;
  int dotsLeft;  // "." and ".." still to report, 2 at the start, 0 in the root
};

struct SearchTable {
  std::mutex mutex;
  std::unordered_map<SearchHandle, std::unique_ptr<Search>> searches;
  SearchHandle next = 1;
};

SearchTable& Searches() {
  static SearchTable table;
  return table;
}

Search* FindSearch(SearchHandle handle) {
  SearchTable& table = Searches();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = table.searches.find(handle);
  return it == table.searches.end() ? nullptr : it->second.get();
}

bool Fill(Search* search, const char* name, FindData<char>* found) {
  if (!posix::QueryFileData(::dirfd(search->folder.get()), name, name, &found->data)) return false;
  std::strncpy(found->name, name, sizeof found->name - 1);
  found->name[sizeof found->name - 1] = 0;
  found->shortName[0] = 0;
  return true;
}

// The next matching entry; false with kErrorNoMoreFiles at the end.
bool NextEntry(Search* search, FindData<char>* found) {
  while (search->dotsLeft > 0) {
    const char* name = search->dotsLeft == 2 ? "." : "..";
    --search->dotsLeft;
    if (posix::MatchesNamePattern(name, search->pattern) && Fill(search, name, found)) return true;
  }
  for (;;) {
    errno = 0;
    const struct dirent* entry = ::readdir(search->folder.get());
    if (entry == nullptr) {
      return posix::Fail(errno == 0 ? kErrorNoMoreFiles : posix::ErrorFromErrno(errno, std::string()));
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (posix::MatchesNamePattern(entry->d_name, search->pattern) && Fill(search, entry->d_name, found)) {
      return true;
    }
  }
}

SearchHandle StartSearch(const std::string& native, FindData<char>* found) {
  if (native.empty()) {
    SetLastError(kErrorPathNotFound);
    return kInvalidSearch;
  }
  const std::string::size_type slash = native.rfind('/');
  std::string folderPath;
  std::string pattern;
  if (slash == std::string::npos) {
    folderPath = ".";
    pattern = native;
  } else {
    folderPath = slash == 0 ? "/" : native.substr(0, slash);
    pattern = native.substr(slash + 1);
  }

  auto search = std::make_unique<Search>();
  search->folder.reset(::opendir(folderPath.c_str()));
  if (!search->folder) {
    const int error = errno;
    if (error == ENOTDIR) {
      SetLastError(kErrorDirectory);
    } else if (error == ENOENT) {
      SetLastError(kErrorPathNotFound);
    } else {
      posix::FailWithErrno(error, folderPath);
    }
    return kInvalidSearch;
  }
  search->pattern = pattern;
  search->dotsLeft = folderPath.find_first_not_of('/') == std::string::npos ? 0 : 2;
  if (pattern.empty() || !NextEntry(search.get(), found)) {
    if (pattern.empty() || LastError() == kErrorNoMoreFiles) SetLastError(kErrorFileNotFound);
    return kInvalidSearch;
  }

  SearchTable& table = Searches();
  std::lock_guard<std::mutex> lock(table.mutex);
  const SearchHandle handle = table.next++;
  table.searches.emplace(handle, std::move(search));
  NoteHandleOpened();
  SetLastError(kErrorSuccess);
  return handle;
}

bool Widen(const FindData<char>& narrow, FindData<WideChar>* wide) {
  wide->data = narrow.data;
  const std::u16string name = posix::Utf8ToUtf16(narrow.name);
  if (name.size() >= sizeof wide->name / sizeof wide->name[0]) return posix::Fail(kErrorMoreData);
  std::memcpy(wide->name, name.c_str(), (name.size() + 1) * sizeof(WideChar));
  wide->shortName[0] = 0;
  return true;
}

}  // namespace

SearchHandle FindFirst(const char* pattern, FindData<char>* found) {
  if (pattern == nullptr || found == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidSearch;
  }
  return StartSearch(posix::NativePath(pattern), found);
}

SearchHandle FindFirst(const WideChar* pattern, FindData<WideChar>* found) {
  if (pattern == nullptr || found == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return kInvalidSearch;
  }
  FindData<char> narrow;
  const SearchHandle handle = StartSearch(posix::NativePath(pattern), &narrow);
  if (handle != kInvalidSearch && !Widen(narrow, found)) {
    const std::uint32_t error = LastError();
    FindClose(handle);
    SetLastError(error);
    return kInvalidSearch;
  }
  return handle;
}

bool FindNext(SearchHandle search, FindData<char>* found) {
  if (found == nullptr) return posix::Fail(kErrorInvalidParameter);
  Search* state = FindSearch(search);
  if (state == nullptr) return posix::Fail(kErrorInvalidHandle);
  return NextEntry(state, found);
}

bool FindNext(SearchHandle search, FindData<WideChar>* found) {
  if (found == nullptr) return posix::Fail(kErrorInvalidParameter);
  Search* state = FindSearch(search);
  if (state == nullptr) return posix::Fail(kErrorInvalidHandle);
  FindData<char> narrow;
  return NextEntry(state, &narrow) && Widen(narrow, found);
}

bool FindClose(SearchHandle search) {
  SearchTable& table = Searches();
  std::unique_ptr<Search> closing;
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.searches.find(search);
    if (it == table.searches.end()) return posix::Fail(kErrorInvalidHandle);
    closing = std::move(it->second);
    table.searches.erase(it);
  }
  NoteHandleClosed();
  return true;
}

}  // namespace platform
