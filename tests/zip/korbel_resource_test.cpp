// Archives held in the program's resources, opened through "res:" paths.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/resources.h"
#include "tests/support/test_support.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;

std::int64_t Collect(void* context, const void* data, std::size_t length) {
  if (data != nullptr) static_cast<std::string*>(context)->append(static_cast<const char*>(data), length);
  return static_cast<std::int64_t>(length);
}

// The Windows program carries the archive from korbel_resource_test.rc; the
// POSIX build registers the same file under the same type and name.
void ProvideArchive() {
  static const Bytes archive =
      testing_support::ReadFile(std::string(PAKKARO_SOURCE_DIR) + "/tests/zip/data/resource_archive.zip");
  static const bool registered = platform::RegisterResourceData({"DATA", 0}, {nullptr, 101}, archive.data(),
                                                                static_cast<std::uint32_t>(archive.size()));
  EXPECT_EQ(registered, platform::LogicalDrives() == 0) << "only the POSIX build takes blobs at run time";
}

TEST(KorbelResourceTest, ResourceArchiveOpensReadOnlyUnderEverySpelling) {
  ProvideArchive();
  for (const char* path : {"res:\\\\DATA-101", "RES://data-101", "res:\\\\101"}) {
    Korbel archive;
    ASSERT_EQ(archive.Open(path, kReadOnly, 9), kOk) << path;
    EXPECT_EQ(archive.Mode(), kReadOnly);
    EXPECT_EQ(std::string(archive.FullPath()).rfind("res:\\\\", 0), 0u) << archive.FullPath();
    ASSERT_EQ(archive.EntryCount(), 2) << path;
    EXPECT_STREQ(archive.ArchiveComment(), "resource");
    const int readme = archive.FindEntry("readme.txt");
    ASSERT_GE(readme, 0);
    std::string text;
    ASSERT_EQ(archive.ReadEntry(readme, &text, Collect, nullptr), kOk);
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += "Eingebettetes Archiv\n";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(archive.Table().At(readme)->method, 8);
    EXPECT_EQ(archive.TestEntry(archive.FindEntry("bin/tool.cfg")), kOk);
    // A resource cannot be written to.
    EXPECT_EQ(archive.SwitchMode(kModify), kFileOpenError);
    EXPECT_EQ(archive.Mode(), kReadOnly);
    EXPECT_EQ(archive.Close(), kOk);
  }
}

TEST(KorbelResourceTest, MissingResourceIsNotFound) {
  ProvideArchive();
  for (const char* path : {"res:\\\\DATA-102", "res:\\\\OTHER-101"}) {
    Korbel archive;
    EXPECT_EQ(archive.Open(path, kReadOnly, 9), kNotFound) << path;
    EXPECT_EQ(archive.Mode(), kClosed);
  }
}

}  // namespace
}  // namespace korbel
