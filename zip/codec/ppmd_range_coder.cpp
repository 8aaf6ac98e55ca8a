#include "zip/codec/ppmd_range_coder.h"

namespace korbel {

PpmdRangeEncoder::PpmdRangeEncoder(PpmdWrite write, void* context, std::size_t bufferSize)
    : write_(write), context_(context), buffer_(bufferSize) {}

bool PpmdRangeEncoder::Drain() {
  if (pos_ != 0 && !failed_) {
    const long taken = write_(context_, buffer_.data(), static_cast<unsigned long>(pos_));
    if (taken < 0 || static_cast<unsigned long>(taken) < pos_) {
      failed_ = true;
    } else {
      written_ += pos_;
    }
  }
  // After a failure the bytes are dropped: the caller stops at its next check.
  pos_ = 0;
  return !failed_;
}

void PpmdRangeEncoder::Finish() {
  for (int i = 0; i < 4; ++i) {
    PutByte(static_cast<uint8_t>(low_ >> 24));
    low_ <<= 8;
  }
  Drain();
}

PpmdRangeDecoder::PpmdRangeDecoder(PpmdRead read, void* context, std::size_t bufferSize)
    : read_(read), context_(context), buffer_(bufferSize) {}

bool PpmdRangeDecoder::Init() {
  low_ = 0;
  range_ = 0xFFFFFFFFu;
  code_ = 0;
  for (int i = 0; i < 4; ++i) code_ = (code_ << 8) | NextByte();
  return code_ < 0xFFFFFFFFu && !broken_;
}

bool PpmdRangeDecoder::Refill() {
  // A valid stream ends exactly with the 4 flushed bytes, so needing more is corruption.
  if (atEnd_ || readFailed_) {
    broken_ = true;
    return false;
  }
  const long got = read_(context_, buffer_.data(), static_cast<unsigned long>(buffer_.size()));
  if (got < 0) {
    readFailed_ = true;
    return false;
  }
  if (got == 0) {
    atEnd_ = true;
    broken_ = true;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<std::size_t>(got) < buffer_.size() ? static_cast<std::size_t>(got) : buffer_.size();
  return true;
}

}  // namespace korbel
