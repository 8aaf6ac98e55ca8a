#include "zip/replacement_name.h"

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace korbel {
namespace {

constexpr std::size_t kRandomDigits = 12;
constexpr char kMark = '~';
constexpr char kSuffix[] = ".tmp";
constexpr std::size_t kSuffixLength = sizeof kSuffix - 1;
// '~', the digits and the suffix.
constexpr std::size_t kAddedLength = 1 + kRandomDigits + kSuffixLength;

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

const char* LastComponent(const char* path) {
  const char* leaf = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') leaf = p + 1;
  }
  return leaf;
}

}  // namespace

std::string ReplacementNameFor(const std::string& target) {
  unsigned char random[kRandomDigits / 2];
  if (!platform::RandomBytes(random, sizeof random)) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string name = target + kMark;
  for (const unsigned char byte : random) {
    name += kHex[byte >> 4];
    name += kHex[byte & 0xF];
  }
  return name + kSuffix;
}

bool IsReplacementName(const char* path) {
  const char* leaf = LastComponent(path);
  const std::size_t length = std::strlen(leaf);
  // At least one character of the archive's own name.
  if (length <= kAddedLength) return false;
  const char* added = leaf + length - kAddedLength;
  if (added[0] != kMark || std::strcmp(added + 1 + kRandomDigits, kSuffix) != 0) return false;
  for (std::size_t i = 1; i <= kRandomDigits; ++i) {
    if (!IsLowerHex(added[i])) return false;
  }
  return true;
}

bool IsReplacementOf(const std::string& path, const std::string& target) {
  return path.size() == target.size() + kAddedLength && IsReplacementName(path.c_str()) &&
         path.compare(0, target.size(), target) == 0;
}

std::string ReplacementPattern(const std::string& target) { return target + kMark + "*" + kSuffix; }

}  // namespace korbel
