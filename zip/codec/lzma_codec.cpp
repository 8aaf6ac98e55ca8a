#include "zip/codec/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "zip/codec/codec_pump.h"
#include "zip/codec/lzma_stream.h"

namespace korbel {
namespace {

constexpr char kInputFailed[] = "Fehler beim Einlesen";

// The library has no room-left failure of its own: a full memory area is a
// failed write like any other.
constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kTextSaveFailed, kCodecWriteFailed,
                                          kTextSaveFailed};

// Input is buffered in blocks of this size in both directions.
constexpr std::size_t kInputSize = std::size_t{1} << 20;
constexpr std::size_t kPropertySize = 5;
// The zip LZMA header: encoder version 9.20, then the property size (LE).
constexpr unsigned char kZipHeaderBytes[4] = {9, 20, kPropertySize, 0};
// The decoder never needs a dictionary larger than the data, nor smaller
// than this.
constexpr std::uint32_t kSmallestDictionary = 4096;

struct FreeOptions {
  void operator()(void* options) const { std::free(options); }
};

constexpr CodecFailure kBadParameterFailure{kCodecBadParameter, kTextBadParameter};
constexpr CodecFailure kBadFormatFailure{kCodecDataError, kTextFormatError};

// A call that sets the library up: no memory is its own failure, any other
// refusal is `refused`.
CodecFailure SetupFailure(lzma_ret result, CodecFailure refused) {
  if (result == LZMA_OK) return kNoFailure;
  return result == LZMA_MEM_ERROR ? CodecFailure{kCodecNoMemory, kTextNoMemory} : refused;
}

CodecFailure FailureOf(lzma_ret result, bool decoding) {
  switch (result) {
    case LZMA_OK:
    case LZMA_STREAM_END:
      return kNoFailure;
    case LZMA_MEM_ERROR:
      return {kCodecNoMemory, kTextNoMemory};
    case LZMA_OPTIONS_ERROR:
    case LZMA_PROG_ERROR:
      return {kCodecBadParameter, kTextBadParameter};
    case LZMA_MEMLIMIT_ERROR:
      if (decoding) return {kCodecNoMemory, kTextNoMemory};
      break;
    case LZMA_BUF_ERROR:
      if (decoding) return {kCodecReadFailed, kInputFailed};
      break;
    default:
      break;
  }
  return {kCodecDataError, kTextFormatError};
}

class LzmaCompressStep : public LzmaFeed {
 public:
  using LzmaFeed::LzmaFeed;
  CodecFailure ReadFailure() const { return {kCodecReadFailed, kInputFailed}; }
  StepResult Step(unsigned char* out, std::size_t room, bool finish) {
    return CompressStep(out, room, finish, [](lzma_ret result) { return FailureOf(result, false); });
  }
};

// With a known size the decoder is never asked for more, so whatever
// follows the data (an end marker or nothing) does not matter.
class LzmaDecompressStep : public LzmaFeed {
 public:
  LzmaDecompressStep(lzma_stream& zs, std::uint64_t expected, const Codec& codec)
      : LzmaFeed(zs), expected_(expected), codec_(codec) {}
  CodecFailure ReadFailure() const { return {kCodecReadFailed, kInputFailed}; }
  CodecFailure EndFailure() const { return kNoFailure; }
  StepResult Step(unsigned char* out, std::size_t room, bool inputEnded) {
    const bool known = expected_ != kUnknownSize;
    const std::uint64_t left = expected_ - codec_.UncompressedCount();
    if (known) room = static_cast<std::size_t>(std::min<std::uint64_t>(room, left));
    lzma_ret result = LZMA_OK;
    StepResult step;
    step.produced = Code(out, room, inputEnded ? LZMA_FINISH : LZMA_RUN, &result);
    step.done = (known && step.produced == left) || result == LZMA_STREAM_END;
    if (!step.done) step.failure = FailureOf(result, true);
    return step;
  }
  // No move with the input finished: the data ended inside the stream.
  CodecFailure StallFailure(bool starved, bool inputEnded) const {
    return starved && inputEnded ? CodecFailure{kCodecReadFailed, kInputFailed} : kNoFailure;
  }

 private:
  const std::uint64_t expected_;
  const Codec& codec_;
};

}  // namespace

void LzmaCodec::WriteHeader(int mode, const unsigned char* properties) {
  unsigned char header[sizeof kZipHeaderBytes + kPropertySize + 8];
  std::size_t length = 0;
  if (mode & kZipHeader) {
    std::copy(kZipHeaderBytes, kZipHeaderBytes + sizeof kZipHeaderBytes, header);
    length += sizeof kZipHeaderBytes;
  }
  if (mode & kProperties) {
    std::copy(properties, properties + kPropertySize, header + length);
    length += kPropertySize;
  }
  if (mode & kSizeField) {
    const std::uint64_t size = size_ < 0 ? kUnknownSize : static_cast<std::uint64_t>(size_);
    for (int i = 0; i < 8; ++i) header[length++] = static_cast<unsigned char>(size >> (8 * i));
  }
  if (length == 0) return;
  WriteHeaderBytes(header, length, kTextSaveFailed);
}

std::uint64_t LzmaCodec::Compress(int level) {
  const int used = BeginCompression(level, 0, 9);
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, static_cast<std::uint32_t>(used))) {
    Fail(kCodecBadParameter, kTextBadParameter);
  }
  // Without a known size the decoder needs the end marker to stop; with
  // one, the marker is left out as the zip method expects.
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (size_ >= 0) {
    filters[0].id = LZMA_FILTER_LZMA1EXT;
    options.ext_flags = 0;
    options.ext_size_low = static_cast<std::uint32_t>(size_);
    options.ext_size_high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(size_) >> 32);
  }
  unsigned char properties[kPropertySize];
  if (lzma_properties_encode(filters, properties) != LZMA_OK) {
    Fail(kCodecBadParameter, kTextBadParameter);
  }
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  const CodecFailure notStarted = SetupFailure(lzma_raw_encoder(&zs, filters), kBadParameterFailure);
  if (IsFailure(notStarted)) Fail(notStarted);
  unsigned char* input = InputBuffer(kInputSize, kTextNoMemory);
  unsigned char* work = WorkOutput(kTextNoMemory);
  // The zip header announces the property bytes, so it brings them along.
  const int mode = Mode();
  WriteHeader((mode & kZipHeader) ? (mode | kProperties) : mode, properties);
  LzmaCompressStep step(zs);
  PumpCompression(step, input, kInputSize, work, kOutputTexts);
  return CompressedCount();
}

std::uint32_t LzmaCodec::DecoderDictionary(std::uint32_t declared, std::uint64_t expected) {
  std::uint32_t size = std::min(declared, kLargestDictionary);
  if (expected != kUnknownSize && expected < size) size = static_cast<std::uint32_t>(expected);
  return std::max(kSmallestDictionary, size);
}

std::uint64_t LzmaCodec::ReadPreamble(int mode, unsigned char* properties) {
  std::size_t extra = 0;
  if (mode & kZipHeader) {
    unsigned char header[sizeof kZipHeaderBytes];
    ReadHeaderBytes(header, sizeof header, kTextReadFailed);
    extra = static_cast<std::size_t>(header[2] | (header[3] << 8));
    if (extra < kPropertySize) Fail(kCodecDataError, kTextFormatError);
    extra -= kPropertySize;
  }
  ReadHeaderBytes(properties, kPropertySize, kTextReadFailed);
  // Property bytes beyond the five that LZMA defines are skipped.
  unsigned char skipped[64];
  while (extra > 0) {
    const std::size_t piece = std::min(extra, sizeof skipped);
    ReadHeaderBytes(skipped, piece, kTextReadFailed);
    extra -= piece;
  }
  std::uint64_t expected = size_ < 0 ? kUnknownSize : static_cast<std::uint64_t>(size_);
  if (mode & kSizeField) {
    unsigned char field[8];
    ReadHeaderBytes(field, sizeof field, kTextReadFailed);
    expected = 0;
    for (int i = 7; i >= 0; --i) expected = (expected << 8) | field[i];
  }
  return expected;
}

std::uint64_t LzmaCodec::Decompress(int mode) {
  int used = BeginDecompression(mode);
  if (used & kZipHeader) used |= kProperties;
  if (!(used & kProperties)) Fail(kCodecBadParameter, kTextBadParameter);
  unsigned char properties[kPropertySize];
  const std::uint64_t expected = ReadPreamble(used, properties);
  if (expected == 0) return 0;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  const CodecFailure badProperties = SetupFailure(
      lzma_properties_decode(&filters[0], nullptr, properties, kPropertySize), kBadFormatFailure);
  if (IsFailure(badProperties)) Fail(badProperties);
  const std::unique_ptr<void, FreeOptions> ownedOptions(filters[0].options);
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  options->dict_size = DecoderDictionary(options->dict_size, expected);
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  const CodecFailure notStarted = SetupFailure(lzma_raw_decoder(&zs, filters), kBadFormatFailure);
  if (IsFailure(notStarted)) Fail(notStarted);
  LzmaDecompressStep step(zs, expected, *this);
  PumpDecompression(step, InputBuffer(kInputSize, kTextNoMemory), kInputSize, WorkOutput(kTextNoMemory),
                    kWorkBufferSize, kOutputTexts);
  return UncompressedCount();
}

}  // namespace korbel
