// The orders the entry table can be kept in; an archive's option bits
// 0x0300 carry one of them.
#ifndef PAKKARO_ZIP_TABLE_SORT_KEY_H
#define PAKKARO_ZIP_TABLE_SORT_KEY_H

namespace korbel {

enum SortKey : int {
  kSortByName = 0x000,
  kSortBySize = 0x100,
  kSortByOffset = 0x200,
  kSortByNameNumeric = 0x300,
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_TABLE_SORT_KEY_H
