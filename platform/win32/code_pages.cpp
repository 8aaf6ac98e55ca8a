#include <climits>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace platform {

bool NarrowIsUtf8() { return ::GetACP() == CP_UTF8; }

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

// Names in zip files without the UTF-8 flag are code page 850, the page
// the engine writes them in: read with the system's OEM page (437 on US
// Windows) Ø would come back as ¥.
std::size_t OemToNarrow(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::wstring wide;
  std::string narrow;
  if (text != nullptr && length > 0 && length <= static_cast<std::size_t>(INT_MAX)) {
    if (ToWide(850, std::string(text, length), &wide)) FromWide(CP_ACP, wide, false, &narrow);
  }
  // Cut only at a whole character of the narrow text.
  std::size_t count = narrow.size();
  if (count > capacity - 1) {
    count = capacity - 1;
    if (::GetACP() == CP_UTF8) {
      while (count > 0 && (static_cast<unsigned char>(narrow[count]) & 0xC0) == 0x80) --count;
    }
  }
  narrow.copy(buffer, count);
  buffer[count] = 0;
  return count;
}

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
