// DataStream: an input side and an output side that a codec moves bytes
// between. Either side is a file handle, a C file, a memory block or a
// function, with an optional CRC-32 register, an optional byte limit, an
// optional observer and (for encryption) an optional in-place transformation.
#ifndef PAKKARO_ZIP_IO_DATA_STREAM_H
#define PAKKARO_ZIP_IO_DATA_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/platform.h"

namespace korbel {

// (context, buffer, length) -> bytes processed, negative on failure.
// A read of 0 bytes is the end of the input; a write with no buffer and
// length 0 announces the end of the output.
using ReadFunction = std::int64_t (*)(void* context, void* buffer, std::size_t length);
using WriteFunction = std::int64_t (*)(void* context, const void* buffer, std::size_t length);
// Works on a block in place: bytes delivered, negative on failure.
using TransformFunction = std::int64_t (*)(void* context, unsigned char* buffer, std::size_t length);
// Sees every block that passes a side.
using ObserverFunction = void (*)(void* context, const unsigned char* buffer, std::size_t length);

enum class SideKind : int { kMemory = 0, kFunction = 1, kCFile = 2, kHandle = 3, kNone = 4 };

// Connecting a side with this seed leaves its CRC register off.
constexpr std::uint32_t kNoCrc = 0x12345678u;
constexpr std::int64_t kNoLimit = -1;
// The work buffer that codecs use when their output side is not memory.
constexpr std::size_t kWorkBufferSize = 16384;

class DataStream {
 public:
  DataStream();
  virtual ~DataStream();
  DataStream(const DataStream&) = delete;
  DataStream& operator=(const DataStream&) = delete;

  // Connecting resets that side's counters and sets its kind. A seed other
  // than kNoCrc starts the side's CRC register at ~seed (0 gives the usual
  // all-ones start).
  void OutputToHandle(platform::Handle file, std::int64_t limit, std::uint32_t seed);
  void OutputToFile(std::FILE* file, std::int64_t limit, std::uint32_t seed);
  // `position` (optional) is advanced with every byte stored.
  void OutputToMemory(std::size_t capacity, unsigned char* start, std::uint32_t seed,
                      std::int64_t* position = nullptr);
  void OutputToFunction(void* context, WriteFunction write, std::uint32_t seed);
  void InputFromHandle(platform::Handle file, std::int64_t limit, std::uint32_t seed);
  void InputFromFile(std::FILE* file, std::int64_t limit, std::uint32_t seed);
  void InputFromMemory(std::size_t size, const unsigned char* start, std::uint32_t seed,
                       std::int64_t* position = nullptr);
  void InputFromFunction(void* context, ReadFunction read, std::uint32_t seed);
  // Kept at the largest external output position reached.
  void SetHighWater(std::int64_t* highWater);
  void AddReadTransform(void* context, TransformFunction transform);
  // With `protectCallerData` each block is transformed in a scratch copy.
  void AddWriteTransform(void* context, TransformFunction transform, bool protectCallerData);
  void SetInputObserver(void* context, ObserverFunction observer);
  void SetOutputObserver(void* context, ObserverFunction observer);
  // Both sides back to kNone, transformations and observers removed.
  void Disconnect();

  // Reads up to `length` bytes: the count (0 at the end), or -1 on failure.
  std::int64_t Read(void* buffer, std::size_t length);
  // Writes a block: the count taken (a memory side takes what fits), -1 on failure.
  std::int64_t Write(const void* buffer, std::size_t length);
  // Announces the end of the output to a function side; false when it refuses.
  bool EndOutput();

  // The most bytes the input side can still deliver: the rest of a memory
  // block or of a side's byte limit; -1 when only the end of the input tells.
  // A read transformation may deliver fewer.
  std::int64_t InputBound() const;
  // The rest of a memory input without a read transformation, taken whole:
  // counted, checksummed and observed as a Read of it would be. Null (and
  // nothing taken) for any other input.
  const unsigned char* TakeInputBlock(std::size_t* length);

  // A memory output side can be filled in place: its free area, then Commit.
  SideKind OutputKind() const { return output_.kind; }
  SideKind InputKind() const { return input_.kind; }
  unsigned char* OutputArea() const;
  std::size_t OutputRoom() const;
  void CommitOutput(std::size_t length);

  // The finished CRC-32 of each side (the complement of its register).
  std::uint32_t OutputCrc() const { return ~output_.crc; }
  std::uint32_t InputCrc() const { return ~input_.crc; }
  std::uint64_t BytesWritten() const { return output_.total; }
  std::uint64_t BytesRead() const { return input_.total; }

  // 16 KiB + 16 bytes, allocated on first use and kept until released.
  unsigned char* WorkBuffer();
  void ReleaseWorkBuffer();

 private:
  struct Side {
    SideKind kind = SideKind::kNone;
    platform::Handle handle = platform::kInvalidHandle;
    std::FILE* file = nullptr;
    void* context = nullptr;
    ReadFunction read = nullptr;
    WriteFunction write = nullptr;
    unsigned char* memory = nullptr;  // output block, or input block (read only)
    std::size_t capacity = 0;         // output capacity, or input size
    std::size_t position = 0;
    std::int64_t* externalPosition = nullptr;
    std::int64_t limit = kNoLimit;
    bool crcOn = false;
    std::uint32_t crc = 0;  // the register
    std::uint64_t total = 0;
    void* observerContext = nullptr;
    ObserverFunction observer = nullptr;
    void* transformContext = nullptr;
    TransformFunction transform = nullptr;
    bool protectCallerData = false;
  };

  void ConnectSide(Side& side, SideKind kind, std::uint32_t seed);
  void Observe(Side& side, const unsigned char* data, std::size_t length);
  std::int64_t WriteRaw(const unsigned char* data, std::size_t length);
  void RaiseHighWater();

  Side input_;
  Side output_;
  std::int64_t* highWater_ = nullptr;
  std::unique_ptr<unsigned char[]> workBuffer_;
  std::unique_ptr<unsigned char[]> scratch_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_DATA_STREAM_H
