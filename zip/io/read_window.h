// ReadWindow: a stretch of an archive file read ahead, so that many small
// reads of nearby records and entries cost one system call per window rather
// than a seek and a read each. The caller forgets the window whenever the
// file may have changed.
#ifndef PAKKARO_ZIP_IO_READ_WINDOW_H
#define PAKKARO_ZIP_IO_READ_WINDOW_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korbel {

class ArchiveStore;

class ReadWindow {
 public:
  explicit ReadWindow(std::size_t capacity) : capacity_(capacity) {}

  // The `length` bytes at `position` of `store`, from the window, which is
  // refilled from `position` when they lie outside it; null (and nothing
  // read) when they are longer than the window or pass the end of the store.
  const unsigned char* Get(ArchiveStore& store, std::int64_t position, std::size_t length);
  void Forget() { filled_ = 0; }

 private:
  std::size_t capacity_;
  std::vector<unsigned char> block_;
  std::int64_t start_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_READ_WINDOW_H
