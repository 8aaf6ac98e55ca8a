// korbel's own texts, in German like the engine's and, like them, in
// Windows-1252 bytes (\xE4 ä, \xF6 ö, \xFC ü, \xDF ß, \xC4 Ä, \xDC Ü); they reach
// the console through platform::MessageText.
#ifndef PAKKARO_TOOLS_KORBEL_TOOL_TEXTS_H
#define PAKKARO_TOOLS_KORBEL_TOOL_TEXTS_H

#include <string>

namespace korbel_tool {

constexpr const char* kUsageText =
    "Aufruf: korbel l ARCHIV [NAME...]\n"
    "        korbel t ARCHIV [-p PASSWORT] [NAME...]\n"
    "        korbel x ARCHIV [-d ORDNER] [-o | -n] [-p PASSWORT] [NAME...]\n"
    "        korbel a ARCHIV PFAD...\n"
    "        korbel d ARCHIV NAME...\n"
    "\n"
    "  l  Eintr\xE4ge auflisten        t  Eintr\xE4ge pr\374fen        x  auspacken\n"
    "  a  Dateien oder Ordner hinzuf\xFCgen       d  Eintr\xE4ge l\xF6schen\n"
    "  NAME  ein Eintrag, ein Ordner (alles darunter) oder ein Muster mit * und ?\n"
    "  -o  vorhandene Dateien ersetzen   -n  vorhandene Dateien nie ersetzen\n"
    "  -p  Passwort (f\xFCr andere Benutzer sichtbar; ohne -p wird gefragt)\n";

constexpr const char* kNotInArchive = ": nicht im Archiv";
constexpr const char* kNotFound = ": nicht gefunden";
constexpr const char* kKeptExisting = ": vorhanden, nicht ersetzt";
constexpr const char* kReplaceQuestion = " ist vorhanden. Ersetzen? [j]a, [n]ein, [a]lle, [k]eine: ";
constexpr const char* kPasswordQuestion = "Passwort f\xFCr ";
constexpr const char* kNoPassword = ": verschl\xFCsselt, kein Passwort angegeben (-p)";
constexpr const char* kEncryptedMark = "  (verschl\xFCsselt)";
constexpr const char* kDuplicateMark = "  (doppelt)";
constexpr const char* kArchiveHead = "Archiv: ";
constexpr const char* kListHead = "       Gr\xF6\337e      Gepackt  Methode   Ge\xE4ndert            Name\n";
constexpr const char* kListRule = "------------ ------------                               ----\n";

// An engine text as the console shows it: its own words are Windows-1252,
// the paths and names in it UTF-8 (no German word of the engine's is valid
// UTF-8, so each byte run is told apart); each part goes through its own
// conversion (platform::MessageText, platform::ConsoleText).
std::string EngineText(const std::string& mixed);

// "1 Eintrag", "2 Einträge", "0 Einträge"; the other counted words alike.
std::string Entries(long long count);
std::string Files(long long count);
// "5 Einträge geprüft, 1 fehlerhaft"
std::string TestSummary(long long tested, long long failed);

}  // namespace korbel_tool

#endif  // PAKKARO_TOOLS_KORBEL_TOOL_TEXTS_H
