// PBKDF2 (RFC 2898, section 5.2) with HMAC-SHA1 as the pseudorandom
// function: how the zip AES scheme turns a password and salt into its AES
// key, authentication key and password verifier.
#ifndef PAKKARO_ZIP_CRYPT_PBKDF2_H
#define PAKKARO_ZIP_CRYPT_PBKDF2_H

#include <cstddef>
#include <cstdint>

namespace korbel {

// Fills `out` with `outLen` bytes of derived key. An iteration count of 0
// is taken as 1, the smallest the definition allows.
void Pbkdf2HmacSha1(const std::uint8_t* pw, std::size_t pwLen, const std::uint8_t* salt, std::size_t saltLen,
                    unsigned iterations, std::uint8_t* out, std::size_t outLen);

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_PBKDF2_H
