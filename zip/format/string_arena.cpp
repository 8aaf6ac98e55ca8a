#include "zip/format/string_arena.h"

#include <cstring>

namespace korbel {

const char* StringArena::Copy(const void* bytes, std::size_t size) {
  const std::size_t needed = size + 1;
  char* place;
  if (needed > kBlockSize / 4) {
    // A long piece gets a block of its own, leaving the current one open.
    blocks_.push_back(std::make_unique<char[]>(needed));
    place = blocks_.back().get();
  } else {
    if (needed > left_) {
      blocks_.push_back(std::make_unique<char[]>(kBlockSize));
      free_ = blocks_.back().get();
      left_ = kBlockSize;
    }
    place = free_;
    free_ += needed;
    left_ -= needed;
  }
  if (size > 0) std::memcpy(place, bytes, size);
  place[size] = '\0';
  return place;
}

const char* StringArena::Share(const void* bytes, std::size_t size) {
  if (shared_ == nullptr || sharedSize_ != size || std::memcmp(shared_, bytes, size) != 0) {
    shared_ = Copy(bytes, size);
    sharedSize_ = size;
  }
  return shared_;
}

void StringArena::Clear() {
  blocks_.clear();
  blocks_.shrink_to_fit();
  free_ = nullptr;
  left_ = 0;
  shared_ = nullptr;
  sharedSize_ = 0;
}

}  // namespace korbel
