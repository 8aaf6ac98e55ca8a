// A path-aware order of names: separators sort before every other character,
// a name that ends in a folder sorts before one that continues into a
// subfolder (dir\zzz before dir\a\b), letters without regard to case, and
// the accented Windows-1252 letters next to their base letter.
#ifndef PAKKARO_FS_PATH_ORDER_H
#define PAKKARO_FS_PATH_ORDER_H

namespace fs {

// Flags of ComparePaths.
enum : unsigned {
  CompareResolveFirst = 1,   // compare the full form of the first path
  CompareResolveSecond = 2,  // compare the full form of the second path
  CompareIgnoreCase = 4,
};

// Sort weight of one character: 0 terminator, 1 separators, and so on.
// Narrow characters are Windows-1252 codes; UTF-16 units of the same value
// weigh the same, higher units weigh code * 256.
template <typename Char>
int PathWeight(Char c);

// Negative, 0 or positive; '/' equals '\' and letter case is ignored. A null
// text counts as empty.
template <typename Char>
int PathOrder(const Char* first, const Char* second);

// PathOrder after the resolutions the flags ask for. Without
// CompareIgnoreCase, texts that PathOrder finds equal are told apart by their
// first character code that differs other than '/' against '\', so A and a
// differ.
template <typename Char>
int ComparePaths(const Char* first, const Char* second, unsigned flags);

}  // namespace fs

#endif  // PAKKARO_FS_PATH_ORDER_H
