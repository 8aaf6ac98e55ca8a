#include "zip/table/entry_pool.h"

#include <algorithm>

namespace korbel {

ZipEntry* EntryPool::New() {
  if (!freed_.empty()) {
    ZipEntry* entry = freed_.back();
    freed_.pop_back();
    return entry;
  }
  if (blockUsed_ == blockSize_) {
    blockSize_ = blocks_.empty() ? kFirstBlock : std::min(2 * blockSize_, kLargestBlock);
    blocks_.push_back(std::make_unique<ZipEntry[]>(blockSize_));
    blockUsed_ = 0;
  }
  return &blocks_.back()[blockUsed_++];
}

void EntryPool::Free(ZipEntry* entry) {
  *entry = ZipEntry();
  freed_.push_back(entry);
}

void EntryPool::Clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  freed_.clear();
  freed_.shrink_to_fit();
  blockSize_ = 0;
  blockUsed_ = 0;
}

}  // namespace korbel
