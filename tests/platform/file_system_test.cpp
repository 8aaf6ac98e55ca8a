#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace platform {
namespace {

using testing_support::TempDir;

constexpr std::uint32_t kNoError = 0xDEADBEEF;
constexpr FileTime kUnitsPerSecond = 10000000;
constexpr FileTime k1970 = 116444736000000000ULL;

bool MakeFile(const std::string& path, std::size_t size) {
  return testing_support::WriteFile(path, std::string(size, 'x'));
}

// The narrow form of "Gr\u00FC\u00DFe" in this build's narrow text, made from
// the OEM bytes of u-umlaut and sharp s, which agree in code pages 437 and 850.
std::string NarrowGruesse() {
  char umlaut[8], sharp[8];
  OemToNarrow("\x81", 1, umlaut, sizeof umlaut);
  OemToNarrow("\xE1", 1, sharp, sizeof sharp);
  return std::string("Gr") + umlaut + sharp + "e";
}

TEST(Attributes, FileAndFolderAreToldApart) {
  TempDir dir;
  const std::string file = dir / "plain.txt";
  ASSERT_TRUE(MakeFile(file, 10));
  const std::uint32_t fileAttributes = GetAttributes(file.c_str());
  ASSERT_NE(fileAttributes, kInvalidAttributes);
  EXPECT_EQ(fileAttributes & (kAttrDirectory | kAttrReadOnly | kAttrHidden), 0u);
  if (LogicalDrives() == 0) {
    EXPECT_EQ(fileAttributes, kAttrNormal) << "no archive bit without Windows";
  }

  for (const std::string& folder : {dir.Path(), dir.Path() + "/", dir.Path() + "\\"}) {
    const std::uint32_t attributes = GetAttributes(folder.c_str());
    ASSERT_NE(attributes, kInvalidAttributes) << folder;
    EXPECT_NE(attributes & kAttrDirectory, 0u) << folder;
  }
}

struct MissingCase {
  const char* name;
  const char* relative;
  std::uint32_t error;
};

class MissingPath : public testing::TestWithParam<MissingCase> {};

TEST_P(MissingPath, GivesTheWindowsError) {
  TempDir dir;
  ASSERT_TRUE(MakeFile(dir / "file.txt", 1));
  const std::string path = dir.Path() + "/" + GetParam().relative;
  SetLastError(kNoError);
  EXPECT_EQ(GetAttributes(path.c_str()), kInvalidAttributes);
  EXPECT_EQ(LastError(), GetParam().error);
  FileData data;
  SetLastError(kNoError);
  EXPECT_FALSE(GetAttributesEx(path.c_str(), &data));
  EXPECT_EQ(LastError(), GetParam().error);
  SetLastError(kNoError);
  EXPECT_FALSE(SetAttributes(path.c_str(), kAttrNormal));
  // Wine's SetFileAttributes calls "file.txt/" an invalid name.
  if (LogicalDrives() == 0 || path.back() != '/') {
    EXPECT_EQ(LastError(), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(All, MissingPath,
                         testing::Values(MissingCase{"MissingFile", "none.txt", kErrorFileNotFound},
                                         MissingCase{"MissingFolder", "none/x.txt", kErrorPathNotFound},
                                         MissingCase{"BelowAFile", "file.txt/x", kErrorPathNotFound},
                                         MissingCase{"FileWithSeparator", "file.txt/", kErrorPathNotFound}),
                         [](const testing::TestParamInfo<MissingCase>& paramInfo) {
                           return std::string(paramInfo.param.name);
                         });

TEST(Attributes, ReadOnlyFileIsDeletedOnlyAfterMadeNormal) {
  TempDir dir;
  const std::string path = dir / "locked.txt";
  ASSERT_TRUE(MakeFile(path, 3));
  ASSERT_TRUE(SetAttributes(path.c_str(), kAttrReadOnly)) << LastError();
  EXPECT_NE(GetAttributes(path.c_str()) & kAttrReadOnly, 0u);
  SetLastError(kNoError);
  EXPECT_FALSE(DeleteFile(path.c_str()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_TRUE(testing_support::FileExists(path));
  ASSERT_TRUE(SetAttributes(path.c_str(), kAttrNormal)) << LastError();
  EXPECT_EQ(GetAttributes(path.c_str()) & kAttrReadOnly, 0u);
  EXPECT_TRUE(DeleteFile(path.c_str())) << LastError();
  EXPECT_FALSE(testing_support::FileExists(path));
  SetLastError(kNoError);
  EXPECT_EQ(GetAttributes(path.c_str()), kInvalidAttributes);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST(Attributes, HiddenFiles) {
  TempDir dir;
  if (LogicalDrives() == 0) {
    // The POSIX build calls dot names hidden.
    ASSERT_TRUE(MakeFile(dir / ".hidden", 1));
    EXPECT_EQ(GetAttributes((dir / ".hidden").c_str()), kAttrHidden);
    ASSERT_TRUE(MakeFile(dir / "visible", 1));
    EXPECT_EQ(GetAttributes((dir / "visible").c_str()), kAttrNormal);
  } else {
    const std::string path = dir / "secret.txt";
    ASSERT_TRUE(MakeFile(path, 1));
    ASSERT_TRUE(SetAttributes(path.c_str(), kAttrHidden));
    EXPECT_NE(GetAttributes(path.c_str()) & kAttrHidden, 0u);
  }
}

TEST(Attributes, SizeAndTimesOfAFile) {
  TempDir dir;
  const std::string path = dir / "timed.bin";
  ASSERT_TRUE(MakeFile(path, 5000));
  const FileTime accessed = k1970 + FileTime{1300000000} * kUnitsPerSecond;
  const FileTime modified = k1970 + FileTime{1400000000} * kUnitsPerSecond + 1234500;
  {
    FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
    ASSERT_NE(file.Get(), kInvalidHandle);
    ASSERT_TRUE(SetFileTimes(file.Get(), nullptr, &accessed, &modified)) << LastError();
  }
  FileData data;
  ASSERT_TRUE(GetAttributesEx(path.c_str(), &data)) << LastError();
  EXPECT_EQ(data.size, 5000u);
  EXPECT_EQ(data.accessed, accessed);
  EXPECT_EQ(data.modified, modified);
  // Birth times are recorded by most POSIX file systems; 0 means unknown.
  // Wine has none to give and reports another time.
  if (data.created != 0 && LogicalDrives() == 0) {
    const FileTime now = k1970 + static_cast<FileTime>(CurrentTime()) * kUnitsPerSecond;
    EXPECT_LE(data.created, now + 10 * kUnitsPerSecond);
    EXPECT_GE(data.created, now - 3600 * kUnitsPerSecond);
  }

  // Null and zero leave a time alone.
  const FileTime zero = 0;
  const FileTime later = modified + 20 * kUnitsPerSecond;
  {
    FileCloser file(OpenFile(path.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
    ASSERT_TRUE(SetFileTimes(file.Get(), nullptr, &zero, &later));
  }
  ASSERT_TRUE(GetAttributesEx(path.c_str(), &data));
  EXPECT_EQ(data.accessed, accessed);
  EXPECT_EQ(data.modified, later);

  FileData folder;
  ASSERT_TRUE(GetAttributesEx(dir.Path().c_str(), &folder));
  EXPECT_NE(folder.attributes & kAttrDirectory, 0u);
  EXPECT_EQ(folder.size, 0u);
}

TEST(DeleteFile, ReportsWhatCannotBeDeleted) {
  TempDir dir;
  SetLastError(kNoError);
  EXPECT_FALSE(DeleteFile((dir / "none.txt").c_str()));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  SetLastError(kNoError);
  EXPECT_FALSE(DeleteFile((dir.Path() + "/none/x.txt").c_str()));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  ASSERT_TRUE(CreateDirectory((dir / "folder").c_str()));
  SetLastError(kNoError);
  EXPECT_FALSE(DeleteFile((dir / "folder").c_str()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_NE(GetAttributes((dir / "folder").c_str()), kInvalidAttributes);
}

TEST(CreateDirectory, CreatesOnceAndReportsExistingAndMissingParents) {
  TempDir dir;
  const std::string folder = dir / "made";
  EXPECT_TRUE(CreateDirectory(folder.c_str())) << LastError();
  EXPECT_NE(GetAttributes(folder.c_str()) & kAttrDirectory, 0u);
  SetLastError(kNoError);
  EXPECT_FALSE(CreateDirectory(folder.c_str()));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);

  ASSERT_TRUE(MakeFile(dir / "file", 1));
  SetLastError(kNoError);
  EXPECT_FALSE(CreateDirectory((dir / "file").c_str()));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);

  SetLastError(kNoError);
  EXPECT_FALSE(CreateDirectory((dir.Path() + "/none/deeper").c_str()));
  EXPECT_EQ(LastError(), kErrorPathNotFound);

  EXPECT_TRUE(CreateDirectory((dir.Path() + "\\made\\inner\\").c_str())) << LastError();
  EXPECT_NE(GetAttributes((dir.Path() + "/made/inner").c_str()) & kAttrDirectory, 0u);
}

TEST(WideForms, NonAsciiNamesMatchTheNarrowForms) {
  TempDir dir;
  std::u16string base;
  for (char c : dir.Path()) base.push_back(static_cast<unsigned char>(c));
  ASSERT_EQ(base.size(), dir.Path().size()) << "the scratch folder has an ASCII path";
  const std::u16string folder = base + u"/Gr\u00FC\u00DFe";
  ASSERT_TRUE(CreateDirectory(folder.c_str())) << LastError();
  EXPECT_NE(GetAttributes(folder.c_str()) & kAttrDirectory, 0u);
  const std::string narrowFolder = dir.Path() + "/" + NarrowGruesse();
  EXPECT_NE(GetAttributes(narrowFolder.c_str()) & kAttrDirectory, 0u)
      << "the narrow name reaches the same folder";

  const std::u16string missing = folder + u"/\u20AC.txt";
  ASSERT_TRUE(testing_support::WriteFile(narrowFolder + "/plain.txt", std::string("p")));
  const std::u16string plain = folder + u"/plain.txt";
  FileData data;
  ASSERT_TRUE(GetAttributesEx(plain.c_str(), &data)) << LastError();
  EXPECT_EQ(data.size, 1u);
  ASSERT_TRUE(SetAttributes(plain.c_str(), kAttrReadOnly));
  EXPECT_NE(GetAttributes(plain.c_str()) & kAttrReadOnly, 0u);
  EXPECT_FALSE(DeleteFile(plain.c_str()));
  ASSERT_TRUE(SetAttributes(plain.c_str(), kAttrNormal));
  EXPECT_TRUE(DeleteFile(plain.c_str())) << LastError();
  SetLastError(kNoError);
  EXPECT_EQ(GetAttributes(missing.c_str()), kInvalidAttributes);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  SetLastError(kNoError);
  EXPECT_FALSE(CreateDirectory(folder.c_str()));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
}

// MoveFileOver replaces the target as MoveFileEx with replace-existing does,
// and is refused where Windows refuses it.
TEST(MoveFileOver, ReplacesTheTargetUnlessItIsOpenOrReadOnly) {
  TempDir dir;
  const std::string from = dir / "new~1a2b.zip";
  const std::string to = dir / "new.zip";
  ASSERT_TRUE(MakeFile(from, 7));
  ASSERT_TRUE(MakeFile(to, 3));
  {
    FileCloser open(OpenFile(to.c_str(), kAccessRead, kShareRead, kOpenExisting));
    ASSERT_NE(open.Get(), kInvalidHandle);
    EXPECT_FALSE(MoveFileOver(from.c_str(), to.c_str()));
    EXPECT_EQ(testing_support::ReadFile(to).size(), 3u);
  }
  ASSERT_TRUE(SetAttributes(to.c_str(), kAttrReadOnly));
  // Wine run by root does not enforce the read-only bit (the file opens for
  // writing too); there the refusal cannot be seen.
  const bool enforced =
      FileCloser(OpenFile(to.c_str(), kAccessReadWrite, kShareNone, kOpenExisting)).Get() == kInvalidHandle;
  if (enforced) {
    EXPECT_FALSE(MoveFileOver(from.c_str(), to.c_str()));
  }
  ASSERT_TRUE(SetAttributes(to.c_str(), kAttrNormal));
  ASSERT_TRUE(MakeFile(from, 7));
  EXPECT_TRUE(MoveFileOver(from.c_str(), to.c_str()));
  EXPECT_EQ(testing_support::ReadFile(to).size(), 7u);
  EXPECT_EQ(GetAttributes(from.c_str()), kInvalidAttributes);
  // A missing target is simply named.
  ASSERT_TRUE(MakeFile(from, 5));
  const std::string fresh = dir / "fresh.zip";
  EXPECT_TRUE(MoveFileOver(from.c_str(), fresh.c_str()));
  EXPECT_EQ(testing_support::ReadFile(fresh).size(), 5u);
  if (!enforced)
    GTEST_SKIP() << "SKIPPED: the read-only refusal; this system does not enforce read-only files";
}

TEST(IsSameFile, TellsTheOpenFileFromAnotherOfTheSameContent) {
  TempDir dir;
  const std::string one = dir / "one.bin";
  const std::string two = dir / "two.bin";
  ASSERT_TRUE(MakeFile(one, 4));
  ASSERT_TRUE(MakeFile(two, 4));
  FileCloser open(OpenFile(one.c_str(), kAccessReadWrite, kShareNone, kOpenExisting));
  ASSERT_NE(open.Get(), kInvalidHandle);
  EXPECT_TRUE(IsSameFile(one.c_str(), open.Get()));
  EXPECT_FALSE(IsSameFile(two.c_str(), open.Get()));
  EXPECT_FALSE(IsSameFile((dir / "missing").c_str(), open.Get()));
}

// Names of every script go through the narrow calls whole, on both builds:
// made, listed, measured, renamed and deleted under the same name.
TEST(NarrowNames, NamesOfEveryScriptReachTheFileSystem) {
  TempDir dir;
  const std::vector<std::string> names = {
      "\xCE\xB1.txt",                                        // Greek alpha
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.c",  // Cyrillic
      "\xE4\xB8\xAD.h",                                      // CJK
      "\xF0\x9F\x98\x80.txt",                                // an emoji, beyond 16 bits
      "\xC5\x81\xC3\263d\xC5\xBA.c",                         // Polish
      "\xC3\x98re.txt",                                      // Norwegian
      "e\xCC\x81t\xC3\xA9.txt",                              // a combining accent beside a precomposed one
      "\xC3\234bung.c",                                      // German, in Windows-1252 too
  };
  for (const std::string& name : names) {
    FileCloser file(OpenFile((dir / name).c_str(), kAccessWrite, kShareNone, kCreateNew));
    ASSERT_NE(file.Get(), kInvalidHandle) << name << ": " << LastError();
    ASSERT_EQ(WriteFile(file.Get(), name.data(), name.size()), static_cast<std::int64_t>(name.size()));
  }
  std::set<std::string> listed;
  FindData<char> found;
  const std::string pattern = dir / "*";
  const SearchHandle search = FindFirst(pattern.c_str(), &found);
  ASSERT_NE(search, kInvalidSearch) << LastError();
  do {
    const std::string name = found.name;
    if (name != "." && name != "..") listed.insert(name);
  } while (FindNext(search, &found));
  FindClose(search);
  EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    FileData data;
    ASSERT_TRUE(GetAttributesEx(path.c_str(), &data)) << LastError();
    EXPECT_EQ(data.size, name.size());
    char full[1024];
    const std::uint32_t length = GetFullPath(path.c_str(), full, sizeof full);
    ASSERT_GT(length, name.size());
    EXPECT_EQ(std::string(full + length - name.size(), name.size()), name);
    const std::string moved = path + ".moved";
    ASSERT_TRUE(MoveFileOver(path.c_str(), moved.c_str())) << LastError();
    EXPECT_EQ(GetAttributes(path.c_str()), kInvalidAttributes);
    EXPECT_TRUE(DeleteFile(moved.c_str())) << LastError();
  }
}

// Paths shown beside the Windows-1252 messages: in that code page on
// Windows, '?' for what it lacks; unchanged on POSIX.
TEST(ConsoleText, PathsMeetTheMessagesCodePage) {
  const std::string path = "C:\\\xC3\234bung\\\xE4\xB8\xAD.c";
  if (LogicalDrives() == 0) {
    EXPECT_EQ(ConsoleText(path), path);
  } else {
    EXPECT_EQ(ConsoleText(path), "C:\\\334bung\\?.c");
    EXPECT_EQ(ConsoleText("\xE2\x82\xAC \xFC"), "\x80 ?") << "the euro sign; a byte that is not UTF-8";
    const std::string emoji = ConsoleText("\xF0\x9F\x98\x80");
    EXPECT_FALSE(emoji.empty());
    EXPECT_EQ(emoji.find_first_not_of('?'), std::string::npos);
  }
}

}  // namespace
}  // namespace platform
