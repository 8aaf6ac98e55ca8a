// BZip2Codec: zip method 12, and the stored copy as mode 0.
#ifndef PAKKARO_ZIP_CODEC_BZIP2_CODEC_H
#define PAKKARO_ZIP_CODEC_BZIP2_CODEC_H

#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"

namespace korbel {

class BZip2Codec : public Codec {
 public:
  static constexpr int kStored = 0;
  static constexpr int kBZip2 = 8;

  BZip2Codec();
  ~BZip2Codec() override;

  // The level is the block size in units of 100 kB (level 0 uses 1).
  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;
  // Also frees the library's stream record and the input buffer.
  void ReleaseBuffers() override;

 private:
  struct Stream;

  std::uint64_t Unpack();
  Stream& PrepareStream();

  std::unique_ptr<Stream> stream_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_BZIP2_CODEC_H
