#include "platform/resources.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

const unsigned char kText[] = "typed by text";
const unsigned char kNumbered[] = "numbered";
const unsigned char kIndex[] = "<p>index</p>";

// The blobs of resources_test.rc: built into the Windows program, registered
// here on the POSIX build. True when they are now available.
bool ProvideBlobs() {
  static const bool registered =
      RegisterResourceData({"Data", 0}, {"sample", 0}, kText, sizeof kText - 1) &&
      RegisterResourceData({nullptr, 300}, {nullptr, 42}, kNumbered, sizeof kNumbered - 1) &&
      RegisterResourceData({nullptr, 23}, {"INDEX", 0}, kIndex, sizeof kIndex - 1);
  return registered;
}

std::string Find(ResourceId type, ResourceId name) {
  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
  if (!FindResourceData(type, name, &data, &size)) return "<missing>";
  return std::string(reinterpret_cast<const char*>(data), size);
}

TEST(Resources, FoundByTextAndNumberWithoutCase) {
  const bool registered = ProvideBlobs();
  EXPECT_EQ(registered, LogicalDrives() == 0) << "only the POSIX build takes blobs at run time";
  EXPECT_EQ(Find({"DATA", 0}, {"SAMPLE", 0}), "typed by text");
  EXPECT_EQ(Find({"data", 0}, {"Sample", 0}), "typed by text");
  EXPECT_EQ(Find({nullptr, 300}, {nullptr, 42}), "numbered");
  EXPECT_EQ(Find({nullptr, 23}, {"index", 0}), "<p>index</p>");
}

TEST(Resources, MissingOnesAreNotFound) {
  ProvideBlobs();
  EXPECT_EQ(Find({"DATA", 0}, {"OTHER", 0}), "<missing>");
  EXPECT_EQ(Find({"HTML", 0}, {"INDEX", 0}), "<missing>") << "the type 23 is a number, not a text";
  EXPECT_EQ(Find({nullptr, 300}, {nullptr, 43}), "<missing>");
  EXPECT_EQ(Find({nullptr, 301}, {nullptr, 42}), "<missing>");
  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
  EXPECT_FALSE(FindResourceData({"DATA", 0}, {"SAMPLE", 0}, nullptr, &size));
  EXPECT_FALSE(FindResourceData({"DATA", 0}, {"SAMPLE", 0}, &data, nullptr));
}

TEST(Resources, RegisteringAgainReplacesTheBlob) {
  if (!ProvideBlobs()) GTEST_SKIP() << "the Windows build keeps its built-in resources";
  static const unsigned char first[] = {1, 2, 3};
  static const unsigned char second[] = {9};
  ASSERT_TRUE(RegisterResourceData({"BIN", 0}, {nullptr, 7}, first, sizeof first));
  EXPECT_EQ(Find({"bin", 0}, {nullptr, 7}), std::string("\x01\x02\x03"));
  ASSERT_TRUE(RegisterResourceData({"Bin", 0}, {nullptr, 7}, second, sizeof second));
  EXPECT_EQ(Find({"BIN", 0}, {nullptr, 7}), std::string("\x09"));
  EXPECT_FALSE(RegisterResourceData({"BIN", 0}, {nullptr, 8}, nullptr, 4));
  EXPECT_FALSE(RegisterResourceData({nullptr, 70000}, {nullptr, 8}, first, 1)) << "ids stop at 65535";
}

}  // namespace
}  // namespace platform
