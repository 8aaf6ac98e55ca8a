// Fuzz target: the wildcard matcher and the pattern lists. The input is the
// pattern text, a zero byte, then the name; a missing zero byte makes the
// whole input both.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/pattern_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const char* split = std::find(text, text + size, '\0');
  const std::string pattern(text, split);
  const std::string name = split == text + size ? pattern : std::string(split + 1, text + size);
  const int patternLength = static_cast<int>(pattern.size());
  const int nameLength = static_cast<int>(name.size());
  fs::MatchWildcard(pattern.c_str(), patternLength, name.c_str(), nameLength);
  fs::MatchWildcard(pattern.c_str(), -1, name.c_str(), -1);
  fs::PatternList<char> include;
  fs::PatternList<char> exclude;
  fs::ParsePatternList(pattern.c_str(), include, true);
  fs::ParsePatternList(pattern.c_str(), exclude, false);
  for (const auto& item : exclude) fs::MatchPatternItem(item, name.c_str(), nameLength);
  fs::PassesNameFilter(include, exclude, name.c_str(), nameLength);
  fs::ExtensionInList(name.c_str(), pattern.c_str(), nameLength);
  return 0;
}
