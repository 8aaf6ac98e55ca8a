// What a codec throws when a run fails: the failure kind (also kept in the
// codec until its next run) and the German message text the user is shown.
#ifndef PAKKARO_ZIP_CODEC_CODEC_FAILURE_H
#define PAKKARO_ZIP_CODEC_CODEC_FAILURE_H

namespace korbel {

// Why a codec run failed. The writing and reading sides map these to their
// own error codes, so the values are fixed.
enum CodecFailureKind : int {
  kCodecOk = 0,
  kCodecReadFailed = 1,   // the input side failed
  kCodecWriteFailed = 2,  // the output side failed or refused bytes
  kCodecOutputFull = 3,   // the memory output area is full; also internal errors
  kCodecInputEnded = 4,   // the input ended too early
  kCodecSetupFailed = 5,  // initialisation failed, or an unknown mode
  kCodecDataError = 6,    // corrupt data, wrong check value, compression error
  kCodecNoMemory = 7,
  kCodecBadParameter = 8,
  kCodecUnsupported = 10,  // the operation does not exist for this codec
};

struct CodecFailure {
  int kind;
  const char* text;  // static Windows-1252 text
};

// The messages that several codecs give word for word. A codec whose
// message for the same failure is worded otherwise keeps its own text.
constexpr char kTextNoMemory[] = "Zu wenig Speicher";
constexpr char kTextReadFailed[] = "Fehler beim Lesen";
constexpr char kTextWriteFailed[] = "Fehler beim Schreiben in die Datei";
constexpr char kTextSaveFailed[] = "Fehler beim Speichern";
constexpr char kTextOutputAreaFull[] = "Fehler Speicher\374berlauf des Ausgabepuffers";
constexpr char kTextBadMode[] = "Falscher Modus beim Entkomprimieren !";
constexpr char kTextBadParameter[] = "Falscher Parameter";
constexpr char kTextFormatError[] = "Formatfehler";

// No failure: what a step of a library answers when all went well.
constexpr CodecFailure kNoFailure{kCodecOk, nullptr};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_CODEC_FAILURE_H
