// TraditionalCipher: the original zip encryption, a stream cipher of three
// 32-bit keys stirred by every plain byte. Weak by today's measure, but
// archives still carry it. Each entry's data starts with a 12-byte
// encrypted header whose last byte checks the password.
#ifndef PAKKARO_ZIP_CRYPT_TRADITIONAL_CIPHER_H
#define PAKKARO_ZIP_CRYPT_TRADITIONAL_CIPHER_H

#include <cstddef>
#include <cstdint>

namespace korbel {

class TraditionalCipher {
 public:
  static constexpr std::size_t kHeaderSize = 12;

  // The keys start at their initial values, as for an empty password.
  TraditionalCipher();

  // Back to the initial values, then stirred with each password byte (no
  // terminating zero).
  void InitKeys(const std::uint8_t* password, std::size_t length);

  std::uint8_t DecryptByte(std::uint8_t cipher);
  void Decrypt(std::uint8_t* buf, std::size_t n);
  std::uint8_t EncryptByte(std::uint8_t plain);
  void Encrypt(std::uint8_t* buf, std::size_t n);

  // Decrypts the entry header in place (the keys move on to the data) and
  // tells whether its last byte equals the high byte of `checkValue`: the
  // stored CRC's high 16 bits, or the DOS time for entries whose sizes
  // follow in a data descriptor.
  bool DecryptHeader(std::uint8_t header[kHeaderSize], std::uint16_t checkValue);

 private:
  void UpdateKeys(std::uint8_t plain);
  std::uint8_t StreamByte() const;

  std::uint32_t keys_[3];
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_TRADITIONAL_CIPHER_H
