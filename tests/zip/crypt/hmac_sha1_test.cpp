#include "zip/crypt/hmac_sha1.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/test_support.h"

namespace korbel {
namespace {

using testing_support::ToHex;

const std::uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string Mac(HmacSha1& hmac, const std::string& data) {
  hmac.Update(Bytes(data), data.size());
  std::uint8_t mac[HmacSha1::kMacSize];
  hmac.Final(mac);
  return ToHex(mac, sizeof mac);
}

std::string Range(int first, int last) {
  std::string s;
  for (int i = first; i <= last; ++i) s += static_cast<char>(i);
  return s;
}

struct Case {
  int number;
  std::string key;
  std::string data;
  const char* mac;
};

// RFC 2202, section 3: short, long (hashed first) and odd-length keys.
const Case kRfc2202[] = {
    {1, std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
    {2, "Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {3, std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {4, Range(1, 25), std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {5, std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
    {6, std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {7, std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
};

TEST(HmacSha1Test, Rfc2202Cases) {
  for (Sha1::Engine engine : {Sha1::Engine::kBest, Sha1::Engine::kPortable}) {
    for (const Case& c : kRfc2202) {
      SCOPED_TRACE(c.number);
      HmacSha1 hmac(engine);
      hmac.SetKey(Bytes(c.key), c.key.size());
      EXPECT_EQ(Mac(hmac, c.data), c.mac);
      // Final leaves the key in place for the next message.
      EXPECT_EQ(Mac(hmac, c.data), c.mac);
    }
  }
}

TEST(HmacSha1Test, ResetDropsThePartialMessage) {
  HmacSha1 hmac;
  hmac.SetKey(Bytes("Jefe"), 4);
  hmac.Update(Bytes("leftover bytes"), 14);
  hmac.Reset();
  EXPECT_EQ(Mac(hmac, "what do ya want for nothing?"), kRfc2202[1].mac);
}

TEST(HmacSha1Test, NewKeyReplacesOldKeyAndMessage) {
  HmacSha1 hmac;
  hmac.SetKey(Bytes(kRfc2202[5].key), kRfc2202[5].key.size());
  hmac.Update(Bytes("leftover bytes"), 14);
  hmac.SetKey(Bytes("Jefe"), 4);
  EXPECT_EQ(Mac(hmac, "what do ya want for nothing?"), kRfc2202[1].mac);
}

}  // namespace
}  // namespace korbel
