#include "zip/crypt/sha1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "tests/support/test_support.h"

namespace korbel {
namespace {

using testing_support::ToHex;

// Hashes `message` handed over in pieces of `piece` bytes (0: all at once).
std::string Digest(Sha1::Engine engine, const std::string& message, std::size_t piece) {
  Sha1 sha(engine);
  const auto* data = reinterpret_cast<const std::uint8_t*>(message.data());
  if (piece == 0) piece = message.size() + 1;
  for (std::size_t at = 0; at < message.size(); at += piece) {
    sha.Update(data + at, std::min(piece, message.size() - at));
  }
  std::uint8_t digest[Sha1::kDigestSize];
  sha.Final(digest);
  return ToHex(digest, sizeof digest);
}

const Sha1::Engine kEngines[] = {Sha1::Engine::kBest, Sha1::Engine::kPortable};

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

// FIPS 180 examples, then lengths on each side of the padding's turning
// points (55/56 bytes: the length still fits the last block or not).
const Vector kVectors[] = {
    {"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"896 bits",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
     "mnopqrstnopqrstu",
     "a49b2446a02c645bf419f995b67091253a04a259"},
    {"a x 1", std::string(1, 'a'), "86f7e437faa5a7fce15d1ddcb9eaeaea377667b8"},
    {"a x 55", std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
    {"a x 56", std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
    {"a x 57", std::string(57, 'a'), "f08f24908d682555111be7ff6f004e78283d989a"},
    {"a x 63", std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
    {"a x 64", std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
    {"a x 65", std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
    {"a x 119", std::string(119, 'a'), "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
    {"a x 120", std::string(120, 'a'), "f34c1488385346a55709ba056ddd08280dd4c6d6"},
    {"a x 127", std::string(127, 'a'), "89d95fa32ed44a7c610b7ee38517ddf57e0bb975"},
    {"a x 128", std::string(128, 'a'), "ad5b3fdbcb526778c2839d2f151ea753995e26a0"},
    {"a x 129", std::string(129, 'a'), "d96debf1bdcbc896e6c134ea76e8141f40d78536"},
};

TEST(Sha1Test, KnownDigestsWhateverThePieces) {
  ASSERT_FALSE(Sha1(Sha1::Engine::kPortable).UsesHardware());
  for (Sha1::Engine engine : kEngines) {
    for (const Vector& v : kVectors) {
      for (std::size_t piece : {0, 1, 7, 63, 64, 65}) {
        SCOPED_TRACE(std::string(v.name) + (engine == Sha1::Engine::kPortable ? " portable" : " best") +
                     ", pieces of " + std::to_string(piece));
        EXPECT_EQ(Digest(engine, v.message, piece), v.digest);
      }
    }
  }
}

TEST(Sha1Test, MillionA) {
  const std::string message(1000000, 'a');
  for (Sha1::Engine engine : kEngines) {
    for (std::size_t piece : {0, 999}) {
      SCOPED_TRACE(piece);
      EXPECT_EQ(Digest(engine, message, piece), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    }
  }
}

TEST(Sha1Test, FinalStartsAnEmptyMessage) {
  Sha1 sha;
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  std::uint8_t digest[Sha1::kDigestSize];
  sha.Update(abc, 3);
  sha.Final(digest);
  sha.Final(digest);
  EXPECT_EQ(ToHex(digest, sizeof digest), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  sha.Update(abc, 2);
  sha.Reset();
  sha.Update(abc, 3);
  sha.Final(digest);
  EXPECT_EQ(ToHex(digest, sizeof digest), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

}  // namespace
}  // namespace korbel
