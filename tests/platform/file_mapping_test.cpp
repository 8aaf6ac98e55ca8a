#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::Bytes;
using testing_support::TempDir;

TEST(FileMapping, WritesThroughTheMappingReachTheFile) {
  TempDir dir;
  const std::string path = dir / "mapped.bin";
  const Bytes original = testing_support::RandomBytes(70000, 3);
  ASSERT_TRUE(testing_support::WriteFile(path, original));
  Bytes expected = original;
  {
    FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
    ASSERT_NE(file.Get(), kInvalidHandle);
    FileMapping mapping;
    ASSERT_TRUE(mapping.Map(file.Get(), original.size())) << LastError();
    ASSERT_NE(mapping.Data(), nullptr);
    EXPECT_EQ(mapping.Size(), original.size());
    EXPECT_EQ(0, std::memcmp(mapping.Data(), original.data(), original.size()));
    // Move a block down, as compaction does.
    std::memmove(mapping.Data() + 100, mapping.Data() + 40000, 20000);
    std::memmove(expected.data() + 100, expected.data() + 40000, 20000);
    mapping.Data()[69999] = 0x5A;
    expected[69999] = 0x5A;
    mapping.Unmap();
    EXPECT_EQ(mapping.Data(), nullptr);
    EXPECT_EQ(mapping.Size(), 0u);
    // The handle sees the bytes before it is closed.
    unsigned char last = 0;
    ASSERT_EQ(SeekFile(file.Get(), 69999, kSeekBegin), 69999);
    EXPECT_EQ(ReadFile(file.Get(), &last, 1), 1);
    EXPECT_EQ(last, 0x5A);
  }
  EXPECT_EQ(testing_support::ReadFile(path), expected);
}

TEST(FileMapping, LongerMappingExtendsTheFile) {
  TempDir dir;
  const std::string path = dir / "grow.bin";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("abc")));
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  ASSERT_NE(file.Get(), kInvalidHandle);
  {
    FileMapping mapping;
    ASSERT_TRUE(mapping.Map(file.Get(), 5000)) << LastError();
    EXPECT_EQ(FileSize(file.Get()), 5000);
    EXPECT_EQ(mapping.Data()[2], 'c');
    EXPECT_EQ(mapping.Data()[4999], 0);
    mapping.Data()[4999] = 'z';
  }
  char last = 0;
  ASSERT_EQ(SeekFile(file.Get(), 4999, kSeekBegin), 4999);
  EXPECT_EQ(ReadFile(file.Get(), &last, 1), 1);
  EXPECT_EQ(last, 'z');
}

TEST(FileMapping, MappingAgainReplacesTheFirstView) {
  TempDir dir;
  const std::string first = dir / "first.bin", second = dir / "second.bin";
  ASSERT_TRUE(testing_support::WriteFile(first, std::string("first")));
  ASSERT_TRUE(testing_support::WriteFile(second, std::string("second")));
  FileCloser a(OpenFile(first.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  FileCloser b(OpenFile(second.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  FileMapping mapping;
  ASSERT_TRUE(mapping.Map(a.Get(), 5));
  ASSERT_TRUE(mapping.Map(b.Get(), 6));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(mapping.Data()), 6), "second");
  mapping.Unmap();
  mapping.Unmap();
  EXPECT_EQ(mapping.Data(), nullptr);
}

TEST(FileMapping, RefusesEmptyAndReadOnlyMappings) {
  TempDir dir;
  const std::string path = dir / "m.bin";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("12345678")));
  FileMapping mapping;
  {
    FileCloser reader(OpenFile(path.c_str(), kAccessRead, kShareRead, kOpenExisting));
    ASSERT_NE(reader.Get(), kInvalidHandle);
    SetLastError(0);
    EXPECT_FALSE(mapping.Map(reader.Get(), 8));
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    EXPECT_EQ(mapping.Data(), nullptr);
  }
  FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  ASSERT_NE(file.Get(), kInvalidHandle);
  EXPECT_FALSE(mapping.Map(file.Get(), 0));
  EXPECT_EQ(mapping.Data(), nullptr);
  EXPECT_FALSE(mapping.Map(kInvalidHandle, 8));
}

TEST(FileMapping, FileIsFreeAfterTheMappingAndHandleAreGone) {
  TempDir dir;
  const std::string path = dir / "free.bin";
  ASSERT_TRUE(testing_support::WriteFile(path, std::string("content")));
  {
    FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
    FileMapping mapping;
    ASSERT_TRUE(mapping.Map(file.Get(), 7));
    mapping.Data()[0] = 'C';
  }
  EXPECT_TRUE(DeleteFile(path.c_str())) << LastError();
  EXPECT_FALSE(testing_support::FileExists(path));
}

}  // namespace
}  // namespace platform
