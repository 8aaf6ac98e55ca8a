#include "zip/codec/bzip2_codec.h"

#include <bzlib.h>

#include <new>

namespace korbel {
namespace {

constexpr char kInitFailed[] = "Fehler bei Initialisierung";
constexpr char kNoMemory[] = "Zu wenig Speicher";
constexpr char kReadFailed[] = "Fehler beim Lesen";
constexpr char kWriteFailed[] = "Fehler beim Schreiben in die Datei";
constexpr char kCompressFailed[] = "Fehler beim Komprmieren";
constexpr char kBadData[] = "Ung\xFC" "ltiges BZIP Format";
constexpr char kOutputAreaFull[] = "Fehler Speicher\xFC" "berlauf des Ausgabepuffers";
constexpr char kBadMode[] = "Falscher Modus beim Entkomprimieren !";

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kWriteFailed, kCodecOutputFull,
                                          kOutputAreaFull};

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

}  // namespace

BZip2Codec::BZip2Codec() = default;
BZip2Codec::~BZip2Codec() = default;

void BZip2Codec::ReleaseBuffers() {
  stream_.reset();
  input_.reset();
  Codec::ReleaseBuffers();
}

BZip2Codec::Stream& BZip2Codec::PrepareStream() {
  if (!stream_) stream_.reset(new (std::nothrow) Stream);
  if (!input_) input_.reset(new (std::nothrow) unsigned char[kInputBufferSize]);
  if (!stream_ || !input_) Fail(kCodecNoMemory, kNoMemory);
  stream_->End();
  stream_->record = bz_stream{};
  return *stream_;
}

unsigned char* BZip2Codec::WorkOutput() {
  if (OutputKind() == SideKind::kMemory) return nullptr;
  unsigned char* work = WorkBuffer();
  if (work == nullptr) Fail(kCodecNoMemory, kNoMemory);
  return work;
}

std::uint64_t BZip2Codec::Compress(int level) {
  const int used = BeginCompression(level, 0, 9);
  SetMode(kBZip2);
  Stream& stream = PrepareStream();
  bz_stream& bz = stream.record;
  const int started = BZ2_bzCompressInit(&bz, used > 0 ? used : 1, 0, 0);
  if (started == BZ_MEM_ERROR) Fail(kCodecNoMemory, kNoMemory);
  if (started != BZ_OK) Fail(kCodecDataError, kInitFailed);
  stream.active = Stream::Active::kCompress;
  const EndOnExit<Stream> ender(stream);

  unsigned char* input = input_.get();
  unsigned char* work = WorkOutput();
  int action = BZ_RUN;
  while (action != BZ_FINISH) {
    const std::int64_t got = Read(input, kReadSize);
    if (got < 0) Fail(kCodecReadFailed, kReadFailed);
    CountUncompressed(static_cast<std::uint64_t>(got));
    action = got == 0 ? BZ_FINISH : BZ_RUN;
    bz.next_in = reinterpret_cast<char*>(input);
    bz.avail_in = static_cast<unsigned>(got);
    int result = BZ_RUN_OK;
    do {
      const OutputSpan span = BeginOutput(work, kWorkBufferSize);
      bz.next_out = reinterpret_cast<char*>(span.data);
      bz.avail_out = static_cast<unsigned>(span.size);
      result = BZ2_bzCompress(&bz, action);
      if (result < 0) Fail(kCodecDataError, kCompressFailed);
      const std::size_t produced = span.size - bz.avail_out;
      DeliverOutput(span, produced, kOutputTexts);
      CountCompressed(produced);
    } while (action == BZ_RUN ? bz.avail_in > 0 : result != BZ_STREAM_END);
  }
  NoteExpansion();
  FinishOutput(kOutputTexts);
  return CompressedCount();
}

std::uint64_t BZip2Codec::Decompress(int mode) {
  switch (BeginDecompression(mode)) {
    case kStored: return StoredCopy();
    case kBZip2: return Unpack();
    default: Fail(kCodecSetupFailed, kBadMode);
  }
}

std::uint64_t BZip2Codec::Unpack() {
  Stream& stream = PrepareStream();
  bz_stream& bz = stream.record;
  const int started = BZ2_bzDecompressInit(&bz, 0, 0);
  if (started == BZ_MEM_ERROR) Fail(kCodecNoMemory, kNoMemory);
  if (started != BZ_OK) Fail(kCodecDataError, kInitFailed);
  stream.active = Stream::Active::kDecompress;
  const EndOnExit<Stream> ender(stream);

  unsigned char* input = input_.get();
  unsigned char* work = WorkOutput();
  bool starved = true;  // the last call left output room, so it wants input
  for (;;) {
    if (bz.avail_in == 0 && starved) {
      const std::int64_t got = Read(input, kReadSize);
      if (got < 0) Fail(kCodecReadFailed, kReadFailed);
      // The input ended inside the stream.
      if (got == 0) Fail(kCodecDataError, kBadData);
      bz.next_in = reinterpret_cast<char*>(input);
      bz.avail_in = static_cast<unsigned>(got);
    }
    const unsigned before = bz.avail_in;
    const OutputSpan span = BeginOutput(work, kWorkBufferSize);
    bz.next_out = reinterpret_cast<char*>(span.data);
    bz.avail_out = static_cast<unsigned>(span.size);
    const int result = BZ2_bzDecompress(&bz);
    const std::size_t produced = span.size - bz.avail_out;
    CountCompressed(before - bz.avail_in);
    DeliverOutput(span, produced, kOutputTexts);
    CountUncompressed(produced);
    if (result == BZ_STREAM_END) break;
    if (result == BZ_MEM_ERROR) Fail(kCodecNoMemory, kNoMemory);
    if (result != BZ_OK) Fail(kCodecDataError, kBadData);
    starved = bz.avail_out != 0;
    if (produced == 0 && before == bz.avail_in && !starved) Fail(kCodecDataError, kBadData);
  }
  return UncompressedCount();
}

}  // namespace korbel
