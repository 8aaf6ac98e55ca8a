#include "zip/codec/deflate_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <new>

#include "zip/codec/block_compressor.h"
#include "zip/codec/codec_pump.h"
#include "zip/codec/deflate64_decoder.h"

namespace korbel {
namespace {

constexpr char kInitFailed[] = "Initialisierungsfehler";
constexpr char kReadFailed[] = "Fehler beim Lesen aus Datei !";
constexpr char kWriteFailed[] = "Fehler beim Schreiben in Datei !";
constexpr char kCompressFailed[] = "Fehler beim Komprimieren";
constexpr char kBadData[] = "Ung\374ldige Huffmann-Tabelle !";

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kWriteFailed, kCodecOutputFull,
                                          kTextOutputAreaFull};

// Input is read in pieces of this size for both directions.
constexpr std::size_t kInputSize = 16384;
// Raw Deflate: negative window bits leave out the zlib header and trailer.
constexpr int kRawWindowBits = -15;
constexpr int kMemoryLevel = 8;
// No Deflate stream expands its input more than this (a 258-byte match per
// bit or so), so a stated size beyond it cannot be true.
constexpr std::uint64_t kLargestExpansion = 1032;
// Own output is handed on in pieces of this size, so that a sink sees
// moderate blocks and progress moves.
constexpr std::size_t kDeliveryPiece = std::size_t{1} << 20;

// What the Deflate64 decoder's callbacks need: the codec's own sides are
// reached through its public Read and Write.
struct Deflate64Io {
  DataStream* stream;
  unsigned char* buffer;
  bool outputFull;
  std::uint64_t written;
};

long ReadForDeflate64(void* context, const unsigned char** data) {
  auto* io = static_cast<Deflate64Io*>(context);
  const std::int64_t got = io->stream->Read(io->buffer, kInputSize);
  *data = io->buffer;
  return got < 0 ? -1 : static_cast<long>(got);
}

int WriteForDeflate64(void* context, const unsigned char* data, unsigned long size) {
  auto* io = static_cast<Deflate64Io*>(context);
  const std::int64_t put = io->stream->Write(data, size);
  if (put > 0) io->written += static_cast<std::uint64_t>(put);
  if (put >= 0 && static_cast<std::uint64_t>(put) == size) return 0;
  // A memory side takes what fits and then has no room left.
  if (put >= 0 && io->stream->OutputKind() == SideKind::kMemory) io->outputFull = true;
  return 1;
}

// zlib's deflate as a step of the compression pump.
class DeflateStep {
 public:
  explicit DeflateStep(z_stream& zs) : zs_(zs) {}
  void Feed(const unsigned char* data, std::size_t size) {
    zs_.next_in = const_cast<unsigned char*>(data);
    zs_.avail_in = static_cast<uInt>(size);
  }
  CodecFailure ReadFailure() const { return {kCodecReadFailed, kReadFailed}; }
  StepResult Step(unsigned char* out, std::size_t room, bool finish) {
    zs_.next_out = out;
    zs_.avail_out = static_cast<uInt>(room);
    const int result = deflate(&zs_, finish ? Z_FINISH : Z_NO_FLUSH);
    StepResult step;
    step.produced = room - zs_.avail_out;
    // Deflate until it has taken the piece (or, finishing, written its end).
    step.done = zs_.avail_out != 0 || result == Z_STREAM_END;
    if (result == Z_STREAM_ERROR) step.failure = {kCodecDataError, kCompressFailed};
    return step;
  }

 private:
  z_stream& zs_;
};

// zlib's inflate as a step of the decompression pump. A stream that runs
// past its stated size stops before handing on more.
class InflateStep {
 public:
  InflateStep(z_stream& zs, std::uint64_t expected, const Codec& codec)
      : zs_(zs), expected_(expected), codec_(codec) {}
  void Feed(const unsigned char* data, std::size_t size) {
    zs_.next_in = const_cast<unsigned char*>(data);
    zs_.avail_in = static_cast<uInt>(size);
  }
  std::size_t Pending() const { return zs_.avail_in; }
  CodecFailure ReadFailure() const { return {kCodecReadFailed, kReadFailed}; }
  // The input ended inside the stream.
  CodecFailure EndFailure() const { return {kCodecDataError, kBadData}; }
  StepResult Step(unsigned char* out, std::size_t room, bool) {
    zs_.next_out = out;
    zs_.avail_out = static_cast<uInt>(room);
    const int result = inflate(&zs_, Z_SYNC_FLUSH);
    StepResult step;
    step.produced = room - zs_.avail_out;
    if (step.produced > expected_ - codec_.UncompressedCount()) {
      step.refused = {kCodecDataError, kBadData};
    }
    step.done = result == Z_STREAM_END;
    if (!step.done && result != Z_OK && result != Z_BUF_ERROR) {
      step.failure = {kCodecDataError, kBadData};
    }
    return step;
  }
  // With input and output room, inflate always moves; if it did not,
  // looping again would not either.
  CodecFailure StallFailure(bool starved, bool) const {
    return starved ? kNoFailure : CodecFailure{kCodecDataError, kBadData};
  }

 private:
  z_stream& zs_;
  const std::uint64_t expected_;
  const Codec& codec_;
};

}  // namespace

struct DeflateCodec::Streams {
  z_stream deflater{};
  z_stream inflater{};
  bool deflaterReady = false;
  int deflaterLevel = -1;
  bool inflaterReady = false;
  BlockCompressor compressor;
  libdeflate_decompressor* decompressor = nullptr;

  ~Streams() {
    if (deflaterReady) deflateEnd(&deflater);
    if (inflaterReady) inflateEnd(&inflater);
    if (decompressor != nullptr) libdeflate_free_decompressor(decompressor);
  }
};

DeflateCodec::DeflateCodec() = default;
DeflateCodec::~DeflateCodec() = default;

void DeflateCodec::ReleaseBuffers() {
  streams_.reset();
  wholeInput_.Release();
  wholeOutput_.Release();
  deflate64_.reset();
  Codec::ReleaseBuffers();
}

std::uint64_t DeflateCodec::Compress(int level) {
  const int used = BeginCompression(level, 0, 9);
  SetMode(used > 0 ? kDeflate : kStored);
  if (used == 0) return StoredCopy();
  const std::int64_t bound = InputBound();
  if (bound >= static_cast<std::int64_t>(kWholeBlockMinimum) &&
      static_cast<std::uint64_t>(bound) <= wholeBlockLimit_) {
    return DeflateWhole(used, static_cast<std::size_t>(bound));
  }
  return Deflate(used);
}

unsigned char* DeflateCodec::Reserve(ReusableBlock* block, std::size_t size) {
  unsigned char* data = block->Reserve(size, kWholeBlockLimit + 4096);
  if (data == nullptr) Fail(kCodecNoMemory, kTextNoMemory);
  return data;
}

const unsigned char* DeflateCodec::TakeWholeInput(std::size_t bound, std::size_t* length) {
  const unsigned char* block = TakeInputBlock(length);
  if (block != nullptr) return block;
  unsigned char* buffer = Reserve(&wholeInput_, bound);
  std::size_t filled = 0;
  while (filled < bound) {
    const std::int64_t got = Read(buffer + filled, bound - filled);
    if (got < 0) Fail(kCodecReadFailed, kReadFailed);
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  *length = filled;
  return buffer;
}

void DeflateCodec::DeliverBlock(const unsigned char* data, std::size_t length, bool compressed) {
  for (std::size_t done = 0; done < length;) {
    const std::size_t piece = std::min(kDeliveryPiece, length - done);
    const std::int64_t written = Write(data + done, piece);
    const std::uint64_t taken = written > 0 ? static_cast<std::uint64_t>(written) : 0;
    if (compressed) {
      CountCompressed(taken);
    } else {
      CountUncompressed(taken);
    }
    if (written < 0 || static_cast<std::size_t>(written) != piece) {
      // A memory side took what fits and has no room left.
      if (written >= 0 && OutputKind() == SideKind::kMemory) Fail(kCodecOutputFull, kTextOutputAreaFull);
      Fail(kCodecWriteFailed, kWriteFailed);
    }
    done += piece;
  }
}

std::uint64_t DeflateCodec::DeflateWhole(int level, std::size_t bound) {
  if (!streams_) streams_.reset(new (std::nothrow) Streams);
  if (!streams_) Fail(kCodecNoMemory, kTextNoMemory);
  BlockCompressor& compressor = streams_->compressor;
  if (!compressor.SetLevel(level)) Fail(kCodecSetupFailed, kInitFailed);

  std::size_t length = 0;
  const unsigned char* input = TakeWholeInput(bound, &length);
  CountUncompressed(length);
  const std::size_t room = compressor.Bound(length);
  // A memory output with room for the worst case takes the data in place.
  const bool inPlace = OutputKind() == SideKind::kMemory && OutputRoom() >= room;
  unsigned char* output = inPlace ? OutputArea() : Reserve(&wholeOutput_, room);
  const std::size_t produced = compressor.Compress(input, length, output, room);
  if (produced == 0) Fail(kCodecDataError, kCompressFailed);
  if (inPlace) {
    CommitOutput(produced);
    CountCompressed(produced);
  } else {
    DeliverBlock(output, produced, true);
  }
  NoteExpansion();
  FinishOutput(kOutputTexts);
  return CompressedCount();
}

std::uint64_t DeflateCodec::Deflate(int level) {
  if (!streams_) streams_.reset(new (std::nothrow) Streams);
  if (!streams_) Fail(kCodecNoMemory, kTextNoMemory);
  z_stream& zs = streams_->deflater;
  if (streams_->deflaterReady && streams_->deflaterLevel != level) {
    deflateEnd(&zs);
    streams_->deflaterReady = false;
  }
  if (streams_->deflaterReady) {
    if (deflateReset(&zs) != Z_OK) Fail(kCodecSetupFailed, kInitFailed);
  } else {
    zs = z_stream{};
    if (deflateInit2(&zs, level, Z_DEFLATED, kRawWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
      Fail(kCodecSetupFailed, kInitFailed);
    }
    streams_->deflaterReady = true;
    streams_->deflaterLevel = level;
  }

  DeflateStep step(zs);
  PumpCompression(step, InputBuffer(kInputSize, kTextNoMemory), kInputSize, WorkOutput(kTextNoMemory),
                  kOutputTexts);
  return CompressedCount();
}

std::uint64_t DeflateCodec::Decompress(int mode) {
  switch (BeginDecompression(mode)) {
    case kStored:
      return StoredCopy();
    case kDeflate64:
      return InflateDeflate64();
    case kDeflate: {
      // Whole only when the stated size is one that the input could give.
      const std::int64_t bound = InputBound();
      const std::uint64_t expected = ExpectedSize();
      const bool whole = bound > 0 && static_cast<std::uint64_t>(bound) <= wholeBlockLimit_ &&
                         expected <= wholeBlockLimit_ &&
                         expected <= static_cast<std::uint64_t>(bound) * kLargestExpansion;
      return whole ? InflateWhole(static_cast<std::size_t>(bound)) : Inflate();
    }
    default:
      break;
  }
  Fail(kCodecSetupFailed, kTextBadMode);
}

std::uint64_t DeflateCodec::InflateWhole(std::size_t bound) {
  if (!streams_) streams_.reset(new (std::nothrow) Streams);
  if (!streams_) Fail(kCodecNoMemory, kTextNoMemory);
  if (streams_->decompressor == nullptr) {
    streams_->decompressor = libdeflate_alloc_decompressor();
    if (streams_->decompressor == nullptr) Fail(kCodecSetupFailed, kInitFailed);
  }
  const auto expected = static_cast<std::size_t>(ExpectedSize());
  std::size_t length = 0;
  const unsigned char* input = TakeWholeInput(bound, &length);
  const bool inPlace = OutputKind() == SideKind::kMemory && OutputRoom() >= expected;
  unsigned char* output = inPlace ? OutputArea() : Reserve(&wholeOutput_, expected);
  std::size_t used = 0;
  std::size_t produced = 0;
  const libdeflate_result result = libdeflate_deflate_decompress_ex(streams_->decompressor, input, length,
                                                                    output, expected, &used, &produced);
  if (result != LIBDEFLATE_SUCCESS) {
    // Too short an input, a broken stream, or more data than stated.
    CountCompressed(length);
    Fail(kCodecDataError, kBadData);
  }
  CountCompressed(used);
  if (produced != expected) Fail(kCodecDataError, kBadData);
  if (inPlace) {
    CommitOutput(produced);
    CountUncompressed(produced);
  } else {
    DeliverBlock(output, produced, false);
  }
  return UncompressedCount();
}

std::uint64_t DeflateCodec::Inflate() {
  if (!streams_) streams_.reset(new (std::nothrow) Streams);
  if (!streams_) Fail(kCodecNoMemory, kTextNoMemory);
  z_stream& zs = streams_->inflater;
  if (streams_->inflaterReady) {
    if (inflateReset(&zs) != Z_OK) Fail(kCodecSetupFailed, kInitFailed);
  } else {
    zs = z_stream{};
    if (inflateInit2(&zs, kRawWindowBits) != Z_OK) Fail(kCodecSetupFailed, kInitFailed);
    streams_->inflaterReady = true;
  }

  const std::uint64_t expected = ExpectedSize();
  zs.avail_in = 0;
  InflateStep step(zs, expected, *this);
  PumpDecompression(step, InputBuffer(kInputSize, kTextNoMemory), kInputSize, WorkOutput(kTextNoMemory),
                    kWorkBufferSize, kOutputTexts);
  if (expected != kUnknownSize && UncompressedCount() != expected) Fail(kCodecDataError, kBadData);
  return UncompressedCount();
}

std::uint64_t DeflateCodec::InflateDeflate64() {
  if (!deflate64_) deflate64_.reset(new (std::nothrow) Deflate64Decoder);
  if (!deflate64_) Fail(kCodecNoMemory, kTextNoMemory);
  Deflate64Io io{this, InputBuffer(kInputSize, kTextNoMemory), false, 0};
  unsigned long long bytesIn = 0;
  const Deflate64Result result =
      deflate64_->Run(ReadForDeflate64, &io, WriteForDeflate64, &io, &bytesIn, nullptr);
  CountCompressed(bytesIn);
  CountUncompressed(io.written);
  switch (result) {
    case Deflate64Result::kStreamEnd:
      return UncompressedCount();
    case Deflate64Result::kWriteFailed:
      if (io.outputFull) Fail(kCodecOutputFull, kTextOutputAreaFull);
      Fail(kCodecWriteFailed, kWriteFailed);
    case Deflate64Result::kReadFailed:
      Fail(kCodecReadFailed, kReadFailed);
    case Deflate64Result::kNoMemory:
      Fail(kCodecNoMemory, kTextNoMemory);
    default:
      Fail(kCodecDataError, kBadData);
  }
}

}  // namespace korbel
