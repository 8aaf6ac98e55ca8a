#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace {

std::string Convert(const std::string& oem, std::size_t capacity = 64) {
  char buffer[64];
  const std::size_t length = OemToNarrow(oem.data(), oem.size(), buffer, capacity);
  EXPECT_EQ(std::strlen(buffer), length);
  return std::string(buffer, length);
}

TEST(OemToNarrow, AsciiIsUnchanged) {
  EXPECT_EQ(Convert("Projekt/src/main.c"), "Projekt/src/main.c");
  EXPECT_EQ(Convert(""), "");
}

// Narrow text is UTF-8 on both builds, and zip names without the UTF-8 flag
// are read in code page 850 on both.
TEST(OemToNarrow, NarrowTextIsUtf8OnEveryBuild) { EXPECT_TRUE(NarrowIsUtf8()); }

struct LetterCase {
  unsigned char oem;
  const char* utf8;
};

TEST(OemToNarrow, GermanLettersBecomeNarrowText) {
  // Bytes whose meaning code pages 437 and 850 share.
  const LetterCase cases[] = {
      {0x81, "\xC3\xBC"}, {0x84, "\xC3\xA4"}, {0x94, "\xC3\xB6"}, {0x8E, "\xC3\x84"},
      {0x99, "\xC3\x96"}, {0x9A, "\xC3\x9C"}, {0xE1, "\xC3\x9F"}, {0x82, "\xC3\xA9"},
  };
  for (const LetterCase& c : cases) {
    EXPECT_EQ(Convert(std::string(1, static_cast<char>(c.oem))), c.utf8) << std::hex << int{c.oem};
  }
}

// Letters that code page 437 holds elsewhere or not at all: code page 850
// on every build, whatever the system's own OEM page.
TEST(OemToNarrow, LettersOnlyCodePage850HasThereAreRead850) {
  const LetterCase cases[] = {
      {0x9D, "\xC3\x98"}, {0x9B, "\xC3\xB8"}, {0xC6, "\xC3\xA3"},
      {0xD2, "\xC3\x8A"}, {0xB7, "\xC3\x80"}, {0xE7, "\xC3\xBE"},
  };
  for (const LetterCase& c : cases) {
    EXPECT_EQ(Convert(std::string(1, static_cast<char>(c.oem))), c.utf8) << std::hex << int{c.oem};
  }
}

TEST(OemToNarrow, CodePage850UpperHalfInUtf8) {
  // Characters that only code page 850 has at these places.
  EXPECT_EQ(Convert("\x9B"), "\xC3\xB8");      // o with stroke
  EXPECT_EQ(Convert("\x9F"), "\xC6\x92");      // f with hook
  EXPECT_EQ(Convert("\xD5"), "\xC4\xB1");      // dotless i
  EXPECT_EQ(Convert("\xB0"), "\xE2\x96\x91");  // light shade
  EXPECT_EQ(Convert("\xF2"), "\xE2\x80\x97");  // double low line
  EXPECT_EQ(Convert("\xFF"), "\xC2\xA0");      // no-break space
  // Every byte gives one distinct, well-formed character.
  std::set<std::string> seen;
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const std::string converted = Convert(std::string(1, static_cast<char>(byte)));
    ASSERT_GE(converted.size(), 2u) << byte;
    ASSERT_LE(converted.size(), 3u) << byte;
    const unsigned char lead = static_cast<unsigned char>(converted[0]);
    EXPECT_EQ(lead >> 5 == 6 ? 2u : lead >> 4 == 14 ? 3u : 0u, converted.size()) << byte;
    for (std::size_t i = 1; i < converted.size(); ++i) {
      EXPECT_EQ(static_cast<unsigned char>(converted[i]) >> 6, 2) << byte;
    }
    seen.insert(converted);
  }
  EXPECT_EQ(seen.size(), 128u);
}

TEST(OemToNarrow, OutputStopsAtTheCapacity) {
  const std::string umlauts = Convert("\x81");
  const std::size_t width = umlauts.size();  // one character in narrow text
  EXPECT_EQ(Convert("\x81\x81\x81", 2 * width + 1), umlauts + umlauts);
  // Room for one character and part of a second: the part is left out.
  EXPECT_EQ(Convert("\x81\x81\x81", 2 * width), umlauts);
  EXPECT_EQ(Convert("abc", 1), "");
  char untouched = 'Q';
  EXPECT_EQ(OemToNarrow("abc", 3, &untouched, 0), 0u);
  EXPECT_EQ(untouched, 'Q');
}

// Every code page 850 character goes back to its byte; the euro sign, which
// code page 850 lacks, is refused rather than replaced.
TEST(NarrowToOem, InvertsOemToNarrowAndRefusesWhatIsMissing) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    const char oem = static_cast<char>(byte);
    const std::string narrow = Convert(std::string(1, oem));
    std::string back;
    EXPECT_TRUE(NarrowToOem(narrow, &back)) << byte;
    EXPECT_EQ(back, std::string(1, oem)) << byte;
  }
  std::string oem;
  EXPECT_FALSE(NarrowToOem("\xE2\x82\xAC", &oem));
  EXPECT_TRUE(NarrowToOem("plain.c", &oem));
  EXPECT_EQ(oem, "plain.c");
  std::string utf8;
  ASSERT_TRUE(NarrowToUtf8(Convert("\x81"), &utf8));
  EXPECT_EQ(utf8, "\xC3\xBC");
  std::string narrow;
  ASSERT_TRUE(Utf8ToNarrow(utf8, &narrow));
  EXPECT_EQ(narrow, Convert("\x81"));
}

TEST(Windows1252ToUtf8, EveryByteHasItsCharacter) {
  struct Case {
    const char* windows1252;
    const char* utf8;
  } const cases[] = {
      {"plain ASCII\n", "plain ASCII\n"},
      {"Gr\xF6\337e f\xFCr \xC4rger", "Größe für Ärger"},
      {"\x80 \x85 \x9F", "€ … Ÿ"},
      {"\x81\x8D", "\xC2\x81\xC2\x8D"},  // unassigned: the C1 control of the same value
      {"\xA0\xFF", "\xC2\xA0ÿ"},
  };
  for (const Case& c : cases) EXPECT_EQ(Windows1252ToUtf8(c.windows1252), c.utf8) << c.utf8;
}

}  // namespace
}  // namespace platform
