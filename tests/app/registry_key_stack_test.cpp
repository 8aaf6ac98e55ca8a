// The key stack over the platform's registry: the real one under Wine (in the
// test's own prefix), a temporary store file on POSIX.
#include "app/registry_key_stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace pakkaro {
namespace {

constexpr char kTestKey[] = "Software\\PakkaroTest";

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
  ASSERT_TRUE(reader.OpenKey(platform::kCurrentUser, kTestKey, 0));
  EXPECT_TRUE(reader.OpenSubKey("made", false));
  ASSERT_TRUE(reader.CloseSubKey());
  EXPECT_FALSE(reader.OpenSubKey("missing", false));
  EXPECT_EQ(reader.LastError(), kKeyNotOpened);
}

// What each mode of OpenKey allows: the low six bits are the mode, the bits
// above them further access rights that do not change it.
TEST_F(RegistryTest, ModesGrantWritesAndCreation) {
  struct Case {
    std::uint32_t mode;
    int expectedMode;
    bool opensMissingPath;  // the path is created
    bool writes;
    bool createsSubKeys;
  };
  const Case cases[] = {
      {0, 0, false, false, false},
      {1, 1, false, true, false},
      {2, 2, true, true, true},
      {platform::kKeyWow64Key64 | 0, 0, false, false, false},
      {platform::kKeyWow64Key64 | 2, 2, true, true, true},
  };
  {
    CRegistryKeyStack setup;
    ASSERT_TRUE(setup.CreateKey(platform::kCurrentUser, kTestKey, 0));
  }
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index);
    const std::string missing = std::string(kTestKey) + "\\missing" + std::to_string(index++);
    CRegistryKeyStack keys;
    EXPECT_EQ(keys.OpenKey(platform::kCurrentUser, missing.c_str(), c.mode), c.opensMissingPath);
    if (!c.opensMissingPath) {
      EXPECT_EQ(keys.LastError(), kKeyNotOpened);
      EXPECT_EQ(keys.Depth(), -1);
    }
    ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, kTestKey, c.mode));
    EXPECT_EQ(keys.Mode(), c.expectedMode);
    EXPECT_EQ(keys.SetValue("x", 1, "v", platform::kRegString), c.writes);
    if (!c.writes) {
      EXPECT_EQ(keys.LastError(), kKeyNotOpened);
    }
    EXPECT_EQ(keys.OpenSubKey(("sub" + std::to_string(index)).c_str(), false), c.createsSubKeys);
    if (!c.createsSubKeys) {
      EXPECT_EQ(keys.LastError(), kKeyNotOpened);
      EXPECT_EQ(keys.Depth(), 0);
      EXPECT_FALSE(keys.CreateSubKey("made"));
      EXPECT_EQ(keys.LastError(), kKeyNotOpened);
    }
  }
  // Refused pushes created nothing: sub1 was asked in mode 0, sub3 in mode 2.
  CRegistryKeyStack reader;
  ASSERT_TRUE(reader.OpenKey(platform::kCurrentUser, kTestKey, 0));
  ASSERT_FALSE(reader.OpenSubKey("sub1", true));
  EXPECT_TRUE(reader.OpenSubKey("sub3", true));
}

TEST_F(RegistryTest, RefusalsWithoutAnOpenKeyOrData) {
  CRegistryKeyStack keys;
  char buffer[8] = "junk";
  EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, nullptr, platform::kRegString));
  EXPECT_EQ(keys.LastError(), kNoKeyOpen);
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(keys.SetValue("x", 1, nullptr, platform::kRegString));
  EXPECT_EQ(keys.LastError(), kNoKeyOpen);
  EXPECT_FALSE(keys.OpenSubKey("x", false));
  EXPECT_EQ(keys.LastError(), kNoKeyOpen);
  EXPECT_FALSE(keys.DeleteSubKey("x"));
  EXPECT_EQ(keys.LastError(), kNoKeyOpen);
  EXPECT_FALSE(keys.CloseSubKey());
  EXPECT_EQ(keys.LastError(), kNoKeyOpen);

  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, kTestKey, 2));
  EXPECT_FALSE(keys.SetValue(nullptr, 1, "v", platform::kRegString));
  EXPECT_EQ(keys.LastError(), kNoData);
  // An empty sub-key name would be the key itself: it is not deleted.
  EXPECT_FALSE(keys.DeleteSubKey(""));
  EXPECT_FALSE(keys.DeleteSubKey(nullptr));
  CRegistryKeyStack reader;
  EXPECT_TRUE(reader.OpenKey(platform::kCurrentUser, kTestKey, 0));
}

// The root comes from the path when none is given: its name ignoring case,
// followed by a backslash or the end; any other path lies below
// HKEY_CURRENT_USER.
TEST_F(RegistryTest, RootTakenFromThePath) {
  {
    CRegistryKeyStack keys;
    ASSERT_TRUE(keys.CreateKey(platform::kCurrentUser, kTestKey, 0));
    ASSERT_TRUE(keys.SetValue("here", 4, "mark", platform::kRegString));
  }
  const struct {
    const char* path;
    bool found;
  } cases[] = {
      {"HKEY_CURRENT_USER\\Software\\PakkaroTest", true},
      {"hkey_current_user\\Software\\PakkaroTest", true},
      {"Software\\PakkaroTest", true},
      {"HKEY_CURRENT_USERX\\Software\\PakkaroTest", false},
      {"HKEY_CLASSES_ROOT\\Software\\PakkaroTest", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    CRegistryKeyStack keys;
    char value[8] = {};
    const bool found =
        keys.OpenKey(0, c.path, 0) && keys.QueryString(value, sizeof value, "mark", platform::kRegString);
    EXPECT_EQ(found, c.found);
    if (c.found) {
      EXPECT_STREQ(value, "here");
    }
  }
}

// Terminators: one zero for the two string types, two for the multi-string
// type, added when missing and there is room, counted in the data size.
TEST_F(RegistryTest, QueryStringTerminatorRules) {
  struct Case {
    const char* name;
    std::string data;  // stored as binary, so that the bytes stay exact
    std::uint32_t asked;
    std::uint32_t size;
    bool ok;
    std::int32_t error;
    std::uint32_t dataSize;
    std::string text;  // the buffer's bytes up to the data size
  };
  using std::string;
  const Case cases[] = {
      {"plain", string("abc"), platform::kRegString, 24, true, 0, 4, string("abc\0", 4)},
      {"terminated", string("abc\0", 4), platform::kRegString, 4, true, 0, 4, string("abc\0", 4)},
      {"expand", string("abc"), platform::kRegExpandString, 24, true, 0, 4, string("abc\0", 4)},
      {"no room for the zero", string("abc"), platform::kRegString, 3, false, 234, 1, string("\0", 1)},
      {"thirty into 24", string(30, 'x'), platform::kRegString, 24, false, 234, 1, string("\0", 1)},
      {"empty", string(), platform::kRegString, 24, true, 0, 1, string("\0", 1)},
      {"multi one zero", string("a\0", 2), platform::kRegMultiString, 8, true, 0, 3, string("a\0\0", 3)},
      {"multi two zeros", string("a\0\0", 3), platform::kRegMultiString, 3, true, 0, 3, string("a\0\0", 3)},
      {"multi none", string("ab"), platform::kRegMultiString, 4, true, 0, 4, string("ab\0\0", 4)},
      {"multi no room", string("ab"), platform::kRegMultiString, 3, false, 234, 2, string("\0\0", 2)},
      {"binary as is", string("\x01\x02\x03\x04", 4), platform::kRegDword, 4, true, 0, 4,
       string("\x01\x02\x03\x04", 4)},
  };
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.CreateKey(platform::kCurrentUser, kTestKey, 0));
  for (const Case& c : cases) {
    ASSERT_TRUE(
        keys.SetValue(c.data.data(), static_cast<std::uint32_t>(c.data.size()), c.name, platform::kRegBinary))
        << c.name;
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(keys.QueryString(buffer, c.size, c.name, c.asked), c.ok);
    EXPECT_EQ(keys.LastError(), c.error);
    EXPECT_EQ(keys.DataSize(), c.dataSize);
    EXPECT_EQ(string(buffer, c.text.size()), c.text);
  }
  // A string value as the registration reads it: too long for the buffer.
  const string thirty(30, 'y');
  ASSERT_TRUE(keys.SetValue(thirty.c_str(), 30, "long", platform::kRegString));
  char buffer[24];
  EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, "long", platform::kRegString));
  EXPECT_EQ(keys.LastError(), 234);
  EXPECT_STREQ(buffer, "");
}

TEST_F(RegistryTest, QueryStringOfAMissingValueLeavesAnEmptyTextOfTheAskedType) {
  const struct {
    std::uint32_t type;
    std::uint32_t dataSize;
    int zeros;
  } cases[] = {{platform::kRegString, 1, 1},
               {platform::kRegExpandString, 1, 1},
               {platform::kRegMultiString, 2, 2},
               {platform::kRegDword, 0, -1}};  // -1: no text
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.CreateKey(platform::kCurrentUser, kTestKey, 0));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    char buffer[4];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, "absent", c.type));
    EXPECT_EQ(keys.LastError(), 2);
    EXPECT_EQ(keys.DataSize(), c.dataSize);
    if (c.zeros < 0) continue;
    for (int i = 0; i < c.zeros; ++i) EXPECT_EQ(buffer[i], '\0');
    EXPECT_EQ(buffer[c.zeros], '#');
  }
}

TEST_F(RegistryTest, TwelveLevelsAndNoMore) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, kTestKey, 2));
  for (int level = 1; level <= 10; ++level) {
    ASSERT_TRUE(keys.OpenSubKey(("level" + std::to_string(level)).c_str(), false)) << level;
  }
  // The eleventh push reaches the twelfth level, the last slot.
  ASSERT_TRUE(keys.OpenSubKey("level11", false));
  EXPECT_EQ(keys.Depth(), 11);
  EXPECT_STREQ(keys.LevelName(11), "level11");
  EXPECT_FALSE(keys.OpenSubKey("level12", false));
  EXPECT_EQ(keys.LastError(), kStackFull);
  EXPECT_EQ(keys.Depth(), 11);
  EXPECT_FALSE(keys.SetValue("x", 1, nullptr, platform::kRegString));
  EXPECT_EQ(keys.LastError(), kStackFull);
  char buffer[4];
  EXPECT_FALSE(keys.QueryString(buffer, sizeof buffer, nullptr, platform::kRegString));
  EXPECT_EQ(keys.LastError(), kStackFull);
  EXPECT_TRUE(keys.CloseSubKey());
  EXPECT_EQ(keys.Depth(), 10);
  EXPECT_EQ(keys.LevelName(11), nullptr);
  EXPECT_TRUE(keys.SetValue("x", 1, nullptr, platform::kRegString));
  EXPECT_TRUE(keys.CloseAll());
  EXPECT_EQ(keys.Depth(), -1);
}

// Sub-keys go from the last index down: counting up would skip every second
// one as the indexes shift after each deletion.
TEST_F(RegistryTest, DeleteSubKeyRemovesTheWholeTree) {
  CRegistryKeyStack keys;
  for (int child = 0; child < 5; ++child) {
    const std::string path = std::string(kTestKey) + "\\tree\\child" + std::to_string(child) + "\\grandchild";
    ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, path.c_str(), 2));
    ASSERT_TRUE(keys.SetValue("v", 1, "value", platform::kRegString));
  }
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, (std::string(kTestKey) + "\\sibling").c_str(), 2));
  ASSERT_TRUE(keys.OpenKey(platform::kCurrentUser, kTestKey, 0));
  EXPECT_TRUE(keys.DeleteSubKey("tree"));
  EXPECT_EQ(keys.LastError(), 0);
  EXPECT_EQ(keys.Depth(), 0);
  EXPECT_FALSE(keys.OpenSubKey("tree", true));
  EXPECT_TRUE(keys.OpenSubKey("sibling", true));
  ASSERT_TRUE(keys.CloseSubKey());
  EXPECT_FALSE(keys.DeleteSubKey("tree"));
}

}  // namespace
}  // namespace pakkaro
