// Where an extracted entry goes: the rules that keep a stored name inside
// the target folder, and the codes for what is found in the way. These are
// decisions on texts and attributes only; opening and checking the folders
// on disk is platform::TargetFolder's part.
#ifndef PAKKARO_ZIP_EXTRACT_PATH_H
#define PAKKARO_ZIP_EXTRACT_PATH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korbel {

// Longer joined paths than this, terminator included, are refused.
constexpr std::size_t kJoinedCapacity = 516;

// The file or folder `leaf` in the folder `parent` below `base`. Only `base`
// is taken as the caller gave it, links and all; each component of
// `relative` is opened below it without following a link.
struct ExtractPlace {
  std::string path;  // base and relative joined, for the checks of an existing file
  std::string base;
  std::string relative;  // without trailing separators: they name the folder itself
  std::string parent;    // relative up to its last separator, empty when it has none
  std::string leaf;      // relative after its last separator
};

// The stored name without a drive ("C:") and then one leading '\' and one
// leading '/', in that order.
std::string_view StripStoredRoot(std::string_view name);

// A name that would leave the target folder: a ".." component, or a path
// that is still absolute (a separator or a drive first).
bool EscapesTarget(std::string_view name);

// A name that a Windows file system would store under another name, or not
// at all: a component that ends in a dot or a space (the system drops
// them, so "a.txt." would land on "a.txt"), holds a control character or
// one of < > : " | ? * (':' would name a stream of another file), or is a
// reserved device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their forms
// with superscript digits, CONIN$, CONOUT$; also with an extension, in any
// case). Extraction on Windows refuses such an entry rather than let it
// overwrite another entry's file or a device.
bool WindowsChangesName(std::string_view relative);

// The place of the entry named `storedName` in `folder` (a full path):
// kOk, or kBadPath for a name that escapes, holds a NUL (which would cut it
// short on disk) or makes the joined path too long.
int PlaceInFolder(std::string_view folder, std::string_view storedName, ExtractPlace* place);

// The place for an entry extracted to the path `target` (no trailing
// separator) under a name of the caller's choosing: kOk or kBadPath.
int PlaceAtPath(std::string_view target, ExtractPlace* place);

// The code for a folder on the way that would not open: a link there is
// refused as a bad path, anything else as a failed create.
int CodeForFolderOpen(platform::TargetFolder::OpenResult result);

// The code for what is present where the file is to go (its attributes, not
// following a link): a link would be written through or replaced by a file
// the user did not expect there, a folder cannot be. kOk when nothing is
// there or a file is.
int CodeForPresentLeaf(std::uint32_t attributes);

}  // namespace korbel

#endif  // PAKKARO_ZIP_EXTRACT_PATH_H
