// ';'-separated wildcard lists that decide which file names a walk takes,
// the wildcard matcher behind them, and the plain extension lists such as
// "UVPROJ;UVPROJX". Only ASCII letters compare without regard to case.
#ifndef PAKKARO_FS_PATTERN_LIST_H
#define PAKKARO_FS_PATTERN_LIST_H

#include <string>
#include <vector>

namespace fs {

template <typename Char>
struct PatternItem {
  std::basic_string<Char> text;  // the item without separators
  // Number of leading '*' plus 1 when those are the item's only wildcards:
  // the rest must then end the name. 0 when the item holds a '?' or a '*'
  // after its first other character; MatchWildcard decides then.
  int literalStart = 0;
};

// Items in the order of the text.
template <typename Char>
using PatternList = std::vector<PatternItem<Char>>;

// Appends the items of text (empty items skipped, nothing trimmed) to list.
// With include set, an item "*" or "*.*" is not stored and the result is 1
// (match-all); otherwise the result is 0.
template <typename Char>
int ParsePatternList(const Char* text, PatternList<Char>& list, bool include);

template <typename Char>
bool MatchPatternItem(const PatternItem<Char>& item, const Char* name, int nameLength);

// A name passes when the include list is empty or one of its items takes it,
// and no item of the exclude list takes it. A negative length measures name.
template <typename Char>
bool PassesNameFilter(const PatternList<Char>& include, const PatternList<Char>& exclude, const Char* name,
                      int nameLength);

// 0 when name matches pattern ('*' any run, '?' one character), non-zero
// otherwise. Segments between stars are placed first-fit from the left with
// no backtracking: a*b*c does not match abcbc. Negative lengths measure.
template <typename Char>
int MatchWildcard(const Char* pattern, int patternLength, const Char* name, int nameLength);

// 1-based position of the first item of list (split at ';', empty items
// counted) equal to the path's extension, compared without case; 0 when
// none is. A path without extension matches the first empty item.
template <typename Char>
int ExtensionInList(const Char* path, const Char* list, int pathLength);

}  // namespace fs

#endif  // PAKKARO_FS_PATTERN_LIST_H
