#include "platform/posix/utf_conversion.h"

#include "platform/utf16_text.h"

namespace platform {
namespace posix {

std::string Utf16ToUtf8(const WideChar* text) {
  if (text == nullptr) return std::string();
  return text::Utf16ToUtf8(text, std::char_traits<WideChar>::length(text));
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  text::Utf8ToUtf16(text.data(), text.size(), 0xFFFD, &out);
  return out;
}

}  // namespace posix
}  // namespace platform
