// ZstdCodec: zip method 93, Zstandard frames as the entry's data. Reading
// only: the engine writes stored and Deflate entries.
#ifndef PAKKARO_ZIP_CODEC_ZSTD_CODEC_H
#define PAKKARO_ZIP_CODEC_ZSTD_CODEC_H

#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"

namespace korbel {

class ZstdCodec : public Codec {
 public:
  ZstdCodec();
  ~ZstdCodec() override;

  std::uint64_t Decompress(int mode) override;
  void ReleaseBuffers() override;

 private:
  unsigned char* InputBuffer();
  unsigned char* OutputBuffer();

  std::unique_ptr<unsigned char[]> input_;
  std::unique_ptr<unsigned char[]> output_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_ZSTD_CODEC_H
