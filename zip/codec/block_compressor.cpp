#include "zip/codec/block_compressor.h"

#include <libdeflate.h>

namespace korbel {

BlockCompressor::~BlockCompressor() {
  if (compressor_ != nullptr) libdeflate_free_compressor(compressor_);
}

bool BlockCompressor::SetLevel(int level) {
  if (compressor_ != nullptr && level_ == level) return true;
  if (compressor_ != nullptr) libdeflate_free_compressor(compressor_);
  compressor_ = libdeflate_alloc_compressor(level);
  level_ = compressor_ != nullptr ? level : -1;
  return compressor_ != nullptr;
}

std::size_t BlockCompressor::Bound(std::size_t length) const {
  return libdeflate_deflate_compress_bound(compressor_, length);
}

std::size_t BlockCompressor::Compress(const unsigned char* input, std::size_t length, unsigned char* output,
                                      std::size_t room) {
  if (compressor_ == nullptr) return 0;
  return libdeflate_deflate_compress(compressor_, input, length, output, room);
}

}  // namespace korbel
