#include "zip/format/byte_cursor.h"

#include <cstring>

namespace korbel {

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
