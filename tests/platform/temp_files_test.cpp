#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

TEST(TempFolder, IsAnExistingFolderEndingInASeparator) {
  char buffer[300];
  const std::uint32_t length = TempFolder(buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::strlen(buffer), length);
  EXPECT_TRUE(IsSeparator(buffer[length - 1])) << buffer;
  EXPECT_NE(GetAttributes(buffer) & kAttrDirectory, 0u) << buffer;

  char small[300];
  std::memset(small, 'Q', sizeof small);
  EXPECT_EQ(TempFolder(small, length), 0u) << "no room for the terminator";
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(TempFolder(small, length + 1), length);
}

// Splits "<folder><sep><prefix>XXXX.tmp" and checks its shape; the XXXX part,
// one to four hexadecimal digits (Windows leaves out leading zeros).
std::string UniquePart(const std::string& name, const std::string& folder, const std::string& prefix) {
  EXPECT_EQ(name.compare(0, folder.size(), folder), 0) << name;
  EXPECT_TRUE(IsSeparator(name[folder.size()])) << name;
  const std::string file = name.substr(folder.size() + 1);
  EXPECT_EQ(file.compare(0, prefix.size(), prefix), 0) << name;
  const std::string rest = file.substr(prefix.size());
  EXPECT_GE(rest.size(), 5u) << name;
  EXPECT_LE(rest.size(), 8u) << name;
  if (rest.size() < 5) return std::string();
  EXPECT_EQ(rest.substr(rest.size() - 4), ".tmp") << name;
  const std::string digits = rest.substr(0, rest.size() - 4);
  for (char c : digits) {
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << name;
  }
  return digits;
}

TEST(TempFileName, CreatesDistinctEmptyFiles) {
  TempDir dir;
  char first[260], second[260];
  ASSERT_TRUE(TempFileName(dir.Path().c_str(), "AF_", first)) << LastError();
  ASSERT_TRUE(TempFileName(dir.Path().c_str(), "AF_", second)) << LastError();
  EXPECT_STRNE(first, second);
  UniquePart(first, dir.Path(), "AF_");
  UniquePart(second, dir.Path(), "AF_");
  for (const char* name : {first, second}) {
    FileData data;
    ASSERT_TRUE(GetAttributesEx(name, &data)) << name;
    EXPECT_EQ(data.size, 0u);
    EXPECT_EQ(data.attributes & kAttrDirectory, 0u);
  }
  // The name is free for the caller to open and fill.
  FileCloser file(OpenFile(first, kAccessReadWrite, kShareNone, kCreateAlways));
  EXPECT_NE(file.Get(), kInvalidHandle);
}

TEST(TempFileName, UsesThreeCharactersOfThePrefix) {
  TempDir dir;
  char name[260];
  ASSERT_TRUE(TempFileName((dir.Path() + "\\").c_str(), "LONGPREFIX", name)) << LastError();
  UniquePart(name, dir.Path(), "LON");
  EXPECT_EQ(std::string(name).find("\\\\"), std::string::npos) << "no second separator: " << name;
  EXPECT_EQ(std::string(name).find("LONG"), std::string::npos) << name;
}

TEST(TempFileName, FailsInAMissingFolder) {
  TempDir dir;
  char name[260] = "";
  SetLastError(0);
  EXPECT_FALSE(TempFileName((dir / "none").c_str(), "AF_", name));
  EXPECT_EQ(LastError(), kErrorDirectory);
}

}  // namespace
}  // namespace platform
