#include "zip/crypt/pbkdf2.h"

#include <algorithm>

#include "zip/crypt/hmac_sha1.h"

namespace korbel {

void Pbkdf2HmacSha1(const std::uint8_t* pw, std::size_t pwLen, const std::uint8_t* salt, std::size_t saltLen,
                    unsigned iterations, std::uint8_t* out, std::size_t outLen) {
  HmacSha1 hmac;
  hmac.SetKey(pw, pwLen);
  // Output block i (from 1) is U1 ^ U2 ^ ... with U1 = HMAC(salt || i as
  // 32-bit big-endian) and each further U the HMAC of the one before.
  for (std::uint32_t blockIndex = 1; outLen > 0; ++blockIndex) {
    const std::uint8_t index[4] = {
        static_cast<std::uint8_t>(blockIndex >> 24), static_cast<std::uint8_t>(blockIndex >> 16),
        static_cast<std::uint8_t>(blockIndex >> 8), static_cast<std::uint8_t>(blockIndex)};
    std::uint8_t u[HmacSha1::kMacSize];
    hmac.Update(salt, saltLen);
    hmac.Update(index, sizeof index);
    hmac.Final(u);
    std::uint8_t t[HmacSha1::kMacSize];
    std::copy(u, u + sizeof u, t);
    for (unsigned i = 1; i < iterations; ++i) {
      hmac.Update(u, sizeof u);
      hmac.Final(u);
      for (std::size_t j = 0; j < sizeof t; ++j) t[j] = static_cast<std::uint8_t>(t[j] ^ u[j]);
    }
    const std::size_t take = std::min(outLen, sizeof t);
    std::copy(t, t + take, out);
    out += take;
    outLen -= take;
  }
}

}  // namespace korbel
