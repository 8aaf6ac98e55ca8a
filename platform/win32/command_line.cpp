// windows.h first: shellapi.h builds on its types.
#include "platform/win32/windows_api.h"

#include <shellapi.h>

#include "platform/utf16_text.h"
#include "platform/win32/long_path.h"

namespace platform {

namespace {

constexpr UINT kMessageCodePage = 1252;

// Frees what CommandLineToArgvW allocated.
struct ArgumentList {
  wchar_t** arguments = nullptr;
  int count = 0;
  ~ArgumentList() {
    if (arguments != nullptr) ::LocalFree(arguments);
  }
};

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> result;
  ArgumentList list;
  list.arguments = ::CommandLineToArgvW(::GetCommandLineW(), &list.count);
  for (int i = 0; list.arguments != nullptr && i < list.count; ++i) {
    result.push_back(win32::ToNarrow(list.arguments[i]));
  }
  return result;
}

std::string ConsoleText(const std::string& narrow) {
  if (narrow.empty()) return narrow;
  // Bytes that are not UTF-8 are shown as '?' too.
  std::u16string units;
  text::Utf8ToUtf16(narrow.data(), narrow.size(), u'?', &units);
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int size = static_cast<int>(units.size());
  const int count =
      ::WideCharToMultiByte(kMessageCodePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, "?", nullptr);
  if (count <= 0) return std::string(units.size(), '?');
  std::string shown(static_cast<std::size_t>(count), '\0');
  ::WideCharToMultiByte(kMessageCodePage, WC_NO_BEST_FIT_CHARS, wide, size, &shown[0], count, "?", nullptr);
  return shown;
}

std::string MessageText(const std::string& windows1252) { return windows1252; }

}  // namespace platform
