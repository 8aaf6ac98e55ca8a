// Writing a new file archive beside its target. The temporary name is the
// target's stem, '~', four hex digits and the target's extension (App.zip
// gives App~1a2b.zip), so that a pattern that leaves out the archive's own
// kind of name ("App*.zip") leaves out the temporary file too.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

constexpr int kNameAttempts = 64;

// Position of the extension's dot in the last component, or npos.
std::size_t ExtensionDot(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  const std::size_t start = separator == std::string::npos ? 0 : separator + 1;
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos || dot <= start ? std::string::npos : dot;
}

}  // namespace

bool Korbel::CreateReplacement(const char* target) {
  // An existing target must be one the run could replace: it is opened for
  // writing once, as the old create mode did, and left as it is.
  if (platform::GetAttributes(target) != platform::kInvalidAttributes) {
    platform::FileCloser check(platform::OpenFile(target, platform::kAccessReadWrite, platform::kShareNone,
                                                  platform::kOpenExisting));
    if (check.Get() == platform::kInvalidHandle) return false;
  }
  const std::string path(target);
  const std::size_t dot = ExtensionDot(path);
  const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : path.substr(dot);
  auto seed = static_cast<std::uint32_t>(platform::CurrentTime()) * 2654435761u;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>((seed >> 16) & 0xFFFF));
    seed = seed * 1103515245u + 12345u;
    const std::string candidate = stem + "~" + digits + extension;
    if (candidate.size() >= sizeof fullPath_) return false;
    if (store_.OpenFile(candidate.c_str(), platform::kAccessReadWrite, platform::kShareNone,
                        platform::kCreateNew)) {
      replacementPath_ = candidate;
      return true;
    }
    // Only a name that is taken is worth another try.
    if (platform::GetAttributes(candidate.c_str()) == platform::kInvalidAttributes) return false;
  }
  return false;
}

bool Korbel::FinishReplacement() {
  if (replacementPath_.empty()) return true;
  const bool replaced = platform::MoveFileOver(replacementPath_.c_str(), fullPath_);
  if (!replaced) platform::DeleteFile(replacementPath_.c_str());
  replacementPath_.clear();
  return replaced;
}

void Korbel::DropReplacement() {
  if (replacementPath_.empty()) return;
  store_.CloseFile();
  platform::DeleteFile(replacementPath_.c_str());
  replacementPath_.clear();
}

bool Korbel::IsWritingFile(const char* path) const {
  return store_.IsFileMode() && platform::IsSameFile(path, store_.FileHandle());
}

}  // namespace korbel
