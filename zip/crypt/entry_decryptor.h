// EntryDecryptor: the decryption layer between an encrypted entry's stored
// bytes and its decoder. The password is checked against the encryption
// header before any byte reaches the decoder; the data is then decrypted in
// place as the decoder reads it. The traditional cipher checks one byte of
// its 12-byte header; AES checks its password verifier and, after the data,
// an authentication code that is held back from the decoder.
#ifndef PAKKARO_ZIP_CRYPT_ENTRY_DECRYPTOR_H
#define PAKKARO_ZIP_CRYPT_ENTRY_DECRYPTOR_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace korbel {

// What decryption needs to know of the entry it reads.
struct EncryptedEntry {
  bool aes = false;
  // Written with a data descriptor: the CRC was not known when the header
  // was made, and the DOS time stands in for it in the password check.
  bool dataDescriptor = false;
  std::uint32_t crc32 = 0;
  std::uint32_t dosDateTime = 0;
  unsigned aesInfo = 0;              // AES version * 4 + strength
  std::uint64_t compressedSize = 0;  // the encryption header and code included
};

class EntryDecryptor {
 public:
  // How the decryption of an entry's data ended.
  enum class Verdict { kPassed, kMismatched, kIncomplete };

  // The longest header: AES-256 has a 16-byte salt and a 2-byte verifier.
  static constexpr std::size_t kMaxHeaderSize = 18;

  virtual ~EntryDecryptor() = default;

  // A decryptor for AES entries or for the traditional cipher. One object
  // serves every entry of its kind: Begin starts each.
  static std::unique_ptr<EntryDecryptor> Make(bool aes);
  virtual bool ForAes() const = 0;

  // Bytes of the encryption header in front of the data; 0 when the entry
  // names no scheme of a known header.
  virtual std::size_t HeaderSize(const EncryptedEntry& entry) const = 0;
  // Checks the password (null: none set) against the HeaderSize bytes read
  // and gets ready for the data: kOk, kWrongPassword or kBadFormat.
  virtual int Begin(const EncryptedEntry& entry, const std::string* password, unsigned char* header) = 0;
  // Decrypts the next bytes of the entry in place; answers how many of them
  // the decoder gets, -1 when they go past the entry's data.
  virtual std::int64_t Decrypt(unsigned char* buffer, std::size_t length) = 0;

  // Whether the data is followed by a code that only the rest of the entry,
  // read through Decrypt after the decoder ended, completes.
  virtual bool HasTrailingCode() const { return false; }
  // True once a code was complete and did not match.
  virtual bool Mismatched() const { return false; }
  // After the entry was read to its end.
  virtual Verdict Finish() { return Verdict::kPassed; }

  // The read transformation a codec calls, with the decryptor as context.
  static std::int64_t Transform(void* context, unsigned char* buffer, std::size_t length);
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CRYPT_ENTRY_DECRYPTOR_H
