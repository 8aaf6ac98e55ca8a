#include "fs/module_path.h"

#include <cstdint>

#include "fs/char_rules.h"
#include "platform/platform.h"

namespace fs {
namespace {

// Working capacity of GetShortPath: a full path of at most 387 characters.
constexpr int kShortPathWork = 388;

template <typename Char>
bool HasWildcard(const Char* text, int length) {
  for (int i = 0; i < length; ++i) {
    if (text[i] == Char('*') || text[i] == Char('?')) return true;
  }
  return false;
}

}  // namespace

template <typename Char>
void GetModulePath(Char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return;
  const std::uint32_t length = platform::ModulePath(buffer, static_cast<std::uint32_t>(capacity));
  if (length == 0 || length >= static_cast<std::uint32_t>(capacity)) buffer[0] = 0;
}

template <typename Char>
int GetShortPath(Char* target, const Char* path, int capacity) {
  if (!target || capacity <= 0) return 0;
  Char full[kShortPathWork];
  const std::uint32_t resolved = path ? platform::GetFullPath(path, full, kShortPathWork) : 0;
  if (resolved == 0 || resolved >= static_cast<std::uint32_t>(kShortPathWork)) {
    target[0] = 0;
    return 0;
  }
  const int length = static_cast<int>(resolved);

  Char out[kShortPathWork];
  int used = 0;
  // Appends count characters to out; false once the result grows too long.
  auto put = [&](const Char* text, int count) {
    if (count > kShortPathWork - 1 - used) return false;
    for (int i = 0; i < count; ++i) out[used++] = text[i];
    return true;
  };

  int pos = 0;
  if (length >= 3 && full[1] == Char(':') && IsSeparator(full[2])) {
    put(full, 3);
    pos = 3;
  }
  bool fits = true;
  while (fits && pos < length) {
    int end = pos;
    while (end < length && IsSeparator(full[end])) ++end;
    fits = put(full + pos, end - pos);
    pos = end;
    while (end < length && !IsSeparator(full[end])) ++end;
    if (!fits || end == pos) break;
    const Char* component = full + pos;
    const int componentLength = end - pos;
    bool replaced = false;
    if (!HasWildcard(component, componentLength)) {
      // Looked up in its folder: the full path up to this component.
      Char lookup[kShortPathWork];
      for (int i = 0; i < end; ++i) lookup[i] = full[i];
      lookup[end] = 0;
      platform::FindData<Char> found;
      const platform::SearchHandle search = platform::FindFirst(lookup, &found);
      if (search != platform::kInvalidSearch) {
        platform::FindClose(search);
        const Char* name = found.shortName[0] ? found.shortName : found.name;
        fits = put(name, TextLength(name));
        replaced = true;
      }
    }
    if (!replaced) fits = put(component, componentLength);
    pos = end;
  }
  if (!fits || used > capacity - 1) {
    target[0] = 0;
    return 0;
  }
  for (int i = 0; i < used; ++i) target[i] = out[i];
  target[used] = 0;
  return used;
}

template <typename Char>
int DeleteFileForced(const Char* path) {
  if (!path || !path[0]) return 0;
  if (platform::DeleteFile(path)) return 1;
  if (platform::LastError() != platform::kErrorAccessDenied) return 0;
  platform::SetAttributes(path, platform::kAttrNormal);
  return platform::DeleteFile(path) ? 1 : 0;
}

template void GetModulePath<char>(char*, int);
template void GetModulePath<platform::WideChar>(platform::WideChar*, int);
template int GetShortPath<char>(char*, const char*, int);
template int GetShortPath<platform::WideChar>(platform::WideChar*, const platform::WideChar*, int);
template int DeleteFileForced<char>(const char*);
template int DeleteFileForced<platform::WideChar>(const platform::WideChar*);

}  // namespace fs
