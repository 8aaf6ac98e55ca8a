#include "zip/codec/xz_codec.h"

#include <lzma.h>

#include <new>

namespace korbel {
namespace {

// The outcomes of an XZ run, numbered as the failure table counts them.
enum XzResult : int {
  kXzDataError = 1,
  kXzNoMemory = 2,
  kXzCrcError = 3,
  kXzUnsupported = 4,
  kXzBadParameter = 5,
  kXzInputEnded = 6,
  kXzOutputEnded = 7,
  kXzReadFailed = 8,
  kXzWriteFailed = 9,
  kXzStalled = 11,
  kXzNotXz = 17,
};

struct XzFailure {
  int result;
  int kind;
  const char* text;
};

constexpr XzFailure kXzFailures[] = {
    {kXzDataError, kCodecOutputFull, "Datenfehler"},
    {kXzNoMemory, kCodecNoMemory, "Zuwenig Speicher"},
    {kXzCrcError, kCodecDataError, "Flasche CRC-Summe"},
    {kXzUnsupported, kCodecOutputFull, "Funktion wird nicht unterst\xFC" "tzt"},
    {kXzBadParameter, kCodecOutputFull, "Falscher Parameter"},
    {kXzInputEnded, kCodecInputEnded, "Ende der Eingabe erreicht"},
    {kXzOutputEnded, kCodecWriteFailed, "Ende der Ausgabe erreicht"},
    {kXzReadFailed, kCodecReadFailed, "Lesefehler"},
    {kXzWriteFailed, kCodecWriteFailed, "Schreibfehler"},
    {kXzNotXz, kCodecDataError, "Falsches Archivformat"},
};
constexpr XzFailure kXzUnknownFailure{0, kCodecDataError, "Unbekannter XZ Fehler"};

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, "Schreibfehler", kCodecWriteFailed,
                                          "Ende der Ausgabe erreicht"};

constexpr std::size_t kInputSize = 32768;
constexpr std::size_t kOutputSize = std::size_t{2} << 20;
// The stream's headers choose the dictionary; past this much memory the
// library refuses the stream (as too little memory) instead of allocating.
constexpr std::uint64_t kDecoderMemoryLimit = std::uint64_t{1} << 30;

// liblzma does not tell a wrong check value from other damage: both are
// data errors.
int ResultOf(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return kXzNoMemory;
    case LZMA_FORMAT_ERROR: return kXzNotXz;
    case LZMA_OPTIONS_ERROR:
    case LZMA_UNSUPPORTED_CHECK: return kXzUnsupported;
    case LZMA_DATA_ERROR: return kXzDataError;
    case LZMA_PROG_ERROR: return kXzBadParameter;
    case LZMA_BUF_ERROR: return kXzInputEnded;
    default: return kXzStalled;
  }
}

struct XzStream {
  lzma_stream stream = LZMA_STREAM_INIT;
  XzStream() = default;
  ~XzStream() { lzma_end(&stream); }
  XzStream(const XzStream&) = delete;
  XzStream& operator=(const XzStream&) = delete;
};

}  // namespace

XzCodec::XzCodec() = default;
XzCodec::~XzCodec() = default;

void XzCodec::ReleaseBuffers() {
  input_.reset();
  output_.reset();
  Codec::ReleaseBuffers();
}

void XzCodec::FailWithResult(int result) {
  for (const XzFailure& failure : kXzFailures) {
    if (failure.result == result) Fail(failure.kind, failure.text);
  }
  Fail(kXzUnknownFailure.kind, kXzUnknownFailure.text);
}

unsigned char* XzCodec::InputBuffer() {
  if (!input_) input_.reset(new (std::nothrow) unsigned char[kInputSize]);
  if (!input_) FailWithResult(kXzNoMemory);
  return input_.get();
}

unsigned char* XzCodec::OutputBuffer() {
  if (OutputKind() == SideKind::kMemory) return nullptr;
  if (!output_) output_.reset(new (std::nothrow) unsigned char[kOutputSize]);
  if (!output_) FailWithResult(kXzNoMemory);
  return output_.get();
}

std::uint64_t XzCodec::Compress(int level) {
  BeginCompression(level, 0, 9);
  SetMode(8);
  XzStream coder;
  lzma_stream& zs = coder.stream;
  const lzma_ret started = lzma_easy_encoder(&zs, LZMA_PRESET_DEFAULT, LZMA_CHECK_CRC64);
  if (started != LZMA_OK) FailWithResult(started == LZMA_MEM_ERROR ? kXzNoMemory : kXzBadParameter);

  unsigned char* input = InputBuffer();
  unsigned char* work = nullptr;
  if (OutputKind() != SideKind::kMemory) {
    work = WorkBuffer();
    if (work == nullptr) FailWithResult(kXzNoMemory);
  }
  lzma_action action = LZMA_RUN;
  lzma_ret result = LZMA_OK;
  while (action != LZMA_FINISH) {
    const std::int64_t got = Read(input, kInputSize);
    // A read that fails after data came in counts as the end of the input.
    if (got < 0) FailWithResult(BytesRead() == 0 ? kXzReadFailed : kXzInputEnded);
    CountUncompressed(static_cast<std::uint64_t>(got));
    action = got == 0 ? LZMA_FINISH : LZMA_RUN;
    zs.next_in = input;
    zs.avail_in = static_cast<std::size_t>(got);
    do {
      const OutputSpan span = BeginOutput(work, kWorkBufferSize);
      zs.next_out = span.data;
      zs.avail_out = span.size;
      result = lzma_code(&zs, action);
      const std::size_t produced = span.size - zs.avail_out;
      DeliverOutput(span, produced, kOutputTexts);
      CountCompressed(produced);
      if (result != LZMA_OK && result != LZMA_STREAM_END) FailWithResult(ResultOf(result));
    } while (action == LZMA_RUN ? zs.avail_in > 0 : result != LZMA_STREAM_END);
  }
  NoteExpansion();
  FinishOutput(kOutputTexts);
  return CompressedCount();
}

std::uint64_t XzCodec::Decompress(int mode) {
  BeginDecompression(mode);
  XzStream coder;
  lzma_stream& zs = coder.stream;
  const lzma_ret started = lzma_stream_decoder(&zs, kDecoderMemoryLimit, 0);
  if (started != LZMA_OK) FailWithResult(started == LZMA_MEM_ERROR ? kXzNoMemory : kXzBadParameter);

  unsigned char* input = InputBuffer();
  unsigned char* work = OutputBuffer();
  bool inputEnded = false;
  bool starved = true;  // the last call left output room, so it wants input
  for (;;) {
    if (zs.avail_in == 0 && starved && !inputEnded) {
      const std::int64_t got = Read(input, kInputSize);
      if (got < 0) FailWithResult(BytesRead() == 0 ? kXzReadFailed : kXzInputEnded);
      inputEnded = got == 0;
      zs.next_in = input;
      zs.avail_in = static_cast<std::size_t>(got);
    }
    const std::size_t before = zs.avail_in;
    const OutputSpan span = BeginOutput(work, kOutputSize);
    zs.next_out = span.data;
    zs.avail_out = span.size;
    const lzma_ret result = lzma_code(&zs, inputEnded ? LZMA_FINISH : LZMA_RUN);
    const std::size_t produced = span.size - zs.avail_out;
    CountCompressed(before - zs.avail_in);
    DeliverOutput(span, produced, kOutputTexts);
    CountUncompressed(produced);
    if (result == LZMA_STREAM_END) break;
    if (result != LZMA_OK) FailWithResult(ResultOf(result));
    starved = zs.avail_out != 0;
    // A stall before the end of the stream is a failure: with the input
    // finished, the stream was cut short.
    if (produced == 0 && before == zs.avail_in && starved) {
      FailWithResult(inputEnded ? kXzInputEnded : kXzStalled);
    }
  }
  return UncompressedCount();
}

}  // namespace korbel
