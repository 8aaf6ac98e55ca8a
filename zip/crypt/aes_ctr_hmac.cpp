#include "zip/crypt/aes_ctr_hmac.h"

#include <algorithm>
#include <cstring>

#include "zip/crypt/pbkdf2.h"

namespace korbel {

namespace {

// Work is split so that the HMAC and the key stream XOR touch each slice
// while it is still in the first-level cache.
constexpr std::size_t kSlice = 4096;

// Written out byte by byte so that the compiler merges it into one store.
inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
  p[4] = static_cast<std::uint8_t>(v >> 32);
  p[5] = static_cast<std::uint8_t>(v >> 40);
  p[6] = static_cast<std::uint8_t>(v >> 48);
  p[7] = static_cast<std::uint8_t>(v >> 56);
}

}  // namespace

std::size_t ZipAesDecryptor::KeyLength(unsigned strength) {
  return strength >= 1 && strength <= 3 ? 8 * strength + 8 : 0;
}

std::size_t ZipAesDecryptor::SaltLength(unsigned strength) { return KeyLength(strength) / 2; }

ZipAesDecryptor::ZipAesDecryptor() : keyStream_() {}

bool ZipAesDecryptor::Init(const std::uint8_t* password, std::size_t pwLen, unsigned strength,
                           const std::uint8_t* salt) {
  const std::size_t keyLength = KeyLength(strength);
  if (keyLength == 0 || pwLen > kMaxPasswordLength) return false;
  // AES key, HMAC key of the same length, verifier.
  std::uint8_t derived[2 * 32 + kVerifierSize];
  const std::size_t derivedLength = 2 * keyLength + kVerifierSize;
  Pbkdf2HmacSha1(password, pwLen, salt, SaltLength(strength), kIterations, derived, derivedLength);
  aes_.SetKey(derived, keyLength);
  hmac_.SetKey(derived + keyLength, keyLength);
  std::memcpy(verifier_, derived + 2 * keyLength, kVerifierSize);
  std::fill(derived, derived + sizeof derived, std::uint8_t{0});
  counter_ = 0;
  streamUsed_ = kStreamBytes;
  return true;
}

void ZipAesDecryptor::RefillKeyStream() {
  std::uint64_t counter = counter_;
  for (std::size_t block = 0; block < kStreamBlocks; ++block) {
    std::uint8_t* p = keyStream_ + block * Aes::kBlockSize;
    ++counter;
    StoreLe64(p, counter);
    StoreLe64(p + 8, 0);
  }
  counter_ = counter;
  aes_.EncryptBlocks(keyStream_, keyStream_, kStreamBlocks);
  streamUsed_ = 0;
}

void ZipAesDecryptor::XorKeyStream(std::uint8_t* buf, std::size_t n) {
  while (n > 0) {
    if (streamUsed_ == kStreamBytes) RefillKeyStream();
    const std::size_t take = std::min(n, kStreamBytes - streamUsed_);
    const std::uint8_t* key = keyStream_ + streamUsed_;
    std::size_t i = 0;
    for (; i + 8 <= take; i += 8) {
      std::uint64_t a;
      std::uint64_t b;
      std::memcpy(&a, buf + i, 8);
      std::memcpy(&b, key + i, 8);
      a ^= b;
      std::memcpy(buf + i, &a, 8);
    }
    for (; i < take; ++i) buf[i] = static_cast<std::uint8_t>(buf[i] ^ key[i]);
    streamUsed_ += take;
    buf += take;
    n -= take;
  }
}

void ZipAesDecryptor::Decrypt(std::uint8_t* buf, std::size_t n) {
  while (n > 0) {
    const std::size_t take = std::min(n, kSlice);
    hmac_.Update(buf, take);
    XorKeyStream(buf, take);
    buf += take;
    n -= take;
  }
}

void ZipAesDecryptor::Encrypt(std::uint8_t* buf, std::size_t n) {
  while (n > 0) {
    const std::size_t take = std::min(n, kSlice);
    XorKeyStream(buf, take);
    hmac_.Update(buf, take);
    buf += take;
    n -= take;
  }
}

bool ZipAesDecryptor::FinishAuth(const std::uint8_t code[kAuthCodeSize]) {
  std::uint8_t computed[kAuthCodeSize];
  FinishAuthCode(computed);
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < kAuthCodeSize; ++i) {
    difference = static_cast<std::uint8_t>(difference | (computed[i] ^ code[i]));
  }
  return difference == 0;
}

void ZipAesDecryptor::FinishAuthCode(std::uint8_t code[kAuthCodeSize]) {
  std::uint8_t mac[HmacSha1::kMacSize];
  hmac_.Final(mac);
  std::memcpy(code, mac, kAuthCodeSize);
}

}  // namespace korbel
