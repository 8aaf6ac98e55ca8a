#include "zip/crypt/traditional_cipher.h"

#include <zlib.h>

namespace korbel {

namespace {

// One byte of the reflected CRC-32 (polynomial 0xEDB88320) without the
// pre- and post-inversion: the keys are CRC registers, not finished CRCs.
inline std::uint32_t CrcStep(std::uint32_t crc, std::uint8_t byte) {
  static const z_crc_t* const table = get_crc_table();
  return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xff]) ^ (crc >> 8);
}

}  // namespace

TraditionalCipher::TraditionalCipher() { InitKeys(nullptr, 0); }

void TraditionalCipher::InitKeys(const std::uint8_t* password, std::size_t length) {
  keys_[0] = 0x12345678u;
  keys_[1] = 0x23456789u;
  keys_[2] = 0x34567890u;
  for (std::size_t i = 0; i < length; ++i) UpdateKeys(password[i]);
}

void TraditionalCipher::UpdateKeys(std::uint8_t plain) {
  keys_[0] = CrcStep(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
  keys_[2] = CrcStep(keys_[2], static_cast<std::uint8_t>(keys_[1] >> 24));
}

std::uint8_t TraditionalCipher::StreamByte() const {
  // The key stream byte depends on the low 16 bits of the third key only.
  const std::uint32_t t = (keys_[2] | 2) & 0xffff;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

std::uint8_t TraditionalCipher::DecryptByte(std::uint8_t cipher) {
  const std::uint8_t plain = static_cast<std::uint8_t>(cipher ^ StreamByte());
  UpdateKeys(plain);
  return plain;
}

void TraditionalCipher::Decrypt(std::uint8_t* buf, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) buf[i] = DecryptByte(buf[i]);
}

std::uint8_t TraditionalCipher::EncryptByte(std::uint8_t plain) {
  const std::uint8_t cipher = static_cast<std::uint8_t>(plain ^ StreamByte());
  UpdateKeys(plain);
  return cipher;
}

void TraditionalCipher::Encrypt(std::uint8_t* buf, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) buf[i] = EncryptByte(buf[i]);
}

bool TraditionalCipher::DecryptHeader(std::uint8_t header[kHeaderSize], std::uint16_t checkValue) {
  Decrypt(header, kHeaderSize);
  // Some writers check two bytes (byte 10 the low half); comparing the last
  // byte alone accepts those headers as well as the one-byte kind.
  return header[kHeaderSize - 1] == static_cast<std::uint8_t>(checkValue >> 8);
}

}  // namespace korbel
