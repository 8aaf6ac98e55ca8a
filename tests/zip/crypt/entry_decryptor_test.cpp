// EntryDecryptor on its own: encrypted entries made with the ciphers'
// writing side, damaged in one way each, fed through Begin, Decrypt and
// Finish in blocks of several sizes, and the delivered bytes decoded.
#include "zip/crypt/entry_decryptor.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/crafted_zip.h"
#include "zip/error_codes.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

using crafted_zip::Crypt;
using testing_support::Bytes;

enum class Cipher { kTraditional, kAes128, kAes192, kAes256 };

enum class Damage {
  kNone,
  kWrongPassword,
  kFlippedDataByte,
  kFlippedCode,       // a bit of the AES authentication code
  kTruncated,         // the stated size is whole, the bytes stop 5 short
  kDescriptor,        // written with a data descriptor: the DOS time is the check
  kDescriptorUnseen,  // written so, but read as if the CRC were the check
};

// How the entry's data came out: the first refusal met, or what the
// delivered bytes decoded to.
enum class Outcome {
  kOk,
  kWrongPassword,
  kCodeMismatch,  // Decrypt or Finish found the authentication code wrong
  kIncomplete,    // the data ended before the code was complete
  kDataDiffers,   // the decryptor passed the bytes, they decode to something else
};

struct Row {
  const char* name;
  Cipher cipher;
  Damage damage;
  Outcome expected;
};

// The traditional cipher checks one byte and nothing after it: damage to the
// data passes the decryptor and shows only in what it decodes to. AES sees
// every changed byte through its code.
const Row kRows[] = {
    {"Traditional", Cipher::kTraditional, Damage::kNone, Outcome::kOk},
    {"TraditionalWrongPassword", Cipher::kTraditional, Damage::kWrongPassword, Outcome::kWrongPassword},
    {"TraditionalFlippedData", Cipher::kTraditional, Damage::kFlippedDataByte, Outcome::kDataDiffers},
    {"TraditionalTruncated", Cipher::kTraditional, Damage::kTruncated, Outcome::kDataDiffers},
    {"TraditionalDescriptor", Cipher::kTraditional, Damage::kDescriptor, Outcome::kOk},
    {"TraditionalDescriptorUnseen", Cipher::kTraditional, Damage::kDescriptorUnseen, Outcome::kWrongPassword},
    {"Aes128", Cipher::kAes128, Damage::kNone, Outcome::kOk},
    {"Aes128WrongPassword", Cipher::kAes128, Damage::kWrongPassword, Outcome::kWrongPassword},
    {"Aes128FlippedData", Cipher::kAes128, Damage::kFlippedDataByte, Outcome::kCodeMismatch},
    {"Aes128FlippedCode", Cipher::kAes128, Damage::kFlippedCode, Outcome::kCodeMismatch},
    {"Aes128Truncated", Cipher::kAes128, Damage::kTruncated, Outcome::kIncomplete},
    {"Aes128Descriptor", Cipher::kAes128, Damage::kDescriptor, Outcome::kOk},
    {"Aes192", Cipher::kAes192, Damage::kNone, Outcome::kOk},
    {"Aes192WrongPassword", Cipher::kAes192, Damage::kWrongPassword, Outcome::kWrongPassword},
    {"Aes192FlippedData", Cipher::kAes192, Damage::kFlippedDataByte, Outcome::kCodeMismatch},
    {"Aes192FlippedCode", Cipher::kAes192, Damage::kFlippedCode, Outcome::kCodeMismatch},
    {"Aes192Truncated", Cipher::kAes192, Damage::kTruncated, Outcome::kIncomplete},
    {"Aes192Descriptor", Cipher::kAes192, Damage::kDescriptor, Outcome::kOk},
    {"Aes256", Cipher::kAes256, Damage::kNone, Outcome::kOk},
    {"Aes256WrongPassword", Cipher::kAes256, Damage::kWrongPassword, Outcome::kWrongPassword},
    {"Aes256FlippedData", Cipher::kAes256, Damage::kFlippedDataByte, Outcome::kCodeMismatch},
    {"Aes256FlippedCode", Cipher::kAes256, Damage::kFlippedCode, Outcome::kCodeMismatch},
    {"Aes256Truncated", Cipher::kAes256, Damage::kTruncated, Outcome::kIncomplete},
    {"Aes256Descriptor", Cipher::kAes256, Damage::kDescriptor, Outcome::kOk},
    // AES checks its verifier whatever the flags say.
    {"Aes256DescriptorUnseen", Cipher::kAes256, Damage::kDescriptorUnseen, Outcome::kOk},
};

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kWrongPassword:
      return "wrong password";
    case Outcome::kCodeMismatch:
      return "code mismatch";
    case Outcome::kIncomplete:
      return "incomplete";
    case Outcome::kDataDiffers:
      return "data differs";
  }
  return "?";
}

const std::string kPassword = "correct horse";

// Raw Deflate back to at most `limit` bytes; false when the stream is not
// one whole valid stream.
bool Inflate(const Bytes& packed, std::size_t limit, Bytes* out) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return false;
  out->assign(limit + 1, 0);
  stream.next_in = const_cast<Bytef*>(packed.data());
  stream.avail_in = static_cast<uInt>(packed.size());
  stream.next_out = out->data();
  stream.avail_out = static_cast<uInt>(out->size());
  const int status = inflate(&stream, Z_FINISH);
  out->resize(stream.total_out);
  inflateEnd(&stream);
  return status == Z_STREAM_END && stream.avail_in == 0;
}

struct Made {
  EncryptedEntry entry;  // what the reader would know of it
  Bytes payload;         // encryption header, data and (AES) code
  Bytes plain;           // what the data must decode to
};

Made MakeEntry(const Row& row, std::uint16_t method) {
  Made made;
  made.plain = testing_support::TextBytes(9000);
  const Bytes noise = testing_support::RandomBytes(7000, 31);
  made.plain.insert(made.plain.end(), noise.begin(), noise.end());
  const Bytes stored = method == kMethodDeflate ? testing_support::RawDeflate(made.plain) : made.plain;

  crafted_zip::Entry entry;
  entry.password = kPassword;
  entry.dataDescriptor = row.damage == Damage::kDescriptor || row.damage == Damage::kDescriptorUnseen;
  if (row.cipher == Cipher::kTraditional) {
    entry.crypt = Crypt::kTraditional;
    entry.plain = stored;  // the cipher covers the stored bytes, whatever their method
  } else {
    entry.crypt = Crypt::kAes;
    entry.strength = static_cast<unsigned>(row.cipher);  // 1, 2, 3
    entry.plain = made.plain;
    entry.compressed = stored;
    entry.innerMethod = method;
  }
  const std::size_t header = entry.crypt == Crypt::kAes ? ZipAesDecryptor::SaltLength(entry.strength) +
                                                              ZipAesDecryptor::kVerifierSize
                                                        : TraditionalCipher::kHeaderSize;
  if (row.damage == Damage::kFlippedDataByte) entry.flipAt = static_cast<long>(header + stored.size() / 2);
  entry.spoilCode = row.damage == Damage::kFlippedCode;
  const crafted_zip::Encoded encoded = crafted_zip::Encode(entry);

  made.payload = encoded.payload;
  made.entry.aes = entry.crypt == Crypt::kAes;
  made.entry.dataDescriptor = entry.dataDescriptor && row.damage != Damage::kDescriptorUnseen;
  // The traditional check value: the CRC of the bytes the cipher covered.
  made.entry.crc32 = entry.crypt == Crypt::kAes ? encoded.crc : testing_support::Crc32(stored);
  made.entry.dosDateTime = entry.dosDateTime;
  made.entry.aesInfo = entry.aesVersion * 4 + entry.strength;
  made.entry.compressedSize = made.payload.size();
  if (row.damage == Damage::kTruncated) made.payload.resize(made.payload.size() - 5);
  return made;
}

// Feeds the payload through the decryptor `block` bytes at a time, as a
// codec's reads would, and decodes what it delivers.
Outcome Feed(const Made& made, std::uint16_t method, const std::string& password, std::size_t block) {
  const std::unique_ptr<EntryDecryptor> decryptor = EntryDecryptor::Make(made.entry.aes);
  EXPECT_EQ(decryptor->ForAes(), made.entry.aes);
  const std::size_t header = decryptor->HeaderSize(made.entry);
  EXPECT_GT(header, 0u);
  EXPECT_LE(header, EntryDecryptor::kMaxHeaderSize);
  Bytes headerBytes(made.payload.begin(), made.payload.begin() + static_cast<long>(header));
  const int begun = decryptor->Begin(made.entry, &password, headerBytes.data());
  if (begun == kWrongPassword) return Outcome::kWrongPassword;
  EXPECT_EQ(begun, kOk);

  Bytes delivered;
  for (std::size_t at = header; at < made.payload.size(); at += block) {
    Bytes buffer(made.payload.begin() + static_cast<long>(at),
                 made.payload.begin() + static_cast<long>(std::min(at + block, made.payload.size())));
    const std::int64_t got = EntryDecryptor::Transform(decryptor.get(), buffer.data(), buffer.size());
    if (got < 0) {
      EXPECT_TRUE(decryptor->Mismatched()) << "refused bytes that are within the entry";
      return Outcome::kCodeMismatch;
    }
    delivered.insert(delivered.end(), buffer.begin(), buffer.begin() + got);
  }
  switch (decryptor->Finish()) {
    case EntryDecryptor::Verdict::kMismatched:
      return Outcome::kCodeMismatch;
    case EntryDecryptor::Verdict::kIncomplete:
      return Outcome::kIncomplete;
    case EntryDecryptor::Verdict::kPassed:
      break;
  }
  Bytes decoded = delivered;
  if (method == kMethodDeflate && !Inflate(delivered, made.plain.size(), &decoded))
    return Outcome::kDataDiffers;
  return decoded == made.plain ? Outcome::kOk : Outcome::kDataDiffers;
}

using Param = std::tuple<Row, std::uint16_t, std::size_t>;

class EntryDecryptorTest : public ::testing::TestWithParam<Param> {};

TEST_P(EntryDecryptorTest, DamageEndsInItsOutcome) {
  const Row& row = std::get<0>(GetParam());
  const std::uint16_t method = std::get<1>(GetParam());
  const std::size_t block = std::get<2>(GetParam());
  const Made made = MakeEntry(row, method);
  if (row.damage == Damage::kDescriptorUnseen && !made.entry.aes) {
    // Otherwise the refusal would be the one-in-256 match of two bytes.
    ASSERT_NE((made.entry.dosDateTime >> 8) & 0xFF, made.entry.crc32 >> 24);
  }
  const std::string password = row.damage == Damage::kWrongPassword ? "correct horsE" : kPassword;
  const Outcome outcome = Feed(made, method, password, block);
  EXPECT_EQ(outcome, row.expected) << OutcomeName(outcome) << ", expected " << OutcomeName(row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EntryDecryptorTest,
    ::testing::Combine(::testing::ValuesIn(kRows), ::testing::Values(kMethodStored, kMethodDeflate),
                       // One byte at a time, a block that ends inside the held-back
                       // bytes of most sizes, and the whole entry in one read.
                       ::testing::Values(std::size_t{1}, std::size_t{4093}, std::size_t{1} << 20)),
    [](const ::testing::TestParamInfo<Param>& paramInfo) {
      return std::string(std::get<0>(paramInfo.param).name) +
             (std::get<1>(paramInfo.param) == kMethodStored ? "_Stored_" : "_Deflate_") +
             std::to_string(std::get<2>(paramInfo.param));
    });

// Refusals that need no data: no password set, an AES entry of no known
// strength or too short to hold its header and code.
TEST(EntryDecryptorRefusalTest, NoPasswordAndUnknownStrength) {
  for (const bool aes : {false, true}) {
    SCOPED_TRACE(aes ? "AES" : "traditional");
    EncryptedEntry entry;
    entry.aes = aes;
    entry.aesInfo = 2 * 4 + 3;
    entry.compressedSize = 100;
    unsigned char header[EntryDecryptor::kMaxHeaderSize] = {};
    EXPECT_EQ(EntryDecryptor::Make(aes)->Begin(entry, nullptr, header), kWrongPassword);
  }
  const std::string password = kPassword;
  EncryptedEntry entry;
  entry.aes = true;
  entry.compressedSize = 100;
  {
    // Strength 0 names no key length: no header size, no keys.
    entry.aesInfo = 2 * 4 + 0;
    unsigned char header[EntryDecryptor::kMaxHeaderSize] = {};
    const std::unique_ptr<EntryDecryptor> decryptor = EntryDecryptor::Make(true);
    EXPECT_EQ(decryptor->HeaderSize(entry), 0u);
    EXPECT_EQ(decryptor->Begin(entry, &password, header), kBadFormat);
  }
  // Too short for salt, verifier and code.
  entry.aesInfo = 2 * 4 + 1;
  entry.compressedSize = 8 + 2 + 10 - 1;
  unsigned char header[EntryDecryptor::kMaxHeaderSize] = {};
  EXPECT_EQ(EntryDecryptor::Make(true)->Begin(entry, &password, header), kBadFormat);
}

}  // namespace
}  // namespace korbel
