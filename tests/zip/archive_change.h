// Archive files that tests make or change in one step before they look at
// what came of it.
#ifndef PAKKARO_TESTS_ZIP_ARCHIVE_CHANGE_H
#define PAKKARO_TESTS_ZIP_ARCHIVE_CHANGE_H

#include <string>

#include "zip/error_codes.h"
#include "zip/korbel.h"

namespace archive_change {

// Deletes the entry `name` from the archive file at `path`: the code of the
// first step that fails (opening, switching to changes, deleting), else the
// code of the close that writes the change.
inline int DeleteEntry(const std::string& path, const char* name) {
  korbel::Korbel archive;
  int result = archive.Open(path.c_str(), korbel::kReadOnly, 9);
  if (result == korbel::kOk) result = archive.SwitchMode(korbel::kModify);
  if (result == korbel::kOk) result = archive.DeleteEntry(archive.FindEntry(name));
  return result == korbel::kOk ? archive.Close() : result;
}

// Creates the archive file at `path` holding the file `source` as `name`:
// the code of the opening or the adding when it fails, else of the close.
inline int PackFile(const std::string& path, const std::string& source, const char* name) {
  korbel::Korbel archive;
  int result = archive.Open(path.c_str(), korbel::kCreate, 9);
  if (result == korbel::kOk) result = archive.AddFileByPath(source.c_str(), name);
  return result == korbel::kOk ? archive.Close() : result;
}

}  // namespace archive_change

#endif  // PAKKARO_TESTS_ZIP_ARCHIVE_CHANGE_H
