#include "zip/error_texts.h"

#include <cstring>

#include "zip/error_codes.h"

namespace korbel {
namespace {

struct ErrorText {
  int code;
  const char* text;
  bool takesDetail;
};

// Ordered by code; the last row answers every code not listed.
constexpr ErrorText kErrorTexts[] = {
    {kBadIndexOrMode, "\nFalscher Index oder Modus !", false},
    {kOk, "\nEs ist kein Fehler aufgetreten.", false},
    {kEndOfData, "\nvorzeitiges Dateiende erreicht !", false},
    {kBadFormat, "\nhat ein ung\xFCltiges Format ", false},
    {kInternalError, "\nSchwerer interner Fehler !", false},
    {kReadError, "\nFehler beim Lesen der Datei !", false},
    {kNotFound, "\nDatei wurde nicht gefunden !", false},
    {kWriteError, "\nFehler beim Schreiben in Datei !", false},
    {kCreateError, "\nFehler beim Erzeugen der Datei !", false},
    {kOpenError, "\nFehler beim \326ffnen der Datei !", false},
    {kSpanned, "\nFehler sie geht \374ber mehrere Disketten !", false},
    {kBadPath, "\nFalsche Pfadname-Angabe !", false},
    {kCrcError, "\nCRC32 Fehler bei Datei :", true},
    {kDecompressError, "\nFehler beim Entkomprimieren von :", true},
    {kUserAbort, "\nBenutzer Abbruch.", false},
    {kFileOpenError, "\nFehler beim \326ffnen der Datei: ", true},
    {kFileCreateError, "\nFehler beim Erzeugen der Datei: ", true},
    {kFileWriteError, "\nFehler beim Schreiben in Datei: ", true},
    {kFileReadError, "\nFehler beim Lesen der Datei: ", true},
    {kSkipped, "\nDie Datei wurde \374bersprungen: ", true},
    {kUnsupported, "\nDie Funktion wird nicht unterst\xFCtzt :", false},
    {kUnsupportedVersion, "\nDiese Version wird nicht unterst\xFCtzt :", false},
    {kCompressError, "\nFehler beim Komprimieren :", false},
    {kWrongPassword, "\nFalsches Passwort : ", true},
    {kNotOpen, "\nDar Archiv ist nicht ge\366ffnet !", false},
    {kWrongMode, "\nIn diesem Modus ist die Funktion nicht m\xF6glich !", false},
    {kFileExists, "\nDie Datei ist bereits vorhanden: ", true},
    {kFileOlder, "\nDie Datei ist \xE4lter als die vorhandene: ", true},
    {kNoSpace, "\nEs ist kein Platz mehr vorhanden f\xFCr: ", true},
    {0, "\nUnbekannter Fehler", true},
};
constexpr std::size_t kErrorTextCount = sizeof(kErrorTexts) / sizeof(kErrorTexts[0]);
// ErrorCode has 31 codes; kNoMemory and kEmptyName have no text of their own
// and fall to the last row.
constexpr std::size_t kCodesWithText = 31 - 2;
static_assert(kErrorTextCount == kCodesWithText + 1, "error text table out of step with ErrorCode");

constexpr bool RowsAscend() {
  for (std::size_t i = 1; i + 1 < kErrorTextCount; ++i) {
    if (kErrorTexts[i - 1].code >= kErrorTexts[i].code) return false;
  }
  return kErrorTexts[0].code == kBadIndexOrMode && kErrorTexts[kErrorTextCount - 2].code == kNoSpace;
}
static_assert(RowsAscend(), "error text rows must run from kBadIndexOrMode to kNoSpace in order");

struct EventText {
  const char* prefix;
  const char* suffix;
};

constexpr EventText kEventTexts[] = {
    {"\nDatei ", " \366ffnen."},              // 0 opening the archive
    {"\nDatei: ", " gefunden."},              // 1 entry found while loading
    {"\nDatei: ", " entfernen."},             // 2 removing an entry
    {"\nDatei: ", " l\xF6schen."},            // 3
    {"\nDatei ", " schlie\337en."},           // 4 closing
    {"\nDatei ", " erzeugen."},               // 5
    {"\nDatei: ", " anh\xE4ngen."},           // 6 entry added or queued
    {"\nDatei: ", " komprimieren."},          // 7 before writing an entry
    {"\nDatei: ", " lesen."},                 // 8 extracting to a file
    {"\nDatei ", " r\374ckschreiben."},       // 9 writing back
    {"", ""},                                 // 10 error: the error text
    {"\nDatei: ", " wurde entkomprimiert."},  // 11
    {"\nDatei: ", " pr\374fen."},             // 12 testing an entry
    {"\nDatei ", " sortieren."},              // 13
    {"\nDatei: ", " wurde komprimiert."},     // 14
    {"\nDatei: ", " \374berspringen ?"},      // 15 skip question
    {"\nDatei: ", " wird entkomprimiert."},   // 16
    {"\nDatei: ", " Passwort eingeben."},     // 17
};
static_assert(sizeof(kEventTexts) / sizeof(kEventTexts[0]) == kEventCount,
              "event text table out of step with the event count");

constexpr const char kHead[] = "\nBei Datei : ";
constexpr const char kNoArchive[] = "\n< keine Datei ge\366ffnet >";

// Appends within the buffer; answers the new length.
std::size_t Append(char* out, std::size_t length, std::size_t capacity, const char* text) {
  while (*text != '\0' && length + 1 < capacity) out[length++] = *text++;
  out[length] = '\0';
  return length;
}

bool HasStatusLine(int event) { return event >= 0 && event < kEventCount && event != kErrorEvent; }

}  // namespace

const char* ErrorMessage(int code, bool* takesDetail) {
  const ErrorText* row = &kErrorTexts[kErrorTextCount - 1];
  for (std::size_t i = 0; i + 1 < kErrorTextCount; ++i) {
    if (kErrorTexts[i].code == code) {
      row = &kErrorTexts[i];
      break;
    }
  }
  if (takesDetail != nullptr) *takesDetail = row->takesDetail;
  return row->text;
}

const char* ComposeErrorText(int code, const char* archivePath, const char* detail,
                             char out[kErrorTextCapacity]) {
  if (code == kOk || code == kUserAbort) return ErrorMessage(code, nullptr);
  bool takesDetail = false;
  const char* text = ErrorMessage(code, &takesDetail);
  std::size_t length = Append(out, 0, kErrorTextCapacity, kHead);
  bool hasPath = archivePath != nullptr && archivePath[0] != '\0';
  length = Append(out, length, kErrorTextCapacity, hasPath ? archivePath : kNoArchive);
  length = Append(out, length, kErrorTextCapacity, text);
  if (takesDetail && detail != nullptr) Append(out, length, kErrorTextCapacity, detail);
  return out;
}

const char* EventPrefix(int event) { return HasStatusLine(event) ? kEventTexts[event].prefix : ""; }
const char* EventSuffix(int event) { return HasStatusLine(event) ? kEventTexts[event].suffix : ""; }

bool ComposeStatusLine(int event, const char* name, char out[kStatusLineCapacity],
                       std::uint32_t partLengths[3]) {
  if (!HasStatusLine(event)) return false;
  const char* prefix = kEventTexts[event].prefix;
  const char* suffix = kEventTexts[event].suffix;
  std::size_t prefixLength = std::strlen(prefix);
  std::size_t suffixLength = std::strlen(suffix);
  std::size_t nameLength = name != nullptr ? std::strlen(name) : 0;
  std::size_t room = kStatusLineCapacity - 1 - prefixLength - suffixLength;
  if (nameLength > room) nameLength = room;
  std::memcpy(out, prefix, prefixLength);
  if (nameLength > 0) std::memcpy(out + prefixLength, name, nameLength);
  std::memcpy(out + prefixLength + nameLength, suffix, suffixLength + 1);
  partLengths[0] = static_cast<std::uint32_t>(prefixLength);
  partLengths[1] = static_cast<std::uint32_t>(nameLength);
  partLengths[2] = static_cast<std::uint32_t>(suffixLength + 1);
  return true;
}

}  // namespace korbel
