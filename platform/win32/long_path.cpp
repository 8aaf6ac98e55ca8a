#include "platform/win32/long_path.h"

#include <cstring>
#include <vector>

#include "platform/utf16_text.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 units");

bool ToWide(const char* text, std::size_t length, std::wstring* wide) {
  wide->clear();
  if (text == nullptr) return Fail(kErrorInvalidParameter);
  std::u16string units;
  if (!text::Utf8ToUtf16(text, length, 0, &units)) return Fail(kErrorBadPathname);
  wide->assign(reinterpret_cast<const wchar_t*>(units.data()), units.size());
  return true;
}

bool ToWide(const char* text, std::wstring* wide) {
  return ToWide(text, text == nullptr ? 0 : std::strlen(text), wide);
}

std::string ToNarrow(const wchar_t* text, std::size_t length) {
  return text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), length);
}

std::string ToNarrow(const wchar_t* text) { return ToNarrow(text, text == nullptr ? 0 : std::wcslen(text)); }

bool PrefixedFullPath(const std::wstring& path, std::wstring* wide) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) {
    *wide = path;
    return true;
  }
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::vector<wchar_t> full(needed);
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0) return false;
  if (length >= needed) return Fail(kErrorBadPathname);
  std::wstring result(full.data(), length);
  for (wchar_t& c : result) {
    if (c == L'/') c = L'\\';
  }
  if (result.compare(0, 2, L"\\\\") == 0) {
    *wide = L"\\\\?\\UNC\\" + result.substr(2);
  } else {
    *wide = L"\\\\?\\" + result;
  }
  return true;
}

bool LongPath(const std::wstring& path, std::wstring* wide) {
  // Leave room for a search pattern's last component too.
  if (path.size() < MAX_PATH - 12) {
    *wide = path;
    return true;
  }
  return PrefixedFullPath(path, wide);
}

bool LongPath(const char* path, std::wstring* wide) {
  std::wstring converted;
  return ToWide(path, &converted) && LongPath(converted, wide);
}

std::uint32_t CopyResult(const std::string& text, char* buffer, std::uint32_t capacity) {
  if (text.size() >= capacity) return static_cast<std::uint32_t>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<std::uint32_t>(text.size());
}

}  // namespace win32
}  // namespace platform
