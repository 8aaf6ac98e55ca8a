#include "tools/korbel/overwrite_choice.h"

#include <zlib.h>

#include <vector>

#include "fs/file_info.h"
#include "platform/platform.h"
#include "tools/korbel/tool_texts.h"

namespace korbel_tool {

bool FileHoldsEntry(const char* path, std::uint64_t size, std::uint32_t crc) {
  platform::FileCloser file(
      platform::OpenFile(path, platform::kAccessRead, platform::kShareRead, platform::kOpenExisting, true));
  if (file.Get() == platform::kInvalidHandle) return false;
  if (platform::FileSize(file.Get()) != static_cast<std::int64_t>(size)) return false;
  std::vector<unsigned char> buffer(256 * 1024);
  uLong sum = ::crc32(0L, Z_NULL, 0);
  for (;;) {
    const std::int64_t got = platform::ReadFile(file.Get(), buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    sum = ::crc32(sum, buffer.data(), static_cast<uInt>(got));
  }
  return static_cast<std::uint32_t>(sum) == crc;
}

OverwriteChoice::Decision OverwriteChoice::Decide(const std::string& name) {
  if (noTerminal_) return Decision::kKeepUnasked;
  if (rule_ == OverwriteRule::kAlways) return Decision::kReplace;
  if (rule_ == OverwriteRule::kNever) return Decision::kKeep;
  for (;;) {
    std::string answer;
    if (!ask_(name + platform::Windows1252ToUtf8(kReplaceQuestion), &answer)) {
      // No one to ask: the file stays, for this and every later one.
      noTerminal_ = true;
      return Decision::kKeepUnasked;
    }
    const char first = answer.empty() ? '\0' : static_cast<char>(answer[0] | 0x20);
    switch (first) {
      case 'j':
      case 'y':
        return Decision::kReplace;
      case 'n':
        return Decision::kKeep;
      case 'a':
        rule_ = OverwriteRule::kAlways;
        return Decision::kReplace;
      case 'k':
        rule_ = OverwriteRule::kNever;
        return Decision::kKeep;
      default:
        break;
    }
  }
}

}  // namespace korbel_tool
