// Registration against the platform's registry: the real one under Wine (in
// the test's own prefix), a temporary store file on POSIX.
#include "app/explorer_registration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/registry_key_stack.h"
#include "fs/module_path.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"

namespace pakkaro {
namespace {

constexpr char kAbsent[] = "<absent>";

// A Windows-1252 text (the program's German texts) as the registry gives it
// back: UTF-8, the narrow text, on Windows; the same bytes on POSIX, whose
// store keeps what it was given.
std::string AsReadBack(const std::string& text) {
  if (platform::LogicalDrives() == 0) return text;
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else {  // the letters used here are Latin-1, the same code points
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

// The default value of HKEY_CLASSES_ROOT\<path>, "<absent>" when the key or
// its default value is missing.
std::string DefaultOf(const std::string& path) {
  CRegistryKeyStack keys;
  char value[2048];
  if (!keys.OpenKey(platform::kClassesRoot, path.c_str(), 0)) return kAbsent;
  if (!keys.QueryString(value, sizeof value, nullptr, platform::kRegString)) return kAbsent;
  return value;
}

bool KeyExists(const std::string& path) {
  CRegistryKeyStack keys;
  return keys.OpenKey(platform::kClassesRoot, path.c_str(), 0);
}

void MakeKey(const std::string& path, const char* defaultValue = nullptr) {
  CRegistryKeyStack keys;
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, path.c_str(), 2)) << path;
  if (defaultValue != nullptr) {
    ASSERT_TRUE(keys.SetValue(defaultValue, static_cast<std::uint32_t>(std::strlen(defaultValue)), nullptr,
                              platform::kRegString));
  }
}

// Every key below `path` with its default value, one line each, in the
// registry's order.
std::string Dump(const std::string& path) {
  std::string text = path + "=" + DefaultOf(path) + "\n";
  platform::RegistryKey key = 0;
  if (platform::OpenRegistryKey(platform::kClassesRoot, path.c_str(), platform::kKeyRead, &key) != 0) {
    return text;
  }
  std::uint32_t count = 0;
  platform::CountRegistrySubKeys(key, &count);
  for (std::uint32_t index = 0; index < count; ++index) {
    char name[260];
    std::uint32_t length = sizeof name;
    if (platform::EnumRegistryKey(key, index, name, &length) == 0) text += Dump(path + "\\" + name);
  }
  platform::CloseRegistryKey(key);
  return text;
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetRegistryStorePath((dir_ / "registry.reg").c_str());
    fs::GetModulePath(program_, sizeof program_);
    ASSERT_NE(program_[0], '\0');
  }
  void TearDown() override { platform::SetRegistryStorePath(nullptr); }

  // Removes what an earlier run left of the type `extension` (lower case,
  // no dot) and of the class `<extension>file`.
  static void Forget(const std::string& extension) {
    CRegistryKeyStack keys;
    if (!keys.OpenKey(platform::kClassesRoot, "", 0)) return;
    keys.DeleteSubKey(("." + extension).c_str());
    keys.DeleteSubKey((extension + "file").c_str());
  }

  std::string Command(const std::string& arguments = "\"%1\"") const {
    return "\"" + std::string(program_) + "\" " + arguments;
  }

  testing_support::TempDir dir_;
  char program_[260] = {};
};

// The extension comes from a bare type or the last component of a path; it
// fits the 16-byte key name with its dot and terminator, or is refused.
TEST_F(RegistrationTest, TypeGivesTheExtensionKey) {
  const struct {
    const char* type;
    const char* extension;  // null: refused
  } cases[] = {
      {"PKT", "pkt"},
      {"C:\\work\\x.pkt", "pkt"},
      {"C:\\work.d\\x.Pkt", "pkt"},
      {"abcdefghijklmn", "abcdefghijklmn"},  // 14 characters
      {"abcdefghijklmno", nullptr},          // 15
      {"x.abcdefghijklmnp", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Forget("pkt");
    Forget("abcdefghijklmn");
    Forget("abcdefghijklmno");
    Forget("abcdefghijklmnp");
    EXPECT_EQ(RegisterFileTypeVerb(c.type, program_, "Projekt zippen", nullptr), c.extension != nullptr);
    if (c.extension == nullptr) {
      EXPECT_FALSE(KeyExists(".abcdefghijklmno"));
      EXPECT_FALSE(KeyExists(".abcdefghijklmnp"));
      continue;
    }
    const std::string progId = std::string(c.extension) + "file";
    EXPECT_EQ(DefaultOf(std::string(".") + c.extension), progId);
    EXPECT_EQ(DefaultOf(progId + "\\Shell\\Projekt zippen\\Command"), Command());
    // "Projekt zippen" holds no accelerator mark: the verb has no text.
    EXPECT_EQ(DefaultOf(progId + "\\Shell\\Projekt zippen"), kAbsent);
  }
}

// The verb key's name and default value for each kind of verb text, and the
// keys that registration removes on the way.
TEST_F(RegistrationTest, VerbTextGivesKeyNameAndDisplayText) {
  const std::string seventy(70, 'v');
  const std::string markAfterTheCut = std::string(63, 'a') + "&b";
  const struct {
    const char* verbText;
    std::string key;
    const char* display;  // null: no default value
  } cases[] = {
      {"&\326ffnen", "open", nullptr},
      {"\366FFNE", "open", nullptr},
      {nullptr, "open", nullptr},
      {"", "open", nullptr},
      {"&Drucken", "print", nullptr},
      {"DRUCKE", "print", nullptr},
      {"Projekt &zippen", "Projekt zippen", "Projekt &zippen"},
      {"Projekt zippen", "Projekt zippen", nullptr},
      {"BEARBEITEN", "Edit", "&Bearbeiten"},
      {"&Bearbeiten", "Edit", "&Bearbeiten"},
      {seventy.c_str(), seventy.substr(0, 63), nullptr},
      {markAfterTheCut.c_str(), std::string(63, 'a'), nullptr},
      {"\326ffnen mit &Pakkaro", "\326ffnen mit Pakkaro", "\326ffnen mit &Pakkaro"},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(index);
    const std::string extension = "pv" + std::string(1, static_cast<char>('a' + index++));
    const std::string shell = extension + "file\\Shell\\";
    Forget(extension);
    MakeKey(shell + "DropTarget\\Inner");
    MakeKey(shell + c.key + "\\ddeexec\\Application", "old");
    MakeKey(shell + "Bearbeiten\\Command", "old");
    MakeKey(shell + "&Bearbeiten\\sub\\deeper");

    ASSERT_TRUE(RegisterFileTypeVerb(extension.c_str(), program_, c.verbText, nullptr));
    EXPECT_EQ(DefaultOf(shell + c.key + "\\Command"), Command());
    EXPECT_EQ(DefaultOf(shell + c.key), c.display != nullptr ? AsReadBack(c.display) : kAbsent);
    EXPECT_FALSE(KeyExists(shell + c.key + "\\ddeexec"));
    EXPECT_FALSE(KeyExists(shell + "DropTarget"));
    // Only the edit verb removes the older German edit verbs.
    const bool edit = c.key == "Edit";
    EXPECT_EQ(KeyExists(shell + "Bearbeiten"), !edit);
    EXPECT_EQ(KeyExists(shell + "&Bearbeiten"), !edit);
  }
}

TEST_F(RegistrationTest, ExistingExtensionKeyKeepsOrGetsItsClass) {
  const std::string longClass = "Other.Class.With.A.Long.Name";  // 28: beyond the 24-byte buffer
  const struct {
    const char* extension;
    const char* presetDefault;  // null: the key exists without a default value
    std::string progId;
  } cases[] = {
      {"pka", longClass.c_str(), longClass},
      {"pkb", "Short.Class", "Short.Class"},
      {"pkc", "", "pkcfile"},
      {"pkd", nullptr, "pkdfile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    Forget(c.extension);
    Forget(c.progId);
    const std::string key = std::string(".") + c.extension;
    MakeKey(key, c.presetDefault);
    {
      CRegistryKeyStack keys;
      ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, key.c_str(), 1));
      ASSERT_TRUE(keys.SetValue("text/x-project", 14, "Content Type", platform::kRegString));
    }
    ASSERT_TRUE(RegisterFileTypeVerb(c.extension, program_, "Projekt zippen", nullptr));
    EXPECT_EQ(DefaultOf(key), c.progId);
    EXPECT_EQ(DefaultOf(c.progId + "\\Shell\\Projekt zippen\\Command"), Command());
    CRegistryKeyStack keys;
    char value[32];
    ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, key.c_str(), 0));
    ASSERT_TRUE(keys.QueryString(value, sizeof value, "Content Type", platform::kRegString));
    EXPECT_STREQ(value, "text/x-project");
  }
}

// A default value longer than any key name is not overwritten by the
// registration.
TEST_F(RegistrationTest, OverlongClassNameIsLeftAlone) {
  Forget("pke");
  const std::string overlong(1100, 'c');
  MakeKey(".pke", overlong.c_str());
  EXPECT_FALSE(RegisterFileTypeVerb("pke", program_, "Projekt zippen", nullptr));
  CRegistryKeyStack keys;
  char value[1200];
  ASSERT_TRUE(keys.OpenKey(platform::kClassesRoot, ".pke", 0));
  ASSERT_TRUE(keys.QueryString(value, sizeof value, nullptr, platform::kRegString));
  EXPECT_EQ(std::string(value), overlong);
}

TEST_F(RegistrationTest, ProgramPathAndArguments) {
  const std::string unchecked = "%ProgramFiles%\\Pakkaro\\pakkaro.exe";
  const std::string longUnchecked = "%X%" + std::string(300, 'p');
  // The command holds program path + arguments + 4 bytes in 536.
  const std::string longestArguments(532 - std::strlen(program_), 'a');
  const std::string tooLong = longestArguments + "a";
  const struct {
    const char* extension;
    const char* programPath;
    const char* arguments;
    bool ok;
    std::string command;
  } cases[] = {
      {"pra", "/no/such/program", nullptr, false, ""},
      {"prb", "Z:\\no\\such\\program.exe", nullptr, false, ""},
      {"prc", unchecked.c_str(), nullptr, true, "\"" + unchecked + "\" \"%1\""},
      {"prd", longUnchecked.c_str(), nullptr, true, "\"" + longUnchecked.substr(0, 259) + "\" \"%1\""},
      {"pre", nullptr, nullptr, true, Command()},
      {"prf", program_, "", true, Command()},
      {"prg", program_, "-x \"%1\"", true, Command("-x \"%1\"")},
      {"prh", program_, longestArguments.c_str(), true, Command(longestArguments)},
      {"pri", program_, tooLong.c_str(), false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    Forget(c.extension);
    EXPECT_EQ(RegisterFileTypeVerb(c.extension, c.programPath, "Projekt zippen", c.arguments), c.ok);
    const std::string progId = std::string(c.extension) + "file";
    if (c.ok) {
      EXPECT_EQ(DefaultOf(progId + "\\Shell\\Projekt zippen\\Command"), c.command);
    } else {
      // Refused before anything was written.
      EXPECT_FALSE(KeyExists(std::string(".") + c.extension));
      EXPECT_FALSE(KeyExists(progId));
    }
  }
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesTheSameKeys) {
  Forget("pkt");
  Forget("pku");
  MakeKey(".pku", "pku.class");
  ASSERT_TRUE(RegisterFileTypeVerb("PKT", program_, "Projekt zippen", nullptr));
  ASSERT_TRUE(RegisterFileTypeVerb("PKU", program_, "BEARBEITEN", nullptr));
  const std::string once = Dump(".pkt") + Dump("pktfile") + Dump(".pku") + Dump("pku.class");
  ASSERT_TRUE(RegisterFileTypeVerb("C:\\work\\x.pkt", program_, "Projekt zippen", nullptr));
  ASSERT_TRUE(RegisterFileTypeVerb("x.pku", program_, "BEARBEITEN", nullptr));
  const std::string twice = Dump(".pkt") + Dump("pktfile") + Dump(".pku") + Dump("pku.class");
  EXPECT_EQ(twice, once);
  EXPECT_NE(once.find("pktfile\\Shell\\Projekt zippen\\Command=" + Command()), std::string::npos) << once;
  EXPECT_NE(once.find("pku.class\\Shell\\Edit=&Bearbeiten"), std::string::npos) << once;
}

}  // namespace
}  // namespace pakkaro
