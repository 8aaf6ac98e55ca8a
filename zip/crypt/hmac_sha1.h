// HmacSha1: HMAC (RFC 2104) over SHA-1. The key's inner and outer pad
// blocks are hashed once in SetKey and the two partial states kept, so each
// message after that costs only its own blocks and one outer block; the key
// derivation's thousands of short messages depend on that.
#ifndef PAKKARO_ZIP_CRYPT_HMAC_SHA1_H
#define PAKKARO_ZIP_CRYPT_HMAC_SHA1_H

#include <cstddef>
#include <cstdint>

#include "zip/crypt/sha1.h"

namespace korbel {

class HmacSha1 {
 public:
  static constexpr std::size_t kMacSize = Sha1::kDigestSize;

  explicit HmacSha1(Sha1::Engine engine = Sha1::Engine::kBest);

  // Any key length; keys longer than a SHA-1 block are hashed first.
  // Starts a new message.
  void SetKey(const std::uint8_t* key, std::size_t length);
  void Update(const std::uint8_t* data, std::size_t length);
  // Writes the MAC and starts a new message under the same key.
  void Final(std::uint8_t mac[kMacSize]);
  // Drops the message so far; the key stays.
  void Reset();

 private:
  Sha1 innerStart_;  // after the key XOR 0x36 block
  Sha1 outerStart_;  // after the key XOR 0x5c block
  Sha1 inner_;       // the message under way
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_HMAC_SHA1_H
