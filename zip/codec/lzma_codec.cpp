#include "zip/codec/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace korbel {
namespace {

constexpr char kNoMemory[] = "Zu wenig Speicher";
constexpr char kBadParameter[] = "Falscher Parameter";
constexpr char kWriteFailed[] = "Fehler beim Speichern";
constexpr char kInputFailed[] = "Fehler beim Einlesen";
constexpr char kReadFailed[] = "Fehler beim Lesen";
constexpr char kBadFormat[] = "Formatfehler";

// The library has no room-left failure of its own: a full memory area is a
// failed write like any other.
constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kWriteFailed, kCodecWriteFailed,
                                          kWriteFailed};

// Input is buffered in blocks of this size in both directions.
constexpr std::size_t kInputSize = std::size_t{1} << 20;
constexpr std::size_t kPropertySize = 5;
// The zip LZMA header: encoder version 9.20, then the property size (LE).
constexpr unsigned char kZipHeaderBytes[4] = {9, 20, kPropertySize, 0};
constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
// The decoder never needs a dictionary larger than the data, nor smaller
// than this.
constexpr std::uint32_t kSmallestDictionary = 4096;
// The dictionary comes from the data's properties and the size from the
// directory, so neither bounds the memory of a hostile entry: larger
// dictionaries are refused as too little memory.
constexpr std::uint32_t kLargestDictionary = std::uint32_t{1} << 30;

// A library stream that is ended on every way out of a run.
struct LzmaStream {
  lzma_stream stream = LZMA_STREAM_INIT;
  LzmaStream() = default;
  ~LzmaStream() { lzma_end(&stream); }
  LzmaStream(const LzmaStream&) = delete;
  LzmaStream& operator=(const LzmaStream&) = delete;
};

struct FreeOptions {
  void operator()(void* options) const { std::free(options); }
};

}  // namespace

LzmaCodec::LzmaCodec() = default;
LzmaCodec::~LzmaCodec() = default;

void LzmaCodec::ReleaseBuffers() {
  input_.reset();
  Codec::ReleaseBuffers();
}

unsigned char* LzmaCodec::InputBuffer() {
  if (!input_) input_.reset(new (std::nothrow) unsigned char[kInputSize]);
  if (!input_) Fail(kCodecNoMemory, kNoMemory);
  return input_.get();
}

unsigned char* LzmaCodec::WorkOutput() {
  if (OutputKind() == SideKind::kMemory) return nullptr;
  unsigned char* work = WorkBuffer();
  if (work == nullptr) Fail(kCodecNoMemory, kNoMemory);
  return work;
}

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
  const std::int64_t written = Write(header, length);
  if (written > 0) CountCompressed(static_cast<std::uint64_t>(written));
  if (written != static_cast<std::int64_t>(length)) Fail(kCodecWriteFailed, kWriteFailed);
}

std::uint64_t LzmaCodec::Compress(int level) {
  const int used = BeginCompression(level, 0, 9);
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, static_cast<std::uint32_t>(used))) {
    Fail(kCodecBadParameter, kBadParameter);
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
    Fail(kCodecBadParameter, kBadParameter);
  }
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  switch (lzma_raw_encoder(&zs, filters)) {
    case LZMA_OK: break;
    case LZMA_MEM_ERROR: Fail(kCodecNoMemory, kNoMemory);
    default: Fail(kCodecBadParameter, kBadParameter);
  }
  unsigned char* input = InputBuffer();
  unsigned char* work = WorkOutput();
  // The zip header announces the property bytes, so it brings them along.
  const int mode = Mode();
  WriteHeader((mode & kZipHeader) ? (mode | kProperties) : mode, properties);

  lzma_action action = LZMA_RUN;
  lzma_ret result = LZMA_OK;
  while (action != LZMA_FINISH) {
    const std::int64_t got = Read(input, kInputSize);
    if (got < 0) Fail(kCodecReadFailed, kInputFailed);
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
      if (result == LZMA_MEM_ERROR) Fail(kCodecNoMemory, kNoMemory);
      if (result == LZMA_OPTIONS_ERROR || result == LZMA_PROG_ERROR) {
        Fail(kCodecBadParameter, kBadParameter);
      }
      if (result != LZMA_OK && result != LZMA_STREAM_END) Fail(kCodecDataError, kBadFormat);
    } while (action == LZMA_RUN ? zs.avail_in > 0 : result != LZMA_STREAM_END);
  }
  NoteExpansion();
  FinishOutput(kOutputTexts);
  return CompressedCount();
}

void LzmaCodec::ReadExactly(unsigned char* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const std::int64_t got = Read(buffer + done, length - done);
    if (got <= 0) Fail(kCodecReadFailed, kReadFailed);
    done += static_cast<std::size_t>(got);
  }
  CountCompressed(length);
}

std::uint64_t LzmaCodec::Decompress(int mode) {
  int used = BeginDecompression(mode);
  if (used & kZipHeader) used |= kProperties;
  if (!(used & kProperties)) Fail(kCodecBadParameter, kBadParameter);

  std::size_t extra = 0;
  if (used & kZipHeader) {
    unsigned char header[sizeof kZipHeaderBytes];
    ReadExactly(header, sizeof header);
    extra = static_cast<std::size_t>(header[2] | (header[3] << 8));
    if (extra < kPropertySize) Fail(kCodecDataError, kBadFormat);
    extra -= kPropertySize;
  }
  unsigned char properties[kPropertySize];
  ReadExactly(properties, kPropertySize);
  // Property bytes beyond the five that LZMA defines are skipped.
  unsigned char skipped[64];
  while (extra > 0) {
    const std::size_t piece = std::min(extra, sizeof skipped);
    ReadExactly(skipped, piece);
    extra -= piece;
  }
  std::uint64_t expected = size_ < 0 ? kUnknownSize : static_cast<std::uint64_t>(size_);
  if (used & kSizeField) {
    unsigned char field[8];
    ReadExactly(field, sizeof field);
    expected = 0;
    for (int i = 7; i >= 0; --i) expected = (expected << 8) | field[i];
  }
  const bool known = expected != kUnknownSize;
  if (known && expected == 0) return 0;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  switch (lzma_properties_decode(&filters[0], nullptr, properties, kPropertySize)) {
    case LZMA_OK: break;
    case LZMA_MEM_ERROR: Fail(kCodecNoMemory, kNoMemory);
    default: Fail(kCodecDataError, kBadFormat);
  }
  const std::unique_ptr<void, FreeOptions> ownedOptions(filters[0].options);
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  if (known && expected < options->dict_size) {
    options->dict_size = std::max(kSmallestDictionary, static_cast<std::uint32_t>(expected));
  }
  if (options->dict_size > kLargestDictionary) Fail(kCodecNoMemory, kNoMemory);
  LzmaStream coder;
  lzma_stream& zs = coder.stream;
  switch (lzma_raw_decoder(&zs, filters)) {
    case LZMA_OK: break;
    case LZMA_MEM_ERROR: Fail(kCodecNoMemory, kNoMemory);
    default: Fail(kCodecDataError, kBadFormat);
  }

  unsigned char* input = InputBuffer();
  unsigned char* work = WorkOutput();
  bool inputEnded = false;
  bool starved = true;  // the last call left output room, so it wants input
  for (;;) {
    if (zs.avail_in == 0 && starved && !inputEnded) {
      const std::int64_t got = Read(input, kInputSize);
      if (got < 0) Fail(kCodecReadFailed, kInputFailed);
      inputEnded = got == 0;
      zs.next_in = input;
      zs.avail_in = static_cast<std::size_t>(got);
    }
    const std::size_t before = zs.avail_in;
    OutputSpan span = BeginOutput(work, kWorkBufferSize);
    // With a known size the decoder is never asked for more, so whatever
    // follows the data (an end marker or nothing) does not matter.
    if (known) span.size = static_cast<std::size_t>(
        std::min<std::uint64_t>(span.size, expected - UncompressedCount()));
    zs.next_out = span.data;
    zs.avail_out = span.size;
    const lzma_ret result = lzma_code(&zs, inputEnded ? LZMA_FINISH : LZMA_RUN);
    const std::size_t produced = span.size - zs.avail_out;
    CountCompressed(before - zs.avail_in);
    DeliverOutput(span, produced, kOutputTexts);
    CountUncompressed(produced);
    if (known && UncompressedCount() == expected) break;
    if (result == LZMA_STREAM_END) break;
    switch (result) {
      case LZMA_OK: break;
      case LZMA_BUF_ERROR: Fail(kCodecReadFailed, kInputFailed);
      case LZMA_MEM_ERROR:
      case LZMA_MEMLIMIT_ERROR: Fail(kCodecNoMemory, kNoMemory);
      case LZMA_OPTIONS_ERROR:
      case LZMA_PROG_ERROR: Fail(kCodecBadParameter, kBadParameter);
      default: Fail(kCodecDataError, kBadFormat);
    }
    starved = zs.avail_out != 0;
    // No move with the input finished: the data ended inside the stream.
    if (produced == 0 && before == zs.avail_in && starved && inputEnded) {
      Fail(kCodecReadFailed, kInputFailed);
    }
  }
  return UncompressedCount();
}

}  // namespace korbel
