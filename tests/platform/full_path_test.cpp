#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

std::string Full(const std::string& path) {
  char buffer[1024];
  const std::uint32_t length = GetFullPath(path.c_str(), buffer, sizeof buffer);
  return length == 0 || length >= sizeof buffer ? std::string("<failed>") : std::string(buffer, length);
}

bool OnWindows() { return LogicalDrives() != 0; }
char Separator() { return OnWindows() ? '\\' : '/'; }

TEST(FullPath, RelativePathsResolveAgainstTheCurrentFolder) {
  const std::string here = Full(".");
  ASSERT_NE(here, "<failed>");
  const char s = Separator();
  const std::string base = here.back() == s ? here : here + s;
  EXPECT_EQ(Full("x"), base + "x");
  EXPECT_EQ(Full("a/b/../c/./d"), base + "a" + s + "c" + s + "d");
  EXPECT_EQ(Full("a\\b"), base + "a" + s + "b");
  EXPECT_EQ(Full("a//b"), base + "a" + s + "b") << "runs of separators become one";
  EXPECT_EQ(Full("a/"), base + "a" + s) << "a trailing separator is kept";
  EXPECT_EQ(Full("a/."), base + "a");
  EXPECT_EQ(Full("a/.."), here);
}

TEST(FullPath, RootStaysRoot) {
  const std::string root = OnWindows() ? "C:\\" : "/";
  EXPECT_EQ(Full(root), root);
  EXPECT_EQ(Full(root + ".."), root);
  EXPECT_EQ(Full(root + "a/../../.."), root);
  EXPECT_EQ(Full(root + "a/b"), root + "a" + Separator() + "b");
}

TEST(FullPath, CapacityDecidesBetweenLengthAndNeededSize) {
  const std::string full = Full("some/name.txt");
  const std::uint32_t length = static_cast<std::uint32_t>(full.size());
  char buffer[1024];
  EXPECT_EQ(GetFullPath("some/name.txt", buffer, length + 1), length);
  EXPECT_EQ(std::string(buffer), full);
  std::memset(buffer, 'Q', sizeof buffer);
  EXPECT_EQ(GetFullPath("some/name.txt", buffer, length), length + 1);
  EXPECT_EQ(buffer[0], 'Q') << "a buffer that is too small stays untouched";
  EXPECT_EQ(GetFullPath("some/name.txt", nullptr, 0), length + 1);
}

TEST(FullPath, WideFormAgreesWithTheNarrowForm) {
  const std::string narrow = Full("wide/../form");
  WideChar buffer[1024];
  const std::uint32_t length = GetFullPath(u"wide/../form", buffer, 1024);
  ASSERT_EQ(length, narrow.size());
  for (std::uint32_t i = 0; i < length; ++i) {
    EXPECT_EQ(buffer[i], static_cast<unsigned char>(narrow[i])) << i;
  }
  EXPECT_EQ(buffer[length], 0);
  EXPECT_EQ(GetFullPath(u"wide/../form", buffer, length), length + 1);
}

TEST(FullPath, DriveLettersOnWindows) {
  if (!OnWindows()) {
    EXPECT_EQ(LogicalDrives(), 0u);
    GTEST_SKIP() << "the POSIX build has no drives";
  }
  const std::uint32_t drives = LogicalDrives();
  EXPECT_NE(drives & (1u << ('C' - 'A')), 0u);
  EXPECT_EQ(Full("C:/x/y"), "C:\\x\\y");
  EXPECT_EQ(Full("c:\\x\\..\\..\\y"), "c:\\y");
  // A bare drive means the current folder of that drive (Wine adds a
  // separator at its end).
  const std::string here = Full(".");
  ASSERT_GE(here.size(), 3u);
  std::string bare = Full(here.substr(0, 2));
  if (bare.size() > 3 && bare.back() == '\\') bare.pop_back();
  EXPECT_EQ(bare, here);
}

TEST(ModulePath, NamesTheRunningTestProgram) {
  char buffer[1024];
  const std::uint32_t length = ModulePath(buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  const std::string path(buffer, length);
  EXPECT_EQ(std::strlen(buffer), length);
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
  const std::uint32_t attributes = GetAttributes(buffer);
  ASSERT_NE(attributes, kInvalidAttributes);
  EXPECT_EQ(attributes & kAttrDirectory, 0u);
  EXPECT_EQ(Full(path), path) << "the module path is a full path";

  WideChar wide[1024];
  ASSERT_EQ(ModulePath(wide, 1024), length);
  for (std::uint32_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(buffer[i]) < 0x80) {
      EXPECT_EQ(wide[i], buffer[i]) << i;
    }
  }

  char small[5] = "abc";
  EXPECT_EQ(ModulePath(small, sizeof small), 0u);
  EXPECT_EQ(small[0], '\0') << "a path that does not fit leaves an empty buffer";
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
}

}  // namespace
}  // namespace platform
