#include "zip/codec/piece_compressor.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace korbel {
namespace {

constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;
// What a sync flush and the end of the stream may add beyond deflateBound.
constexpr std::size_t kFlushRoom = 64;

}  // namespace

struct PieceCompressor::Stream {
  z_stream zs{};
  bool ready = false;
};

PieceCompressor::PieceCompressor() = default;

PieceCompressor::~PieceCompressor() {
  if (stream_ && stream_->ready) deflateEnd(&stream_->zs);
}

bool PieceCompressor::Ready(int level) {
  if (!stream_) stream_.reset(new (std::nothrow) Stream);
  if (!stream_) return false;
  z_stream& zs = stream_->zs;
  if (stream_->ready && level_ != level) {
    deflateEnd(&zs);
    stream_->ready = false;
  }
  if (stream_->ready) return deflateReset(&zs) == Z_OK;
  zs = z_stream{};
  if (deflateInit2(&zs, level, Z_DEFLATED, kRawWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    return false;
  }
  stream_->ready = true;
  level_ = level;
  return true;
}

bool PieceCompressor::Compress(int level, const unsigned char* input, std::size_t dictionaryLength,
                               std::size_t length, bool last, std::unique_ptr<unsigned char[]>* output,
                               std::size_t* outputLength) {
  if (!Ready(level)) return false;
  z_stream& zs = stream_->zs;
  const std::size_t used = std::min(dictionaryLength, kWindowSize);
  if (used > 0 &&
      deflateSetDictionary(&zs, input + dictionaryLength - used, static_cast<uInt>(used)) != Z_OK) {
    return false;
  }
  std::size_t room = deflateBound(&zs, static_cast<uLong>(length)) + kFlushRoom;
  output->reset(new (std::nothrow) unsigned char[room]);
  if (!*output) return false;
  zs.next_in = const_cast<unsigned char*>(input + dictionaryLength);
  zs.avail_in = static_cast<uInt>(length);
  zs.next_out = output->get();
  zs.avail_out = static_cast<uInt>(room);
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    const int result = deflate(&zs, flush);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) return false;
    // A flush is complete once the input is taken and room is left over.
    if (!last && zs.avail_in == 0 && zs.avail_out > 0) break;
    if (zs.avail_out > 0) continue;
    // The bound fell short: a larger block, with what is done copied over.
    const std::size_t done = room - zs.avail_out;
    std::unique_ptr<unsigned char[]> larger(new (std::nothrow) unsigned char[room * 2]);
    if (!larger) return false;
    std::memcpy(larger.get(), output->get(), done);
    *output = std::move(larger);
    room *= 2;
    zs.next_out = output->get() + done;
    zs.avail_out = static_cast<uInt>(room - done);
  }
  *outputLength = room - zs.avail_out;
  return true;
}

}  // namespace korbel
