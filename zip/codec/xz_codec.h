// XzCodec: zip method 95, a complete XZ stream as the entry's data.
#ifndef PAKKARO_ZIP_CODEC_XZ_CODEC_H
#define PAKKARO_ZIP_CODEC_XZ_CODEC_H

#include <cstdint>

#include "zip/codec/codec.h"

namespace korbel {

class XzCodec : public Codec {
 public:
  // The level is kept and clamped, but the stream is always written with the
  // library's default LZMA2 settings.
  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;

 private:
  [[noreturn]] void FailWithResult(int result);
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_XZ_CODEC_H
