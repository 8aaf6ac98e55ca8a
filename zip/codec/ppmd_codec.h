// PpmdCodec: zip method 98, PPMd variant I revision 1. The model lives in
// process-wide memory, so only one PPMd run is active at a time; a second
// one, on another thread, waits for it.
#ifndef PAKKARO_ZIP_CODEC_PPMD_CODEC_H
#define PAKKARO_ZIP_CODEC_PPMD_CODEC_H

#include <cstdint>

#include "zip/codec/codec.h"
#include "zip/codec/ppmd_coder.h"

namespace korbel {

class PpmdCodec : public Codec {
 public:
  // Mode bit: the 2-byte zip PPMd header precedes the data.
  static constexpr int kZipHeader = 1;
  static constexpr std::size_t kParameterBlockSize = 5;

  PpmdCodec();
  ~PpmdCodec() override;

  // Levels 1-7: model order 16 - level with (level + 7) MiB of model memory.
  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;
  // Also gives back the model memory kept between runs.
  void ReleaseBuffers() override;

  // Where a stream without the zip header takes its parameters from: a
  // 5-byte block (order, then the model memory in bytes, little-endian, a
  // whole number of MiB) when one was given, else the stored header value,
  // which every compression sets to the parameters it used.
  void SetParameterBlock(const unsigned char* block);
  void SetHeaderValue(std::uint16_t header);
  std::uint16_t HeaderValue() const { return header_; }
  // Output bytes a decompression produces at most; negative: up to the end
  // mark of the stream.
  void SetSizeLimit(std::int64_t limit) { limit_ = limit < 0 ? -1 : limit; }

 private:
  std::uint16_t header_;
  bool haveBlock_ = false;
  unsigned char block_[kParameterBlockSize] = {0};
  std::int64_t limit_ = -1;
  PpmdWorkspace workspace_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PPMD_CODEC_H
