// Where the entries of a table live: blocks of many entries each, so that a
// million entries take a few hundred allocations, and an entry never moves
// while the table is sorted or grows.
#ifndef PAKKARO_ZIP_ENTRY_POOL_H
#define PAKKARO_ZIP_ENTRY_POOL_H

#include <cstddef>
#include <memory>
#include <vector>

#include "zip/format/zip_entry.h"

namespace korbel {

class EntryPool {
 public:
  // A fresh entry; valid until Free or Clear.
  ZipEntry* New();
  // Gives an entry back; its place serves the next New.
  void Free(ZipEntry* entry);
  void Clear();

 private:
  static constexpr std::size_t kFirstBlock = 64;
  static constexpr std::size_t kLargestBlock = 4096;
  std::vector<std::unique_ptr<ZipEntry[]>> blocks_;
  std::size_t blockSize_ = 0;  // entries in the newest block
  std::size_t blockUsed_ = 0;  // of them handed out
  std::vector<ZipEntry*> freed_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_POOL_H
