#include "fs/path_strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fs/fs_test_support.h"

namespace {

using fs_test::Narrow;
using fs_test::Widen;

// Each table runs through the narrow functions and, with the same texts
// widened, through the wide ones.
template <typename Char>
std::basic_string<Char> Text(const std::string& narrow);
template <>
std::string Text<char>(const std::string& narrow) {
  return narrow;
}
template <>
std::u16string Text<char16_t>(const std::string& narrow) {
  return Widen(narrow);
}

std::string Back(const std::string& text) { return text; }
std::string Back(const std::u16string& text) { return Narrow(text); }

template <typename Char>
class PathStringsTest : public ::testing::Test {};
using CharTypes = ::testing::Types<char, char16_t>;
TYPED_TEST_SUITE(PathStringsTest, CharTypes);

struct SplitCase {
  const char* path;
  const char* expected;
};

TYPED_TEST(PathStringsTest, GetNamePartFollowsTheLastSeparatorOrColon) {
  const SplitCase cases[] = {
      {"C:\\Work\\a.dsp", "a.dsp"},
      {"C:file", "file"},
      {"dir/sub/", ""},
      {"name", "name"},
      {"", ""},
      {"a\\b/c:d", "d"},
      {"\\lead", "lead"},
  };
  for (const auto& c : cases) {
    const auto path = Text<TypeParam>(c.path);
    int length = -1;
    const TypeParam* name = fs::GetNamePart(-1, path.c_str(), &length);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(name)), c.expected) << c.path;
    EXPECT_EQ(length, static_cast<int>(std::string(c.expected).size())) << c.path;
    EXPECT_EQ(name, path.c_str() + path.size() - length) << c.path;
  }
}

TYPED_TEST(PathStringsTest, GetNamePartHonoursTheGivenLength) {
  const auto path = Text<TypeParam>("ab\\cdef");
  int length = -1;
  const TypeParam* name = fs::GetNamePart(4, path.c_str(), &length);
  EXPECT_EQ(name, path.c_str() + 3);
  EXPECT_EQ(length, 1);
  const TypeParam* none = fs::GetNamePart<TypeParam>(-1, nullptr, &length);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none[0], 0);
  EXPECT_EQ(length, 0);
}

TYPED_TEST(PathStringsTest, CopyNamePartNeedsRoomForTheTerminator) {
  const auto path = Text<TypeParam>("C:\\dir\\a.dsp");
  TypeParam target[16];
  std::fill(std::begin(target), std::end(target), TypeParam('#'));
  EXPECT_EQ(fs::CopyNamePart(target, -1, path.c_str(), 6), 5);
  EXPECT_EQ(Back(std::basic_string<TypeParam>(target)), "a.dsp");

  std::fill(std::begin(target), std::end(target), TypeParam('#'));
  EXPECT_EQ(fs::CopyNamePart(target, -1, path.c_str(), 5), 0);
  EXPECT_EQ(target[0], 0);
  EXPECT_EQ(target[1], TypeParam('#'));

  std::fill(std::begin(target), std::end(target), TypeParam('#'));
  EXPECT_EQ(fs::CopyNamePart(target, -1, path.c_str(), 0), 0);
  EXPECT_EQ(target[0], TypeParam('#'));

  // In place: the name moves to the front of its own buffer.
  auto inPlace = Text<TypeParam>("x/y/name");
  EXPECT_EQ(fs::CopyNamePart(&inPlace[0], -1, inPlace.c_str(), 9), 4);
  EXPECT_EQ(Back(std::basic_string<TypeParam>(inPlace.c_str())), "name");
}

struct CutCase {
  const char* path;
  const char* expected;
  int length;
};

TYPED_TEST(PathStringsTest, CutToFolderKeepsASeparatorBehindColonOrSeparator) {
  const CutCase cases[] = {
      {"C:\\Work\\Proj\\a.dsp", "C:\\Work\\Proj", 12},
      {"C:\\a.dsp", "C:\\", 3},
      {"\\a.dsp", "\\", 1},
      {"a.dsp", "", 0},
      {"dir\\\\a", "dir\\\\", 5},
      {"dir/sub/a", "dir/sub", 7},
      {"C:a.dsp", "C", 1},
      {"", "", 0},
  };
  for (const auto& c : cases) {
    auto path = Text<TypeParam>(c.path);
    EXPECT_EQ(fs::CutToFolder(-1, &path[0]), c.length) << c.path;
    EXPECT_EQ(Back(std::basic_string<TypeParam>(path.c_str())), c.expected) << c.path;
  }
  EXPECT_EQ(fs::CutToFolder<TypeParam>(-1, nullptr), 0);
}

TYPED_TEST(PathStringsTest, AppendSeparatorAddsABackslashOnlyWhenMissing) {
  const SplitCase cases[] = {
      {"", "\\"}, {"a", "a\\"}, {"a\\", "a\\"}, {"a/", "a/"}, {"C:", "C:\\"},
  };
  for (const auto& c : cases) {
    std::basic_string<TypeParam> buffer = Text<TypeParam>(c.path);
    const int length = static_cast<int>(buffer.size());
    buffer.resize(buffer.size() + 2);
    const int result = fs::AppendSeparator(&buffer[0], length);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(buffer.c_str())), c.expected) << c.path;
    EXPECT_EQ(result, static_cast<int>(std::string(c.expected).size())) << c.path;
  }
}

TYPED_TEST(PathStringsTest, StripSeparatorRemovesOnlyOne) {
  const SplitCase cases[] = {
      {"a\\\\", "a\\"}, {"a/", "a"}, {"a", "a"}, {"", ""}, {"\\", ""},
  };
  for (const auto& c : cases) {
    auto path = Text<TypeParam>(c.path);
    fs::StripSeparator(&path[0]);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(path.c_str())), c.expected) << c.path;
  }
}

struct ExtensionCase {
  const char* path;
  int offset;  // of the extension; the path's length when there is none
  int length;
};

TYPED_TEST(PathStringsTest, FindExtensionStopsAtSeparatorsButNotAtColons) {
  const ExtensionCase cases[] = {
      {"Proj.dsp", 5, 3}, {".svn", 4, 0},  {"a\\.svn", 6, 0},  {"C:.txt", 6, 0},
      {"a.b\\c", 5, 0},   {"a.b:c", 2, 3}, {"x.tar.gz", 6, 2}, {"dir.x/", 6, 0},
      {"name.", 5, 0},    {"", 0, 0},      {"a/b.c", 4, 1},
  };
  for (const auto& c : cases) {
    const auto path = Text<TypeParam>(c.path);
    int length = -1;
    const TypeParam* extension = fs::FindExtension(-1, path.c_str(), &length);
    EXPECT_EQ(extension - path.c_str(), c.offset) << c.path;
    EXPECT_EQ(length, c.length) << c.path;
  }
}

struct ReplaceCase {
  const char* source;
  const char* extension;
  int capacity;
  const char* expected;
};

TYPED_TEST(PathStringsTest, ReplaceExtensionIntoAnotherBuffer) {
  const ReplaceCase cases[] = {
      {"Proj", "zip", 260, "Proj.zip"},
      {"Proj.dsp", "zip", 260, "Proj.zip"},
      {"a.b\\Proj", "zip", 260, "a.b\\Proj.zip"},
      {".cvsignore", "zip", 260, ".cvsignore.zip"},
      {"Proj.dsp", "*.zip", 260, "Proj.zip"},
      {"Proj.dsp", ".zip", 260, "Proj.zip"},
      {"save.ZIP", "zip", 260, "save.zip"},
      {"out.tar", "zip", 260, "out.zip"},
      {"App", "zip", 260, "App.zip"},
      {"Proj.dsp", "*.", 260, "Proj"},
      {"Proj.dsp", "", 260, "Proj"},
      {"C:.y", "zip", 260, "C:.y.zip"},
      {"a.b:c", "zip", 260, "a.b:c.zip"},
      {"abcd", "zip", 5, "abcd"},      // no room for a dot and one character
      {"abcd", "zip", 7, "abcd.z"},    // the extension is cut
      {"abcdefgh", "zip", 5, "abcd"},  // the unchanged name is cut
      {"abcd", "zip", 1, ""},
  };
  for (const auto& c : cases) {
    const auto source = Text<TypeParam>(c.source);
    const auto extension = Text<TypeParam>(c.extension);
    std::vector<TypeParam> target(static_cast<std::size_t>(c.capacity) + 4, TypeParam('#'));
    const int length = fs::ReplaceExtension(-1, target.data(), source.c_str(), extension.c_str(), c.capacity);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(target.data())), c.expected) << c.source << " " << c.capacity;
    EXPECT_EQ(length, static_cast<int>(std::string(c.expected).size())) << c.source;
    EXPECT_EQ(target[static_cast<std::size_t>(c.capacity)], TypeParam('#')) << c.source;
  }
}

TYPED_TEST(PathStringsTest, ReplaceExtensionInPlace) {
  auto name = Text<TypeParam>("Proj.dsp");
  name.resize(260);
  const auto zip = Text<TypeParam>("zip");
  EXPECT_EQ(fs::ReplaceExtension(-1, &name[0], name.c_str(), zip.c_str(), 260), 8);
  EXPECT_EQ(Back(std::basic_string<TypeParam>(name.c_str())), "Proj.zip");

  // Without room an in-place call writes nothing, even when the name is
  // longer than the capacity.
  auto tight = Text<TypeParam>("abcdefgh");
  EXPECT_EQ(fs::ReplaceExtension(-1, &tight[0], tight.c_str(), zip.c_str(), 5), 8);
  EXPECT_EQ(Back(tight), "abcdefgh");

  TypeParam untouched[4] = {TypeParam('#'), TypeParam('#'), TypeParam('#'), TypeParam('#')};
  EXPECT_EQ(fs::ReplaceExtension(-1, untouched, name.c_str(), zip.c_str(), 0), 0);
  EXPECT_EQ(untouched[0], TypeParam('#'));
}

TYPED_TEST(PathStringsTest, ConvertSeparatorsByTarget) {
  struct Case {
    char target;
    const char* expected;
  };
  const Case cases[] = {
      {'/', "a/b/c/"},
      {0, "a/b/c/"},
      {'\\', "a\\b\\c\\"},
      {'x', "a\\b\\c\\"},
  };
  for (const auto& c : cases) {
    auto path = Text<TypeParam>("a\\b/c\\");
    EXPECT_EQ(fs::ConvertSeparators(&path[0], static_cast<TypeParam>(c.target)), 6);
    EXPECT_EQ(Back(path), c.expected) << static_cast<int>(c.target);
  }
  EXPECT_EQ(fs::ConvertSeparators<TypeParam>(nullptr, TypeParam('/')), 0);
}

TYPED_TEST(PathStringsTest, CopyBoundedAlwaysTerminatesWithinTheCapacity) {
  struct Case {
    const char* source;
    int capacity;
    const char* expected;
  };
  const Case cases[] = {
      {"abcdef", 4, "abc"},
      {"abc", 4, "abc"},
      {"abc", 1, ""},
      {"", 8, ""},
  };
  for (const auto& c : cases) {
    const auto source = Text<TypeParam>(c.source);
    std::vector<TypeParam> target(static_cast<std::size_t>(c.capacity) + 2, TypeParam('#'));
    const int copied = fs::CopyBounded(target.data(), source.c_str(), c.capacity);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(target.data())), c.expected) << c.source;
    EXPECT_EQ(copied, static_cast<int>(std::string(c.expected).size()));
    EXPECT_EQ(target[static_cast<std::size_t>(c.capacity)], TypeParam('#'));
  }
  TypeParam cell[2] = {TypeParam('#'), TypeParam('#')};
  const auto abc = Text<TypeParam>("abc");
  EXPECT_EQ(fs::CopyBounded(cell, abc.c_str(), 0), 0);
  EXPECT_EQ(cell[0], TypeParam('#'));
  EXPECT_EQ(fs::CopyBounded(cell, abc.c_str(), -3), 0);
  EXPECT_EQ(cell[0], TypeParam('#'));
  EXPECT_EQ(fs::CopyBounded<TypeParam>(cell, nullptr, 2), 0);
  EXPECT_EQ(cell[0], 0);

  // A source longer than every buffer of the program.
  const std::basic_string<TypeParam> longSource(5000, TypeParam('p'));
  std::vector<TypeParam> path(260, TypeParam('#'));
  EXPECT_EQ(fs::CopyBounded(path.data(), longSource.c_str(), 260), 259);
  EXPECT_EQ(path[259], 0);
}

TYPED_TEST(PathStringsTest, AppendBoundedNeedsATerminatorInsideTheCapacity) {
  struct Case {
    const char* target;
    const char* source;
    int capacity;
    const char* expected;
    int result;
  };
  const Case cases[] = {
      {"ab", "cd", 10, "abcd", 4}, {"ab", "cd", 4, "abc", 3}, {"ab", "cd", 3, "ab", 2},
      {"", "cd", 2, "c", 1},       {"ab", "", 10, "ab", 2},
  };
  for (const auto& c : cases) {
    std::vector<TypeParam> target(static_cast<std::size_t>(c.capacity) + 2, TypeParam('#'));
    const auto start = Text<TypeParam>(c.target);
    std::copy(start.c_str(), start.c_str() + start.size() + 1, target.begin());
    const auto source = Text<TypeParam>(c.source);
    EXPECT_EQ(fs::AppendBounded(target.data(), source.c_str(), c.capacity), c.result);
    EXPECT_EQ(Back(std::basic_string<TypeParam>(target.data())), c.expected);
    EXPECT_EQ(target[static_cast<std::size_t>(c.capacity)], TypeParam('#'));
  }

  // No terminator within the capacity: nothing is written, the result is
  // the capacity.
  TypeParam full[6] = {TypeParam('a'), TypeParam('b'), TypeParam('c'), TypeParam('d'), 0, TypeParam('#')};
  const auto xy = Text<TypeParam>("xy");
  EXPECT_EQ(fs::AppendBounded(full, xy.c_str(), 4), 4);
  EXPECT_EQ(Back(std::basic_string<TypeParam>(full)), "abcd");
  EXPECT_EQ(fs::AppendBounded(full, xy.c_str(), 0), 0);
  EXPECT_EQ(Back(std::basic_string<TypeParam>(full)), "abcd");
}

}  // namespace
