// ZstdCodec: zip method 93, Zstandard frames as the entry's data. Reading
// only: the engine writes stored and Deflate entries.
#ifndef PAKKARO_ZIP_CODEC_ZSTD_CODEC_H
#define PAKKARO_ZIP_CODEC_ZSTD_CODEC_H

#include <cstdint>

#include "zip/codec/codec.h"

namespace korbel {

class ZstdCodec : public Codec {
 public:
  std::uint64_t Decompress(int mode) override;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_ZSTD_CODEC_H
