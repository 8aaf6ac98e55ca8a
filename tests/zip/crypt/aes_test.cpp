#include "zip/crypt/aes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace korbel {
namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Both engines run every case; on a processor without AES instructions the
// two are the same code, which still checks the tables.
const Aes::Engine kEngines[] = {Aes::Engine::kBest, Aes::Engine::kPortable};

struct KnownAnswer {
  const char* name;
  const char* key;
  const char* plain;
  const char* cipher;
};

// FIPS-197 appendix B and appendix C.1 to C.3.
const KnownAnswer kKnownAnswers[] = {
    {"B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"C.1 AES-128", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"C.2 AES-192", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"C.3 AES-256", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

TEST(AesTest, KnownAnswersOnBothEngines) {
  ASSERT_FALSE(Aes(Aes::Engine::kPortable).UsesHardware());
  for (Aes::Engine engine : kEngines) {
    for (const KnownAnswer& c : kKnownAnswers) {
      SCOPED_TRACE(std::string(c.name) + (engine == Aes::Engine::kPortable ? " portable" : " best"));
      Aes aes(engine);
      const std::vector<std::uint8_t> key = FromHex(c.key);
      ASSERT_TRUE(aes.SetKey(key.data(), key.size()));
      std::vector<std::uint8_t> block = FromHex(c.plain);
      std::uint8_t out[16];
      aes.EncryptBlock(block.data(), out);
      EXPECT_EQ(std::vector<std::uint8_t>(out, out + 16), FromHex(c.cipher));
      // In place gives the same.
      aes.EncryptBlock(block.data(), block.data());
      EXPECT_EQ(block, FromHex(c.cipher));
    }
  }
}

TEST(AesTest, RefusedKeyLengthKeepsThePreviousKey) {
  const std::vector<std::uint8_t> key = FromHex(kKnownAnswers[1].key);
  const std::vector<std::uint8_t> plain = FromHex(kKnownAnswers[1].plain);
  const std::uint8_t longKey[40] = {};
  Aes aes;
  ASSERT_TRUE(aes.SetKey(key.data(), key.size()));
  for (std::size_t length : {0, 1, 8, 15, 17, 20, 23, 25, 31, 33, 40}) {
    SCOPED_TRACE(length);
    EXPECT_FALSE(aes.SetKey(longKey, length));
    std::uint8_t out[16];
    aes.EncryptBlock(plain.data(), out);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 16), FromHex(kKnownAnswers[1].cipher));
  }
}

// Many blocks at once (the instruction path works eight at a time, then
// singly) must match block-by-block table encryption, for every key size.
TEST(AesTest, BlockRunsMatchSingleBlocks) {
  std::mt19937 random(12345);
  for (std::size_t keyBytes : {16, 24, 32}) {
    std::vector<std::uint8_t> key(keyBytes);
    for (auto& b : key) b = static_cast<std::uint8_t>(random());
    for (std::size_t count : {1, 7, 8, 9, 16, 19, 64}) {
      SCOPED_TRACE(std::to_string(keyBytes) + " byte key, " + std::to_string(count) + " blocks");
      std::vector<std::uint8_t> data(16 * count);
      for (auto& b : data) b = static_cast<std::uint8_t>(random());
      Aes reference(Aes::Engine::kPortable);
      ASSERT_TRUE(reference.SetKey(key.data(), key.size()));
      std::vector<std::uint8_t> expected(data.size());
      for (std::size_t i = 0; i < count; ++i) {
        reference.EncryptBlock(data.data() + 16 * i, expected.data() + 16 * i);
      }
      for (Aes::Engine engine : kEngines) {
        Aes aes(engine);
        ASSERT_TRUE(aes.SetKey(key.data(), key.size()));
        std::vector<std::uint8_t> separate(data.size());
        aes.EncryptBlocks(data.data(), separate.data(), count);
        EXPECT_EQ(separate, expected);
        std::vector<std::uint8_t> inPlace = data;
        aes.EncryptBlocks(inPlace.data(), inPlace.data(), count);
        EXPECT_EQ(inPlace, expected);
      }
    }
  }
}

}  // namespace
}  // namespace korbel
