#include "zip/crypt/hmac_sha1.h"

#include <cstring>

namespace korbel {

HmacSha1::HmacSha1(Sha1::Engine engine) : innerStart_(engine), outerStart_(engine), inner_(engine) {
  SetKey(nullptr, 0);
}

void HmacSha1::SetKey(const std::uint8_t* key, std::size_t length) {
  std::uint8_t block[Sha1::kBlockSize] = {};
  if (length > Sha1::kBlockSize) {
    Sha1 hash = innerStart_;  // a copy keeps the chosen engine
    hash.Reset();
    hash.Update(key, length);
    hash.Final(block);
  } else if (length > 0) {
    std::memcpy(block, key, length);
  }
  std::uint8_t pad[Sha1::kBlockSize];
  for (std::size_t i = 0; i < Sha1::kBlockSize; ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x36);
  innerStart_.Reset();
  innerStart_.Update(pad, sizeof pad);
  for (std::size_t i = 0; i < Sha1::kBlockSize; ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x5c);
  outerStart_.Reset();
  outerStart_.Update(pad, sizeof pad);
  inner_ = innerStart_;
}

void HmacSha1::Update(const std::uint8_t* data, std::size_t length) { inner_.Update(data, length); }

void HmacSha1::Final(std::uint8_t mac[kMacSize]) {
  std::uint8_t innerDigest[Sha1::kDigestSize];
  inner_.Final(innerDigest);
  Sha1 outer = outerStart_;
  outer.Update(innerDigest, sizeof innerDigest);
  outer.Final(mac);
  inner_ = innerStart_;
}

void HmacSha1::Reset() { inner_ = innerStart_; }

}  // namespace korbel
