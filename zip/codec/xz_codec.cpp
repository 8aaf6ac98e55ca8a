#include "zip/codec/xz_codec.h"

#include <lzma.h>

#include "zip/codec/codec_pump.h"
#include "zip/codec/lzma_stream.h"

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
    {kXzUnsupported, kCodecOutputFull, "Funktion wird nicht unterst\374tzt"},
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
// Enough for a 256 MiB dictionary and the coder around it.
constexpr std::uint64_t kDecoderMemoryLimit = std::uint64_t{320} << 20;

// liblzma does not tell a wrong check value from other damage: both are
// data errors.
int ResultOf(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR:
      return kXzNoMemory;
    case LZMA_FORMAT_ERROR:
      return kXzNotXz;
    case LZMA_OPTIONS_ERROR:
    case LZMA_UNSUPPORTED_CHECK:
      return kXzUnsupported;
    case LZMA_DATA_ERROR:
      return kXzDataError;
    case LZMA_PROG_ERROR:
      return kXzBadParameter;
    case LZMA_BUF_ERROR:
      return kXzInputEnded;
    default:
      return kXzStalled;
  }
}

CodecFailure FailureOf(int result) {
  for (const XzFailure& failure : kXzFailures) {
    if (failure.result == result) return {failure.kind, failure.text};
  }
  return {kXzUnknownFailure.kind, kXzUnknownFailure.text};
}

// Both directions: a read that fails after data came in counts as the end
// of the input.
class XzStep : public LzmaFeed {
 public:
  XzStep(lzma_stream& zs, const DataStream& stream) : LzmaFeed(zs), stream_(stream) {}
  CodecFailure ReadFailure() const {
    return FailureOf(stream_.BytesRead() == 0 ? kXzReadFailed : kXzInputEnded);
  }

 protected:
  static CodecFailure FailureUnless(lzma_ret result, lzma_ret fine) {
    return result == LZMA_OK || result == fine ? kNoFailure : FailureOf(ResultOf(result));
  }

 private:
  const DataStream& stream_;
};

class XzCompressStep : public XzStep {
 public:
  using XzStep::XzStep;
  StepResult Step(unsigned char* out, std::size_t room, bool finish) {
    return CompressStep(out, room, finish,
                        [](lzma_ret result) { return FailureUnless(result, LZMA_STREAM_END); });
  }
};

class XzDecompressStep : public XzStep {
 public:
  using XzStep::XzStep;
  CodecFailure EndFailure() const { return kNoFailure; }
  StepResult Step(unsigned char* out, std::size_t room, bool inputEnded) {
    lzma_ret result = LZMA_OK;
    StepResult step;
    step.produced = Code(out, room, inputEnded ? LZMA_FINISH : LZMA_RUN, &result);
    step.done = result == LZMA_STREAM_END;
    step.failure = FailureUnless(result, LZMA_STREAM_END);
    return step;
  }
  // A stall before the end of the stream is a failure: with the input
  // finished, the stream was cut short.
  CodecFailure StallFailure(bool starved, bool inputEnded) const {
    if (!starved) return kNoFailure;
    return FailureOf(inputEnded ? kXzInputEnded : kXzStalled);
  }
};

}  // namespace

void XzCodec::FailWithResult(int result) { Fail(FailureOf(result)); }

std::uint64_t XzCodec::Compress(int level) {
  BeginCompression(level, 0, 9);
  SetMode(kDefaultMode);
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  const lzma_ret started = lzma_easy_encoder(&zs, LZMA_PRESET_DEFAULT, LZMA_CHECK_CRC64);
  if (started != LZMA_OK) FailWithResult(started == LZMA_MEM_ERROR ? kXzNoMemory : kXzBadParameter);

  const char* noMemory = FailureOf(kXzNoMemory).text;
  unsigned char* input = InputBuffer(kInputSize, noMemory);
  unsigned char* work = WorkOutput(noMemory);
  XzCompressStep step(zs, *this);
  PumpCompression(step, input, kInputSize, work, kOutputTexts);
  return CompressedCount();
}

std::uint64_t XzCodec::Decompress(int mode) {
  BeginDecompression(mode);
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  // The stream's block headers choose the dictionary: a fixed ceiling keeps
  // a hostile header from taking gigabytes (LZMA_MEMLIMIT_ERROR, "no memory").
  const lzma_ret started = lzma_stream_decoder(&zs, kDecoderMemoryLimit, 0);
  if (started != LZMA_OK) FailWithResult(started == LZMA_MEM_ERROR ? kXzNoMemory : kXzBadParameter);

  const char* noMemory = FailureOf(kXzNoMemory).text;
  unsigned char* input = InputBuffer(kInputSize, noMemory);
  unsigned char* work = WorkOutput(kOutputSize, noMemory);
  XzDecompressStep step(zs, *this);
  PumpDecompression(step, input, kInputSize, work, kOutputSize, kOutputTexts);
  return UncompressedCount();
}

}  // namespace korbel
