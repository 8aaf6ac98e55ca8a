// Little-endian access to record bytes. Every read and write is bounded: one
// that would pass the end does nothing, marks the cursor failed, and every
// later operation fails too, so a parser may read a whole record and check
// ok() once at the end.
#ifndef PAKKARO_ZIP_BYTE_CURSOR_H
#define PAKKARO_ZIP_BYTE_CURSOR_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korbel {

// Reads little-endian numbers from a byte span it does not own.
class ByteCursor {
 public:
  ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

  // A failed read answers 0 (GetBytes: null) and leaves the cursor failed.
  // The numbers are read here, inline: loading a directory reads a dozen per
  // entry, millions in all.
  std::uint8_t Get8() { return Have(1) ? data_[position_++] : 0; }
  std::uint16_t Get16() {
    if (!Have(2)) return 0;
    const std::uint8_t* p = data_ + position_;
    position_ += 2;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t Get32() {
    if (!Have(4)) return 0;
    const std::uint8_t* p = data_ + position_;
    position_ += 4;
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  std::uint64_t Get64() {
    if (!Have(8)) return 0;
    const std::uint64_t low = Get32();
    const std::uint64_t high = Get32();
    return low | (high << 32);
  }
  // The next `count` bytes, or null when fewer remain (or count is 0).
  const std::uint8_t* GetBytes(std::size_t count);
  // Moves past `count` bytes; false (and failed) when fewer remain.
  bool Skip(std::size_t count);

  bool ok() const { return ok_; }
  std::size_t position() const { return position_; }
  // Bytes left behind the position; 0 once the cursor has failed.
  std::size_t remaining() const { return ok_ ? size_ - position_ : 0; }

 private:
  // Whether the next read may take `count` bytes; false (and failed) when short.
  bool Have(std::size_t count) {
    // size_ - position_ cannot underflow: position_ never passes size_.
    if (!ok_ || count > size_ - position_) {
      ok_ = false;
      return false;
    }
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;  // always <= size_
  bool ok_ = true;
};

// Writes little-endian numbers, appending to a vector or into a fixed buffer.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>* out) : vector_(out) {}
  ByteWriter(std::uint8_t* buffer, std::size_t capacity)
      : buffer_(buffer), capacity_(buffer ? capacity : 0) {}

  void Put8(std::uint8_t value);
  void Put16(std::uint16_t value);
  void Put32(std::uint32_t value);
  void Put64(std::uint64_t value);
  void PutBytes(const void* data, std::size_t count);

  // False once a write did not fit the fixed buffer; nothing of it was written.
  bool ok() const { return ok_; }
  // Bytes this writer has written.
  std::size_t size() const { return written_; }

 private:
  void PutLittleEndian(std::uint64_t value, std::size_t width);

  std::vector<std::uint8_t>* vector_ = nullptr;
  std::uint8_t* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t written_ = 0;
  bool ok_ = true;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_BYTE_CURSOR_H
