// DeflateCodec: zip methods 0 (stored), 8 (Deflate) and, for reading only,
// 9 (Deflate64); methods 1-7 are handed to the Deflate decoder like 8.
#ifndef PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H
#define PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H

#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"

namespace korbel {

class Deflate64Decoder;

class DeflateCodec : public Codec {
 public:
  // The modes: what Decompress expects.
  static constexpr int kStored = 0;
  static constexpr int kDeflate = 8;
  static constexpr int kDeflate64 = 9;

  DeflateCodec();
  ~DeflateCodec() override;

  // Level 0 copies the data (mode 0); levels 1-9 write raw Deflate (mode 8).
  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;
  void ReleaseBuffers() override;

 private:
  // The library streams live across runs and are reset between them: setting
  // one up allocates some 270 KiB, which would dominate small entries.
  struct Streams;

  std::uint64_t Deflate(int level);
  std::uint64_t Inflate();
  std::uint64_t InflateDeflate64();
  unsigned char* InputBuffer();

  std::unique_ptr<Streams> streams_;
  std::unique_ptr<unsigned char[]> input_;
  std::unique_ptr<Deflate64Decoder> deflate64_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H
