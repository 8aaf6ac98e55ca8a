// The program's texts for the user, Windows-1252 bytes.
#ifndef PAKKARO_APP_MESSAGES_H
#define PAKKARO_APP_MESSAGES_H

namespace pakkaro {

inline constexpr const char* kUsageLines[] = {
    "\n\n  Syntax:   Pakkaro  Pfad [ZipName] [-c]\n",
    "\n               Pfad    : Von dort werden alle C++ Projektdateien kopiert.",
    "\n               ZipName : Ziel Zipdatei.",
    "\n               -c      : Programm f\xFCr Explorer konfigurieren.\n\n",
};
inline constexpr const char* kPathNotFound = "\n\n   Der Pfad\n   '%s'\n   wurde nicht gefunden !\n\n";
inline constexpr const char* kArchiveNotCreated =
    "\n\n   Die ZipDatei\n   '%s'\n   konnte nicht erzeugt werden !\n\n";
inline constexpr const char* kAddFailed = "\n\n   Es gab einen Fehler bein einf\xFCgen der Dateien!\n\n";
inline constexpr const char* kPacked = "\n\n   Es wurden %i Datei ein eingefuegt!\n\n";

// The Explorer command, and the project file types it is registered for.
inline constexpr const char* kMenuText = "Projekt zippen";
inline constexpr const char* kProjectTypes[] = {"DSP", "DSW",    "SLN",     "EWW",   "EWP",
                                                "UV2", "UVPROJ", "UVPROJX", "VCPROJ"};
// Project files whose folders keep their libraries.
inline constexpr const char* kMicroVisionTypes = "UVPROJ;UVPROJX";

}  // namespace pakkaro

#endif  // PAKKARO_APP_MESSAGES_H
