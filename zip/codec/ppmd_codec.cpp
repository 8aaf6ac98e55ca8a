#include "zip/codec/ppmd_codec.h"

#include <algorithm>

#include "platform/platform.h"
#include "zip/codec/ppmd_coder.h"

namespace korbel {
namespace {

constexpr char kNoMemory[] = "Zu wenig SPeicher";
constexpr char kInternalError[] = "Interner Fehler";

constexpr OutputFailureTexts kOutputTexts{kCodecWriteFailed, kTextSaveFailed, kCodecWriteFailed,
                                          kTextSaveFailed};

constexpr int kLowestLevel = 1;
constexpr int kHighestLevel = 7;
constexpr unsigned long kMiB = 1ul << 20;

PpmdParameters ParametersForLevel(int level) {
  return PpmdParameters{16 - level, static_cast<unsigned>(level + 7), 0};
}

// The model memory is shared by the whole process.
class ModelLock {
 public:
  ModelLock() : semaphore_(Semaphore()) { semaphore_.Wait(); }
  ~ModelLock() { semaphore_.Release(); }
  ModelLock(const ModelLock&) = delete;
  ModelLock& operator=(const ModelLock&) = delete;

 private:
  static platform::Semaphore& Semaphore() {
    static platform::Semaphore semaphore(1);
    return semaphore;
  }
  platform::Semaphore& semaphore_;
};

long ReadForPpmd(void* context, unsigned char* buffer, unsigned long size) {
  const std::int64_t got = static_cast<DataStream*>(context)->Read(buffer, size);
  return got < 0 ? -1 : static_cast<long>(got);
}

// A memory side takes what fits; the coder sees the short count as a failed write.
long WriteForPpmd(void* context, const unsigned char* buffer, unsigned long size) {
  const std::int64_t put = static_cast<DataStream*>(context)->Write(buffer, size);
  return put < 0 ? -1 : static_cast<long>(put);
}

bool ValidParameters(const PpmdParameters& parameters) {
  return parameters.order >= 2 && parameters.order <= 16 && parameters.restoreMethod >= 0 &&
         parameters.restoreMethod <= 2 && parameters.memoryMiB >= 1;
}

// How the coder's results fail a run; `kOk` fails nothing.
CodecFailure FailureOf(PpmdResult result) {
  switch (result) {
    case PpmdResult::kOk:
      return kNoFailure;
    case PpmdResult::kReadFailed:
      return {kCodecReadFailed, kTextReadFailed};
    case PpmdResult::kWriteFailed:
      return {kCodecWriteFailed, kTextSaveFailed};
    case PpmdResult::kNoMemory:
      return {kCodecNoMemory, kNoMemory};
    case PpmdResult::kFormatError:
      return {kCodecDataError, kTextFormatError};
    default:
      return {kCodecOutputFull, kInternalError};
  }
}

}  // namespace

PpmdCodec::PpmdCodec() : header_(PpmdHeader(ParametersForLevel(kHighestLevel))) {}
PpmdCodec::~PpmdCodec() = default;

void PpmdCodec::ReleaseBuffers() {
  workspace_.Release();
  Codec::ReleaseBuffers();
}

void PpmdCodec::SetParameterBlock(const unsigned char* block) {
  std::copy(block, block + kParameterBlockSize, block_);
  haveBlock_ = true;
}

void PpmdCodec::SetHeaderValue(std::uint16_t header) {
  header_ = header;
  haveBlock_ = false;
}

std::uint64_t PpmdCodec::Compress(int level) {
  const int used = BeginCompression(level, kLowestLevel, kHighestLevel);
  const PpmdParameters parameters = ParametersForLevel(used);
  SetHeaderValue(PpmdHeader(parameters));
  const ModelLock lock;
  if (Mode() & kZipHeader) {
    const unsigned char header[2] = {static_cast<unsigned char>(header_),
                                     static_cast<unsigned char>(header_ >> 8)};
    WriteHeaderBytes(header, sizeof header, kTextSaveFailed);
  }
  unsigned long long bytesIn = 0;
  unsigned long long bytesOut = 0;
  const PpmdResult result = PpmdEncode(parameters, ReadForPpmd, static_cast<DataStream*>(this), WriteForPpmd,
                                       static_cast<DataStream*>(this), &bytesIn, &bytesOut, &workspace_);
  CountUncompressed(bytesIn);
  CountCompressed(bytesOut);
  // The encoder has no format failure of its own; any such answer is internal.
  if (result == PpmdResult::kFormatError) Fail(kCodecOutputFull, kInternalError);
  if (result != PpmdResult::kOk) Fail(FailureOf(result));
  NoteExpansion();
  FinishOutput(kOutputTexts);
  return CompressedCount();
}

std::uint64_t PpmdCodec::Decompress(int mode) {
  const int used = BeginDecompression(mode);
  PpmdParameters parameters{};
  bool valid = false;
  if (used & kZipHeader) {
    unsigned char header[2];
    ReadHeaderBytes(header, sizeof header, kTextReadFailed);
    valid = PpmdParseHeader(static_cast<unsigned short>(header[0] | (header[1] << 8)), &parameters);
  } else if (haveBlock_) {
    const unsigned long memory =
        static_cast<unsigned long>(block_[1]) | static_cast<unsigned long>(block_[2]) << 8 |
        static_cast<unsigned long>(block_[3]) << 16 | static_cast<unsigned long>(block_[4]) << 24;
    parameters = PpmdParameters{block_[0], static_cast<unsigned>(memory / kMiB), 0};
    valid = memory % kMiB == 0;
  } else {
    valid = PpmdParseHeader(header_, &parameters);
  }
  if (!valid || !ValidParameters(parameters)) Fail(kCodecDataError, kTextFormatError);

  const ModelLock lock;
  unsigned long long bytesIn = 0;
  unsigned long long bytesOut = 0;
  const PpmdResult result =
      PpmdDecode(parameters, limit_, ReadForPpmd, static_cast<DataStream*>(this), WriteForPpmd,
                 static_cast<DataStream*>(this), &bytesIn, &bytesOut, &workspace_);
  CountCompressed(bytesIn);
  CountUncompressed(bytesOut);
  if (result != PpmdResult::kOk) Fail(FailureOf(result));
  return UncompressedCount();
}

}  // namespace korbel
