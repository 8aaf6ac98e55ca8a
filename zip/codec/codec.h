// Codec: the interface through which the engine compresses and decompresses.
// A codec is a DataStream: the caller connects its input and output sides,
// then runs Compress or Decompress once. Each run starts by clearing the
// counts, the state flags and the failure kind, so the results of a run stay
// readable until the next one. A failing run sets the failure kind and throws
// a CodecFailure; the counts keep what was processed until then.
#ifndef PAKKARO_ZIP_CODEC_CODEC_H
#define PAKKARO_ZIP_CODEC_CODEC_H

#include <cstddef>
#include <cstdint>

#include "zip/codec/codec_failure.h"
#include "zip/io/data_stream.h"
#include "zip/io/reusable_block.h"

namespace korbel {

enum CodecStateFlag : std::uint32_t {
  kCodecPlainCopy = 0x04,  // the last run copied the data unchanged
  kCodecExpanded = 0x10,   // the last compression gave more bytes than it took
};

// What the query operations answer, by index.
enum CodecQuery : int {
  kQueryLevel = 0,
  kQueryStateFlags = 1,
  kQueryOutputCrc = 2,
  kQueryInputCrc = 3,
  kQueryCompressedCount = 4,
  kQueryUncompressedCount = 5,
  kQueryBytesWritten = 6,
  kQueryBytesRead = 7,
};

// A size nobody has given.
constexpr std::uint64_t kUnknownSize = UINT64_MAX;

constexpr int kDefaultLevel = 9;
constexpr int kDefaultMode = 8;
// The level argument that keeps the stored level.
constexpr int kKeepLevel = -1;
// The mode argument that means the codec's own mode field.
constexpr int kOwnMode = -2;

// How a codec names the failures of its output side.
struct OutputFailureTexts {
  int writeKind;  // a function or file did not take every byte
  const char* writeText;
  int fullKind;  // a memory output area has no room left
  const char* fullText;
};

class Codec : public DataStream {
 public:
  ~Codec() override;

  // Compresses the whole input; answers the compressed count. `level` -1
  // keeps the stored level.
  virtual std::uint64_t Compress(int level);
  // Decompresses one stream; answers the uncompressed count. `mode` -2 uses
  // the codec's mode field, any other value replaces it first.
  virtual std::uint64_t Decompress(int mode);
  // Frees work buffers and library state; the settings stay.
  virtual void ReleaseBuffers();

  // `how` 2 frees the buffers only; any other value also disconnects both
  // sides and returns level, mode, counts, flags and failure kind to their
  // defaults.
  void Reset(int how);
  // The value at `index` (CodecQuery), cut to 32 bits; 0 for an unknown index.
  std::uint32_t QueryValue(int index) const;
  // The same values at full width.
  std::uint64_t QueryCount(int index) const;

  std::uint64_t UncompressedCount() const { return uncompressed_; }
  std::uint64_t CompressedCount() const { return compressed_; }
  std::uint32_t StateFlags() const { return stateFlags_; }
  int Level() const { return level_; }
  void SetLevel(int level) { level_ = level; }
  int Mode() const { return mode_; }
  void SetMode(int mode) { mode_ = mode; }
  int FailureKind() const { return failureKind_; }
  // Clears counts, state flags and failure kind, as a run does at its start.
  void ClearCounts();
  // The uncompressed size that the next Decompress must give, as the
  // archive's directory states it; a stream giving more or fewer bytes is
  // then a data error. Holds for the next run only.
  void ExpectSize(std::uint64_t size) { nextExpectedSize_ = size; }

 protected:
  Codec() = default;

  // Start of a compression run: keeps `level` unless it is -1, clamps the
  // stored level to low..high and clears the results of the last run.
  int BeginCompression(int level, int low, int high);
  // Start of a decompression run: the mode to use.
  int BeginDecompression(int mode);

  [[noreturn]] void Fail(int kind, const char* text);
  [[noreturn]] void Fail(const CodecFailure& failure) { Fail(failure.kind, failure.text); }

  // The read -> step -> hand-on loops of the streaming codecs, defined in
  // codec_pump.h; `library` wraps one library stream and maps its results.
  template <typename Library>
  void PumpCompression(Library& library, unsigned char* input, std::size_t inputSize, unsigned char* work,
                       const OutputFailureTexts& texts);
  template <typename Library>
  void PumpDecompression(Library& library, unsigned char* input, std::size_t inputSize, unsigned char* work,
                         std::size_t workSize, const OutputFailureTexts& texts);

  // Header bytes in front of the data: read whole (a short input fails with
  // kCodecReadFailed and `text`) or written whole (kCodecWriteFailed); both
  // count as compressed bytes.
  void ReadHeaderBytes(unsigned char* buffer, std::size_t length, const char* text);
  void WriteHeaderBytes(const unsigned char* data, std::size_t length, const char* text);

  // Copies the input to the output unchanged (both directions), setting
  // kCodecPlainCopy; both counts become the bytes copied.
  std::uint64_t StoredCopy();

  // Where the library writes its next output: the free part of a memory
  // output area, filled in place, or else `buffer`. A memory area without
  // room yields a one-byte overflow slot: a library that still has output
  // fills it, and DeliverOutput then reports the area as full.
  struct OutputSpan {
    unsigned char* data;
    std::size_t size;
  };
  OutputSpan BeginOutput(unsigned char* buffer, std::size_t size);
  // The work buffer for BeginOutput, or null when the output is a memory
  // area filled in place; no memory for it fails with kCodecNoMemory.
  unsigned char* WorkOutput(const char* noMemoryText);
  // The same for a codec whose work buffer is `size` bytes, not
  // kWorkBufferSize.
  unsigned char* WorkOutput(std::size_t size, const char* noMemoryText);
  // The input buffer of a streaming codec: `size` bytes, kept from run to
  // run until ReleaseBuffers; no memory for it fails with kCodecNoMemory.
  unsigned char* InputBuffer(std::size_t size, const char* noMemoryText);
  // Hands on the first `produced` bytes of `span`.
  void DeliverOutput(const OutputSpan& span, std::size_t produced, const OutputFailureTexts& texts);
  // After a compression: announces the end to a function or file side.
  void FinishOutput(const OutputFailureTexts& texts);
  // After a compression: sets kCodecExpanded when the output outgrew the input.
  void NoteExpansion();

  // What ExpectSize gave for the running decompression, else kUnknownSize.
  std::uint64_t ExpectedSize() const { return expectedSize_; }

  void CountUncompressed(std::uint64_t bytes) { uncompressed_ += bytes; }
  void CountCompressed(std::uint64_t bytes) { compressed_ += bytes; }

 private:
  std::uint64_t uncompressed_ = 0;
  std::uint64_t compressed_ = 0;
  std::uint32_t stateFlags_ = 0;
  int level_ = kDefaultLevel;
  int failureKind_ = kCodecOk;
  int mode_ = kDefaultMode;
  std::uint64_t expectedSize_ = kUnknownSize;
  std::uint64_t nextExpectedSize_ = kUnknownSize;
  unsigned char overflowSlot_[1] = {0};
  ReusableBlock inputBuffer_;
  ReusableBlock ownWorkBuffer_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_CODEC_H
