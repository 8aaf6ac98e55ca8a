// ZipAesDecryptor: the zip AES file scheme (AE-1 and AE-2). PBKDF2 turns
// password and salt into an AES key, an HMAC-SHA1 key and a 2-byte password
// verifier; the data is AES in counter mode (a 64-bit little-endian counter
// in bytes 0-7 of the counter block, starting at 1) and is authenticated by
// the first 10 bytes of an HMAC-SHA1 over the encrypted bytes.
//
// One object serves every AES entry of an archive: Init starts each entry.
// Holding back the authentication code at the end of an entry's data is the
// caller's part; this class sees only data bytes and, at the end, the code.
#ifndef PAKKARO_ZIP_CRYPT_AES_CTR_HMAC_H
#define PAKKARO_ZIP_CRYPT_AES_CTR_HMAC_H

#include <cstddef>
#include <cstdint>

#include "zip/crypt/aes.h"
#include "zip/crypt/hmac_sha1.h"

namespace korbel {

class ZipAesDecryptor {
 public:
  static constexpr std::size_t kVerifierSize = 2;
  static constexpr std::size_t kAuthCodeSize = 10;
  static constexpr std::size_t kMaxPasswordLength = 128;
  static constexpr unsigned kIterations = 1000;

  // Strength 1, 2, 3: AES key of 16, 24, 32 bytes with a salt half as long.
  // Both answer 0 for any other strength.
  static std::size_t KeyLength(unsigned strength);
  static std::size_t SaltLength(unsigned strength);

  ZipAesDecryptor();

  // Derives the keys for one entry and restarts the counter and the HMAC.
  // `salt` holds SaltLength(strength) bytes. False, with nothing derived,
  // for a strength other than 1..3 or a password over 128 bytes.
  bool Init(const std::uint8_t* password, std::size_t pwLen, unsigned strength, const std::uint8_t* salt);
  // The verifier computed by the last successful Init; the entry stores its
  // own copy right after the salt.
  const std::uint8_t* Verifier() const { return verifier_; }

  // Data bytes in place, in order: the HMAC takes them still encrypted.
  void Decrypt(std::uint8_t* buf, std::size_t n);
  // The writing direction: the HMAC takes the bytes once encrypted.
  void Encrypt(std::uint8_t* buf, std::size_t n);

  // Ends the entry: true when `code` equals the first 10 bytes of the HMAC
  // of the data seen. The comparison takes the same time wherever it differs.
  bool FinishAuth(const std::uint8_t code[kAuthCodeSize]);
  // Ends the entry on the writing side: the code to store after the data.
  void FinishAuthCode(std::uint8_t code[kAuthCodeSize]);

 private:
  // Key stream is made this many blocks at a time, so that AES can work on
  // several counter blocks at once.
  static constexpr std::size_t kStreamBlocks = 64;
  static constexpr std::size_t kStreamBytes = kStreamBlocks * Aes::kBlockSize;

  void XorKeyStream(std::uint8_t* buf, std::size_t n);
  void RefillKeyStream();

  Aes aes_;
  HmacSha1 hmac_;
  std::uint64_t counter_ = 0;  // value of the last counter block encrypted
  std::uint8_t keyStream_[kStreamBytes];
  std::size_t streamUsed_ = kStreamBytes;  // bytes of keyStream_ consumed
  std::uint8_t verifier_[kVerifierSize] = {};
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_AES_CTR_HMAC_H
