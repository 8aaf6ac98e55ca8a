// Sha1: the SHA-1 hash (FIPS 180-4). The zip AES scheme needs it for its
// HMAC, over every encrypted byte and inside the key derivation, so the
// compression function runs on the processor's SHA instructions where it has
// them and falls back to unrolled portable code.
#ifndef PAKKARO_ZIP_CRYPT_SHA1_H
#define PAKKARO_ZIP_CRYPT_SHA1_H

#include <cstddef>
#include <cstdint>

namespace korbel {

class Sha1 {
 public:
  static constexpr std::size_t kDigestSize = 20;
  static constexpr std::size_t kBlockSize = 64;

  // kPortable forces the portable code even where SHA instructions exist,
  // so that both paths can be checked on one machine.
  enum class Engine { kBest, kPortable };

  explicit Sha1(Engine engine = Engine::kBest);

  // Back to the empty message.
  void Reset();
  void Update(const std::uint8_t* data, std::size_t length);
  // Writes the digest and starts a new, empty message.
  void Final(std::uint8_t digest[kDigestSize]);

  bool UsesHardware() const;
  static bool HardwareAvailable();

 private:
  // Runs the compression function over `count` whole 64-byte blocks.
  using CompressFunction = void (*)(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count);

  CompressFunction compress_;
  std::uint32_t state_[5];
  std::uint64_t length_;  // message bytes taken so far
  std::uint8_t buffer_[kBlockSize];
  std::size_t buffered_;  // 0..63 bytes waiting in buffer_
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_SHA1_H
