#include "zip/crypt/traditional_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"

namespace korbel {
namespace {

using testing_support::Bytes;

const std::uint8_t* Text(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// Text that compresses, then bytes that do not.
Bytes SampleContent() {
  Bytes content = testing_support::TextBytes(3000);
  const Bytes noise = testing_support::RandomBytes(3000, 7);
  content.insert(content.end(), noise.begin(), noise.end());
  return content;
}

// Decrypts an entry made by another tool, checks the header against the
// value the flags select, and compares the content; then encrypts the plain
// bytes again, which must reproduce the tool's bytes exactly.
void CheckEntry(const testing_support::FirstEntry& entry, const std::string& password, const Bytes& content) {
  ASSERT_EQ(entry.flags & 1, 1);
  ASSERT_GE(entry.data.size(), TraditionalCipher::kHeaderSize);
  const std::uint16_t check =
      (entry.flags & 8) != 0 ? entry.dosTime : static_cast<std::uint16_t>(entry.crc >> 16);
  Bytes plain = entry.data;
  TraditionalCipher cipher;
  cipher.InitKeys(Text(password), password.size());
  ASSERT_TRUE(cipher.DecryptHeader(plain.data(), check));
  cipher.Decrypt(plain.data() + TraditionalCipher::kHeaderSize,
                 plain.size() - TraditionalCipher::kHeaderSize);
  const Bytes packed(plain.begin() + TraditionalCipher::kHeaderSize, plain.end());
  if (entry.method == 0) {
    EXPECT_EQ(packed, content);
  } else {
    ASSERT_EQ(entry.method, 8);
    EXPECT_EQ(testing_support::RawInflate(packed, content.size()), content);
  }
  TraditionalCipher again;
  again.InitKeys(Text(password), password.size());
  again.Encrypt(plain.data(), plain.size());
  EXPECT_EQ(plain, entry.data);
}

// Info-ZIP writes its sizes in a data descriptor (flag bit 3) when it
// encrypts, so its header checks the DOS time.
TEST(TraditionalCipherTest, DecryptsInfoZipEntries) {
  if (!testing_support::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  const Bytes content = SampleContent();
  for (const char* level : {"-0", "-6"}) {
    SCOPED_TRACE(level);
    testing_support::TempDir folder;
    ASSERT_TRUE(testing_support::WriteFile(folder / "plain.bin", content));
    ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(folder.Path()) +
                                          " && zip -q -P secret " + level + " a.zip plain.bin"),
              0);
    const testing_support::FirstEntry entry =
        testing_support::ParseFirstEntry(testing_support::ReadFile(folder / "a.zip"));
    ASSERT_TRUE(entry.ok);
    EXPECT_NE(entry.flags & 8, 0);
    CheckEntry(entry, "secret", content);
  }
}

// 7-Zip writes the sizes in the local header, so its header checks the CRC.
TEST(TraditionalCipherTest, DecryptsSevenZipEntries) {
  if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz is not installed";
  const Bytes content = SampleContent();
  for (const char* method : {"Copy", "Deflate"}) {
    SCOPED_TRACE(method);
    testing_support::TempDir folder;
    ASSERT_TRUE(testing_support::WriteFile(folder / "plain.bin", content));
    ASSERT_EQ(testing_support::RunCommand("cd " + testing_support::Quote(folder.Path()) +
                                          " && 7zz a -tzip '-ppass Wort!' -mem=ZipCrypto -mm=" + method +
                                          " a.zip plain.bin >/dev/null"),
              0);
    const testing_support::FirstEntry entry =
        testing_support::ParseFirstEntry(testing_support::ReadFile(folder / "a.zip"));
    ASSERT_TRUE(entry.ok);
    EXPECT_EQ(entry.flags & 8, 0);
    CheckEntry(entry, "pass Wort!", content);
  }
}

// Headers made here with known bytes: byte 11 alone decides, byte 10 is
// not compared, and a wrong password turns byte 11 into something else.
TEST(TraditionalCipherTest, HeaderCheckLooksAtTheLastByte) {
  const std::uint16_t check = 0xa586;
  struct Case {
    const char* name;
    std::uint8_t byte10;
    std::uint8_t byte11;
    const char* password;
    bool accepted;
  };
  const Case cases[] = {
      {"two bytes match", 0x86, 0xa5, "secret", true},
      {"only the last byte matches", 0x00, 0xa5, "secret", true},
      {"last byte differs", 0x86, 0xa4, "secret", false},
      {"wrong password", 0x86, 0xa5, "Secret", false},
      {"no password", 0x86, 0xa5, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint8_t header[TraditionalCipher::kHeaderSize] = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, c.byte10, c.byte11};
    TraditionalCipher writer;
    writer.InitKeys(Text("secret"), 6);
    writer.Encrypt(header, sizeof header);
    TraditionalCipher reader;
    reader.InitKeys(Text(c.password), std::string(c.password).size());
    EXPECT_EQ(reader.DecryptHeader(header, check), c.accepted);
  }
}

// InitKeys starts over instead of stirring the password into used keys.
TEST(TraditionalCipherTest, InitKeysStartsOver) {
  std::uint8_t expected[16] = {};
  TraditionalCipher fresh;
  fresh.InitKeys(Text("secret"), 6);
  fresh.Encrypt(expected, sizeof expected);
  std::uint8_t data[16] = {};
  TraditionalCipher reused;
  reused.InitKeys(Text("other"), 5);
  reused.Decrypt(data, sizeof data);
  std::fill(std::begin(data), std::end(data), std::uint8_t{0});
  reused.InitKeys(Text("secret"), 6);
  reused.Encrypt(data, sizeof data);
  EXPECT_TRUE(std::equal(std::begin(data), std::end(data), std::begin(expected)));
}

}  // namespace
}  // namespace korbel
