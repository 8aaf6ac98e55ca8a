// Aes: the AES block cipher (FIPS-197) in the encryption direction only.
// The zip AES scheme runs AES in counter mode, where decrypting a file means
// encrypting counter blocks, so no inverse cipher is needed. Blocks go
// through the processor's AES instructions where it has them, otherwise
// through byte-indexed lookup tables built at compile time.
#ifndef PAKKARO_ZIP_CRYPT_AES_H
#define PAKKARO_ZIP_CRYPT_AES_H

#include <cstddef>
#include <cstdint>

namespace korbel {

class Aes {
 public:
  static constexpr std::size_t kBlockSize = 16;
  static constexpr std::size_t kMaxRounds = 14;

  // kPortable forces the table code even on processors with AES
  // instructions, so that both paths can be checked on one machine.
  enum class Engine { kBest, kPortable };

  explicit Aes(Engine engine = Engine::kBest);

  // Expands a 16-, 24- or 32-byte key; any other length is refused and
  // leaves the previous key in place.
  bool SetKey(const std::uint8_t* key, std::size_t bytes);

  // `in` and `out` may be the same block. A key must have been set.
  void EncryptBlock(const std::uint8_t in[kBlockSize], std::uint8_t out[kBlockSize]) const;
  // `count` consecutive blocks; `in` and `out` may be the same area.
  void EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;

  // True when this object encrypts with the processor's AES instructions.
  bool UsesHardware() const { return hardware_; }
  static bool HardwareAvailable();

 private:
  // 10, 12 or 14; 0 until a key is set.
  unsigned rounds_ = 0;
  bool hardware_ = false;
  // Round keys as big-endian words (the table code) ...
  std::uint32_t roundWords_[4 * (kMaxRounds + 1)] = {};
  // ... and as the byte sequence the AES instructions load.
  std::uint8_t roundBytes_[16 * (kMaxRounds + 1)] = {};
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_AES_H
