#include "zip/extract_path.h"

#include "fs/char_rules.h"
#include "zip/error_codes.h"

namespace korbel {
namespace {

// Trailing separators go, and the rest splits at its last separator.
void SplitRelative(ExtractPlace* place) {
  std::string& relative = place->relative;
  while (!relative.empty() && fs::IsSeparator(relative.back())) relative.pop_back();
  place->leaf = relative;
  place->parent.clear();
  for (std::size_t at = relative.size(); at > 0; --at) {
    if (fs::IsSeparator(relative[at - 1])) {
      place->parent = relative.substr(0, at - 1);
      place->leaf = relative.substr(at);
      break;
    }
  }
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

// The device names count with an extension and with spaces before it.
bool IsReservedDeviceName(std::string_view component) {
  std::string_view stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  static constexpr std::string_view kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view name : kNames) {
    if (EqualsIgnoringCase(stem, name)) return true;
  }
  if (stem.size() < 4 ||
      !(EqualsIgnoringCase(stem.substr(0, 3), "COM") || EqualsIgnoringCase(stem.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  // Superscript one, two and three in UTF-8.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool WindowsChangesComponent(std::string_view component) {
  if (component.empty()) return false;
  if (component.back() == '.' || component.back() == ' ') return true;
  for (char c : component) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
    if (std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return true;
  }
  return IsReservedDeviceName(component);
}

// The name without its "." components, each with the separator behind it:
// tools that archive a folder as "." store every name as "./...".
std::string WithoutDotComponents(std::string_view name) {
  std::string kept;
  kept.reserve(name.size());
  std::size_t component = 0;
  for (std::size_t at = 0; at <= name.size(); ++at) {
    if (at < name.size() && !fs::IsSeparator(name[at])) continue;
    const std::size_t end = at < name.size() ? at + 1 : at;
    if (name.substr(component, at - component) != ".") kept.append(name.substr(component, end - component));
    component = at + 1;
  }
  return kept;
}

}  // namespace

bool WindowsChangesName(std::string_view relative) {
  std::size_t component = 0;
  for (std::size_t at = 0;; ++at) {
    if (at == relative.size() || fs::IsSeparator(relative[at])) {
      if (WindowsChangesComponent(relative.substr(component, at - component))) return true;
      if (at == relative.size()) return false;
      component = at + 1;
    }
  }
}

std::string_view StripStoredRoot(std::string_view name) {
  if (name.size() >= 2 && name[0] != '\0' && name[1] == ':') name.remove_prefix(2);
  if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
  if (!name.empty() && name[0] == '/') name.remove_prefix(1);
  return name;
}

bool EscapesTarget(std::string_view name) {
  if (name.empty()) return false;
  if (fs::IsSeparator(name[0])) return true;
  if (name.size() >= 2 && name[0] != '\0' && name[1] == ':') return true;
  std::size_t component = 0;
  for (std::size_t at = 0;; ++at) {
    if (at == name.size() || fs::IsSeparator(name[at])) {
      if (name.substr(component, at - component) == "..") return true;
      if (at == name.size()) return false;
      component = at + 1;
    }
  }
}

int PlaceInFolder(std::string_view folder, std::string_view storedName, ExtractPlace* place) {
  const std::string_view stripped = StripStoredRoot(storedName);
  if (EscapesTarget(stripped) || storedName.find('\0') != std::string_view::npos) return kBadPath;
  const std::string name = WithoutDotComponents(stripped);
  // "./C:x" or ".//x" is rooted only once its "." components are gone.
  if (EscapesTarget(name)) return kBadPath;
  place->base.assign(folder);
  place->relative.assign(name);
  place->path = place->base;
  if (place->path.empty() || !fs::IsSeparator(place->path.back())) place->path += '/';
  place->path += name;
  if (place->path.size() >= kJoinedCapacity) return kBadPath;
  SplitRelative(place);
  return kOk;
}

int PlaceAtPath(std::string_view target, ExtractPlace* place) {
  place->path.assign(target);
  std::size_t cut = target.size();
  while (cut > 0 && !fs::IsSeparator(target[cut - 1])) --cut;
  place->base = cut > 0 ? std::string(target.substr(0, cut)) : std::string("./");
  place->relative.assign(target.substr(cut));
  if (place->relative.empty()) return kBadPath;
  SplitRelative(place);
  return kOk;
}

int CodeForFolderOpen(platform::TargetFolder::OpenResult result) {
  switch (result) {
    case platform::TargetFolder::kOpened:
      return kOk;
    case platform::TargetFolder::kLinkInTheWay:
      return kBadPath;
    default:
      return kFileCreateError;
  }
}

int CodeForPresentLeaf(std::uint32_t attributes) {
  if (attributes == platform::kInvalidAttributes) return kOk;
  if (attributes & platform::kAttrReparsePoint) return kBadPath;
  if (attributes & platform::kAttrDirectory) return kFileCreateError;
  return kOk;
}

}  // namespace korbel
