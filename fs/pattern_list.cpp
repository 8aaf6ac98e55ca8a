#include "fs/pattern_list.h"

#include "fs/char_rules.h"
#include "platform/platform.h"

namespace fs {
namespace {

template <typename Char>
int LiteralStart(const std::basic_string<Char>& text) {
  std::size_t stars = 0;
  while (stars < text.size() && text[stars] == Char('*')) ++stars;
  for (std::size_t i = stars; i < text.size(); ++i) {
    if (text[i] == Char('*') || text[i] == Char('?')) return 0;
  }
  return static_cast<int>(stars) + 1;
}

// Whether segment fits the name at pos: '?' takes any character.
template <typename Char>
bool Fits(const Char* segment, int segmentLength, const Char* name, int pos, int nameLength) {
  if (nameLength - pos < segmentLength) return false;
  for (int i = 0; i < segmentLength; ++i) {
    const Char c = segment[i];
    if (c != Char('?') && FoldAscii(c) != FoldAscii(name[pos + i])) return false;
  }
  return true;
}

template <typename Char>
int FirstFit(const Char* segment, int segmentLength, const Char* name, int from, int nameLength) {
  for (int pos = from; pos <= nameLength - segmentLength; ++pos) {
    if (Fits(segment, segmentLength, name, pos, nameLength)) return pos;
  }
  return -1;
}

// The match itself, with lengths measured. The later segments are placed at
// their first fit only: first fit is monotone (a later start never fits
// earlier), so once the parts behind a segment cannot be placed from its
// first fit, they cannot from any later one either, and no position needs to
// be tried twice. That keeps the matcher linear in the segments.
template <typename Char>
bool Matches(const Char* p, int pl, const Char* n, int nl) {
  bool openEnd = false;
  while (pl > 0 && p[pl - 1] == Char('*')) {
    --pl;
    openEnd = true;
  }
  if (pl == 0) return openEnd || nl == 0;

  int pi = 0;
  while (pi < pl && p[pi] != Char('*')) ++pi;
  if (!Fits(p, pi, n, 0, nl)) return false;
  if (pi == pl) return nl == pi || openEnd;
  int ni = pi;

  for (bool first = true;; first = false) {
    // A run of '*' and '?': each '?' takes one character.
    int singles = 0;
    while (pi < pl && (p[pi] == Char('*') || p[pi] == Char('?'))) {
      if (p[pi] == Char('?')) ++singles;
      ++pi;
    }
    if (nl - ni < singles) return false;
    ni += singles;
    if (pi == pl) return true;  // the run ends the pattern and takes the rest

    const int segmentStart = pi;
    while (pi < pl && p[pi] != Char('*')) ++pi;
    const int segmentLength = pi - segmentStart;
    const bool last = pi == pl;
    const Char* segment = p + segmentStart;

    if (first && last) {
      if (openEnd) return FirstFit(segment, segmentLength, n, ni, nl) >= 0;
      const int pos = nl - segmentLength;
      return pos >= ni && Fits(segment, segmentLength, n, pos, nl);
    }
    const int pos = FirstFit(segment, segmentLength, n, ni, nl);
    if (pos < 0) return false;
    ni = pos + segmentLength;
    if (last) return openEnd || ni == nl;
  }
}

}  // namespace

template <typename Char>
int ParsePatternList(const Char* text, PatternList<Char>& list, bool include) {
  if (!text) return 0;
  int matchAll = 0;
  const Char* start = text;
  for (;;) {
    const Char* end = start;
    while (*end && *end != Char(';')) ++end;
    if (end != start) {
      std::basic_string<Char> item(start, end);
      static const Char kStar[] = {Char('*'), Char(0)};
      static const Char kStarDotStar[] = {Char('*'), Char('.'), Char('*'), Char(0)};
      if (include && (item == kStar || item == kStarDotStar)) {
        matchAll = 1;
      } else {
        const int literalStart = LiteralStart(item);
        list.push_back(PatternItem<Char>{std::move(item), literalStart});
      }
    }
    if (!*end) break;
    start = end + 1;
  }
  return matchAll;
}

template <typename Char>
bool MatchPatternItem(const PatternItem<Char>& item, const Char* name, int nameLength) {
  if (!name) {
    name = item.text.c_str() + item.text.size();  // an empty text
    nameLength = 0;
  } else if (nameLength < 0) {
    nameLength = TextLength(name);
  }
  if (item.literalStart <= 0) {
    return MatchWildcard(item.text.c_str(), static_cast<int>(item.text.size()), name, nameLength) == 0;
  }
  const int skip = item.literalStart - 1;
  const int literalLength = static_cast<int>(item.text.size()) - skip;
  if (literalLength < 0 || literalLength > nameLength) return false;
  return EqualNoCase(item.text.c_str() + skip, name + nameLength - literalLength, literalLength);
}

template <typename Char>
bool PassesNameFilter(const PatternList<Char>& include, const PatternList<Char>& exclude, const Char* name,
                      int nameLength) {
  if (name && nameLength < 0) nameLength = TextLength(name);
  if (!include.empty()) {
    bool taken = false;
    for (const auto& item : include) {
      if (MatchPatternItem(item, name, nameLength)) {
        taken = true;
        break;
      }
    }
    if (!taken) return false;
  }
  for (const auto& item : exclude) {
    if (MatchPatternItem(item, name, nameLength)) return false;
  }
  return true;
}

template <typename Char>
int MatchWildcard(const Char* pattern, int patternLength, const Char* name, int nameLength) {
  static const Char kEmpty[1] = {Char(0)};
  if (!pattern) {
    pattern = kEmpty;
    patternLength = 0;
  } else if (patternLength < 0) {
    patternLength = TextLength(pattern);
  }
  if (!name) {
    name = kEmpty;
    nameLength = 0;
  } else if (nameLength < 0) {
    nameLength = TextLength(name);
  }
  return Matches(pattern, patternLength, name, nameLength) ? 0 : 1;
}

template <typename Char>
int ExtensionInList(const Char* path, const Char* list, int pathLength) {
  if (!list) return 0;
  if (!path) {
    pathLength = 0;
  } else if (pathLength < 0) {
    pathLength = TextLength(path);
  }
  const Char* extension = path;
  int extensionLength = 0;
  for (int pos = pathLength - 1; pos >= 0; --pos) {
    const Char c = path[pos];
    if (IsNameEnd(c)) break;
    if (c == Char('.')) {
      if (pos > 0 && !IsNameEnd(path[pos - 1])) {
        extension = path + pos + 1;
        extensionLength = pathLength - pos - 1;
      }
      break;
    }
  }
  int index = 1;
  for (const Char* item = list;; ++index) {
    const Char* end = item;
    while (*end && *end != Char(';')) ++end;
    if (end - item == extensionLength && EqualNoCase(item, extension, extensionLength)) {
      return index;
    }
    if (!*end) return 0;
    item = end + 1;
  }
}

#define PAKKARO_FS_PATTERN_LIST(Char)                                                                   \
  template int ParsePatternList<Char>(const Char*, PatternList<Char>&, bool);                           \
  template bool MatchPatternItem<Char>(const PatternItem<Char>&, const Char*, int);                     \
  template bool PassesNameFilter<Char>(const PatternList<Char>&, const PatternList<Char>&, const Char*, \
                                       int);                                                            \
  template int MatchWildcard<Char>(const Char*, int, const Char*, int);                                 \
  template int ExtensionInList<Char>(const Char*, const Char*, int);

PAKKARO_FS_PATTERN_LIST(char)
PAKKARO_FS_PATTERN_LIST(platform::WideChar)
#undef PAKKARO_FS_PATTERN_LIST

}  // namespace fs
