#include <vector>

#include "platform/win32/windows_api.h"

namespace platform {

bool NarrowIsUtf8() { return ::GetACP() == CP_UTF8; }

std::size_t OemToNarrow(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::size_t count = text == nullptr ? 0 : length;
  if (count > capacity - 1) count = capacity - 1;
  if (count > MAXDWORD) count = MAXDWORD;
  if (count > 0) ::OemToCharBuffA(text, buffer, static_cast<DWORD>(count));
  buffer[count] = 0;
  return count;
}

namespace {

bool ToWide(UINT page, const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int count = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0);
  if (count <= 0) return false;
  std::vector<wchar_t> buffer(static_cast<std::size_t>(count));
  if (::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), buffer.data(),
                            count) != count) {
    return false;
  }
  wide->assign(buffer.data(), buffer.size());
  return true;
}

// `exact`: a character without a place in the page fails; otherwise it
// becomes '_'. UTF-8 takes neither flags nor a default character.
bool FromWide(UINT page, const std::wstring& wide, bool exact, std::string* text) {
  text->clear();
  if (wide.empty()) return true;
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lost = FALSE;
  const char* fallback = utf8 ? nullptr : "_";
  BOOL* lostFlag = utf8 ? nullptr : &lost;
  const int size = static_cast<int>(wide.size());
  const int count = ::WideCharToMultiByte(page, flags, wide.data(), size, nullptr, 0, fallback, lostFlag);
  if (count <= 0) return false;
  std::vector<char> buffer(static_cast<std::size_t>(count));
  if (::WideCharToMultiByte(page, flags, wide.data(), size, buffer.data(), count, fallback, lostFlag) != count) {
    return false;
  }
  if (exact && lost) return false;
  text->assign(buffer.data(), buffer.size());
  return true;
}

}  // namespace

bool NarrowToOem(const std::string& narrow, std::string* oem) {
  std::wstring wide;
  return ToWide(CP_ACP, narrow, &wide) && FromWide(850, wide, true, oem);
}

bool NarrowToUtf8(const std::string& narrow, std::string* utf8) {
  std::wstring wide;
  return ToWide(CP_ACP, narrow, &wide) && FromWide(CP_UTF8, wide, false, utf8);
}

bool Utf8ToNarrow(const std::string& utf8, std::string* narrow) {
  std::wstring wide;
  return ToWide(CP_UTF8, utf8, &wide) && FromWide(CP_ACP, wide, false, narrow);
}

}  // namespace platform
