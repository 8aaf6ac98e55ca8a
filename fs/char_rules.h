// Character rules shared by the path, pattern and walk functions: which
// characters separate path components, and the ASCII-only case folding that
// every name comparison of the library uses.
#ifndef PAKKARO_FS_CHAR_RULES_H
#define PAKKARO_FS_CHAR_RULES_H

#include <type_traits>

namespace fs {

// Both slashes separate folders on every platform: the text rules of the
// library are the same everywhere.
template <typename Char>
constexpr bool IsSeparator(Char c) {
  return c == Char('\\') || c == Char('/');
}

// A separator or a drive colon: where a name part begins.
template <typename Char>
constexpr bool IsNameEnd(Char c) {
  return IsSeparator(c) || c == Char(':');
}

// Only A..Z fold; bytes of a code page and other UTF-16 units stay as they are.
template <typename Char>
constexpr Char FoldAscii(Char c) {
  return (c >= Char('A') && c <= Char('Z')) ? Char(c + ('a' - 'A')) : c;
}

// The character's code as an unsigned number (a narrow char may be signed).
template <typename Char>
constexpr unsigned CodeOf(Char c) {
  return static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
}

// Length of a terminated text; a null text is empty.
template <typename Char>
int TextLength(const Char* text) {
  if (!text) return 0;
  int length = 0;
  while (text[length]) ++length;
  return length;
}

template <typename Char>
bool EqualNoCase(const Char* a, const Char* b, int length) {
  for (int i = 0; i < length; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace fs

#endif  // PAKKARO_FS_CHAR_RULES_H
