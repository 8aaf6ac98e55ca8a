#include "zip/codec/codec.h"

#include <algorithm>

namespace korbel {
namespace {

constexpr char kNotSupported[] = "Die Funktion wird nicht unterst\374tzt";

// Libraries count their buffers in 32 bits; a larger memory area is handed
// out in slices of this size.
constexpr std::size_t kLargestSpan = std::size_t{1} << 30;

bool WritesThroughCall(SideKind kind) {
  return kind == SideKind::kFunction || kind == SideKind::kCFile || kind == SideKind::kHandle;
}

}  // namespace

Codec::~Codec() = default;

std::uint64_t Codec::Compress(int level) {
  BeginCompression(level, 0, 9);
  Fail(kCodecUnsupported, kNotSupported);
}

std::uint64_t Codec::Decompress(int mode) {
  BeginDecompression(mode);
  Fail(kCodecUnsupported, kNotSupported);
}

void Codec::ReleaseBuffers() {
  ReleaseWorkBuffer();
  inputBuffer_.Release();
  ownWorkBuffer_.Release();
}

void Codec::Reset(int how) {
  ReleaseBuffers();
  if (how == 2) return;
  Disconnect();
  level_ = kDefaultLevel;
  mode_ = kDefaultMode;
  ClearCounts();
  expectedSize_ = nextExpectedSize_ = kUnknownSize;
}

std::uint64_t Codec::QueryCount(int index) const {
  switch (index) {
    case kQueryLevel:
      return static_cast<std::uint64_t>(static_cast<std::uint32_t>(level_));
    case kQueryStateFlags:
      return stateFlags_;
    case kQueryOutputCrc:
      return OutputCrc();
    case kQueryInputCrc:
      return InputCrc();
    case kQueryCompressedCount:
      return compressed_;
    case kQueryUncompressedCount:
      return uncompressed_;
    case kQueryBytesWritten:
      return BytesWritten();
    case kQueryBytesRead:
      return BytesRead();
    default:
      return 0;
  }
}

std::uint32_t Codec::QueryValue(int index) const { return static_cast<std::uint32_t>(QueryCount(index)); }

void Codec::ClearCounts() {
  uncompressed_ = 0;
  compressed_ = 0;
  stateFlags_ = 0;
  failureKind_ = kCodecOk;
}

int Codec::BeginCompression(int level, int low, int high) {
  if (level != kKeepLevel) level_ = level;
  level_ = std::clamp(level_, low, high);
  ClearCounts();
  expectedSize_ = nextExpectedSize_ = kUnknownSize;
  return level_;
}

int Codec::BeginDecompression(int mode) {
  if (mode != kOwnMode) mode_ = mode;
  ClearCounts();
  expectedSize_ = nextExpectedSize_;
  nextExpectedSize_ = kUnknownSize;
  return mode_;
}

void Codec::Fail(int kind, const char* text) {
  failureKind_ = kind;
  throw CodecFailure{kind, text};
}

std::uint64_t Codec::StoredCopy() {
  stateFlags_ |= kCodecPlainCopy;
  if (OutputKind() == SideKind::kMemory) {
    // The input is read straight into the area; once it is full, one more
    // byte of input tells whether the area was too small.
    for (;;) {
      const std::size_t room = std::min(OutputRoom(), kLargestSpan);
      if (room == 0) {
        unsigned char probe;
        const std::int64_t more = Read(&probe, 1);
        if (more < 0) Fail(kCodecReadFailed, kTextReadFailed);
        if (more == 0) break;
        Fail(kCodecOutputFull, kTextOutputAreaFull);
      }
      const std::int64_t got = Read(OutputArea(), room);
      if (got < 0) Fail(kCodecReadFailed, kTextReadFailed);
      if (got == 0) break;
      CommitOutput(static_cast<std::size_t>(got));
      uncompressed_ += static_cast<std::uint64_t>(got);
      compressed_ += static_cast<std::uint64_t>(got);
    }
    return compressed_;
  }
  unsigned char* buffer = WorkBuffer();
  if (buffer == nullptr) Fail(kCodecNoMemory, kTextNoMemory);
  for (;;) {
    const std::int64_t got = Read(buffer, kWorkBufferSize);
    if (got < 0) Fail(kCodecReadFailed, kTextReadFailed);
    if (got == 0) break;
    const std::int64_t written = Write(buffer, static_cast<std::size_t>(got));
    if (written != got) Fail(kCodecWriteFailed, kTextWriteFailed);
    uncompressed_ += static_cast<std::uint64_t>(got);
    compressed_ += static_cast<std::uint64_t>(got);
  }
  return compressed_;
}

void Codec::ReadHeaderBytes(unsigned char* buffer, std::size_t length, const char* text) {
  std::size_t done = 0;
  while (done < length) {
    const std::int64_t got = Read(buffer + done, length - done);
    if (got <= 0) Fail(kCodecReadFailed, text);
    done += static_cast<std::size_t>(got);
  }
  compressed_ += length;
}

void Codec::WriteHeaderBytes(const unsigned char* data, std::size_t length, const char* text) {
  const std::int64_t written = Write(data, length);
  if (written > 0) compressed_ += static_cast<std::uint64_t>(written);
  if (written != static_cast<std::int64_t>(length)) Fail(kCodecWriteFailed, text);
}

unsigned char* Codec::WorkOutput(const char* noMemoryText) {
  if (OutputKind() == SideKind::kMemory) return nullptr;
  unsigned char* work = WorkBuffer();
  if (work == nullptr) Fail(kCodecNoMemory, noMemoryText);
  return work;
}

unsigned char* Codec::WorkOutput(std::size_t size, const char* noMemoryText) {
  if (OutputKind() == SideKind::kMemory) return nullptr;
  unsigned char* work = ownWorkBuffer_.Reserve(size, size);
  if (work == nullptr) Fail(kCodecNoMemory, noMemoryText);
  return work;
}

unsigned char* Codec::InputBuffer(std::size_t size, const char* noMemoryText) {
  unsigned char* input = inputBuffer_.Reserve(size, size);
  if (input == nullptr) Fail(kCodecNoMemory, noMemoryText);
  return input;
}

Codec::OutputSpan Codec::BeginOutput(unsigned char* buffer, std::size_t size) {
  if (OutputKind() != SideKind::kMemory) return OutputSpan{buffer, size};
  const std::size_t room = std::min(OutputRoom(), kLargestSpan);
  if (room == 0) return OutputSpan{overflowSlot_, sizeof overflowSlot_};
  return OutputSpan{OutputArea(), room};
}

void Codec::DeliverOutput(const OutputSpan& span, std::size_t produced, const OutputFailureTexts& texts) {
  if (produced == 0) return;
  if (span.data == overflowSlot_) Fail(texts.fullKind, texts.fullText);
  if (OutputKind() == SideKind::kMemory) {
    CommitOutput(produced);
    return;
  }
  const std::int64_t written = Write(span.data, produced);
  if (written < 0 || static_cast<std::uint64_t>(written) != produced) {
    Fail(texts.writeKind, texts.writeText);
  }
}

void Codec::FinishOutput(const OutputFailureTexts& texts) {
  if (WritesThroughCall(OutputKind()) && !EndOutput()) Fail(texts.writeKind, texts.writeText);
}

void Codec::NoteExpansion() {
  if (compressed_ > uncompressed_) stateFlags_ |= kCodecExpanded;
}

}  // namespace korbel
