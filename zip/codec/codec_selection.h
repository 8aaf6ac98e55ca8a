// The archive's current codec and the zip method family it serves.
#ifndef PAKKARO_ZIP_CODEC_CODEC_SELECTION_H
#define PAKKARO_ZIP_CODEC_CODEC_SELECTION_H

#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"

namespace korbel {

struct CodecSelection {
  std::unique_ptr<Codec> codec;
  // 0 for methods 0-9, else the method number; -1 before the first selection.
  int family = -1;
  // For LZMA: the uncompressed size of the entry being read.
  std::uint64_t lzmaSize = 0;
};

enum SelectResult : int {
  kSelectOk = 0,
  kSelectUnsupported = 1,
  kSelectNoMemory = 2,
};

// Makes `selection` serve zip `method`, keeping the current codec when it
// belongs to the same family. `uncompressedSize` is the entry's size, used by
// LZMA (and PPMd) to stop after the data. A non-zero `flag` refuses Deflate64
// on an existing Deflate codec. Answers a SelectResult.
int SelectCodec(CodecSelection& selection, int method, std::uint64_t uncompressedSize, int flag);

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_CODEC_SELECTION_H
