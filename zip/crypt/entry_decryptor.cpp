#include "zip/crypt/entry_decryptor.h"

#include <cstring>

#include "zip/crypt/aes_ctr_hmac.h"
#include "zip/crypt/traditional_cipher.h"
#include "zip/error_codes.h"

namespace korbel {
namespace {

static_assert(TraditionalCipher::kHeaderSize <= EntryDecryptor::kMaxHeaderSize, "header buffer too small");

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

class TraditionalDecryptor final : public EntryDecryptor {
 public:
  bool ForAes() const override { return false; }
  std::size_t HeaderSize(const EncryptedEntry&) const override { return TraditionalCipher::kHeaderSize; }

  int Begin(const EncryptedEntry& entry, const std::string* password, unsigned char* header) override {
    if (password == nullptr) return kWrongPassword;
    cipher_.InitKeys(Bytes(*password), password->size());
    const std::uint16_t check = entry.dataDescriptor ? static_cast<std::uint16_t>(entry.dosDateTime & 0xFFFF)
                                                     : static_cast<std::uint16_t>(entry.crc32 >> 16);
    return cipher_.DecryptHeader(header, check) ? kOk : kWrongPassword;
  }

  std::int64_t Decrypt(unsigned char* buffer, std::size_t length) override {
    cipher_.Decrypt(buffer, length);
    return static_cast<std::int64_t>(length);
  }

 private:
  TraditionalCipher cipher_;
};

// The AES data is followed by its authentication code. The last 11 bytes of
// the entry are held back: when all of them are in, the first is the last
// data byte, and the other ten are compared with the computed code.
class AesDecryptor final : public EntryDecryptor {
 public:
  bool ForAes() const override { return true; }

  std::size_t HeaderSize(const EncryptedEntry& entry) const override {
    const unsigned strength = entry.aesInfo & 3u;
    return strength >= 1 ? ZipAesDecryptor::SaltLength(strength) + ZipAesDecryptor::kVerifierSize : 0;
  }

  int Begin(const EncryptedEntry& entry, const std::string* password, unsigned char* header) override {
    if (password == nullptr) return kWrongPassword;
    const unsigned strength = entry.aesInfo & 3u;
    const std::size_t saltLength = strength >= 1 ? ZipAesDecryptor::SaltLength(strength) : 0;
    if (strength < 1 || entry.compressedSize < saltLength + 12 ||
        password->size() > ZipAesDecryptor::kMaxPasswordLength) {
      return kBadFormat;
    }
    if (!decryptor_.Init(Bytes(*password), password->size(), strength, header)) return kBadFormat;
    if (std::memcmp(decryptor_.Verifier(), header + saltLength, ZipAesDecryptor::kVerifierSize) != 0) {
      return kWrongPassword;
    }
    const std::size_t headerLength = saltLength + ZipAesDecryptor::kVerifierSize;
    dataEnd_ = entry.compressedSize - kHeldBack;
    position_ = headerLength;
    heldCount_ = 0;
    authenticated_ = false;
    mismatched_ = false;
    empty_ = entry.compressedSize == headerLength + ZipAesDecryptor::kAuthCodeSize;
    return kOk;
  }

  std::int64_t Decrypt(unsigned char* buffer, std::size_t length) override {
    std::size_t data = 0;
    if (position_ < dataEnd_) {
      const std::uint64_t room = dataEnd_ - position_;
      data = length < room ? length : static_cast<std::size_t>(room);
      decryptor_.Decrypt(buffer, data);
      position_ += data;
    }
    const std::size_t rest = length - data;
    if (rest > kHeldBack - heldCount_) return -1;  // more than the entry holds
    std::memcpy(held_ + heldCount_, buffer + data, rest);
    heldCount_ += rest;
    position_ += rest;
    if (rest > 0 && heldCount_ == kHeldBack) {
      unsigned char last = held_[0];
      decryptor_.Decrypt(&last, 1);
      if (!decryptor_.FinishAuth(held_ + 1)) {
        mismatched_ = true;
        return -1;
      }
      authenticated_ = true;
      buffer[data] = last;
      return static_cast<std::int64_t>(data + 1);
    }
    return static_cast<std::int64_t>(data);
  }

  bool HasTrailingCode() const override { return true; }
  bool Mismatched() const override { return mismatched_; }

  Verdict Finish() override {
    // Without data no byte ever completes the 11 held back: the code is all.
    if (empty_ && heldCount_ == ZipAesDecryptor::kAuthCodeSize && !mismatched_) {
      authenticated_ = decryptor_.FinishAuth(held_);
      mismatched_ = !authenticated_;
    }
    if (mismatched_) return Verdict::kMismatched;
    return authenticated_ ? Verdict::kPassed : Verdict::kIncomplete;
  }

 private:
  static constexpr std::size_t kHeldBack = ZipAesDecryptor::kAuthCodeSize + 1;

  ZipAesDecryptor decryptor_;
  std::uint64_t dataEnd_ = 0;   // compressed size - 11
  std::uint64_t position_ = 0;  // bytes of the entry's data seen, header included
  unsigned char held_[kHeldBack] = {};
  std::size_t heldCount_ = 0;
  bool authenticated_ = false;  // the code was complete and matched
  bool mismatched_ = false;     // the code was complete and did not match
  bool empty_ = false;          // no data: the code alone follows the header
};

}  // namespace

std::unique_ptr<EntryDecryptor> EntryDecryptor::Make(bool aes) {
  if (aes) return std::make_unique<AesDecryptor>();
  return std::make_unique<TraditionalDecryptor>();
}

std::int64_t EntryDecryptor::Transform(void* context, unsigned char* buffer, std::size_t length) {
  return static_cast<EntryDecryptor*>(context)->Decrypt(buffer, length);
}

}  // namespace korbel
