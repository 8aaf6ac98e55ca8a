// XzCodec: zip method 95, a complete XZ stream as the entry's data.
#ifndef PAKKARO_ZIP_CODEC_XZ_CODEC_H
#define PAKKARO_ZIP_CODEC_XZ_CODEC_H

#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"

namespace korbel {

class XzCodec : public Codec {
 public:
  XzCodec();
  ~XzCodec() override;

  // The level is kept and clamped, but the stream is always written with the
  // library's default LZMA2 settings.
  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;
  void ReleaseBuffers() override;

 private:
  unsigned char* InputBuffer();
  unsigned char* OutputBuffer();
  [[noreturn]] void FailWithResult(int result);

  std::unique_ptr<unsigned char[]> input_;
  std::unique_ptr<unsigned char[]> output_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_XZ_CODEC_H
