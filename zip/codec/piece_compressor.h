// PieceCompressor: raw Deflate of one piece of a large file, so that the
// pieces, compressed on different threads, join into one stream. Each piece
// starts from the 32 KiB of data in front of it as its dictionary, which
// keeps the matches a single stream would find; a piece other than the last
// ends on a byte boundary with an empty stored block (a sync flush), the last
// ends the stream.
#ifndef PAKKARO_ZIP_CODEC_PIECE_COMPRESSOR_H
#define PAKKARO_ZIP_CODEC_PIECE_COMPRESSOR_H

#include <cstddef>
#include <memory>

namespace korbel {

class PieceCompressor {
 public:
  // The most of the data in front of a piece that Deflate can refer to.
  static constexpr std::size_t kWindowSize = 32768;

  PieceCompressor();
  ~PieceCompressor();
  PieceCompressor(const PieceCompressor&) = delete;
  PieceCompressor& operator=(const PieceCompressor&) = delete;

  // Compresses `length` bytes at `input` after the `dictionaryLength` bytes
  // in front of them (at most kWindowSize are used) into a new block in
  // *output. False when no memory could be had for the state or the output.
  bool Compress(int level, const unsigned char* input, std::size_t dictionaryLength, std::size_t length,
                bool last, std::unique_ptr<unsigned char[]>* output, std::size_t* outputLength);

 private:
  struct Stream;
  bool Ready(int level);

  std::unique_ptr<Stream> stream_;
  int level_ = -1;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PIECE_COMPRESSOR_H
