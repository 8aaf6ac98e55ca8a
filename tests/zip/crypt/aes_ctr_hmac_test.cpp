#include "zip/crypt/aes_ctr_hmac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

using testing_support::Bytes;

const std::uint8_t* Text(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The first entry of an archive written by 7-Zip with AES: its AES extra
// field and its data cut into salt, verifier, encrypted bytes and code.
struct AesEntry {
  unsigned version = 0;
  unsigned strength = 0;
  unsigned realMethod = 0;
  Bytes salt;
  Bytes verifier;
  Bytes encrypted;
  Bytes code;
};

bool ReadFirstAesEntry(const std::string& archive, AesEntry& entry) {
  using archive_builder::Get;
  const testing_support::FirstEntry first =
      testing_support::ParseFirstEntry(testing_support::ReadFile(archive));
  if (!first.ok || first.method != kMethodAes) return false;
  const Bytes& extra = first.extra;
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::size_t size = Get(extra, at + 2, 2);
    if (size > extra.size() - at - 4) return false;
    if (Get(extra, at, 2) == 0x9901 && size >= 7 && extra[at + 6] == 'A' && extra[at + 7] == 'E') {
      entry.version = static_cast<unsigned>(Get(extra, at + 4, 2));
      entry.strength = extra[at + 8];
      entry.realMethod = static_cast<unsigned>(Get(extra, at + 9, 2));
    }
    at += 4 + size;
  }
  const std::size_t compressed = first.data.size();
  const std::size_t saltLength = ZipAesDecryptor::SaltLength(entry.strength);
  if (saltLength == 0 || compressed < saltLength + 2 + 10) return false;
  const auto data = first.data.begin();
  const auto end = first.data.end();
  entry.salt.assign(data, data + static_cast<std::ptrdiff_t>(saltLength));
  entry.verifier.assign(data + static_cast<std::ptrdiff_t>(saltLength),
                        data + static_cast<std::ptrdiff_t>(saltLength + 2));
  entry.encrypted.assign(data + static_cast<std::ptrdiff_t>(saltLength + 2), end - 10);
  entry.code.assign(end - 10, end);
  return true;
}

// 10000 bytes: 625 counter blocks, so the counter carries out of its low
// byte, and several batches of key stream.
Bytes SampleContent() {
  Bytes content = testing_support::RandomBytes(6000, 99);
  const Bytes text = testing_support::TextBytes(4000);
  content.insert(content.end(), text.begin(), text.end());
  return content;
}

const char kPassword[] = "PASS word";

// Writes the content with 7zz into `folder` and reads the entry back.
void MakeEntry(const testing_support::TempDir& folder, const Bytes& content, const std::string& options,
               AesEntry& entry) {
  ASSERT_TRUE(testing_support::WriteFile(folder / "plain.bin", content));
  ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(folder.Path()) + " && 7zz a -tzip " +
                                        testing_support::Quote(std::string("-p") + kPassword) + " " +
                                        options + " a.zip plain.bin >/dev/null"),
            0);
  ASSERT_TRUE(ReadFirstAesEntry(folder / "a.zip", entry));
}

class ZipAesDecryptorArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  }
  const Bytes content_ = SampleContent();
};

// One decryptor for all three strengths, as an archive keeps one: each Init
// must start the counter and the HMAC afresh. The bytes encrypted here
// from the same salt must also be 7-Zip's bytes, code included.
TEST_F(ZipAesDecryptorArchiveTest, DecryptsSevenZipEntriesOfEachStrength) {
  ZipAesDecryptor decryptor;
  const struct {
    const char* method;
    unsigned strength;
  } kinds[] = {{"AES128", 1}, {"AES192", 2}, {"AES256", 3}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.method);
    testing_support::TempDir folder;
    AesEntry entry;
    MakeEntry(folder, content_, std::string("-mem=") + kind.method + " -mm=Copy", entry);
    ASSERT_EQ(entry.strength, kind.strength);
    EXPECT_TRUE(entry.version == 1 || entry.version == 2);
    EXPECT_EQ(entry.realMethod, 0u);
    ASSERT_EQ(entry.encrypted.size(), content_.size());

    ASSERT_TRUE(decryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
    EXPECT_EQ(Bytes(decryptor.Verifier(), decryptor.Verifier() + 2), entry.verifier);
    Bytes plain = entry.encrypted;
    decryptor.Decrypt(plain.data(), plain.size());
    EXPECT_EQ(plain, content_);
    EXPECT_TRUE(decryptor.FinishAuth(entry.code.data()));

    ZipAesDecryptor encryptor;
    ASSERT_TRUE(encryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
    encryptor.Encrypt(plain.data(), plain.size());
    EXPECT_EQ(plain, entry.encrypted);
    std::uint8_t code[ZipAesDecryptor::kAuthCodeSize];
    encryptor.FinishAuthCode(code);
    EXPECT_EQ(Bytes(code, code + sizeof code), entry.code);
  }
}

TEST_F(ZipAesDecryptorArchiveTest, DecryptsADeflatedEntry) {
  testing_support::TempDir folder;
  AesEntry entry;
  MakeEntry(folder, content_, "-mem=AES256 -mm=Deflate", entry);
  ASSERT_EQ(entry.realMethod, 8u);
  ZipAesDecryptor decryptor;
  ASSERT_TRUE(decryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
  decryptor.Decrypt(entry.encrypted.data(), entry.encrypted.size());
  EXPECT_TRUE(decryptor.FinishAuth(entry.code.data()));
  EXPECT_EQ(testing_support::RawInflate(entry.encrypted, content_.size()), content_);
}

// The read side hands over blocks of whatever size the stream delivers.
TEST_F(ZipAesDecryptorArchiveTest, PiecesOfAnySizeGiveTheSameBytes) {
  testing_support::TempDir folder;
  AesEntry entry;
  MakeEntry(folder, content_, "-mem=AES256 -mm=Copy", entry);
  ZipAesDecryptor decryptor;
  for (std::size_t piece : {1, 15, 17, 1000, 1024, 4097}) {
    SCOPED_TRACE(piece);
    ASSERT_TRUE(decryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
    Bytes plain = entry.encrypted;
    for (std::size_t at = 0; at < plain.size(); at += piece) {
      decryptor.Decrypt(plain.data() + at, std::min(piece, plain.size() - at));
    }
    EXPECT_EQ(plain, content_);
    EXPECT_TRUE(decryptor.FinishAuth(entry.code.data()));
  }
}

// A changed byte still decrypts (counter mode leaves the rest alone) but
// the code no longer matches; so does a changed code, or the wrong password.
TEST_F(ZipAesDecryptorArchiveTest, AuthenticationCatchesChanges) {
  testing_support::TempDir folder;
  AesEntry entry;
  MakeEntry(folder, content_, "-mem=AES256 -mm=Copy", entry);
  ZipAesDecryptor decryptor;

  const std::size_t flipped = 7777;
  Bytes damaged = entry.encrypted;
  damaged[flipped] ^= 0x10;
  ASSERT_TRUE(decryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
  decryptor.Decrypt(damaged.data(), damaged.size());
  EXPECT_TRUE(std::equal(damaged.begin(), damaged.begin() + flipped, content_.begin()));
  EXPECT_EQ(damaged[flipped], content_[flipped] ^ 0x10);
  EXPECT_FALSE(decryptor.FinishAuth(entry.code.data()));

  Bytes code = entry.code;
  code[9] ^= 0x01;
  Bytes plain = entry.encrypted;
  ASSERT_TRUE(decryptor.Init(Text(kPassword), sizeof kPassword - 1, entry.strength, entry.salt.data()));
  decryptor.Decrypt(plain.data(), plain.size());
  EXPECT_FALSE(decryptor.FinishAuth(code.data()));

  plain = entry.encrypted;
  ASSERT_TRUE(decryptor.Init(Text("PASS Word"), 9, entry.strength, entry.salt.data()));
  decryptor.Decrypt(plain.data(), plain.size());
  EXPECT_NE(plain, content_);
  EXPECT_FALSE(decryptor.FinishAuth(entry.code.data()));
}

// Worked out independently (PBKDF2, AES and HMAC of another library) for
// strength 1: password "password", salt 00..07, plain bytes 00..27.
TEST(ZipAesDecryptorTest, KnownAnswer) {
  const Bytes salt = FromHex("0001020304050607");
  const Bytes encrypted =
      FromHex("e72f8aa0a8501e2e81ec37f5f19f6133b1df92187c4ada4bd44ff0830268d1257dff5bfe0e16663e");
  const Bytes code = FromHex("df7210fe31d2aa8644b4");
  Bytes expected(40);
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<std::uint8_t>(i);

  ZipAesDecryptor decryptor;
  ASSERT_TRUE(decryptor.Init(Text("password"), 8, 1, salt.data()));
  EXPECT_EQ(Bytes(decryptor.Verifier(), decryptor.Verifier() + 2), FromHex("b51c"));
  Bytes plain = encrypted;
  decryptor.Decrypt(plain.data(), plain.size());
  EXPECT_EQ(plain, expected);
  EXPECT_TRUE(decryptor.FinishAuth(code.data()));
}

TEST(ZipAesDecryptorTest, InitRefusesBadStrengthAndLongPasswords) {
  const std::uint8_t salt[16] = {};
  const std::string longest(ZipAesDecryptor::kMaxPasswordLength, 'x');
  const std::string tooLong(ZipAesDecryptor::kMaxPasswordLength + 1, 'x');
  ZipAesDecryptor decryptor;
  EXPECT_FALSE(decryptor.Init(Text("pw"), 2, 0, salt));
  EXPECT_FALSE(decryptor.Init(Text("pw"), 2, 4, salt));
  EXPECT_FALSE(decryptor.Init(Text(tooLong), tooLong.size(), 3, salt));
  EXPECT_TRUE(decryptor.Init(Text(longest), longest.size(), 3, salt));
  EXPECT_TRUE(decryptor.Init(Text(""), 0, 1, salt));
}

TEST(ZipAesDecryptorTest, LengthsFollowTheStrength) {
  const struct {
    unsigned strength;
    std::size_t key;
    std::size_t salt;
  } rows[] = {{0, 0, 0}, {1, 16, 8}, {2, 24, 12}, {3, 32, 16}, {4, 0, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.strength);
    EXPECT_EQ(ZipAesDecryptor::KeyLength(row.strength), row.key);
    EXPECT_EQ(ZipAesDecryptor::SaltLength(row.strength), row.salt);
  }
}

}  // namespace
}  // namespace korbel
