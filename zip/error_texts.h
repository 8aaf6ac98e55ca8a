// The German texts of the engine's error codes and progress events
// (Windows-1252), and the composition of error texts and status lines.
#ifndef PAKKARO_ZIP_ERROR_TEXTS_H
#define PAKKARO_ZIP_ERROR_TEXTS_H

#include <cstddef>
#include <cstdint>

namespace korbel {

constexpr std::size_t kErrorTextCapacity = 516;   // 515 characters and the zero
constexpr std::size_t kStatusLineCapacity = 784;  // prefix, name, suffix and the zero
constexpr int kEventCount = 18;                   // events 0 to 17
constexpr int kErrorEvent = 10;                   // its text is the composed error text

// The text of a code, and whether the detail text is appended to it; any
// code without a text of its own gives "\nUnbekannter Fehler" with the detail.
const char* ErrorMessage(int code, bool* takesDetail);

// The error text of a code: codes 0 and 23 answer their fixed text (out is
// left alone); any other is composed into `out` as "\nBei Datei : " and the
// archive path (or "\n< keine Datei geöffnet >" when it is null or empty),
// the code's text, and the detail when the code takes one and it is not
// null; cut at 515 characters. Answers the text.
const char* ComposeErrorText(int code, const char* archivePath, const char* detail,
                             char out[kErrorTextCapacity]);

// Prefix and suffix of an event's status line; "" for event 10 and for an
// index outside 0 to 17.
const char* EventPrefix(int event);
const char* EventSuffix(int event);

// Composes prefix, name and suffix into `out`; a name too long for the
// buffer is cut so that the whole suffix still fits. partLengths receives
// the prefix length, the name length as written and the suffix length
// counted with its terminating zero. False (out and partLengths untouched)
// for event 10 and an index outside 0 to 17. A null name counts as empty.
bool ComposeStatusLine(int event, const char* name, char out[kStatusLineCapacity],
                       std::uint32_t partLengths[3]);

}  // namespace korbel

#endif  // PAKKARO_ZIP_ERROR_TEXTS_H
