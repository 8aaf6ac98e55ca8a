#include "zip/error_texts.h"

#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "zip/error_codes.h"

namespace korbel {
namespace {

std::string Compose(int code, const char* path, const char* detail) {
  char out[kErrorTextCapacity];
  return ComposeErrorText(code, path, detail, out);
}

struct TextCase {
  int code;
  const char* text;
  bool detail;
};

TEST(ErrorTextsTest, EveryCodeHasItsText) {
  const TextCase cases[] = {
      {-1, "\nFalscher Index oder Modus !", false},
      {0, "\nEs ist kein Fehler aufgetreten.", false},
      {2, "\nvorzeitiges Dateiende erreicht !", false},
      {3, "\nhat ein ung\xFCltiges Format ", false},
      {5, "\nSchwerer interner Fehler !", false},
      {11, "\nFehler beim Lesen der Datei !", false},
      {12, "\nDatei wurde nicht gefunden !", false},
      {14, "\nFehler beim Schreiben in Datei !", false},
      {15, "\nFehler beim Erzeugen der Datei !", false},
      {18, "\nFehler beim \326ffnen der Datei !", false},
      {19, "\nFehler sie geht \374ber mehrere Disketten !", false},
      {20, "\nFalsche Pfadname-Angabe !", false},
      {21, "\nCRC32 Fehler bei Datei :", true},
      {22, "\nFehler beim Entkomprimieren von :", true},
      {23, "\nBenutzer Abbruch.", false},
      {24, "\nFehler beim \326ffnen der Datei: ", true},
      {25, "\nFehler beim Erzeugen der Datei: ", true},
      {26, "\nFehler beim Schreiben in Datei: ", true},
      {27, "\nFehler beim Lesen der Datei: ", true},
      {28, "\nDie Datei wurde \374bersprungen: ", true},
      {29, "\nDie Funktion wird nicht unterst\xFCtzt :", false},
      {30, "\nDiese Version wird nicht unterst\xFCtzt :", false},
      {31, "\nFehler beim Komprimieren :", false},
      {32, "\nFalsches Passwort : ", true},
      {33, "\nDar Archiv ist nicht ge\366ffnet !", false},
      {34, "\nIn diesem Modus ist die Funktion nicht m\xF6glich !", false},
      {35, "\nDie Datei ist bereits vorhanden: ", true},
      {36, "\nDie Datei ist \xE4lter als die vorhandene: ", true},
      {37, "\nEs ist kein Platz mehr vorhanden f\xFCr: ", true},
  };
  for (const TextCase& c : cases) {
    bool detail = !c.detail;
    EXPECT_STREQ(ErrorMessage(c.code, &detail), c.text) << c.code;
    EXPECT_EQ(detail, c.detail) << c.code;
  }
}

TEST(ErrorTextsTest, CodesWithoutATextAreUnknownWithDetail) {
  const int unknown[] = {1, 4, 6, 7, 8, 9, 10, 13, 16, 17, 38, 100, -2, INT_MIN, INT_MAX};
  for (int code : unknown) {
    bool detail = false;
    EXPECT_STREQ(ErrorMessage(code, &detail), "\nUnbekannter Fehler") << code;
    EXPECT_TRUE(detail) << code;
  }
}

TEST(ErrorTextsTest, NoErrorAndUserAbortAreFixedTextsWithoutHead) {
  char out[kErrorTextCapacity];
  std::memset(out, 'Z', sizeof out);
  EXPECT_STREQ(ComposeErrorText(kOk, "C:\\x.zip", "a.txt", out), "\nEs ist kein Fehler aufgetreten.");
  EXPECT_STREQ(ComposeErrorText(kUserAbort, "C:\\x.zip", "a.txt", out), "\nBenutzer Abbruch.");
  EXPECT_EQ(out[0], 'Z');  // the buffer is not used for them
}

TEST(ErrorTextsTest, ComposedTextsAreByteExact) {
  EXPECT_EQ(Compose(kCrcError, "C:\\x.zip", "a.txt"),
            "\nBei Datei : C:\\x.zip\nCRC32 Fehler bei Datei :a.txt");
  EXPECT_EQ(Compose(kReadError, "C:\\a.zip", "ignored"),
            "\nBei Datei : C:\\a.zip\nFehler beim Lesen der Datei !");
  EXPECT_EQ(Compose(kBadFormat, "", "x"),
            "\nBei Datei : \n< keine Datei ge\366ffnet >\nhat ein ung\xFCltiges Format ");
  EXPECT_EQ(Compose(kBadIndexOrMode, nullptr, nullptr),
            "\nBei Datei : \n< keine Datei ge\366ffnet >\nFalscher Index oder Modus !");
  EXPECT_EQ(Compose(kNoMemory, "C:\\x.zip", "a.txt"),
            "\nBei Datei : C:\\x.zip\nUnbekannter Fehler"
            "a.txt");
  EXPECT_EQ(Compose(kFileOpenError, "/tmp/p.zip", "???"),
            "\nBei Datei : /tmp/p.zip\nFehler beim \326ffnen der Datei: ???");
  // A detail code without a detail text gets none.
  EXPECT_EQ(Compose(kCrcError, "C:\\x.zip", nullptr), "\nBei Datei : C:\\x.zip\nCRC32 Fehler bei Datei :");
}

TEST(ErrorTextsTest, ComposedTextStopsAt515Characters) {
  char out[kErrorTextCapacity + 64];
  std::memset(out, 'Z', sizeof out);
  const std::string path(300, 'p');
  const std::string detail(400, 'd');
  const char* text = ComposeErrorText(kCrcError, path.c_str(), detail.c_str(), out);
  EXPECT_EQ(text, out);
  ASSERT_EQ(std::strlen(out), kErrorTextCapacity - 1);
  const std::string head = "\nBei Datei : " + path + "\nCRC32 Fehler bei Datei :";
  EXPECT_EQ(std::string(out, head.size()), head);
  EXPECT_EQ(out[kErrorTextCapacity - 2], 'd');
  for (std::size_t i = kErrorTextCapacity; i < sizeof out; ++i) EXPECT_EQ(out[i], 'Z') << i;

  // The path alone can fill the buffer; the text is then cut off.
  const std::string longPath(1000, 'q');
  ComposeErrorText(kReadError, longPath.c_str(), nullptr, out);
  EXPECT_EQ(std::string(out), "\nBei Datei : " + std::string(kErrorTextCapacity - 1 - 13, 'q'));
}

TEST(ErrorTextsTest, EventOneLineAndPartLengths) {
  char out[kStatusLineCapacity];
  std::uint32_t parts[3] = {};
  ASSERT_TRUE(ComposeStatusLine(1, "src/a.c", out, parts));
  EXPECT_STREQ(out, "\nDatei: src/a.c gefunden.");
  EXPECT_EQ(parts[0], 8u);
  EXPECT_EQ(parts[1], 7u);
  EXPECT_EQ(parts[2], 11u);  // suffix with its terminating zero
}

TEST(ErrorTextsTest, EventTextsAreByteExact) {
  struct EventCase {
    int event;
    const char* prefix;
    const char* suffix;
  };
  const EventCase cases[] = {
      {0, "\nDatei ", " \366ffnen."},
      {1, "\nDatei: ", " gefunden."},
      {2, "\nDatei: ", " entfernen."},
      {3, "\nDatei: ", " l\xF6schen."},
      {4, "\nDatei ", " schlie\337en."},
      {5, "\nDatei ", " erzeugen."},
      {6, "\nDatei: ", " anh\xE4ngen."},
      {7, "\nDatei: ", " komprimieren."},
      {8, "\nDatei: ", " lesen."},
      {9, "\nDatei ", " r\374ckschreiben."},
      {11, "\nDatei: ", " wurde entkomprimiert."},
      {12, "\nDatei: ", " pr\374fen."},
      {13, "\nDatei ", " sortieren."},
      {14, "\nDatei: ", " wurde komprimiert."},
      {15, "\nDatei: ", " \374berspringen ?"},
      {16, "\nDatei: ", " wird entkomprimiert."},
      {17, "\nDatei: ", " Passwort eingeben."},
  };
  for (const EventCase& c : cases) {
    EXPECT_STREQ(EventPrefix(c.event), c.prefix) << c.event;
    EXPECT_STREQ(EventSuffix(c.event), c.suffix) << c.event;
    char out[kStatusLineCapacity];
    std::uint32_t parts[3];
    ASSERT_TRUE(ComposeStatusLine(c.event, "C:\\p.zip", out, parts)) << c.event;
    EXPECT_EQ(std::string(out), std::string(c.prefix) + "C:\\p.zip" + c.suffix) << c.event;
    EXPECT_EQ(parts[0], std::strlen(c.prefix)) << c.event;
    EXPECT_EQ(parts[1], 8u) << c.event;
    EXPECT_EQ(parts[2], std::strlen(c.suffix) + 1) << c.event;
  }
}

TEST(ErrorTextsTest, ErrorEventAndIndexesOutsideTheTableHaveNoLine) {
  for (int event : {kErrorEvent, -1, 18, 31, 1000}) {
    EXPECT_STREQ(EventPrefix(event), "") << event;
    EXPECT_STREQ(EventSuffix(event), "") << event;
    char out[kStatusLineCapacity] = "untouched";
    std::uint32_t parts[3] = {1, 2, 3};
    EXPECT_FALSE(ComposeStatusLine(event, "name", out, parts)) << event;
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(parts[0], 1u);
  }
}

TEST(ErrorTextsTest, OverlongNamesAreCutSoTheSuffixStillFits) {
  const std::string name(5000, 'n');
  char out[kStatusLineCapacity + 32];
  std::memset(out, 'Z', sizeof out);
  std::uint32_t parts[3];
  ASSERT_TRUE(ComposeStatusLine(11, name.c_str(), out, parts));
  const std::string line(out);
  EXPECT_EQ(line.size(), kStatusLineCapacity - 1);
  EXPECT_EQ(parts[0] + parts[1] + parts[2], kStatusLineCapacity);
  EXPECT_EQ(line.substr(line.size() - 22), " wurde entkomprimiert.");
  for (std::size_t i = kStatusLineCapacity; i < sizeof out; ++i) EXPECT_EQ(out[i], 'Z') << i;

  // A name that just fits is not cut.
  const std::string fits(kStatusLineCapacity - 1 - 8 - 10, 'f');
  ASSERT_TRUE(ComposeStatusLine(1, fits.c_str(), out, parts));
  EXPECT_EQ(parts[1], fits.size());
  EXPECT_EQ(std::strlen(out), kStatusLineCapacity - 1);

  ASSERT_TRUE(ComposeStatusLine(1, nullptr, out, parts));
  EXPECT_STREQ(out, "\nDatei:  gefunden.");
  EXPECT_EQ(parts[1], 0u);
}

}  // namespace
}  // namespace korbel
