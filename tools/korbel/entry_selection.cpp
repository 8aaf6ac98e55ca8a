#include "tools/korbel/entry_selection.h"

#include <cstring>

namespace korbel_tool {

namespace {

bool IsWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// Backslashes as '/', the way entry names are held; trailing separators gone.
std::string Normalized(const char* given) {
  std::string name(given);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  while (!name.empty() && name.back() == '/') name.pop_back();
  return name;
}

}  // namespace

EntrySelection::EntrySelection(const std::vector<const char*>& names) {
  for (const char* given : names) {
    Selector selector;
    selector.given = given;
    const std::string name = Normalized(given);
    if (IsWildcard(name)) {
      // One item: a ';' would split the list, so it matches as any character.
      std::string single = name;
      for (char& c : single) {
        if (c == ';') c = '?';
      }
      fs::ParsePatternList(single.c_str(), selector.pattern, false);
    } else {
      selector.plain = name;
    }
    selectors_.push_back(std::move(selector));
  }
}

bool EntrySelection::Takes(const char* entryName) {
  if (selectors_.empty()) return true;
  const std::size_t length = std::strlen(entryName);
  bool taken = false;
  for (Selector& selector : selectors_) {
    bool match = false;
    if (!selector.pattern.empty()) {
      match = fs::MatchPatternItem(selector.pattern.front(), entryName, static_cast<int>(length));
    } else if (!selector.plain.empty()) {
      const std::string& plain = selector.plain;
      match = length >= plain.size() && std::memcmp(entryName, plain.data(), plain.size()) == 0 &&
              (length == plain.size() || entryName[plain.size()] == '/');
    }
    if (match) {
      selector.used = true;
      taken = true;
    }
  }
  return taken;
}

std::vector<std::string> EntrySelection::Unused() const {
  std::vector<std::string> unused;
  for (const Selector& selector : selectors_) {
    if (!selector.used) unused.push_back(selector.given);
  }
  return unused;
}

}  // namespace korbel_tool
