#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

constexpr std::uint32_t kNoError = 0xDEADBEEF;

struct Listing {
  bool opened = false;
  std::uint32_t error = kNoError;  // of the failed FindFirst, or of the last FindNext
  std::vector<std::string> names;
  std::vector<FindData<char>> entries;
};

Listing List(const std::string& pattern) {
  Listing listing;
  FindData<char> found;
  SetLastError(kNoError);
  const SearchHandle search = FindFirst(pattern.c_str(), &found);
  if (search == kInvalidSearch) {
    listing.error = LastError();
    return listing;
  }
  listing.opened = true;
  do {
    listing.names.push_back(found.name);
    listing.entries.push_back(found);
  } while (FindNext(search, &found));
  listing.error = LastError();
  EXPECT_TRUE(FindClose(search));
  return listing;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

class DirectorySearch : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.txt", "Bb.c", "noext", "LongFileName.text"}) {
      ASSERT_TRUE(testing_support::WriteFile(dir_ / name, std::string(name)));
    }
    ASSERT_TRUE(CreateDirectory((dir_ / "sub").c_str()));
  }
  std::string Pattern(const std::string& name) const { return dir_.Path() + "/" + name; }

  TempDir dir_;
};

TEST_F(DirectorySearch, ListsEveryEntryWithDotsFirst) {
  const Listing listing = List(Pattern("*"));
  ASSERT_TRUE(listing.opened) << listing.error;
  EXPECT_EQ(listing.error, kErrorNoMoreFiles);
  ASSERT_GE(listing.names.size(), 2u);
  EXPECT_EQ(listing.names[0], ".");
  EXPECT_EQ(listing.names[1], "..");
  EXPECT_EQ(Sorted(listing.names),
            (std::vector<std::string>{".", "..", "Bb.c", "LongFileName.text", "a.txt", "noext", "sub"}));
  for (const FindData<char>& entry : listing.entries) {
    const std::string name = entry.name;
    const bool folder = name == "." || name == ".." || name == "sub";
    EXPECT_EQ((entry.data.attributes & kAttrDirectory) != 0, folder) << name;
    if (!folder) {
      EXPECT_EQ(entry.data.size, name.size()) << name;
      EXPECT_NE(entry.data.modified, 0u) << name;
    }
  }
  // The same folder is listed in the same order again.
  EXPECT_EQ(List(Pattern("*")).names, listing.names);
}

struct PatternCase {
  const char* name;
  const char* pattern;
  std::vector<std::string> names;  // sorted
};

class SearchPattern : public DirectorySearch, public testing::WithParamInterface<PatternCase> {};

TEST_P(SearchPattern, MatchesLikeWindows) {
  const Listing listing = List(Pattern(GetParam().pattern));
  if (GetParam().names.empty()) {
    EXPECT_FALSE(listing.opened);
    EXPECT_EQ(listing.error, kErrorFileNotFound);
  } else {
    ASSERT_TRUE(listing.opened) << listing.error;
    EXPECT_EQ(Sorted(listing.names), GetParam().names);
  }
}

INSTANTIATE_TEST_SUITE_P(
    All, SearchPattern,
    testing::Values(
        PatternCase{"StarDotStar", "*.*", {".", "..", "Bb.c", "LongFileName.text", "a.txt", "noext", "sub"}},
        PatternCase{"Extension", "*.c", {"Bb.c"}}, PatternCase{"QuestionMarkAndCase", "B?.C", {"Bb.c"}},
        PatternCase{"ExactNameAnyCase", "A.TXT", {"a.txt"}},
        PatternCase{"QuestionMarkAtEnd", "a.tx?", {"a.txt"}},
        PatternCase{"QuestionMarkForDot", "a?txt", {"a.txt"}},
        PatternCase{"TwoStars", "*.t*", {"LongFileName.text", "a.txt"}},
        PatternCase{"PrefixAnyCase", "long*", {"LongFileName.text"}},
        PatternCase{"ManyStars", "*e*e*e*", {"LongFileName.text"}},
        PatternCase{"DotStarMatchesNoExtension", "noext.*", {"noext"}},
        PatternCase{"SingleCharacter", "?", {"."}}, PatternCase{"FolderName", "s?b", {"sub"}},
        PatternCase{"NoMatch", "x*", {}}, PatternCase{"LongerThanName", "a.txt.c", {}},
        PatternCase{"QuestionMarkNeedsACharacter", "?a.txt", {}}),
    [](const testing::TestParamInfo<PatternCase>& paramInfo) { return std::string(paramInfo.param.name); });

TEST_F(DirectorySearch, ReportsMissingFoldersAndEmptyNames) {
  Listing listing = List(dir_.Path() + "/none/*");
  EXPECT_FALSE(listing.opened);
  EXPECT_EQ(listing.error, kErrorPathNotFound);

  listing = List(dir_.Path() + "/");
  EXPECT_FALSE(listing.opened);
  EXPECT_EQ(listing.error, kErrorFileNotFound);

  listing = List("");
  EXPECT_FALSE(listing.opened);
  EXPECT_EQ(listing.error, kErrorPathNotFound);

  // A file used as a folder; Wine answers ERROR_INVALID_NAME here.
  listing = List(dir_.Path() + "/a.txt/*");
  EXPECT_FALSE(listing.opened);
  if (LogicalDrives() == 0) {
    EXPECT_EQ(listing.error, kErrorDirectory);
  }
}

TEST_F(DirectorySearch, BackslashesAndWideFormsFindTheSameEntries) {
  const Listing narrow = List(dir_.Path() + "\\*.c");
  ASSERT_TRUE(narrow.opened) << narrow.error;
  EXPECT_EQ(narrow.names, std::vector<std::string>{"Bb.c"});

  std::u16string pattern;
  for (char c : dir_.Path()) pattern.push_back(static_cast<unsigned char>(c));
  pattern += u"/*";
  FindData<WideChar> found;
  const SearchHandle search = FindFirst(pattern.c_str(), &found);
  ASSERT_NE(search, kInvalidSearch) << LastError();
  std::vector<std::string> names;
  do {
    std::string name;
    for (const WideChar* c = found.name; *c != 0; ++c) name.push_back(static_cast<char>(*c));
    names.push_back(name);
  } while (FindNext(search, &found));
  EXPECT_EQ(LastError(), kErrorNoMoreFiles);
  EXPECT_TRUE(FindClose(search));
  EXPECT_EQ(names, List(Pattern("*")).names);
}

TEST_F(DirectorySearch, ShortNamesExistOnlyOnWindows) {
  const Listing listing = List(Pattern("Long*"));
  ASSERT_EQ(listing.entries.size(), 1u);
  const std::string shortName = listing.entries[0].shortName;
  if (LogicalDrives() == 0) {
    EXPECT_EQ(shortName, "");
  } else {
    EXPECT_NE(shortName.find('~'), std::string::npos) << shortName;
    EXPECT_LE(shortName.size(), 12u);
  }
  const Listing plain = List(Pattern("a.txt"));
  ASSERT_EQ(plain.entries.size(), 1u);
  EXPECT_STREQ(plain.entries[0].shortName, "") << "an 8.3 name has no alias";
}

TEST_F(DirectorySearch, HiddenEntriesAreMarked) {
  const std::string hidden = LogicalDrives() == 0 ? ".hidden" : "hidden";
  ASSERT_TRUE(testing_support::WriteFile(dir_ / hidden, std::string("h")));
  if (LogicalDrives() != 0) {
    ASSERT_TRUE(SetAttributes((dir_ / hidden).c_str(), kAttrHidden));
  }
  const Listing listing = List(Pattern(hidden));
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_NE(listing.entries[0].data.attributes & kAttrHidden, 0u);
  for (const FindData<char>& entry : List(Pattern("*")).entries) {
    if (std::string(entry.name) == "." || std::string(entry.name) == "..") {
      EXPECT_EQ(entry.data.attributes & kAttrHidden, 0u) << entry.name;
    }
  }
}

TEST(DirectorySearchRoot, HasNoDotEntries) {
  const std::string root = LogicalDrives() != 0 ? "C:\\*" : "/*";
  const Listing listing = List(root);
  ASSERT_TRUE(listing.opened) << listing.error;
  EXPECT_FALSE(listing.names.empty());
  for (const std::string& name : listing.names) {
    EXPECT_NE(name, ".");
    EXPECT_NE(name, "..");
  }
}

TEST(DirectorySearchHandles, UnknownHandlesAreRefused) {
  FindData<char> found;
  SetLastError(kNoError);
  EXPECT_FALSE(FindNext(kInvalidSearch, &found));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
  EXPECT_FALSE(FindClose(kInvalidSearch));
  // A closed Windows handle may be reused, so it is not probed there.
  if (LogicalDrives() != 0) GTEST_SKIP() << "SKIPPED: closed handles are not probed on Windows";
  TempDir dir;
  const SearchHandle search = FindFirst((dir.Path() + "/*").c_str(), &found);
  ASSERT_NE(search, kInvalidSearch);
  EXPECT_TRUE(FindClose(search));
  EXPECT_FALSE(FindClose(search));
  EXPECT_FALSE(FindNext(search, &found));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

}  // namespace
}  // namespace platform
