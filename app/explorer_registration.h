// The Explorer context-menu command for a project file type.
#ifndef PAKKARO_APP_EXPLORER_REGISTRATION_H
#define PAKKARO_APP_EXPLORER_REGISTRATION_H

namespace pakkaro {

// Registers `verbText` (null or empty: "open") for files of `type` (a bare
// extension or any file name) under HKEY_CLASSES_ROOT, starting
// `programPath` (null: this program) with `arguments` (null or empty: "%1"
// in double quotes). True when the verb's command was written.
bool RegisterFileTypeVerb(const char* type, const char* programPath, const char* verbText,
                          const char* arguments);

}  // namespace pakkaro

#endif  // PAKKARO_APP_EXPLORER_REGISTRATION_H
