#include "zip/io/reusable_block.h"

#include <algorithm>
#include <new>

namespace korbel {

unsigned char* ReusableBlock::Reserve(std::size_t size, std::size_t largest) {
  if (data_ && capacity_ >= size) return data_.get();
  Release();
  const std::size_t grown = std::max(size, std::min(largest, size + size / 4));
  // Never empty, so that a zero-size reservation still answers a block.
  data_.reset(new (std::nothrow) unsigned char[std::max<std::size_t>(grown, 1)]);
  if (data_) capacity_ = std::max<std::size_t>(grown, 1);
  return data_.get();
}

void ReusableBlock::Release() {
  data_.reset();
  capacity_ = 0;
}

}  // namespace korbel
