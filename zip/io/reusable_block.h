// ReusableBlock: a heap block that is kept between uses and only grows, for
// work areas whose size follows the data (whole files, whole streams).
#ifndef PAKKARO_ZIP_IO_REUSABLE_BLOCK_H
#define PAKKARO_ZIP_IO_REUSABLE_BLOCK_H

#include <cstddef>
#include <memory>

namespace korbel {

class ReusableBlock {
 public:
  // At least `size` bytes (contents not kept when it grows), or null when
  // memory is short. Growth overshoots a little, up to `largest`, so that a
  // run of slightly larger inputs does not reallocate each time.
  unsigned char* Reserve(std::size_t size, std::size_t largest);
  std::size_t Capacity() const { return capacity_; }
  void Release();

 private:
  std::unique_ptr<unsigned char[]> data_;
  std::size_t capacity_ = 0;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_REUSABLE_BLOCK_H
