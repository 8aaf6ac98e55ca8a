// Test helpers for the codecs: connecting either side of a codec as a file
// handle, a C file, a memory block or a function; running a codec over a byte
// vector; the shared data sets; and reading and writing the one-entry zip
// files that the independent tools exchange with us.
#ifndef PAKKARO_TESTS_ZIP_CODEC_CODEC_SIDES_H
#define PAKKARO_TESTS_ZIP_CODEC_CODEC_SIDES_H

#include <libdeflate.h>
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/archive_builder.h"
#include "tests/support/independent_readers.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "zip/codec/codec.h"
#include "zip/codec/codec_failure.h"
#include "zip/codec/deflate_codec.h"
#include "zip/format/zip_constants.h"

namespace codec_testing {

using testing_support::Bytes;

enum class SideType { kHandle, kCFile, kMemory, kFunction };
constexpr SideType kAllSides[] = {SideType::kHandle, SideType::kCFile, SideType::kMemory,
                                  SideType::kFunction};

inline const char* SideName(SideType type) {
  switch (type) {
    case SideType::kHandle:
      return "Handle";
    case SideType::kCFile:
      return "CFile";
    case SideType::kMemory:
      return "Memory";
    case SideType::kFunction:
      return "Function";
  }
  return "?";
}

// The side the other end of a round trip uses, so that every kind meets
// every direction.
inline SideType NextSide(SideType type) {
  switch (type) {
    case SideType::kHandle:
      return SideType::kCFile;
    case SideType::kCFile:
      return SideType::kMemory;
    case SideType::kMemory:
      return SideType::kFunction;
    case SideType::kFunction:
      return SideType::kHandle;
  }
  return SideType::kHandle;
}

// The size that the codec's Deflate at `level` may reach and not pass: the
// larger of the two reference libraries' outputs at that level. Either
// library's way of packing meets it, so the check holds whichever of them
// the codec uses for a given input, and fails when the output is worse
// than both (a lost level, a flush per piece, a stored fallback).
inline std::size_t ReferenceDeflateSize(const Bytes& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  EXPECT_NE(compressor, nullptr);
  Bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
  const std::size_t whole =
      libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(compressor);
  EXPECT_NE(whole, 0u);
  return std::max(whole, testing_support::RawDeflate(data, level).size());
}

// The library's own XZ stream of `data`, with `preset` and the check value
// `check`.
inline Bytes ReferenceXz(const Bytes& data, std::uint32_t preset, lzma_check check) {
  Bytes out(lzma_stream_buffer_bound(data.size()));
  std::size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(preset, check, nullptr, data.data(), data.size(), out.data(), &size,
                                    out.size()),
            LZMA_OK);
  out.resize(size);
  return out;
}

// The reference inflate in the shape of a codec row's peer (the size is
// always known to it).
inline Bytes ReferenceInflate(const Bytes& packed, std::size_t size, bool /*sizeKnown*/) {
  return testing_support::RawInflate(packed, size);
}

// A function input that hands out its bytes in pieces of an odd size, so
// codecs meet short reads; `failAfter` bytes in, it fails instead.
struct FunctionSource {
  const Bytes* data = nullptr;
  std::size_t position = 0;
  std::size_t piece = 7777;
  std::size_t failAfter = SIZE_MAX;
};

inline std::int64_t ReadFromSource(void* context, void* buffer, std::size_t length) {
  auto* source = static_cast<FunctionSource*>(context);
  if (source->position >= source->failAfter) return -1;
  const std::size_t left = source->data->size() - source->position;
  const std::size_t take = std::min({length, left, source->piece});
  std::copy(source->data->begin() + static_cast<std::ptrdiff_t>(source->position),
            source->data->begin() + static_cast<std::ptrdiff_t>(source->position + take),
            static_cast<unsigned char*>(buffer));
  source->position += take;
  return static_cast<std::int64_t>(take);
}

// A function output that collects what it gets and counts the end calls
// (no buffer, length 0); with `refuse` set it fails every write.
struct FunctionSink {
  Bytes data;
  int endCalls = 0;
  int writesAfterEnd = 0;
  bool refuse = false;
};

inline std::int64_t WriteToSink(void* context, const void* buffer, std::size_t length) {
  auto* sink = static_cast<FunctionSink*>(context);
  if (buffer == nullptr && length == 0) {
    ++sink->endCalls;
    return 0;
  }
  if (sink->refuse) return -1;
  if (sink->endCalls > 0) ++sink->writesAfterEnd;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  sink->data.insert(sink->data.end(), bytes, bytes + length);
  return static_cast<std::int64_t>(length);
}

// The guard bytes behind a memory output area, which no codec may touch.
constexpr std::size_t kGuardSize = 64;
constexpr unsigned char kGuardByte = 0xA5;

// Owns whatever the two sides of one run need: files, buffers, the function
// states. Output() gives back what the output side holds.
class Sides {
 public:
  Sides(const testing_support::TempDir& dir, const std::string& stem)
      : inputPath_(dir / (stem + ".in")), outputPath_(dir / (stem + ".out")) {}
  ~Sides() { CloseAll(); }
  Sides(const Sides&) = delete;
  Sides& operator=(const Sides&) = delete;

  void ConnectInput(korbel::DataStream& stream, SideType type, const Bytes& data, std::uint32_t seed = 0) {
    input_ = data;
    switch (type) {
      case SideType::kHandle:
        testing_support::WriteFile(inputPath_, input_);
        inputHandle_ = platform::OpenFile(inputPath_.c_str(), platform::kAccessRead, platform::kShareRead,
                                          platform::kOpenExisting, true);
        stream.InputFromHandle(inputHandle_, korbel::kNoLimit, seed);
        break;
      case SideType::kCFile:
        testing_support::WriteFile(inputPath_, input_);
        inputFile_ = std::fopen(inputPath_.c_str(), "rb");
        stream.InputFromFile(inputFile_, korbel::kNoLimit, seed);
        break;
      case SideType::kMemory:
        stream.InputFromMemory(input_.size(), input_.data(), seed);
        break;
      case SideType::kFunction:
        source_.data = &input_;
        stream.InputFromFunction(&source_, ReadFromSource, seed);
        break;
    }
  }

  void ConnectOutput(korbel::DataStream& stream, SideType type, std::size_t memoryCapacity,
                     std::uint32_t seed = 0) {
    outputType_ = type;
    switch (type) {
      case SideType::kHandle:
        outputHandle_ = platform::OpenFile(outputPath_.c_str(), platform::kAccessWrite, platform::kShareNone,
                                           platform::kCreateAlways, true);
        stream.OutputToHandle(outputHandle_, korbel::kNoLimit, seed);
        break;
      case SideType::kCFile:
        outputFile_ = std::fopen(outputPath_.c_str(), "wb");
        stream.OutputToFile(outputFile_, korbel::kNoLimit, seed);
        break;
      case SideType::kMemory:
        memory_.assign(memoryCapacity + kGuardSize, kGuardByte);
        memoryPosition_ = 0;
        stream.OutputToMemory(memoryCapacity, memory_.data(), seed, &memoryPosition_);
        capacity_ = memoryCapacity;
        break;
      case SideType::kFunction:
        stream.OutputToFunction(&sink_, WriteToSink, seed);
        break;
    }
  }

  bool InputOpened() const { return inputHandle_ != platform::kInvalidHandle || inputFile_ != nullptr; }
  FunctionSource& Source() { return source_; }
  FunctionSink& Sink() { return sink_; }

  // What the output side holds; closes a file side first.
  Bytes Output() {
    switch (outputType_) {
      case SideType::kHandle:
      case SideType::kCFile:
        CloseAll();
        return testing_support::ReadFile(outputPath_);
      case SideType::kMemory:
        return Bytes(memory_.begin(), memory_.begin() + memoryPosition_);
      case SideType::kFunction:
        return sink_.data;
    }
    return Bytes();
  }

  // True when nothing was written behind a memory output area.
  bool GuardIntact() const {
    if (outputType_ != SideType::kMemory) return true;
    return std::all_of(memory_.begin() + static_cast<std::ptrdiff_t>(capacity_), memory_.end(),
                       [](unsigned char b) { return b == kGuardByte; });
  }

 private:
  void CloseAll() {
    if (inputHandle_ != platform::kInvalidHandle) platform::CloseFile(inputHandle_);
    if (outputHandle_ != platform::kInvalidHandle) platform::CloseFile(outputHandle_);
    if (inputFile_ != nullptr) std::fclose(inputFile_);
    if (outputFile_ != nullptr) std::fclose(outputFile_);
    inputHandle_ = outputHandle_ = platform::kInvalidHandle;
    inputFile_ = outputFile_ = nullptr;
  }

  std::string inputPath_;
  std::string outputPath_;
  Bytes input_;
  SideType outputType_ = SideType::kFunction;
  platform::Handle inputHandle_ = platform::kInvalidHandle;
  platform::Handle outputHandle_ = platform::kInvalidHandle;
  std::FILE* inputFile_ = nullptr;
  std::FILE* outputFile_ = nullptr;
  FunctionSource source_;
  FunctionSink sink_;
  Bytes memory_;
  std::int64_t memoryPosition_ = 0;
  std::size_t capacity_ = 0;
};

// One run of a codec over `input`, with CRC registers on both sides.
struct RunResult {
  Bytes output;
  std::uint64_t answer = 0;
  std::uint32_t inputCrc = 0;
  std::uint32_t outputCrc = 0;
  int endCalls = 0;
  bool guardIntact = true;
};

enum class Direction { kCompress, kDecompress };

// Runs Compress(argument) or Decompress(argument) on sides already connected.
inline std::uint64_t Start(korbel::Codec& codec, Direction direction, int argument) {
  return direction == Direction::kCompress ? codec.Compress(argument) : codec.Decompress(argument);
}

// Expects `run` to throw a CodecFailure of `kind` with `text`, and the codec
// to keep the kind.
template <typename Run>
void ExpectFailure(korbel::Codec& codec, Run run, int kind, const std::string& text) {
  try {
    run();
    ADD_FAILURE() << "the run succeeded";
  } catch (const korbel::CodecFailure& failure) {
    EXPECT_EQ(failure.kind, kind);
    EXPECT_EQ(std::string(failure.text), text);
  }
  EXPECT_EQ(codec.FailureKind(), kind);
}

// Runs Compress(argument) or Decompress(argument); a CodecFailure passes to
// the caller. A memory output gets `memoryCapacity` bytes.
inline RunResult RunCodec(korbel::Codec& codec, Direction direction, int argument, SideType in, SideType out,
                          const Bytes& input, std::size_t memoryCapacity,
                          const testing_support::TempDir& dir) {
  Sides sides(dir, "run");
  sides.ConnectInput(codec, in, input);
  sides.ConnectOutput(codec, out, memoryCapacity);
  RunResult result;
  result.answer = Start(codec, direction, argument);
  result.inputCrc = codec.InputCrc();
  result.outputCrc = codec.OutputCrc();
  result.endCalls = sides.Sink().endCalls;
  result.guardIntact = sides.GuardIntact();
  result.output = sides.Output();
  return result;
}

// The runs most tests make when the sides are not what they test: the
// input from memory, the output into a function that takes it all. No file
// is made, but the sides want a folder.
inline RunResult Pack(korbel::Codec& codec, int level, const Bytes& data) {
  const testing_support::TempDir dir;
  return RunCodec(codec, Direction::kCompress, level, SideType::kMemory, SideType::kFunction, data, 0, dir);
}
inline RunResult Unpack(korbel::Codec& codec, int mode, const Bytes& packed) {
  const testing_support::TempDir dir;
  return RunCodec(codec, Direction::kDecompress, mode, SideType::kMemory, SideType::kFunction, packed, 0,
                  dir);
}

// Room for the compressed form of `size` bytes, even when it grows.
inline std::size_t CompressedRoom(std::size_t size) { return size * 2 + 4096; }

// The inputs every round trip covers.
struct DataCase {
  const char* name;
  Bytes data;
};

inline const std::vector<DataCase>& DataCases() {
  static const std::vector<DataCase> cases = {
      {"Empty", Bytes()},
      {"OneByte", Bytes{0x5A}},
      {"Below16K", testing_support::TextBytes(16383)},
      {"Exactly16K", testing_support::RandomBytes(16384, 7)},
      {"Above16K", testing_support::TextBytes(16385)},
      {"Random1M", testing_support::RandomBytes(1 << 20, 11)},
      {"Zeros1M", Bytes(1 << 20, 0)},
  };
  return cases;
}

// ---- One-entry zip files -------------------------------------------------------

// A zip file holding one entry named `name` with the given compressed data,
// dated 2020-01-01, with the version its method needs.
inline Bytes OneEntryZip(const std::string& name, int method, int flags, std::uint32_t crc,
                         const Bytes& compressed, std::uint32_t uncompressedSize) {
  archive_builder::Entry entry;
  entry.name = name;
  entry.data = compressed;
  entry.method = static_cast<std::uint16_t>(method);
  entry.flags = static_cast<std::uint16_t>(flags);
  entry.versionMadeBy = entry.versionNeeded =
      static_cast<std::uint16_t>(method == korbel::kMethodLzma || method == korbel::kMethodPpmd ? 63
                                 : method == korbel::kMethodBZip2                               ? 46
                                                                  : korbel::kVersionDeflate);
  entry.dosDateTime = 0x50210000u;
  entry.crc = crc;
  entry.compressedSize = compressed.size();
  entry.uncompressedSize = uncompressedSize;
  entry.externalAttributes = 0;
  return archive_builder::Build({entry}).bytes;
}

// Runs a Python script with `arguments` (already quoted); true when it
// exits with status 0.
inline bool RunPython(const testing_support::TempDir& dir, const std::string& script,
                      const std::string& arguments) {
  const std::string path = dir / "check.py";
  if (!testing_support::WriteFile(path, script)) return false;
  return testing_support::RunCommand("python3 " + testing_support::Quote(path) + " " + arguments) == 0;
}

}  // namespace codec_testing

#endif  // PAKKARO_TESTS_ZIP_CODEC_CODEC_SIDES_H
