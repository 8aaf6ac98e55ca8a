#include "zip/io/data_stream.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace korbel {

namespace {

// The protected write transformation copies at most this much at a time, so
// its scratch area stays small whatever block the codec hands over.
constexpr std::size_t kScratchSize = 4096;
// Heap blocks carry this much slack beyond the size asked for.
constexpr std::size_t kSlack = 16;

// The register holds the complement of the running CRC-32. libdeflate's
// CRC measured more than twice as fast as zlib's on this machine.
std::uint32_t UpdateCrc(std::uint32_t reg, const unsigned char* data, std::size_t length) {
  return ~libdeflate_crc32(~reg, data, length);
}

// A block no larger than the remaining limit; kNoLimit caps nothing.
std::size_t CapByLimit(std::size_t length, std::int64_t limit) {
  if (limit < 0) return length;
  return static_cast<std::uint64_t>(limit) < length ? static_cast<std::size_t>(limit) : length;
}

// A function side that claims more than it was given is held to the block.
std::int64_t ClampCount(std::int64_t count, std::size_t length) {
  return static_cast<std::uint64_t>(count) > length ? static_cast<std::int64_t>(length) : count;
}

// Moves a memory side on, and the caller's position with it.
template <typename Side>
void Advance(Side& side, std::size_t length) {
  side.position += length;
  if (side.externalPosition != nullptr) *side.externalPosition += static_cast<std::int64_t>(length);
}

// A C file or handle side: up to the rest of its limit; -1 on failure. A
// short fread is a failure only when the file says so; a short fwrite
// that wrote nothing always is.
template <typename Side>
std::int64_t ReadFileSide(const Side& side, unsigned char* bytes, std::size_t length) {
  const std::size_t want = CapByLimit(length, side.limit);
  if (want == 0) return 0;
  if (side.kind == SideKind::kHandle) {
    const std::int64_t got = platform::ReadFile(side.handle, bytes, want);
    return got < 0 ? -1 : got;
  }
  const std::size_t got = std::fread(bytes, 1, want, side.file);
  if (got < want && std::ferror(side.file)) return -1;
  return static_cast<std::int64_t>(got);
}

template <typename Side>
std::int64_t WriteFileSide(const Side& side, const unsigned char* data, std::size_t length) {
  const std::size_t want = CapByLimit(length, side.limit);
  if (want == 0) return 0;
  if (side.kind == SideKind::kHandle) {
    const std::int64_t put = platform::WriteFile(side.handle, data, want);
    return put < 0 ? -1 : put;
  }
  const std::size_t put = std::fwrite(data, 1, want, side.file);
  return put == 0 ? -1 : static_cast<std::int64_t>(put);
}

std::unique_ptr<unsigned char[]> AllocateBlock(std::size_t size) {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size + kSlack]());
}

}  // namespace

DataStream::DataStream() = default;
DataStream::~DataStream() = default;

void DataStream::ConnectSide(Side& side, SideKind kind, std::uint32_t seed) {
  side.kind = kind;
  side.handle = platform::kInvalidHandle;
  side.file = nullptr;
  side.context = nullptr;
  side.read = nullptr;
  side.write = nullptr;
  side.memory = nullptr;
  side.capacity = 0;
  side.position = 0;
  side.externalPosition = nullptr;
  side.limit = kNoLimit;
  side.total = 0;
  // With kNoCrc the register keeps whatever it held: nothing will touch it.
  side.crcOn = seed != kNoCrc;
  if (side.crcOn) side.crc = ~seed;
  if (&side == &output_) highWater_ = nullptr;
}

void DataStream::OutputToHandle(platform::Handle file, std::int64_t limit, std::uint32_t seed) {
  ConnectSide(output_, SideKind::kHandle, seed);
  output_.handle = file;
  output_.limit = limit < 0 ? kNoLimit : limit;
}

void DataStream::OutputToFile(std::FILE* file, std::int64_t limit, std::uint32_t seed) {
  ConnectSide(output_, SideKind::kCFile, seed);
  output_.file = file;
  output_.limit = limit < 0 ? kNoLimit : limit;
}

void DataStream::OutputToMemory(std::size_t capacity, unsigned char* start, std::uint32_t seed,
                                std::int64_t* position) {
  ConnectSide(output_, SideKind::kMemory, seed);
  output_.memory = start;
  output_.capacity = start != nullptr ? capacity : 0;
  output_.externalPosition = position;
}

void DataStream::OutputToFunction(void* context, WriteFunction write, std::uint32_t seed) {
  ConnectSide(output_, SideKind::kFunction, seed);
  output_.context = context;
  output_.write = write;
}

void DataStream::InputFromHandle(platform::Handle file, std::int64_t limit, std::uint32_t seed) {
  ConnectSide(input_, SideKind::kHandle, seed);
  input_.handle = file;
  input_.limit = limit < 0 ? kNoLimit : limit;
}

void DataStream::InputFromFile(std::FILE* file, std::int64_t limit, std::uint32_t seed) {
  ConnectSide(input_, SideKind::kCFile, seed);
  input_.file = file;
  input_.limit = limit < 0 ? kNoLimit : limit;
}

void DataStream::InputFromMemory(std::size_t size, const unsigned char* start, std::uint32_t seed,
                                 std::int64_t* position) {
  ConnectSide(input_, SideKind::kMemory, seed);
  // The input block is only ever read; the side shares its pointer field
  // with the writable output block.
  input_.memory = const_cast<unsigned char*>(start);
  input_.capacity = start != nullptr ? size : 0;
  input_.externalPosition = position;
}

void DataStream::InputFromFunction(void* context, ReadFunction read, std::uint32_t seed) {
  ConnectSide(input_, SideKind::kFunction, seed);
  input_.context = context;
  input_.read = read;
}

void DataStream::SetHighWater(std::int64_t* highWater) { highWater_ = highWater; }

void DataStream::AddReadTransform(void* context, TransformFunction transform) {
  input_.transformContext = context;
  input_.transform = transform;
}

void DataStream::AddWriteTransform(void* context, TransformFunction transform, bool protectCallerData) {
  output_.transformContext = context;
  output_.transform = transform;
  output_.protectCallerData = protectCallerData;
}

void DataStream::SetInputObserver(void* context, ObserverFunction observer) {
  input_.observerContext = context;
  input_.observer = observer;
}

void DataStream::SetOutputObserver(void* context, ObserverFunction observer) {
  output_.observerContext = context;
  output_.observer = observer;
}

void DataStream::Disconnect() {
  input_ = Side();
  output_ = Side();
  highWater_ = nullptr;
}

void DataStream::Observe(Side& side, const unsigned char* data, std::size_t length) {
  side.total += length;
  if (length == 0) return;
  if (side.crcOn) side.crc = UpdateCrc(side.crc, data, length);
  if (side.observer != nullptr) side.observer(side.observerContext, data, length);
}

std::int64_t DataStream::Read(void* buffer, std::size_t length) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  Side& side = input_;
  auto readRaw = [&]() -> std::int64_t {
    std::int64_t count = -1;
    switch (side.kind) {
      case SideKind::kMemory: {
        const std::size_t take = std::min(length, side.capacity - side.position);
        if (take > 0) std::memcpy(bytes, side.memory + side.position, take);
        Advance(side, take);
        count = static_cast<std::int64_t>(take);
        break;
      }
      case SideKind::kFunction: {
        const std::int64_t got = side.read(side.context, bytes, length);
        if (got < 0) return -1;
        count = ClampCount(got, length);
        break;
      }
      case SideKind::kCFile:
      case SideKind::kHandle:
        count = ReadFileSide(side, bytes, length);
        if (count < 0) return -1;
        break;
      case SideKind::kNone:
        return -1;
    }
    if (side.limit > 0) side.limit -= count;
    Observe(side, bytes, static_cast<std::size_t>(count));
    return count;
  };
  for (;;) {
    const std::int64_t count = readRaw();
    if (count <= 0 || side.transform == nullptr) return count;
    const std::int64_t delivered =
        side.transform(side.transformContext, bytes, static_cast<std::size_t>(count));
    if (delivered < 0) return -1;
    // A transformation may keep a whole block back (the AES one holds its
    // last bytes until the authentication code is complete); answering 0
    // then would look like the end of the input to the codec.
    if (delivered > 0) return delivered;
  }
}

std::int64_t DataStream::InputBound() const {
  switch (input_.kind) {
    case SideKind::kMemory:
      return static_cast<std::int64_t>(input_.capacity - input_.position);
    case SideKind::kHandle:
    case SideKind::kCFile:
      return input_.limit;
    default:
      return -1;
  }
}

const unsigned char* DataStream::TakeInputBlock(std::size_t* length) {
  *length = 0;
  if (input_.kind != SideKind::kMemory || input_.transform != nullptr || input_.memory == nullptr) {
    return nullptr;
  }
  const unsigned char* block = input_.memory + input_.position;
  const std::size_t size = input_.capacity - input_.position;
  Advance(input_, size);
  Observe(input_, block, size);
  *length = size;
  return block;
}

std::int64_t DataStream::WriteRaw(const unsigned char* data, std::size_t length) {
  Side& side = output_;
  std::int64_t count = -1;
  switch (side.kind) {
    case SideKind::kMemory: {
      const std::size_t take = std::min(length, side.capacity - side.position);
      if (take > 0) std::memcpy(side.memory + side.position, data, take);
      Advance(side, take);
      count = static_cast<std::int64_t>(take);
      break;
    }
    case SideKind::kFunction: {
      const std::int64_t put = side.write(side.context, data, length);
      if (put < 0) return -1;
      count = ClampCount(put, length);
      break;
    }
    case SideKind::kCFile:
    case SideKind::kHandle:
      count = WriteFileSide(side, data, length);
      if (count < 0) return -1;
      break;
    case SideKind::kNone:
      return -1;
  }
  if (side.limit > 0) side.limit -= count;
  if (side.kind == SideKind::kMemory) RaiseHighWater();
  Observe(side, data, static_cast<std::size_t>(count));
  return count;
}

void DataStream::RaiseHighWater() {
  if (highWater_ == nullptr) return;
  const std::int64_t reached = output_.externalPosition != nullptr
                                   ? *output_.externalPosition
                                   : static_cast<std::int64_t>(output_.position);
  if (reached > *highWater_) *highWater_ = reached;
}

std::int64_t DataStream::Write(const void* buffer, std::size_t length) {
  if (output_.kind == SideKind::kNone) return -1;
  if (length == 0) return 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  if (output_.transform == nullptr) return WriteRaw(bytes, length);

  if (!output_.protectCallerData) {
    // The caller gave its block up to the transformation.
    auto* block = const_cast<unsigned char*>(bytes);
    const std::int64_t delivered = output_.transform(output_.transformContext, block, length);
    if (delivered < 0) return -1;
    return WriteRaw(block, std::min(static_cast<std::size_t>(delivered), length));
  }

  if (!scratch_) scratch_ = AllocateBlock(kScratchSize);
  if (!scratch_) return -1;
  std::size_t shortPieces = 0;
  for (std::size_t done = 0; done < length;) {
    const std::size_t piece = std::min(kScratchSize, length - done);
    std::memcpy(scratch_.get(), bytes + done, piece);
    const std::int64_t delivered = output_.transform(output_.transformContext, scratch_.get(), piece);
    if (delivered < 0) return -1;
    const std::size_t give = std::min(static_cast<std::size_t>(delivered), piece);
    if (WriteRaw(scratch_.get(), give) != static_cast<std::int64_t>(piece)) ++shortPieces;
    done += piece;
  }
  return static_cast<std::int64_t>(length - shortPieces);
}

bool DataStream::EndOutput() {
  switch (output_.kind) {
    case SideKind::kFunction:
      return output_.write(output_.context, nullptr, 0) >= 0;
    case SideKind::kCFile:
      return std::fflush(output_.file) == 0;
    case SideKind::kNone:
      return false;
    default:
      return true;
  }
}

unsigned char* DataStream::OutputArea() const {
  if (output_.kind != SideKind::kMemory || output_.memory == nullptr) return nullptr;
  return output_.memory + output_.position;
}

std::size_t DataStream::OutputRoom() const {
  if (output_.kind != SideKind::kMemory) return 0;
  return output_.capacity - output_.position;
}

void DataStream::CommitOutput(std::size_t length) {
  if (output_.kind != SideKind::kMemory) return;
  const std::size_t take = std::min(length, output_.capacity - output_.position);
  unsigned char* area = output_.memory + output_.position;
  // The area belongs to the stream's target, so it is transformed in place.
  if (output_.transform != nullptr && take > 0) output_.transform(output_.transformContext, area, take);
  Advance(output_, take);
  RaiseHighWater();
  Observe(output_, area, take);
}

unsigned char* DataStream::WorkBuffer() {
  if (!workBuffer_) workBuffer_ = AllocateBlock(kWorkBufferSize);
  return workBuffer_.get();
}

void DataStream::ReleaseWorkBuffer() { workBuffer_.reset(); }

}  // namespace korbel
