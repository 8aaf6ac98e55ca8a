// Every folder from the base down is held open without FILE_SHARE_DELETE, so
// none of them can be renamed, removed or replaced by a junction while files
// are made in the last one; a folder that is a reparse point already is
// refused while its handle is open. Every path is full and in the "\\?\"
// form, so that a chain of any length is reached and a name is never
// rewritten on the way.
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/path_components.h"
#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

// The folder at `path`, opened as itself (a reparse point is not followed).
HANDLE OpenFolder(const std::wstring& path, bool followLink) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

}  // namespace

struct TargetFolder::State {
  std::wstring path;  // the folder, full, with "\\?\" and a trailing separator

  // A name in the folder; false (last error set) when it is not narrow text.
  bool Child(const char* name, std::wstring* child) const {
    std::wstring wide;
    if (!win32::ToWide(name, &wide)) return false;
    *child = path + wide;
    return true;
  }
  std::vector<HANDLE> held;

  void Release() {
    for (HANDLE handle : held) ::CloseHandle(handle);
    held.clear();
    path.clear();
  }

  // Opens the folder `next`, made first when asked and missing, and holds
  // it; on failure everything held is let go and the last error tells why.
  OpenResult HoldChild(const std::wstring& next, bool create, bool* made) {
    if (create && ::GetFileAttributesW(next.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (FailInjected(Operation::kCreateDirectory)) return Fail(::GetLastError(), kFailed);
      if (::CreateDirectoryW(next.c_str(), nullptr)) {
        *made = true;
      } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return Fail(::GetLastError(), kFailed);
      }
    }
    const HANDLE handle = OpenFolder(next, false);
    if (handle == INVALID_HANDLE_VALUE) return Fail(::GetLastError(), kFailed);
    held.push_back(handle);
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(handle, &information)) return Fail(::GetLastError(), kFailed);
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return Fail(kErrorAccessDenied, kLinkInTheWay);
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(kErrorPathNotFound, kFailed);
    return kOpened;
  }
  OpenResult Fail(DWORD error, OpenResult result) {
    Release();
    ::SetLastError(error);
    return result;
  }
  ~State() { Release(); }
};

TargetFolder::TargetFolder() : state_(new State()) {}

TargetFolder::~TargetFolder() = default;

TargetFolder::OpenResult TargetFolder::Open(const char* base, const char* relative, bool create,
                                            bool* created) {
  if (created != nullptr) *created = false;
  State& state = *state_;
  state.Release();
  if (base == nullptr || relative == nullptr) {
    ::SetLastError(kErrorInvalidParameter);
    return kFailed;
  }
  std::wstring given;
  if (!win32::ToWide(*base == '\0' ? "." : base, &given)) return kFailed;
  std::wstring path;
  if (!win32::PrefixedFullPath(given, &path)) return kFailed;
  while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':') path.pop_back();
  HANDLE handle = OpenFolder(path, true);
  if (handle == INVALID_HANDLE_VALUE) return kFailed;
  state.held.push_back(handle);
  if (path.back() != L'\\') path += L'\\';
  const char* at = relative;
  std::string name;
  while (NextPathComponent(at, &name)) {
    if (name == "." || name == "..") return state.Fail(kErrorInvalidParameter, kFailed);
    std::wstring wideName;
    if (!win32::ToWide(name.c_str(), &wideName)) return state.Fail(kErrorBadPathname, kFailed);
    const std::wstring next = path + wideName;
    bool made = false;
    const OpenResult held = state.HoldChild(next, create, &made);
    if (held != kOpened) return held;
    path = next + L'\\';
    if (created != nullptr) *created = made;
  }
  state.path = path;
  return kOpened;
}

bool TargetFolder::Unmoved() const {
  // The folders on the path are held open without delete sharing: none of
  // them can have been renamed, removed or replaced meanwhile.
  return !state_->held.empty() && !state_->path.empty();
}

std::uint32_t TargetFolder::Attributes(const char* name) const {
  std::wstring child;
  if (state_->path.empty() || !state_->Child(name, &child)) return kInvalidAttributes;
  const DWORD attributes = ::GetFileAttributesW(child.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kInvalidAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kAttrReparsePoint;
  return attributes;
}

Handle TargetFolder::CreateTemporary(std::string* tempName) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[48];
    std::snprintf(name, sizeof name, "~kx%lu-%u.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
                  serial.fetch_add(1));
    std::wstring path;
    if (!state_->Child(name, &path)) return kInvalidHandle;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      return kInvalidHandle;
    }
    NoteHandleOpened();
    *tempName = name;
    return win32::FromHandle(file);
  }
  ::SetLastError(kErrorFileExists);
  return kInvalidHandle;
}

Handle TargetFolder::CreateNew(const char* name) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  std::wstring path;
  if (state_->path.empty()) {
    ::SetLastError(kErrorInvalidHandle);
    return kInvalidHandle;
  }
  if (!state_->Child(name, &path)) return kInvalidHandle;
  // CREATE_NEW fails on any name that is taken, a reparse point included, so
  // nothing is followed; the folders up to here are held against swaps.
  const HANDLE file = ::CreateFileW(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_ALREADY_EXISTS) ::SetLastError(kErrorFileExists);
    return kInvalidHandle;
  }
  NoteHandleOpened();
  return win32::FromHandle(file);
}

bool TargetFolder::Replace(const char* from, const char* to) {
  std::wstring source, target;
  if (!state_->Child(from, &source) || !state_->Child(to, &target)) return false;
  if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  // A read-only file in the way is replaced as an overwrite would replace it.
  if (::GetLastError() != ERROR_ACCESS_DENIED) return false;
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (!::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL)) return false;
  return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TargetFolder::Remove(const char* name) {
  if (FailInjected(Operation::kDeleteFile)) return false;
  std::wstring child;
  return state_->Child(name, &child) && ::DeleteFileW(child.c_str()) != 0;
}

bool NamesFollowWindowsRules() { return true; }

}  // namespace platform
