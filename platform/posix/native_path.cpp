#include "platform/posix/native_path.h"

#include "platform/posix/utf_conversion.h"

namespace platform {
namespace posix {

std::string NativePath(const char* path) {
  std::string native(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::string NativePath(const WideChar* path) {
  std::string native = Utf16ToUtf8(path);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::string LastComponent(const std::string& path) {
  std::string::size_type end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  const std::string::size_type slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
  const std::string::size_type begin = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(begin, end - begin);
}

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

}  // namespace posix
}  // namespace platform
