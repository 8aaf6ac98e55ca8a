#include "zip/format/byte_cursor.h"

#include <cstring>

namespace korbel {

bool ByteCursor::Have(std::size_t count) {
  // size_ - position_ cannot underflow: position_ never passes size_.
  if (!ok_ || count > size_ - position_) {
    ok_ = false;
    return false;
  }
  return true;
}

std::uint8_t ByteCursor::Get8() {
  if (!Have(1)) return 0;
  return data_[position_++];
}

std::uint16_t ByteCursor::Get16() {
  if (!Have(2)) return 0;
  const std::uint8_t* p = data_ + position_;
  position_ += 2;
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ByteCursor::Get32() {
  if (!Have(4)) return 0;
  const std::uint8_t* p = data_ + position_;
  position_ += 4;
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t ByteCursor::Get64() {
  if (!Have(8)) return 0;
  std::uint64_t low = Get32();
  std::uint64_t high = Get32();
  return low | (high << 32);
}

const std::uint8_t* ByteCursor::GetBytes(std::size_t count) {
  if (!Have(count) || count == 0) return nullptr;
  const std::uint8_t* p = data_ + position_;
  position_ += count;
  return p;
}

bool ByteCursor::Skip(std::size_t count) {
  if (!Have(count)) return false;
  position_ += count;
  return true;
}

void ByteWriter::PutLittleEndian(std::uint64_t value, std::size_t width) {
  std::uint8_t bytes[8];
  for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  PutBytes(bytes, width);
}

void ByteWriter::Put8(std::uint8_t value) { PutBytes(&value, 1); }
void ByteWriter::Put16(std::uint16_t value) { PutLittleEndian(value, 2); }
void ByteWriter::Put32(std::uint32_t value) { PutLittleEndian(value, 4); }
void ByteWriter::Put64(std::uint64_t value) { PutLittleEndian(value, 8); }

void ByteWriter::PutBytes(const void* data, std::size_t count) {
  if (!ok_ || count == 0) return;
  const std::uint8_t* bytes = static_cast<const std::uint8_t*>(data);
  if (vector_ != nullptr) {
    vector_->insert(vector_->end(), bytes, bytes + count);
  } else {
    if (count > capacity_ - written_) {
      ok_ = false;
      return;
    }
    std::memcpy(buffer_ + written_, bytes, count);
  }
  written_ += count;
}

}  // namespace korbel
