#include "zip/format/name_codec.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace korbel {
namespace {

// A Windows system whose OEM code page is 850: the OEM bytes go back to
// Windows-1252 through the inverse of the encoder's table ('?' where none).
std::size_t Cp850ToAnsi(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  std::size_t written = 0;
  for (; written < length && written + 1 < capacity; ++written) {
    unsigned char c = static_cast<unsigned char>(text[written]);
    char out = '?';
    if (c < 0x80) {
      out = static_cast<char>(c);
    } else {
      for (int ansi = 0x80; ansi < 0x100; ++ansi) {
        if (Cp850FromWindows1252(static_cast<std::uint8_t>(ansi)) == c) out = static_cast<char>(ansi);
      }
    }
    buffer[written] = out;
  }
  if (capacity > 0) buffer[written] = '\0';
  return written;
}

// A POSIX system: OEM code page 850 to UTF-8 (the Windows-1252 characters of
// 0xA0-0xFF share their Unicode values; the florin sign is U+0192).
std::size_t Cp850ToUtf8(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    char ansi[2];
    Cp850ToAnsi(text + i, 1, ansi, sizeof ansi);
    unsigned char a = static_cast<unsigned char>(ansi[0]);
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out += text[i];
    } else if (a == 0x83) {
      out += "\xC6\x92";
    } else if (a >= 0xA0) {
      out += static_cast<char>(0xC0 | (a >> 6));
      out += static_cast<char>(0x80 | (a & 0x3F));
    } else {
      out += "\xE2\x96\x91";  // a box-drawing character (three bytes)
    }
  }
  std::size_t written = out.size() < capacity ? out.size() : capacity - 1;
  std::memcpy(buffer, out.data(), written);
  buffer[written] = '\0';
  return written;
}

const NameSystem kWindows{false, Cp850ToAnsi};
const NameSystem kPosix{true, Cp850ToUtf8};

std::string Encode(const std::string& name, const NameSystem& system, std::uint16_t* flags) {
  std::string stored;
  EncodeName(name, system, &stored, flags);
  return stored;
}

std::string Decode(const std::string& stored, std::uint16_t flags, const NameSystem& system) {
  // An exact-size copy, so a read past the end is caught by the address sanitizer.
  std::vector<std::uint8_t> bytes(stored.begin(), stored.end());
  std::string name = "garbage";
  DecodeName(bytes.data(), bytes.size(), flags, system, &name);
  return name;
}

TEST(NameCodecTest, Cp850TableMatchesThePublishedCorrespondence) {
  struct Pair {
    std::uint8_t ansi, oem;
  };
  const Pair anchors[] = {
      {0xDC, 0x9A},  // Ü
      {0xC4, 0x8E},  // Ä
      {0xD6, 0x99},  // Ö
      {0xFC, 0x81},  // ü
      {0xE4, 0x84},  // ä
      {0xF6, 0x94},  // ö
      {0xDF, 0xE1},  // ß
      {0xE9, 0x82},  // é
      {0xC7, 0x80},  // Ç
      {0xA3, 0x9C},  // £
      {0xA0, 0xFF},  // no-break space
      {0xAD, 0xF0},  // soft hyphen
      {0xB5, 0xE6},  // µ
      {0xFF, 0x98},  // ÿ
      {0x83, 0x9F},  // ƒ
  };
  for (const Pair& pair : anchors) {
    EXPECT_EQ(Cp850FromWindows1252(pair.ansi), pair.oem) << std::hex << int(pair.ansi);
  }
  // The euro sign and the other typographic characters of 0x80-0x9F have no place.
  for (int ansi = 0x80; ansi < 0xA0; ++ansi) {
    if (ansi == 0x83) continue;
    EXPECT_EQ(Cp850FromWindows1252(static_cast<std::uint8_t>(ansi)), 0) << ansi;
  }
  // The Latin-1 half all maps, to distinct high bytes.
  std::set<std::uint8_t> seen;
  for (int ansi = 0xA0; ansi < 0x100; ++ansi) {
    std::uint8_t oem = Cp850FromWindows1252(static_cast<std::uint8_t>(ansi));
    EXPECT_GE(oem, 0x80) << ansi;
    seen.insert(oem);
  }
  EXPECT_EQ(seen.size(), 96u);
  EXPECT_EQ(Cp850FromWindows1252('a'), 'a');
}

TEST(NameCodecTest, WindowsUmlautIsStoredInCp850WithFlagCleared) {
  std::uint16_t flags = 0x0808;  // a stale bit 11 and the descriptor bit
  EXPECT_EQ(Encode("\334bung.c", kWindows, &flags), "\232bung.c");
  EXPECT_EQ(flags, 0x0008);  // bit 11 cleared, the other bits kept
  EXPECT_EQ(Decode("\232bung.c", flags, kWindows), "\334bung.c");
}

TEST(NameCodecTest, WindowsEuroFallsBackToUtf8OfEachByte) {
  std::uint16_t flags = 0x0008;
  // Every byte becomes the code point of its own value, the umlaut too.
  EXPECT_EQ(Encode("a\x80\xDC", kWindows, &flags), "a\xC2\x80\xC3\x9C");
  EXPECT_EQ(flags, 0x0808);
  EXPECT_EQ(Decode("a\xC2\x80\xC3\x9C", flags, kWindows), "a\x80\xDC");
}

TEST(NameCodecTest, WindowsMappingFailsAfterAByteThatLooksLikeAUtf8Lead) {
  std::uint16_t flags = 0;
  // ß is 0xE1 in code page 850 (and 437); ä (0x84) behind it would read as
  // the start of a sequence.
  EXPECT_EQ(Encode("\xDF\xE4", kWindows, &flags), "\xC3\x9F\xC3\xA4");
  EXPECT_EQ(flags, kFlagUtf8Name);
  // The other order is safe, and so is an ASCII byte in between.
  EXPECT_EQ(Encode("\xE4\xDF", kWindows, &flags), "\x84\xE1");
  EXPECT_EQ(flags, 0);
  EXPECT_EQ(Encode("\xDFx\xE4", kWindows, &flags), "\xE1x\x84");
  EXPECT_EQ(flags, 0);
  // And the safe encodings read back.
  EXPECT_EQ(Decode("\x84\xE1", 0, kWindows), "\xE4\xDF");
  EXPECT_EQ(Decode("\xC3\x9F\xC3\xA4", kFlagUtf8Name, kWindows), "\xDF\xE4");
}

TEST(NameCodecTest, Cp850BytesThatCodePage437ReadsTheSame) {
  int same = 0;
  for (int byte = 0; byte < 0x100; ++byte)
    same += Cp850ReadsTheSameIn437(static_cast<std::uint8_t>(byte)) ? 1 : 0;
  EXPECT_EQ(same, 0x80 + 81);
  // The German letters, é and ß sit in the same places; Ø, ø, ã, Ê, Á, ©
  // and þ do not (437 has ¥, ¢, ╞, ╥, ╡, ╕ and τ there).
  const std::uint8_t same437[] = {0x9A, 0x8E, 0x99, 0x81, 0x84, 0x94, 0xE1, 0x82, 0x80, 0x9C, 0xE6, 0xFF};
  for (const std::uint8_t byte : same437) {
    EXPECT_TRUE(Cp850ReadsTheSameIn437(byte)) << std::hex << int{byte};
  }
  const std::uint8_t other437[] = {0x9D, 0x9B, 0xC6, 0xD2, 0xB5, 0xB8, 0xE7};
  for (const std::uint8_t byte : other437) {
    EXPECT_FALSE(Cp850ReadsTheSameIn437(byte)) << std::hex << int{byte};
  }
}

// UTF-8 narrow text to code page 850 as the POSIX backend converts it (the
// two-byte Latin-1 letters only, which is all the cases below need).
bool Utf8ToCp850(const std::string& narrow, std::string* oem) {
  oem->clear();
  for (std::size_t i = 0; i < narrow.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(narrow[i]);
    if (c < 0x80) {
      *oem += static_cast<char>(c);
      continue;
    }
    if ((c != 0xC2 && c != 0xC3) || i + 1 >= narrow.size()) return false;
    const std::uint8_t latin1 = static_cast<std::uint8_t>(((c & 0x03) << 6) | (narrow[++i] & 0x3F));
    *oem += static_cast<char>(Cp850FromWindows1252(latin1));
  }
  return true;
}

// Code page 850 only where a reader assuming code page 437 gets the same
// name; every other name beyond ASCII as UTF-8. The same on both kinds of
// system.
TEST(NameCodecTest, Cp850OnlyForNamesThatReadTheSameIn437) {
  const NameSystem posix{true, Cp850ToUtf8, Utf8ToCp850};
  struct Case {
    const char* what;
    std::string ansi;   // the name in Windows-1252
    std::string utf8;   // the same name in UTF-8
    std::string cp850;  // empty: stored as UTF-8
  };
  const Case cases[] = {
      {"ASCII", "main.c", "main.c", "main.c"},
      {"German umlauts", "\xC4nderung_\xFC\xDF.txt", "\xC3\x84nderung_\xC3\xBC\xC3\x9F.txt",
       "\x8Enderung_\x81\xE1.txt"},
      {"accents 437 has", "caf\xE9 \xE7\xE0", "caf\xC3\xA9 \xC3\xA7\xC3\xA0", "caf\x82 \x87\x85"},
      {"\xC3\x98re", "\xD8re.txt", "\xC3\x98re.txt", ""},
      {"Portuguese tilde", "S\xE3o.c", "S\xC3\xA3o.c", ""},
      {"umlaut and \xC3\x98", "\xFC\xD8.txt", "\xC3\xBC\xC3\x98.txt", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string utf8Stored = c.utf8;
    const bool utf8 = c.cp850.empty();
    std::uint16_t flags = 0;
    EXPECT_EQ(Encode(c.ansi, kWindows, &flags), utf8 ? utf8Stored : c.cp850);
    EXPECT_EQ((flags & kFlagUtf8Name) != 0, utf8);
    EXPECT_EQ(Decode(utf8 ? utf8Stored : c.cp850, flags, kWindows), c.ansi);
    flags = utf8 ? 0 : kFlagUtf8Name;
    EXPECT_EQ(Encode(c.utf8, posix, &flags), utf8 ? utf8Stored : c.cp850);
    EXPECT_EQ((flags & kFlagUtf8Name) != 0, utf8);
    EXPECT_EQ(Decode(utf8 ? utf8Stored : c.cp850, flags, posix), c.utf8);
    std::string asUtf8;
    NameAsUtf8(c.utf8, posix, &asUtf8);
    EXPECT_EQ(asUtf8, c.utf8);
  }
}

TEST(NameCodecTest, AsciiNamesPassUnchangedWithTheFlagCleared) {
  for (const NameSystem* system : {&kWindows, &kPosix}) {
    std::uint16_t flags = kFlagUtf8Name;
    EXPECT_EQ(Encode("src/main.c", *system, &flags), "src/main.c");
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(Decode("src/main.c", 0, *system), "src/main.c");
    EXPECT_EQ(Decode("src/main.c", kFlagUtf8Name, *system), "src/main.c");
  }
}

TEST(NameCodecTest, NullFlagsAreAllowedForComments) {
  EXPECT_EQ(Encode("\x80", kWindows, nullptr), "\xC2\x80");
  EXPECT_EQ(Encode("\xE4", kWindows, nullptr), "\x84");
}

struct DecodeCase {
  const char* what;
  std::string stored;
  std::uint16_t flags;
  std::string expected;
};

TEST(NameCodecTest, WindowsDecodingTakesTheLowByteOfEachSequence) {
  const DecodeCase cases[] = {
      {"two-byte", "\xC3\x9C", kFlagUtf8Name, "\xDC"},
      {"three-byte euro U+20AC", "\xE2\x82\xAC", kFlagUtf8Name, "\xAC"},
      {"four-byte U+1F600", "x\xF0\x9F\x98\x81y", kFlagUtf8Name, std::string("x\x01y", 3)},
      {"lead without continuation", "\303A", kFlagUtf8Name, "\303A"},
      {"sequence cut by the end", "A\xE2\x82", kFlagUtf8Name, "A\xE2\x82"},
      {"lone continuation", "\200b", kFlagUtf8Name, "\200b"},
      {"0xF8 is no lead", "\xF8\x80\x80\x80\x80", kFlagUtf8Name, "\xF8\x80\x80\x80\x80"},
      // Without the flag a sequence still counts as UTF-8...
      {"sequence without flag", "\xC3\234bung", 0, "\334bung"},
      // ...and only a name without any goes through the OEM conversion.
      {"OEM bytes", "\x81\x84\x94\xE1", 0, "\xFC\xE4\xF6\xDF"},
  };
  for (const DecodeCase& c : cases) EXPECT_EQ(Decode(c.stored, c.flags, kWindows), c.expected) << c.what;
}

TEST(NameCodecTest, PosixStoresHighBytesAsUtf8WithTheFlag) {
  std::uint16_t flags = 0;
  EXPECT_EQ(Encode("\xC3\234bung.c", kPosix, &flags), "\xC3\234bung.c");
  EXPECT_EQ(flags, kFlagUtf8Name);
  // The euro sign stays the real one, not one byte per code point.
  EXPECT_EQ(Encode("\xE2\x82\xAC.txt", kPosix, &flags), "\xE2\x82\xAC.txt");
  EXPECT_EQ(flags, kFlagUtf8Name);
  // A byte that is not UTF-8 is made valid rather than stored broken.
  EXPECT_EQ(Encode("a\xDC", kPosix, &flags), "a\xC3\x9C");
  EXPECT_EQ(flags, kFlagUtf8Name);
}

TEST(NameCodecTest, PosixKeepsUtf8AndConvertsOemNames) {
  const DecodeCase cases[] = {
      {"flagged UTF-8 kept", "\xC3\234bung.c", kFlagUtf8Name, "\xC3\234bung.c"},
      {"4-byte kept", "\xF0\x9F\x98\x81", kFlagUtf8Name, "\xF0\x9F\x98\x81"},
      {"unflagged UTF-8 kept", "\xC3\xA4", 0, "\xC3\xA4"},
      {"OEM umlaut to UTF-8", "\232bung.c", 0, "\xC3\234bung.c"},
      {"OEM box drawing", "\xB0", 0, "\xE2\x96\x91"},
      {"stray byte in flagged name", "a\xDC", kFlagUtf8Name, "a\xC3\x9C"},
  };
  for (const DecodeCase& c : cases) EXPECT_EQ(Decode(c.stored, c.flags, kPosix), c.expected) << c.what;
}

TEST(NameCodecTest, NamesRoundTripOnBothSystems) {
  const std::string windowsNames[] = {"\334bung.c", "\x80uro", "docs/\xC3\xA9t\xE9",
                                      "plain",      "\x83x",   "\xFF\xA0"};
  for (const std::string& name : windowsNames) {
    std::uint16_t flags = 0;
    std::string stored = Encode(name, kWindows, &flags);
    EXPECT_EQ(Decode(stored, flags, kWindows), name);
  }
  const std::string posixNames[] = {"\xC3\234bung.c", "\xE2\x82\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"};
  for (const std::string& name : posixNames) {
    std::uint16_t flags = 0;
    std::string stored = Encode(name, kPosix, &flags);
    EXPECT_EQ(Decode(stored, flags, kPosix), name);
  }
}

TEST(NameCodecTest, LongestNamesAreHandledWhole) {
  std::string cp850Name(65535, '\xDC');
  std::uint16_t flags = 0;
  std::string stored = Encode(cp850Name, kWindows, &flags);
  EXPECT_EQ(stored, std::string(65535, '\x9A'));
  EXPECT_EQ(Decode(stored, flags, kWindows), cp850Name);

  std::string euroName(65535, '\x80');
  stored = Encode(euroName, kWindows, &flags);
  EXPECT_EQ(stored.size(), 131070u);
  EXPECT_EQ(Decode(stored, flags, kWindows), euroName);

  std::string oemName(65535, '\xB0');
  EXPECT_EQ(Decode(oemName, 0, kPosix).size(), 3u * 65535);
}

TEST(NameCodecTest, ArbitraryBytesNeverReadPastTheName) {
  std::uint32_t state = 12345;
  for (int round = 0; round < 300; ++round) {
    std::size_t length = round % 40;
    std::string stored;
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      stored += static_cast<char>(state >> 24);
    }
    for (std::uint16_t flags : {std::uint16_t{0}, std::uint16_t{kFlagUtf8Name}}) {
      EXPECT_LE(Decode(stored, flags, kWindows).size(), length);
      EXPECT_LE(Decode(stored, flags, kPosix).size(), 3 * length);
    }
  }
  std::string name = "unchanged";
  DecodeName(nullptr, 0, 0, kWindows, &name);
  EXPECT_EQ(name, "");
}

// Windows-1252 as a Windows system converts it: through UTF-16, so that
// 0x80 is the euro sign U+20AC and a character without a place is '_'.
bool Ansi1252ToUtf8(const std::string& narrow, std::string* utf8) {
  utf8->clear();
  for (unsigned char c : narrow) {
    if (c == 0x80) {
      *utf8 += "\xE2\x82\xAC";
    } else if (c < 0x80) {
      *utf8 += static_cast<char>(c);
    } else if (c >= 0xA0) {
      *utf8 += static_cast<char>(0xC0 | (c >> 6));
      *utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      return false;  // the few other 0x80-0x9F characters are not needed here
    }
  }
  return true;
}

bool Utf8ToAnsi1252(const std::string& utf8, std::string* narrow) {
  narrow->clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += length;
    if (code == 0x20AC) {
      *narrow += '\x80';
    } else if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      *narrow += static_cast<char>(code);
    } else {
      *narrow += '_';
    }
  }
  return true;
}

bool Ansi1252ToOem(const std::string& narrow, std::string* oem) {
  oem->clear();
  for (unsigned char c : narrow) {
    const std::uint8_t mapped = Cp850FromWindows1252(c);
    if (mapped == 0) return false;
    *oem += static_cast<char>(mapped);
  }
  return true;
}

// A name with a character code page 850 lacks (the euro sign) goes as UTF-8
// and comes back as the same character, never as its low 8 bits; a stored
// character the ANSI page lacks becomes '_', not some other letter.
TEST(NameCodecTest, WindowsNamesGoThroughTheCodePages) {
  const NameSystem ansi{false, Cp850ToAnsi, Ansi1252ToOem, Ansi1252ToUtf8, Utf8ToAnsi1252};
  struct Case {
    const char* what;
    std::string name;
    std::string stored;
    bool utf8;
  };
  const Case cases[] = {
      {"euro sign", "\x80uro.txt", "\xE2\x82\254uro.txt", true},
      {"umlaut in code page 850", "\334bung.c", "\232bung.c", false},
      {"euro and umlaut", "\x80\xFC.c", "\xE2\x82\xAC\xC3\xBC.c", true},
      {"plain", "main.c", "main.c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint16_t flags = 0;
    EXPECT_EQ(Encode(c.name, ansi, &flags), c.stored);
    EXPECT_EQ((flags & kFlagUtf8Name) != 0, c.utf8);
    EXPECT_EQ(Decode(c.stored, flags, ansi), c.name);
  }
  EXPECT_EQ(Decode("\xE6\x97\xA5.txt", kFlagUtf8Name, ansi), "_.txt");
  EXPECT_EQ(Decode("\xE2\x82\xAC", kFlagUtf8Name, ansi), "\x80");
}

TEST(NameCodecTest, TheRunningSystemChoosesTheRules) {
  NameSystem current = CurrentNameSystem();
  EXPECT_EQ(current.narrowIsUtf8, platform::NarrowIsUtf8());
  // The overloads without a system use the running one.
  const std::string name = current.narrowIsUtf8 ? "\xC3\234bung.c" : "\334bung.c";
  std::uint16_t flags = 0, expectedFlags = 0;
  std::string stored, expected;
  EncodeName(name, &stored, &flags);
  EncodeName(name, current, &expected, &expectedFlags);
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(flags, expectedFlags);
  std::string back;
  DecodeName(reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size(), flags, &back);
  EXPECT_EQ(back, name);
  // A code page 850 name from an archive reads as the same letter.
  std::string fromOem;
  const std::uint8_t oem[] = {0x9A, 'b', 'u', 'n', 'g', '.', 'c'};
  DecodeName(oem, sizeof oem, 0, &fromOem);
  EXPECT_EQ(fromOem, name);
}

}  // namespace
}  // namespace korbel
