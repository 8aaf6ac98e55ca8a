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
  std::uint8_t Get8();
  std::uint16_t Get16();
  std::uint32_t Get32();
  std::uint64_t Get64();
  // The next `count` bytes, or null when fewer remain (or count is 0).
  const std::uint8_t* GetBytes(std::size_t count);
  // Moves past `count` bytes; false (and failed) when fewer remain.
  bool Skip(std::size_t count);

  bool ok() const { return ok_; }
  std::size_t position() const { return position_; }
  // Bytes left behind the position; 0 once the cursor has failed.
  std::size_t remaining() const { return ok_ ? size_ - position_ : 0; }

 private:
  // Number of bytes the next read may take, or false (and failed) when short.
  bool Have(std::size_t count);

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
