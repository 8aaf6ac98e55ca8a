#include "platform/utf16_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace text {
namespace {

std::string ToUtf8(const std::u16string& units) { return Utf16ToUtf8(units.data(), units.size()); }

// Every name the file systems can hold survives both directions.
TEST(Utf16Text, NamesOfEveryScriptRoundTrip) {
  struct Row {
    std::u16string units;
    std::string utf8;
  };
  const std::vector<Row> rows = {
      {u"plain.c", "plain.c"},
      {u"\u00DCbung.c", "\xC3\234bung.c"},
      {u"\u03B1.txt", "\xCE\xB1.txt"},
      {u"\u041F\u0440\u0438", "\xD0\x9F\xD1\x80\xD0\xB8"},
      {u"\u4E2D.h", "\xE4\xB8\xAD.h"},
      {u"\U0001F600.txt", "\xF0\x9F\x98\x80.txt"},
      {u"e\u0301", "e\xCC\x81"},
      // A lone surrogate, which Windows names may hold, as its own sequence.
      {std::u16string(1, u'\xD800') + u"x", "\xED\xA0\x80x"},
      {std::u16string(1, u'\xDC01'), "\xED\xB0\x81"},
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.utf8);
    EXPECT_EQ(ToUtf8(row.units), row.utf8);
    std::u16string back;
    ASSERT_TRUE(Utf8ToUtf16(row.utf8.data(), row.utf8.size(), 0, &back));
    EXPECT_EQ(back, row.units);
  }
}

// Bytes that are not UTF-8 fail, or become the replacement when one is given.
TEST(Utf16Text, InvalidBytesFailOrAreReplaced) {
  const std::vector<std::string> invalid = {
      "\x80",     "\xC3", "a\374b", "\xC0\xAF", "\xE0\x80\xAF", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
      "\xE4\xB8",
  };
  for (const std::string& bytes : invalid) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    std::u16string out;
    EXPECT_FALSE(Utf8ToUtf16(bytes.data(), bytes.size(), 0, &out));
    ASSERT_TRUE(Utf8ToUtf16(bytes.data(), bytes.size(), u'?', &out));
    EXPECT_NE(out.find(u'?'), std::u16string::npos);
  }
  std::u16string out;
  ASSERT_TRUE(Utf8ToUtf16("a\374b", 3, u'\xFFFD', &out));
  EXPECT_EQ(out, u"a\uFFFDb");
}

}  // namespace
}  // namespace text
}  // namespace platform
