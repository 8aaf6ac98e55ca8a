// LzmaCodec: zip method 14, LZMA with the zip method's small header.
#ifndef PAKKARO_ZIP_CODEC_LZMA_CODEC_H
#define PAKKARO_ZIP_CODEC_LZMA_CODEC_H

#include <cstdint>

#include "zip/codec/codec.h"

namespace korbel {

class LzmaCodec : public Codec {
 public:
  // Mode bits: what precedes the LZMA data.
  static constexpr int kZipHeader = 1;   // 4 bytes: encoder version 9.20, property size 5
  static constexpr int kProperties = 2;  // 5 bytes: lc/lp/pb and the dictionary size
  static constexpr int kSizeField = 4;   // 8 bytes: the uncompressed size, all ones if unknown
  static constexpr int kZipMode = kZipHeader | kProperties;

  // The size of the uncompressed data; negative when unknown. A compression
  // of unknown size ends with the end marker; a known size lets the decoder
  // stop after exactly that many bytes, with or without an end marker.
  void SetUncompressedSize(std::int64_t size) { size_ = size < 0 ? -1 : size; }
  std::int64_t UncompressedSize() const { return size_; }

  // The dictionary the decoder sets up for a stream whose properties ask for
  // `declared` bytes, with `expected` bytes of output (all ones: unknown): no
  // larger than the data, and never above kLargestDictionary, whatever an
  // archive claims. A stream that needs more fails as damaged data.
  static constexpr std::uint32_t kLargestDictionary = std::uint32_t{256} << 20;
  static std::uint32_t DecoderDictionary(std::uint32_t declared, std::uint64_t expected);

  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;

 private:
  void WriteHeader(int mode, const unsigned char* properties);
  // The header fields that `mode` announces, up to the data: the five
  // property bytes into `properties`; answers the uncompressed size, from
  // the size field or else the stated size (kUnknownSize when none).
  std::uint64_t ReadPreamble(int mode, unsigned char* properties);

  std::int64_t size_ = -1;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_LZMA_CODEC_H
