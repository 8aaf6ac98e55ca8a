#include "fs/file_info.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/platform.h"
#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::TempTree;
using fs_test::Widen;

constexpr std::uint64_t kEpoch = 116444736000000000ull;
constexpr std::uint64_t kSecond = 10000000ull;

TEST(FileInfoTest, TwoWordsAndThreeTimesInTheirOrder) {
  EXPECT_EQ(sizeof(fs::FileInfo), 32u);
  EXPECT_EQ(offsetof(fs::FileInfo, attributes), 0u);
  EXPECT_EQ(offsetof(fs::FileInfo, size), 4u);
  EXPECT_EQ(offsetof(fs::FileInfo, created), 8u);
  EXPECT_EQ(offsetof(fs::FileInfo, accessed), 16u);
  EXPECT_EQ(offsetof(fs::FileInfo, modified), 24u);
}

// Seconds of dates on both sides of 1970 and of the 32-bit limit (UTC).
constexpr std::int64_t k1960 = -315619200;      // 1960-01-01
constexpr std::int64_t k2038Last = 2147483647;  // 2038-01-19 03:14:07
constexpr std::int64_t k2100 = 4102444800;      // 2100-01-01
constexpr std::int64_t k1601 = -11644473600;    // 1601-01-01, file time 0

TEST(FileTimeTest, FileTimeToSeconds) {
  const struct {
    std::uint64_t time;
    std::int64_t seconds;
    bool ok;
  } cases[] = {
      {kEpoch, 0, true},
      {kEpoch + kSecond, 1, true},
      {kEpoch + kSecond - 1, 0, true},
      {kEpoch - 1, -1, true},  // rounded down, as after 1970
      {kEpoch - kSecond, -1, true},
      {kEpoch - kSecond - 1, -2, true},
      {kEpoch - 315619200ull * kSecond, k1960, true},
      {kEpoch + 2147483647ull * kSecond, k2038Last, true},
      {kEpoch + 2147483648ull * kSecond, k2038Last + 1, true},
      {kEpoch + 4102444800ull * kSecond, k2100, true},
      {1, k1601, true},
      {0, platform::kNoTime, false},  // none
      {~0ull, static_cast<std::int64_t>((~0ull - kEpoch) / kSecond), true},
  };
  for (const auto& c : cases) {
    bool ok = !c.ok;
    EXPECT_EQ(fs::FileTimeToSeconds(c.time, &ok), c.seconds) << c.time;
    EXPECT_EQ(ok, c.ok) << c.time;
  }
}

TEST(FileTimeTest, SecondsToFileTime) {
  const struct {
    std::int64_t seconds;
    std::uint64_t time;
    bool ok;
  } cases[] = {
      {0, kEpoch, true},
      {-5, kEpoch - 5 * kSecond, true},
      {k1960, kEpoch - 315619200ull * kSecond, true},
      {1, kEpoch + kSecond, true},
      {k2038Last + 1, kEpoch + 2147483648ull * kSecond, true},
      {k2100, kEpoch + 4102444800ull * kSecond, true},
      {k1601, 0, false},  // the file time 0 means none
      {k1601 - 1, 0, false},
      {platform::kNoTime, 0, false},
      {INT64_MAX, 0, false},  // beyond what a file time holds
  };
  for (const auto& c : cases) {
    bool ok = !c.ok;
    EXPECT_EQ(fs::SecondsToFileTime(c.seconds, &ok), c.time) << c.seconds;
    EXPECT_EQ(ok, c.ok) << c.seconds;
  }
  for (std::int64_t seconds : {k1960, std::int64_t{-1}, std::int64_t{123456789}, k2038Last + 1, k2100}) {
    EXPECT_EQ(fs::FileTimeToSeconds(fs::SecondsToFileTime(seconds)), seconds);
  }
}

TEST(FileTimeTest, NewestTimeFallsBackOnUnsetTimes) {
  constexpr std::int64_t kNone = platform::kNoTime;
  EXPECT_EQ(fs::NewestTime(nullptr), kNone);
  const struct {
    fs::FileInfo info;
    std::int64_t newest;
  } cases[] = {
      {{1, 0, 1000, 2000, kNone}, 1000},  {{1, 0, 1000, 2000, 5}, 5},
      {{1, 0, kNone, 2000, kNone}, 2000}, {{1, 0, 7, 2000, 0}, 0},
      {{1, 0, 7, 2000, k1960}, k1960},    {{1, 0, kNone, kNone, kNone}, kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(fs::NewestTime(&c.info), c.newest);
}

TEST(GetFileInfoTest, FileAndFolder) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("five.txt", "12345"));
  ASSERT_TRUE(tree.MakeFolder("sub"));
  const std::int64_t now = platform::CurrentTime();

  fs::FileRecord<char> record;
  record.name[0] = 'x';
  ASSERT_EQ(fs::GetFileInfo(tree.Path("five.txt").c_str(), &record), 0);
  EXPECT_EQ(record.name[0], 0);
  EXPECT_EQ(record.info.size, 5u);
  EXPECT_EQ(record.info.attributes & (fs::InfoAlways | fs::InfoWritable | fs::InfoFolder),
            fs::InfoAlways | fs::InfoWritable);
  EXPECT_EQ(record.info.attributes & 0x30Cu, 0u);  // bits 2, 3, 8 and 9
  EXPECT_EQ(record.info.attributes >> fs::InfoSizeHighShift, 0u);
  EXPECT_LE(std::abs(static_cast<std::int64_t>(record.info.modified) - now), 120);

  ASSERT_EQ(fs::GetFileInfo(tree.Path("sub").c_str(), &record), 0);
  EXPECT_NE(record.info.attributes & fs::InfoFolder, 0u);

  fs::FileRecord<char16_t> wide;
  const std::string path = tree.Path("five.txt");
  if (fs_test::IsAscii(path)) {
    ASSERT_EQ(fs::GetFileInfo(Widen(path).c_str(), &wide), 0);
    EXPECT_EQ(wide.info.size, 5u);
  }
}

TEST(GetFileInfoTest, ReadOnlyAndHiddenBits) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("locked.txt"));
  ASSERT_TRUE(platform::SetAttributes(tree.Path("locked.txt").c_str(), platform::kAttrReadOnly));
  fs::FileRecord<char> record;
  ASSERT_EQ(fs::GetFileInfo(tree.Path("locked.txt").c_str(), &record), 0);
  EXPECT_EQ(record.info.attributes & fs::InfoWritable, 0u);
  EXPECT_NE(record.info.attributes & fs::InfoAlways, 0u);
  platform::SetAttributes(tree.Path("locked.txt").c_str(), platform::kAttrNormal);

  // Systems without a hidden attribute hide dot names.
  ASSERT_TRUE(tree.MakeFile(".hidden"));
  platform::SetAttributes(tree.Path(".hidden").c_str(), platform::kAttrHidden);
  ASSERT_EQ(fs::GetFileInfo(tree.Path(".hidden").c_str(), &record), 0);
  EXPECT_NE(record.info.attributes & fs::InfoHidden, 0u);
}

TEST(GetFileInfoTest, SizeAbove32BitsGoesToTheAttributeWord) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  const std::string path = tree.Path("big.bin");
  {
    platform::FileCloser file(platform::OpenFile(path.c_str(), platform::kAccessWrite, platform::kShareNone,
                                                 platform::kCreateAlways));
    ASSERT_NE(file.Get(), platform::kInvalidHandle);
    const std::int64_t offset = (5ll << 30);  // 5 GiB, a sparse file
    if (platform::SeekFile(file.Get(), offset, platform::kSeekBegin) != offset ||
        platform::WriteFile(file.Get(), "z", 1) != 1) {
      GTEST_SKIP() << "no room for a sparse 5 GiB file";
    }
  }
  fs::FileRecord<char> record;
  ASSERT_EQ(fs::GetFileInfo(path.c_str(), &record), 0);
  EXPECT_EQ(record.info.size, (1u << 30) + 1u);
  EXPECT_EQ(record.info.attributes >> fs::InfoSizeHighShift, 1u);
  EXPECT_NE(record.info.attributes & fs::InfoAlways, 0u);
}

TEST(GetFileInfoTest, FailureCodes) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  fs::FileRecord<char> record;
  record.info.size = 77;
  record.name[0] = 'x';
  EXPECT_EQ(fs::GetFileInfo(tree.Path("missing.txt").c_str(), &record), fs::InfoNotFound);
  EXPECT_EQ(record.info.size, 0u);
  EXPECT_EQ(record.name[0], 0);
  EXPECT_EQ(fs::GetFileInfo(tree.Path("nofolder/missing.txt").c_str(), &record), fs::InfoNoPath);
  EXPECT_EQ(fs::GetFileInfo<char>(tree.Path("x").c_str(), nullptr), fs::InfoBadArgument);
  EXPECT_EQ(fs::GetFileInfo<char>(nullptr, &record), fs::InfoBadArgument);
}

TEST(FindInfoTest, ListsAFolder) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  ASSERT_TRUE(tree.MakeFile("one.c", "1"));
  ASSERT_TRUE(tree.MakeFile("two.h", "22"));
  ASSERT_TRUE(tree.MakeFolder("dir"));

  fs::FileRecord<char> record;
  int code = 99;
  const std::string pattern = tree.Path("*");
  const platform::SearchHandle search = fs::FindFirstInfo(pattern.c_str(), &record, &code);
  ASSERT_NE(search, platform::kInvalidSearch);
  EXPECT_EQ(code, 0);
  std::set<std::string> names;
  std::uint32_t folderBits = 0;
  int result = 0;
  do {
    names.insert(record.name);
    const std::string name = record.name;
    if (name == "two.h") {
      EXPECT_EQ(record.info.size, 2u);
    }
    if (name == "dir") folderBits = record.info.attributes & fs::InfoFolder;
  } while ((result = fs::FindNextInfo(search, &record)) == 0);
  EXPECT_EQ(result, fs::InfoNotFound);
  EXPECT_EQ(fs::FindNextInfo(search, &record), fs::InfoNotFound);
  EXPECT_EQ(fs::FindCloseInfo(search), 0);
  EXPECT_EQ(names.count("one.c"), 1u);
  EXPECT_EQ(names.count("two.h"), 1u);
  EXPECT_EQ(names.count("dir"), 1u);
  EXPECT_EQ(folderBits, fs::InfoFolder);

  const platform::SearchHandle only = fs::FindFirstInfo(tree.Path("*.h").c_str(), &record, &code);
  ASSERT_NE(only, platform::kInvalidSearch);
  EXPECT_STREQ(record.name, "two.h");
  EXPECT_EQ(fs::FindNextInfo(only, &record), fs::InfoNotFound);
  EXPECT_EQ(fs::FindCloseInfo(only), 0);

  const std::string widePattern = tree.Path("*.h");
  if (fs_test::IsAscii(widePattern)) {
    fs::FileRecord<char16_t> wide;
    const platform::SearchHandle wideSearch = fs::FindFirstInfo(Widen(widePattern).c_str(), &wide, &code);
    ASSERT_NE(wideSearch, platform::kInvalidSearch);
    EXPECT_EQ(std::u16string(wide.name), u"two.h");
    EXPECT_EQ(fs::FindCloseInfo(wideSearch), 0);
  }
}

TEST(FindInfoTest, FailuresAndBadHandles) {
  TempTree tree;
  ASSERT_TRUE(tree.Ok());
  fs::FileRecord<char> record;
  int code = 0;
  record.info.size = 9;
  EXPECT_EQ(fs::FindFirstInfo(tree.Path("*.none").c_str(), &record, &code), platform::kInvalidSearch);
  EXPECT_EQ(code, fs::InfoNotFound);
  EXPECT_EQ(record.info.size, 0u);
  EXPECT_EQ(fs::FindFirstInfo(tree.Path("nofolder/*").c_str(), &record, &code), platform::kInvalidSearch);
  EXPECT_LT(code, 0);
  EXPECT_EQ(fs::FindFirstInfo<char>(tree.Path("*").c_str(), nullptr, &code), platform::kInvalidSearch);
  EXPECT_EQ(code, fs::InfoBadArgument);

  for (const platform::SearchHandle bad : {platform::kInvalidSearch, static_cast<platform::SearchHandle>(-32),
                                           static_cast<platform::SearchHandle>(0xFFFFFFF0ll),
                                           static_cast<platform::SearchHandle>(0xFFFFFFFFll)}) {
    record.info.size = 9;
    record.name[0] = 'x';
    EXPECT_EQ(fs::FindNextInfo(bad, &record), fs::InfoBadArgument);
    EXPECT_EQ(record.info.size, 0u);
    EXPECT_EQ(record.name[0], 0);
    EXPECT_EQ(fs::FindCloseInfo(bad), fs::InfoBadArgument);
  }
  EXPECT_EQ(fs::FindNextInfo<char>(platform::kInvalidSearch, nullptr), fs::InfoBadArgument);
}

}  // namespace
