// Entries for the reading tests, stored or already compressed, optionally
// encrypted with the traditional scheme or AES, with knobs to break them in
// the ways the reader must notice; the archive builder lays them out. The
// engine never writes encrypted entries, and independent tools are not
// available under every build, so the tests make their own.
#ifndef PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H
#define PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/reference_codecs.h"
#include "zip/crypt/aes_ctr_hmac.h"
#include "zip/crypt/traditional_cipher.h"
#include "zip/format/zip_constants.h"

namespace crafted_zip {

using Bytes = std::vector<unsigned char>;

// The version an AES entry needs.
constexpr std::uint16_t kVersionAes = 51;

enum class Crypt { kNone, kTraditional, kAes };

struct Entry {
  std::string name;
  Bytes plain;
  Crypt crypt = Crypt::kNone;
  std::string password;
  unsigned strength = 3;        // AES strength written to the extra field
  unsigned aesVersion = 2;      // AE-2 stores a CRC of 0
  bool dataDescriptor = false;  // flag bit 3, sizes after the data
  std::uint32_t dosDateTime = 0x5A8B6C2Du;
  std::uint32_t externalAttributes = 0x20;
  unsigned char checkLowXor = 0;   // spoils byte 10 of the traditional header
  unsigned char checkHighXor = 0;  // spoils byte 11
  long flipAt = -1;                // offset in the encrypted payload to flip
  long truncateTo = -1;            // payload (and compressed size) cut to this
  Bytes compressed;                // when set: the data stored (plain or under AES) in place of `plain`
  std::uint16_t innerMethod = 0;   // the method `compressed` is in
  bool spoilCode = false;          // flips a bit of the AES authentication code
};

inline std::uint32_t Crc(const Bytes& data) { return testing_support::Crc32(data); }

struct Encoded {
  Bytes payload;
  std::uint32_t crc;
  std::uint16_t method;
  std::uint16_t flags;
  Bytes extra;
};

inline Encoded Encode(const Entry& entry) {
  Encoded out{{}, Crc(entry.plain), 0, 0, {}};
  const auto* password = reinterpret_cast<const std::uint8_t*>(entry.password.data());
  if (entry.crypt == Crypt::kTraditional) {
    out.flags = korbel::kFlagEncrypted;
    korbel::TraditionalCipher cipher;
    cipher.InitKeys(password, entry.password.size());
    const std::uint16_t check = entry.dataDescriptor ? static_cast<std::uint16_t>(entry.dosDateTime & 0xFFFF)
                                                     : static_cast<std::uint16_t>(out.crc >> 16);
    for (unsigned i = 0; i < 10; ++i) out.payload.push_back(static_cast<unsigned char>(i * 37 + 11));
    out.payload.push_back(static_cast<unsigned char>((check & 0xFF) ^ entry.checkLowXor));
    out.payload.push_back(static_cast<unsigned char>((check >> 8) ^ entry.checkHighXor));
    out.payload.insert(out.payload.end(), entry.plain.begin(), entry.plain.end());
    cipher.Encrypt(out.payload.data(), out.payload.size());
  } else if (entry.crypt == Crypt::kAes) {
    out.flags = korbel::kFlagEncrypted;
    out.method = korbel::kMethodAes;
    if (entry.aesVersion == 2) out.crc = 0;
    const unsigned usable = entry.strength >= 1 && entry.strength <= 3 ? entry.strength : 3;
    Bytes salt(korbel::ZipAesDecryptor::SaltLength(usable));
    for (std::size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<unsigned char>(0xA0 + i * 3);
    korbel::ZipAesDecryptor aes;
    // A password too long for the scheme still gets an entry: its first
    // 128 bytes make the keys, and the reader must refuse it anyway.
    const std::size_t length = std::min<std::size_t>(entry.password.size(), 128);
    aes.Init(password, length, usable, salt.data());
    Bytes data = entry.compressed.empty() ? entry.plain : entry.compressed;
    aes.Encrypt(data.data(), data.size());
    std::uint8_t code[korbel::ZipAesDecryptor::kAuthCodeSize];
    aes.FinishAuthCode(code);
    out.payload = salt;
    out.payload.insert(out.payload.end(), aes.Verifier(), aes.Verifier() + 2);
    out.payload.insert(out.payload.end(), data.begin(), data.end());
    out.payload.insert(out.payload.end(), code, code + sizeof code);
    archive_builder::Put16(&out.extra, 0x9901);
    archive_builder::Put16(&out.extra, 7);
    archive_builder::Put16(&out.extra, entry.aesVersion);
    out.extra.push_back('A');
    out.extra.push_back('E');
    out.extra.push_back(static_cast<unsigned char>(entry.strength));
    archive_builder::Put16(&out.extra, entry.innerMethod);
    if (entry.spoilCode) out.payload.back() ^= 0x40;
  } else if (!entry.compressed.empty()) {
    out.method = entry.innerMethod;
    out.payload = entry.compressed;
  } else {
    out.payload = entry.plain;
  }
  if (entry.dataDescriptor) out.flags |= korbel::kFlagDataDescriptor;
  if (entry.flipAt >= 0) out.payload[static_cast<std::size_t>(entry.flipAt)] ^= 0x01;
  if (entry.truncateTo >= 0) out.payload.resize(static_cast<std::size_t>(entry.truncateTo));
  return out;
}

// The whole archive: local headers with their data, the central directory
// and the end record.
inline Bytes Build(const std::vector<Entry>& entries) {
  std::vector<archive_builder::Entry> laid;
  for (const Entry& entry : entries) {
    Encoded encoded = Encode(entry);
    archive_builder::Entry out;
    out.name = entry.name;
    out.compressedSize = encoded.payload.size();
    out.data = std::move(encoded.payload);
    out.versionNeeded = entry.crypt == Crypt::kAes ? kVersionAes : korbel::kVersionDeflate;
    out.flags = encoded.flags;
    out.method = encoded.method;
    out.dosDateTime = entry.dosDateTime;
    out.crc = encoded.crc;
    out.uncompressedSize = entry.plain.size();
    out.extra = std::move(encoded.extra);
    out.externalAttributes = entry.externalAttributes;
    laid.push_back(std::move(out));
  }
  return archive_builder::Build(laid).bytes;
}

}  // namespace crafted_zip

#endif  // PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H
