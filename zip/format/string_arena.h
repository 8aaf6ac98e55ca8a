// Storage for the names and extra fields of a loaded directory: copies go
// into large blocks that live until the table is cleared, so loading a
// directory costs a few allocations rather than a few per entry.
#ifndef PAKKARO_ZIP_STRING_ARENA_H
#define PAKKARO_ZIP_STRING_ARENA_H

#include <cstddef>
#include <memory>
#include <vector>

namespace korbel {

class StringArena {
 public:
  // A copy of `size` bytes followed by a 0 byte; valid until Clear.
  const char* Copy(const void* bytes, std::size_t size);
  // Like Copy, except that bytes equal to those the last Share took are not
  // copied again: the extra fields of neighbouring entries are mostly alike
  // (the same times, the same owner), and a large directory keeps one copy
  // per run of them.
  const char* Share(const void* bytes, std::size_t size);
  void Clear();

 private:
  static constexpr std::size_t kBlockSize = 256 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  std::size_t left_ = 0;
  const char* shared_ = nullptr;
  std::size_t sharedSize_ = 0;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_STRING_ARENA_H
