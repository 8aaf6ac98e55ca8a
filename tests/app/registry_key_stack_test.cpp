// The key stack over the platform's registry: the real one under Wine (in the
// test's own prefix), a temporary store file on POSIX.
#include "app/registry_key_stack.h"

#include <gtest/gtest.h>

#include <string>

#include "app/explorer_registration.h"
#include "fs/module_path.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace pakkaro {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetRegistryStorePath((dir_ / "registry.reg").c_str());
    CRegistryKeyStack keys;
    if (keys.OpenKey(platform::kCurrentUser, "Software", 2)) keys.DeleteSubKey("PakkaroTest");
  }
  void TearDown() override { platform::SetRegistryStorePath(nullptr); }

  testing_support::TempDir dir_;
};

TEST_F(RegistryTest, MissingSubKeyIsCreatedOnlyInCreateMode) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.OpenKey(0, "HKEY_CURRENT_USER\\Software\\PakkaroTest", 2));
  EXPECT_TRUE(keys.OpenSubKey("made", false));
  EXPECT_EQ(keys.Depth(), 1);
  ASSERT_TRUE(keys.CloseSubKey());
  EXPECT_FALSE(keys.OpenSubKey("other", true));
  EXPECT_EQ(keys.LastError(), kKeyNotOpened);
  EXPECT_EQ(keys.Depth(), 0);

  CRegistryKeyStack reader;
  ASSERT_TRUE(reader.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest", 0));
  EXPECT_TRUE(reader.OpenSubKey("made", false));
  ASSERT_TRUE(reader.CloseSubKey());
  EXPECT_FALSE(reader.OpenSubKey("missing", false));
  EXPECT_EQ(reader.LastError(), kKeyNotOpened);
}

TEST_F(RegistryTest, ReadModeRefusesWrites) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.CreateKey(platform::kCurrentUser, "Software\\PakkaroTest", 0));
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest", 0));
  EXPECT_FALSE(keys.SetValue("x", 1, "v", platform::kRegString));
  EXPECT_EQ(keys.LastError(), kKeyNotOpened);
  char buffer[8];
  EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, "v", platform::kRegString));
  EXPECT_STREQ(buffer, "");
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest", 1));
  EXPECT_FALSE(keys.SetValue(nullptr, 1, "v", platform::kRegString));
  EXPECT_EQ(keys.LastError(), kNoData);
}

TEST_F(RegistryTest, QueryStringTerminatorRules) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.CreateKey(platform::kCurrentUser, "Software\\PakkaroTest", 0));
  const std::string thirty(30, 'x');
  ASSERT_TRUE(keys.SetValue(thirty.c_str(), 30, "long", platform::kRegString));
  ASSERT_TRUE(keys.SetValue("abc", 3, "short", platform::kRegString));
  char buffer[24];
  EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, "long", platform::kRegString));
  EXPECT_EQ(keys.LastError(), 234);
  EXPECT_STREQ(buffer, "");
  // Stored without its terminator: it is added and counted.
  ASSERT_TRUE(keys.QueryString(buffer, sizeof buffer, "short", platform::kRegString));
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(keys.DataSize(), 4u);
  char multi[8];
  ASSERT_TRUE(keys.QueryString(multi, sizeof multi, "short", platform::kRegMultiString));
  EXPECT_EQ(keys.DataSize(), 5u);
  EXPECT_EQ(multi[3], '\0');
  EXPECT_EQ(multi[4], '\0');
}

TEST_F(RegistryTest, TwelveLevelsAndNoMore) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest", 2));
  for (int level = 1; level <= 10; ++level) {
    ASSERT_TRUE(keys.OpenSubKey(("level" + std::to_string(level)).c_str(), false)) << level;
  }
  // The eleventh push reaches the twelfth level, the last slot.
  ASSERT_TRUE(keys.OpenSubKey("level11", false));
  EXPECT_EQ(keys.Depth(), 11);
  EXPECT_FALSE(keys.OpenSubKey("level12", false));
  EXPECT_EQ(keys.LastError(), kStackFull);
  EXPECT_FALSE(keys.SetValue("x", 1, nullptr, platform::kRegString));
  EXPECT_EQ(keys.LastError(), kStackFull);
  EXPECT_TRUE(keys.CloseSubKey());
  EXPECT_EQ(keys.Depth(), 10);
  EXPECT_TRUE(keys.SetValue("x", 1, nullptr, platform::kRegString));
}

TEST_F(RegistryTest, DeleteSubKeyRemovesTheWholeTree) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest\\tree\\a\\b", 2));
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest\\tree\\c", 2));
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, "Software\\PakkaroTest", 2));
  EXPECT_TRUE(keys.DeleteSubKey("tree"));
  EXPECT_FALSE(keys.OpenSubKey("tree", true));
  EXPECT_FALSE(keys.DeleteSubKey("tree"));
}

TEST_F(RegistryTest, RegistrationWritesTheClassAndCommand) {
  char program[260];
  fs::GetModulePath(program, 260);
  ASSERT_TRUE(RegisterFileTypeVerb("C:\\work\\x.pkt", program, "Projekt zippen", nullptr));
  ASSERT_TRUE(RegisterFileTypeVerb("PKT", program, "Projekt zippen", nullptr));  // twice: the same
  CRegistryKeyStack keys;
  char value[600];
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, ".pkt", 0));
  ASSERT_TRUE(keys.QueryString(value, sizeof value, nullptr, platform::kRegString));
  EXPECT_STREQ(value, "pktfile");
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, "pktfile\\Shell\\Projekt zippen\\Command", 0));
  ASSERT_TRUE(keys.QueryString(value, sizeof value, nullptr, platform::kRegString));
  EXPECT_EQ(std::string(value), "\"" + std::string(program) + "\" \"%1\"");

  // An extension key that names a class already gets the verb there.
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, ".pkq", 2));
  ASSERT_TRUE(keys.SetValue("Other.Class.With.A.Long.Name", 28, nullptr, platform::kRegString));
  keys.CloseAll();
  ASSERT_TRUE(RegisterFileTypeVerb("pkq", program, "&Bearbeiten", nullptr));
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, "Other.Class.With.A.Long.Name\\Shell\\Edit", 0));
  ASSERT_TRUE(keys.QueryString(value, sizeof value, nullptr, platform::kRegString));
  EXPECT_STREQ(value, "&Bearbeiten");
}

TEST_F(RegistryTest, RegistrationRefusals) {
  char program[260];
  fs::GetModulePath(program, 260);
  EXPECT_FALSE(RegisterFileTypeVerb("", program, nullptr, nullptr));
  EXPECT_FALSE(RegisterFileTypeVerb("abcdefghijklmno", program, nullptr, nullptr));  // 15 characters
  EXPECT_TRUE(RegisterFileTypeVerb("abcdefghijklmn", program, nullptr, nullptr));    // 14
  EXPECT_FALSE(RegisterFileTypeVerb("pkr", "/no/such/program", nullptr, nullptr));
  EXPECT_FALSE(RegisterFileTypeVerb("pkr", program, nullptr, std::string(600, 'a').c_str()));
  CRegistryKeyStack keys;
  EXPECT_FALSE(keys.OpenKey(platform::kClassesRoot, ".pkr", 0));
}

}  // namespace
}  // namespace pakkaro
