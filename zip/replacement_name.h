// Names of the files a change is written to before it replaces an archive:
// the archive's own name, '~', twelve random hex digits and ".tmp"
// (App.zip~3f9a0c1e22b4.tmp). Random, so no one can take the name first;
// recognisable, so that a folder walk never packs one and the next change of
// the same archive can clear one that a killed run left behind.
#ifndef PAKKARO_ZIP_REPLACEMENT_NAME_H
#define PAKKARO_ZIP_REPLACEMENT_NAME_H

#include <string>

namespace korbel {

// A new name beside `target`; empty when the system gives no random bytes.
std::string ReplacementNameFor(const std::string& target);
// Whether the last component of `path` has the form of such a name.
bool IsReplacementName(const char* path);
// Whether `path` is such a name of the archive `target` (same folder and name).
bool IsReplacementOf(const std::string& path, const std::string& target);
// The search pattern that lists the names of `target`.
std::string ReplacementPattern(const std::string& target);

}  // namespace korbel

#endif  // PAKKARO_ZIP_REPLACEMENT_NAME_H
