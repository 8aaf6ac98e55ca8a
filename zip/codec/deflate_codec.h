// DeflateCodec: zip methods 0 (stored), 8 (Deflate) and, for reading only,
// 9 (Deflate64); methods 1-7 are handed to the Deflate decoder like 8.
//
// Data whose size is known and at most kWholeBlockLimit is compressed or
// inflated in one call over the whole block, which is about twice as fast as
// streaming; larger or unsized data streams through a reused zlib state.
#ifndef PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H
#define PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/codec/codec.h"
#include "zip/io/reusable_block.h"

namespace korbel {

class Deflate64Decoder;

class DeflateCodec : public Codec {
 public:
  // The modes: what Decompress expects.
  static constexpr int kStored = 0;
  static constexpr int kDeflate = 8;
  static constexpr int kDeflate64 = 9;
  // The largest block handled whole; each of the two blocks kept for it
  // (input and output) grows up to about this size.
  static constexpr std::size_t kWholeBlockLimit = std::size_t{32} << 20;
  // Below this the whole-block compressor writes a stored block, which is
  // larger than what streaming gives for short text.
  static constexpr std::size_t kWholeBlockMinimum = 64;

  DeflateCodec();
  ~DeflateCodec() override;

  // Level 0 copies the data (mode 0); levels 1-9 write raw Deflate (mode 8).
  // The largest block handled whole from now on (tests move the boundary).
  void SetWholeBlockLimit(std::size_t limit) { wholeBlockLimit_ = limit; }

  std::uint64_t Compress(int level) override;
  std::uint64_t Decompress(int mode) override;
  void ReleaseBuffers() override;

 private:
  // The library streams live across runs and are reset between them: setting
  // one up allocates some 270 KiB, which would dominate small entries.
  struct Streams;

  std::uint64_t Deflate(int level);
  std::uint64_t DeflateWhole(int level, std::size_t bound);
  std::uint64_t Inflate();
  std::uint64_t InflateWhole(std::size_t bound);
  // The whole input in one block: the memory input itself or, read into
  // wholeInput_, everything the input delivers up to `bound` bytes.
  const unsigned char* TakeWholeInput(std::size_t bound, std::size_t* length);
  // Hands a block produced outside the output side on to it; the bytes
  // taken count as compressed or uncompressed ones, also when it fails.
  void DeliverBlock(const unsigned char* data, std::size_t length, bool compressed);
  // At least `size` bytes of `block`.
  unsigned char* Reserve(ReusableBlock* block, std::size_t size);
  std::uint64_t InflateDeflate64();

  std::unique_ptr<Streams> streams_;
  std::size_t wholeBlockLimit_ = kWholeBlockLimit;
  ReusableBlock wholeInput_;
  ReusableBlock wholeOutput_;
  std::unique_ptr<Deflate64Decoder> deflate64_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_DEFLATE_CODEC_H
