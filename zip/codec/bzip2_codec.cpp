#include "zip/codec/bzip2_codec.h"

#include <bzlib.h>

#include <new>

#include "zip/codec/codec_pump.h"

namespace korbel {
namespace {

constexpr char kInitFailed[] = "Fehler bei Initialisierung";
constexpr char kCompressFailed[] = "Fehler beim Komprmieren";
constexpr char kBadData[] = "Ung\374ltiges BZIP Format";

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kTextWriteFailed, kCodecOutputFull,
                                          kTextOutputAreaFull};

constexpr std::size_t kReadSize = 8192;
// The input buffer keeps a little slack beyond the largest read.
constexpr std::size_t kInputBufferSize = 8208;

}  // namespace

// The library's stream record; `active` says which direction holds library
// state that has to be ended, whatever way a run leaves.
struct BZip2Codec::Stream {
  bz_stream record{};
  enum class Active { kNone, kCompress, kDecompress } active = Active::kNone;

  void End() {
    if (active == Active::kCompress) BZ2_bzCompressEnd(&record);
    if (active == Active::kDecompress) BZ2_bzDecompressEnd(&record);
    active = Active::kNone;
  }
  ~Stream() { End(); }
};

namespace {

// Ends the library state of a run on every way out of it.
template <typename Stream>
class EndOnExit {
 public:
  explicit EndOnExit(Stream& stream) : stream_(stream) {}
  ~EndOnExit() { stream_.End(); }
  EndOnExit(const EndOnExit&) = delete;
  EndOnExit& operator=(const EndOnExit&) = delete;

 private:
  Stream& stream_;
};

// The library's record fed and stepped by the codec pumps.
class BZip2Feed {
 public:
  explicit BZip2Feed(bz_stream& bz) : bz_(bz) {}
  void Feed(const unsigned char* data, std::size_t size) {
    bz_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(data));
    bz_.avail_in = static_cast<unsigned>(size);
  }
  std::size_t Pending() const { return bz_.avail_in; }
  CodecFailure ReadFailure() const { return {kCodecReadFailed, kTextReadFailed}; }

 protected:
  void Offer(unsigned char* out, std::size_t room) {
    bz_.next_out = reinterpret_cast<char*>(out);
    bz_.avail_out = static_cast<unsigned>(room);
  }
  bz_stream& bz_;
};

class BZip2CompressStep : public BZip2Feed {
 public:
  using BZip2Feed::BZip2Feed;
  StepResult Step(unsigned char* out, std::size_t room, bool finish) {
    Offer(out, room);
    const int result = BZ2_bzCompress(&bz_, finish ? BZ_FINISH : BZ_RUN);
    StepResult step;
    step.produced = room - bz_.avail_out;
    step.done = finish ? result == BZ_STREAM_END : bz_.avail_in == 0;
    if (result < 0) step.failure = {kCodecDataError, kCompressFailed};
    return step;
  }
};

class BZip2DecompressStep : public BZip2Feed {
 public:
  using BZip2Feed::BZip2Feed;
  // The input ended inside the stream.
  CodecFailure EndFailure() const { return {kCodecDataError, kBadData}; }
  StepResult Step(unsigned char* out, std::size_t room, bool) {
    Offer(out, room);
    const int result = BZ2_bzDecompress(&bz_);
    StepResult step;
    step.produced = room - bz_.avail_out;
    step.done = result == BZ_STREAM_END;
    if (result == BZ_MEM_ERROR) {
      step.failure = {kCodecNoMemory, kTextNoMemory};
    } else if (!step.done && result != BZ_OK) {
      step.failure = {kCodecDataError, kBadData};
    }
    return step;
  }
  CodecFailure StallFailure(bool starved, bool) const {
    return starved ? kNoFailure : CodecFailure{kCodecDataError, kBadData};
  }
};

}  // namespace

BZip2Codec::BZip2Codec() = default;
BZip2Codec::~BZip2Codec() = default;

void BZip2Codec::ReleaseBuffers() {
  stream_.reset();
  Codec::ReleaseBuffers();
}

BZip2Codec::Stream& BZip2Codec::PrepareStream() {
  if (!stream_) stream_.reset(new (std::nothrow) Stream);
  if (!stream_) Fail(kCodecNoMemory, kTextNoMemory);
  stream_->End();
  stream_->record = bz_stream{};
  return *stream_;
}

std::uint64_t BZip2Codec::Compress(int level) {
  const int used = BeginCompression(level, 0, 9);
  SetMode(kBZip2);
  unsigned char* input = InputBuffer(kInputBufferSize, kTextNoMemory);
  Stream& stream = PrepareStream();
  bz_stream& bz = stream.record;
  const int started = BZ2_bzCompressInit(&bz, used > 0 ? used : 1, 0, 0);
  if (started == BZ_MEM_ERROR) Fail(kCodecNoMemory, kTextNoMemory);
  if (started != BZ_OK) Fail(kCodecDataError, kInitFailed);
  stream.active = Stream::Active::kCompress;
  const EndOnExit<Stream> ender(stream);

  BZip2CompressStep step(bz);
  PumpCompression(step, input, kReadSize, WorkOutput(kTextNoMemory), kOutputTexts);
  return CompressedCount();
}

std::uint64_t BZip2Codec::Decompress(int mode) {
  switch (BeginDecompression(mode)) {
    case kStored:
      return StoredCopy();
    case kBZip2:
      return Unpack();
    default:
      Fail(kCodecSetupFailed, kTextBadMode);
  }
}

std::uint64_t BZip2Codec::Unpack() {
  unsigned char* input = InputBuffer(kInputBufferSize, kTextNoMemory);
  Stream& stream = PrepareStream();
  bz_stream& bz = stream.record;
  const int started = BZ2_bzDecompressInit(&bz, 0, 0);
  if (started == BZ_MEM_ERROR) Fail(kCodecNoMemory, kTextNoMemory);
  if (started != BZ_OK) Fail(kCodecDataError, kInitFailed);
  stream.active = Stream::Active::kDecompress;
  const EndOnExit<Stream> ender(stream);

  BZip2DecompressStep step(bz);
  PumpDecompression(step, input, kReadSize, WorkOutput(kTextNoMemory), kWorkBufferSize, kOutputTexts);
  return UncompressedCount();
}

}  // namespace korbel
