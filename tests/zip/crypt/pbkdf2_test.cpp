#include "zip/crypt/pbkdf2.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korbel {
namespace {

std::string Derive(const std::string& password, const std::string& salt, unsigned iterations,
                   std::size_t length) {
  std::vector<std::uint8_t> out(length);
  Pbkdf2HmacSha1(reinterpret_cast<const std::uint8_t*>(password.data()), password.size(),
                 reinterpret_cast<const std::uint8_t*>(salt.data()), salt.size(), iterations, out.data(),
                 out.size());
  std::string hex;
  char pair[3];
  for (std::uint8_t b : out) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    hex += pair;
  }
  return hex;
}

struct Case {
  std::string password;
  std::string salt;
  unsigned iterations;
  std::size_t length;
  const char* key;
};

// RFC 6070, section 2, but for its 16777216-iteration case (below, disabled).
const Case kRfc6070[] = {
    {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
    {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
    {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
    {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
     "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
    {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
};

TEST(Pbkdf2Test, Rfc6070Cases) {
  for (const Case& c : kRfc6070) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Derive(c.password, c.salt, c.iterations, c.length), c.key);
  }
}

// The output is the block sequence cut to length: a shorter request is a
// prefix of a longer one, across the 20-byte block seams.
TEST(Pbkdf2Test, ShorterOutputIsAPrefix) {
  const std::string full = Derive("password", "salt", 2, 66);
  for (std::size_t length : {1, 19, 20, 21, 40, 41, 65}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(Derive("password", "salt", 2, length), full.substr(0, 2 * length));
  }
}

TEST(Pbkdf2Test, ZeroIterationsCountAsOne) { EXPECT_EQ(Derive("password", "salt", 0, 20), kRfc6070[0].key); }

// 33 million HMAC computations; run with --gtest_also_run_disabled_tests.
TEST(Pbkdf2Test, DISABLED_Rfc6070SixteenMillionIterations) {
  EXPECT_EQ(Derive("password", "salt", 16777216, 20), "eefe3d61cd4da4e4e9945b3d6ba2158c2634e984");
}

}  // namespace
}  // namespace korbel
