// Which entries a korbel command works on: every entry when no name is
// given; otherwise the entries a name takes. A plain name takes the entry of
// that name and, as a folder, everything below it ("src" and "src/" alike);
// a name with '*' or '?' is a wildcard pattern matched against the whole
// entry name by the rules of the exclusion lists ('*' also spans '/', ASCII
// letters without regard to case).
#ifndef PAKKARO_TOOLS_KORBEL_ENTRY_SELECTION_H
#define PAKKARO_TOOLS_KORBEL_ENTRY_SELECTION_H

#include <string>
#include <vector>

#include "fs/pattern_list.h"

namespace korbel_tool {

class EntrySelection {
 public:
  explicit EntrySelection(const std::vector<const char*>& names);

  // Whether the entry is selected; notes which names took something.
  bool Takes(const char* entryName);
  // The names as given that took no entry so far.
  std::vector<std::string> Unused() const;

 private:
  struct Selector {
    std::string given;  // as on the command line
    std::string plain;  // '/' separators, no trailing separator; empty for a pattern
    fs::PatternList<char> pattern;
    bool used = false;
  };
  std::vector<Selector> selectors_;
};

}  // namespace korbel_tool

#endif  // PAKKARO_TOOLS_KORBEL_ENTRY_SELECTION_H
