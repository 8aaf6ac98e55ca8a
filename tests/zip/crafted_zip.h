// Builds small archives byte by byte for the reading tests: stored entries,
// optionally encrypted with the traditional scheme or AES, with knobs to
// break them in the ways the reader must notice. The engine never writes
// encrypted entries, and independent tools are not available under every
// build, so the tests make their own.
#ifndef PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H
#define PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "zip/crypt/aes_ctr_hmac.h"
#include "zip/crypt/traditional_cipher.h"

namespace crafted_zip {

using Bytes = std::vector<unsigned char>;

enum class Crypt { kNone, kTraditional, kAes };

struct Entry {
  std::string name;
  Bytes plain;
  Crypt crypt = Crypt::kNone;
  std::string password;
  unsigned strength = 3;         // AES strength written to the extra field
  unsigned aesVersion = 2;       // AE-2 stores a CRC of 0
  bool dataDescriptor = false;   // flag bit 3, sizes after the data
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

inline void Put16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<unsigned char>(value));
  out.push_back(static_cast<unsigned char>(value >> 8));
}

inline void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

inline std::uint32_t Crc(const Bytes& data) {
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

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
    out.flags = 1;
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
    out.flags = 1;
    out.method = 99;
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
    Put16(out.extra, 0x9901);
    Put16(out.extra, 7);
    Put16(out.extra, entry.aesVersion);
    out.extra.push_back('A');
    out.extra.push_back('E');
    out.extra.push_back(static_cast<unsigned char>(entry.strength));
    Put16(out.extra, entry.innerMethod);
    if (entry.spoilCode) out.payload.back() ^= 0x40;
  } else if (!entry.compressed.empty()) {
    out.method = entry.innerMethod;
    out.payload = entry.compressed;
  } else {
    out.payload = entry.plain;
  }
  if (entry.dataDescriptor) out.flags |= 8;
  if (entry.flipAt >= 0) out.payload[static_cast<std::size_t>(entry.flipAt)] ^= 0x01;
  if (entry.truncateTo >= 0) out.payload.resize(static_cast<std::size_t>(entry.truncateTo));
  return out;
}

// The whole archive: local headers with their data, the central directory
// and the end record.
inline Bytes Build(const std::vector<Entry>& entries) {
  Bytes archive;
  Bytes directory;
  for (const Entry& entry : entries) {
    const Encoded encoded = Encode(entry);
    const auto offset = static_cast<std::uint32_t>(archive.size());
    const auto size = static_cast<std::uint32_t>(encoded.payload.size());
    const auto plainSize = static_cast<std::uint32_t>(entry.plain.size());
    const std::uint16_t needed = entry.crypt == Crypt::kAes ? 51 : 20;
    Put32(archive, 0x04034B50);
    Put16(archive, needed);
    Put16(archive, encoded.flags);
    Put16(archive, encoded.method);
    Put32(archive, entry.dosDateTime);
    Put32(archive, entry.dataDescriptor ? 0 : encoded.crc);
    Put32(archive, entry.dataDescriptor ? 0 : size);
    Put32(archive, entry.dataDescriptor ? 0 : plainSize);
    Put16(archive, static_cast<std::uint32_t>(entry.name.size()));
    Put16(archive, static_cast<std::uint32_t>(encoded.extra.size()));
    archive.insert(archive.end(), entry.name.begin(), entry.name.end());
    archive.insert(archive.end(), encoded.extra.begin(), encoded.extra.end());
    archive.insert(archive.end(), encoded.payload.begin(), encoded.payload.end());
    if (entry.dataDescriptor) {
      Put32(archive, 0x08074B50);
      Put32(archive, encoded.crc);
      Put32(archive, size);
      Put32(archive, plainSize);
    }
    Put32(directory, 0x02014B50);
    Put16(directory, 20);
    Put16(directory, needed);
    Put16(directory, encoded.flags);
    Put16(directory, encoded.method);
    Put32(directory, entry.dosDateTime);
    Put32(directory, encoded.crc);
    Put32(directory, size);
    Put32(directory, plainSize);
    Put16(directory, static_cast<std::uint32_t>(entry.name.size()));
    Put16(directory, static_cast<std::uint32_t>(encoded.extra.size()));
    Put16(directory, 0);  // comment
    Put16(directory, 0);  // disk
    Put16(directory, 0);  // internal attributes
    Put32(directory, entry.externalAttributes);
    Put32(directory, offset);
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    directory.insert(directory.end(), encoded.extra.begin(), encoded.extra.end());
  }
  const auto directoryStart = static_cast<std::uint32_t>(archive.size());
  archive.insert(archive.end(), directory.begin(), directory.end());
  Put32(archive, 0x06054B50);
  Put32(archive, 0);
  Put16(archive, static_cast<std::uint32_t>(entries.size()));
  Put16(archive, static_cast<std::uint32_t>(entries.size()));
  Put32(archive, static_cast<std::uint32_t>(directory.size()));
  Put32(archive, directoryStart);
  Put16(archive, 0);
  return archive;
}

}  // namespace crafted_zip

#endif  // PAKKARO_TESTS_ZIP_CRAFTED_ZIP_H
