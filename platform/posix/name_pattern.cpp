#include "platform/posix/name_pattern.h"

#include <cstddef>
#include <string>

#include "platform/posix/utf_conversion.h"

namespace platform {
namespace posix {

namespace {

// Upper case for the scripts whose case pairs are one code unit apart in a
// plain block: ASCII, Latin-1, Greek and Cyrillic.
char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  return c;
}

// Classic wildcard walk with one backtracking point: the last '*' seen. Its
// cost stays proportional to name length times pattern length.
bool Matches(const std::u16string& name, const std::u16string& pattern) {
  std::size_t n = 0, p = 0;
  std::size_t starPattern = std::u16string::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      starPattern = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (starPattern != std::u16string::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchesNamePattern(const std::string& name, const std::string& pattern) {
  std::u16string wanted = Utf8ToUtf16(pattern);
  while (!wanted.empty() && wanted.back() == u'.') wanted.pop_back();
  if (wanted == u"*" || wanted == u"*.*") return true;
  const std::u16string given = Utf8ToUtf16(name);
  if (Matches(given, wanted)) return true;
  const std::size_t size = wanted.size();
  return size >= 2 && wanted[size - 2] == u'.' && wanted[size - 1] == u'*' &&
         Matches(given, wanted.substr(0, size - 2));
}

}  // namespace posix
}  // namespace platform
