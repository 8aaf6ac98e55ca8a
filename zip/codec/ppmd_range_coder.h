// PpmdRangeEncoder / PpmdRangeDecoder: the range coder of PPMd variant I streams,
// with buffered output and input through callbacks.
#ifndef PAKKARO_ZIP_CODEC_PPMD_RANGE_CODER_H
#define PAKKARO_ZIP_CODEC_PPMD_RANGE_CODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zip/codec/ppmd_coder.h"

namespace korbel {

// Range coder of the PPMd variant I streams: a 32-bit low end and range without carry
// propagation. When the range gets narrow while the top byte of low is still
// undecided, the range is cut down to the next 2^15 boundary so that the byte can be
// settled. Both directions track low and range identically; the decoder also keeps
// the code value relative to low.
class PpmdRangeEncoder {
 public:
  PpmdRangeEncoder(PpmdWrite write, void* context, std::size_t bufferSize);

  // Codes the interval [start, start + size) of `total` (total <= range after
  // normalisation, which the model's frequency bounds guarantee).
  void Encode(uint32_t start, uint32_t size, uint32_t total) {
    range_ /= total;
    if (range_ == 0) {  // the model's total outgrew the range: no valid stream possible
      broken_ = true;
      range_ = 1;
    }
    low_ += start * range_;
    range_ *= size;
    Normalize();
  }
  // Binary decisions with a 14-bit probability of the 0 branch.
  void EncodeBit0(uint32_t size0) {
    range_ = (range_ >> 14) * size0;
    Normalize();
  }
  void EncodeBit1(uint32_t size0) {
    range_ >>= 14;
    low_ += size0 * range_;
    range_ *= (1u << 14) - size0;
    Normalize();
  }
  // Writes the 4 bytes of low that settle the last interval, then the buffer.
  void Finish();
  // A write took fewer bytes than offered; nothing is written after that.
  bool Failed() const { return failed_; }
  // The model's frequency total outgrew the range: the stream is not decodable.
  bool Broken() const { return broken_; }
  uint64_t BytesWritten() const { return written_; }

 private:
  static constexpr uint32_t kTop = 1u << 24;
  static constexpr uint32_t kBot = 1u << 15;

  // Hands the buffered bytes to the output; false once any write has failed.
  bool Drain();
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBot) return;
        range_ = (0u - low_) & (kBot - 1);
      }
      PutByte(static_cast<uint8_t>(low_ >> 24));
      range_ <<= 8;
      low_ <<= 8;
    }
  }
  void PutByte(uint8_t b) {
    buffer_[pos_++] = b;
    if (pos_ == buffer_.size()) Drain();
  }

  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  PpmdWrite write_;
  void* context_;
  std::vector<uint8_t> buffer_;
  std::size_t pos_ = 0;
  uint64_t written_ = 0;
  bool failed_ = false;
  bool broken_ = false;
};

class PpmdRangeDecoder {
 public:
  PpmdRangeDecoder(PpmdRead read, void* context, std::size_t bufferSize);

  // Reads the first 4 code bytes; false when they cannot start a valid stream.
  bool Init();

  // Scales the range to `total` and returns where the code lies in it. A result of
  // `total` or more only arises from a corrupt stream.
  uint32_t GetThreshold(uint32_t total) {
    range_ /= total;
    if (range_ == 0) {  // the model's total outgrew the range: the stream is unusable
      broken_ = true;
      range_ = 1;
      return total;
    }
    return code_ / range_;
  }
  // Removes the interval [start, start + size) chosen after GetThreshold.
  void Decode(uint32_t start, uint32_t size) {
    start *= range_;
    low_ += start;
    code_ -= start;
    range_ *= size;
    Normalize();
  }
  // Binary decision with a 14-bit probability of the 0 branch: returns the bit.
  unsigned DecodeBit(uint32_t size0) {
    range_ >>= 14;
    if (code_ / range_ < size0) {
      range_ *= size0;
      Normalize();
      return 0;
    }
    Decode(size0, (1u << 14) - size0);
    return 1;
  }

  bool ReadFailed() const { return readFailed_; }
  // Set when the stream needed bytes beyond the end of input or its numbers broke.
  bool Broken() const { return broken_; }
  uint64_t BytesConsumed() const { return consumed_; }

 private:
  static constexpr uint32_t kTop = 1u << 24;
  static constexpr uint32_t kBot = 1u << 15;

  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBot) return;
        range_ = (0u - low_) & (kBot - 1);
      }
      code_ = (code_ << 8) | NextByte();
      range_ <<= 8;
      low_ <<= 8;
    }
  }
  uint8_t NextByte() {
    if (pos_ == end_ && !Refill()) return 0;
    ++consumed_;
    return buffer_[pos_++];
  }
  bool Refill();

  uint32_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint32_t code_ = 0;
  PpmdRead read_;
  void* context_;
  std::vector<uint8_t> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  uint64_t consumed_ = 0;
  bool atEnd_ = false;
  bool readFailed_ = false;
  bool broken_ = false;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_PPMD_RANGE_CODER_H
