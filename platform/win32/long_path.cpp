#include "platform/win32/long_path.h"

#include <vector>

#include "platform/win32/windows_api.h"

namespace platform {
namespace win32 {

bool AnsiToWide(const char* text, std::wstring* wide) {
  wide->clear();
  if (text == nullptr || *text == '\0') return text != nullptr;
  const int needed = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (needed <= 0) return false;
  std::vector<wchar_t> buffer(static_cast<std::size_t>(needed));
  if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, buffer.data(), needed) != needed) return false;
  wide->assign(buffer.data());
  return true;
}

bool WideToAnsi(const wchar_t* text, std::wstring::size_type length, std::string* narrow) {
  narrow->clear();
  if (length == 0) return true;
  const int count = static_cast<int>(length);
  BOOL lost = FALSE;
  const int needed = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, count, nullptr, 0, nullptr, &lost);
  if (needed <= 0 || lost) return false;
  std::vector<char> buffer(static_cast<std::size_t>(needed));
  if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, count, buffer.data(), needed, nullptr, &lost) !=
          needed ||
      lost) {
    return false;
  }
  narrow->assign(buffer.data(), buffer.size());
  return true;
}

std::wstring LongPath(const char* path) {
  std::wstring wide;
  if (!AnsiToWide(path, &wide) || wide.empty()) return std::wstring();
  // Leave room for a search pattern's last component too.
  if (wide.size() < MAX_PATH - 12) return wide;
  if (wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::vector<wchar_t> full(needed);
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::wstring();
  std::wstring result(full.data(), length);
  for (wchar_t& c : result) {
    if (c == L'/') c = L'\\';
  }
  if (result.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + result.substr(2);
  return L"\\\\?\\" + result;
}

}  // namespace win32
}  // namespace platform
