#include "zip/codec/zstd_codec.h"

#include <zstd.h>
#include <zstd_errors.h>

#include "zip/codec/codec_pump.h"

namespace korbel {
namespace {

constexpr CodecFailure kDataError{kCodecDataError, "Datenfehler"};
constexpr CodecFailure kChecksumError{kCodecDataError, "Falsche Pr\374fsumme"};
constexpr CodecFailure kNoMemory{kCodecNoMemory, "Zuwenig Speicher"};
constexpr CodecFailure kInputEnded{kCodecInputEnded, "Ende der Eingabe erreicht"};
constexpr CodecFailure kReadFailed{kCodecReadFailed, "Lesefehler"};
constexpr CodecFailure kStalled{kCodecDataError, "Unbekannter Zstandard Fehler"};

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, "Schreibfehler", kCodecWriteFailed,
                                          "Ende der Ausgabe erreicht"};

constexpr std::size_t kInputSize = 32768;
constexpr std::size_t kOutputSize = std::size_t{2} << 20;
// A frame names its window; a hostile one must not take gigabytes. 2^27
// (128 MiB) is the largest window writers use unless told otherwise.
constexpr int kWindowLogLimit = 27;

CodecFailure FailureOf(std::size_t result) {
  switch (ZSTD_getErrorCode(result)) {
    case ZSTD_error_memory_allocation:
    case ZSTD_error_frameParameter_windowTooLarge:
      return kNoMemory;
    case ZSTD_error_checksum_wrong:
      return kChecksumError;
    default:
      return kDataError;
  }
}

struct DecoderContext {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  DecoderContext() = default;
  ~DecoderContext() { ZSTD_freeDCtx(context); }
  DecoderContext(const DecoderContext&) = delete;
  DecoderContext& operator=(const DecoderContext&) = delete;
};

// The decompression adapter for the pump. An entry may hold several frames
// one after the other; the data is complete when the input ends between two
// of them.
class ZstdDecompressStep {
 public:
  ZstdDecompressStep(ZSTD_DCtx* context, const DataStream& stream) : context_(context), stream_(stream) {}

  void Feed(const unsigned char* data, std::size_t size) { input_ = {data, size, 0}; }
  std::size_t Pending() const { return input_.size - input_.pos; }
  CodecFailure ReadFailure() const { return stream_.BytesRead() == 0 ? kReadFailed : kInputEnded; }
  CodecFailure EndFailure() const { return kNoFailure; }

  StepResult Step(unsigned char* out, std::size_t room, bool inputEnded) {
    ZSTD_outBuffer output{out, room, 0};
    const std::size_t before = input_.pos;
    const std::size_t result = ZSTD_decompressStream(context_, &output, &input_);
    StepResult step;
    step.produced = output.pos;
    if (ZSTD_isError(result)) {
      step.failure = FailureOf(result);
      return step;
    }
    // A call without input or output past a frame's end says nothing new.
    if (input_.pos != before || output.pos != 0 || result == 0) betweenFrames_ = result == 0;
    step.done = betweenFrames_ && inputEnded && Pending() == 0;
    return step;
  }

  CodecFailure StallFailure(bool starved, bool inputEnded) const {
    if (!starved || betweenFrames_) return kNoFailure;
    return inputEnded ? kInputEnded : kStalled;
  }

 private:
  ZSTD_DCtx* context_;
  const DataStream& stream_;
  ZSTD_inBuffer input_{nullptr, 0, 0};
  bool betweenFrames_ = false;
};

}  // namespace

std::uint64_t ZstdCodec::Decompress(int mode) {
  BeginDecompression(mode);
  DecoderContext decoder;
  if (decoder.context == nullptr) Fail(kNoMemory);
  if (ZSTD_isError(ZSTD_DCtx_setParameter(decoder.context, ZSTD_d_windowLogMax, kWindowLogLimit)))
    Fail(kNoMemory);
  unsigned char* input = InputBuffer(kInputSize, kNoMemory.text);
  unsigned char* work = WorkOutput(kOutputSize, kNoMemory.text);
  ZstdDecompressStep step(decoder.context, *this);
  PumpDecompression(step, input, kInputSize, work, kOutputSize, kOutputTexts);
  return UncompressedCount();
}

}  // namespace korbel
