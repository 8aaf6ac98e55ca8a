// Fuzz target: the rules that place an extracted entry. Any stored name (the
// whole input) either is refused with kBadPath or gives a relative path that
// stays inside the target folder: not absolute, no drive, no ".." or "."
// component, no NUL, and the parts put together give the whole again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "zip/error_codes.h"
#include "zip/extract_path.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The checks hold for the relative path as the rules promise it; a finding
// traps.
void CheckRelative(std::string_view relative) {
  if (relative.find('\0') != std::string_view::npos) __builtin_trap();
  if (relative.empty()) return;
  // Absolute, a UNC or device path ("\\server", "\\?\"), or a drive.
  if (IsSeparator(relative[0])) __builtin_trap();
  if (relative.size() >= 2 && relative[1] == ':') __builtin_trap();
  if (IsSeparator(relative.back())) __builtin_trap();
  std::size_t component = 0;
  for (std::size_t at = 0; at <= relative.size(); ++at) {
    if (at < relative.size() && !IsSeparator(relative[at])) continue;
    const std::string_view part = relative.substr(component, at - component);
    if (part == ".." || part == ".") __builtin_trap();
    component = at + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const std::string folder = "/target/folder";
  korbel::ExtractPlace place;
  const int code = korbel::PlaceInFolder(folder, name, &place);
  if (code != korbel::kOk) {
    if (code != korbel::kBadPath) __builtin_trap();
    return 0;
  }
  // A name the rules say escapes is never placed.
  if (korbel::EscapesTarget(korbel::StripStoredRoot(name))) __builtin_trap();
  CheckRelative(place.relative);
  if (place.base != folder) __builtin_trap();
  if (place.path.size() >= korbel::kJoinedCapacity) __builtin_trap();
  // The joined path is the folder, one separator, then the name as placed
  // (which may still carry the trailing separators of a folder entry).
  if (place.path.compare(0, folder.size() + 1, folder + "/") != 0) __builtin_trap();
  std::string_view placed = std::string_view(place.path).substr(folder.size() + 1);
  while (!placed.empty() && IsSeparator(placed.back())) placed.remove_suffix(1);
  if (placed != place.relative) __builtin_trap();
  // Parent and leaf are the relative path cut at its last separator.
  const std::string rejoined = place.parent.empty() ? place.leaf : place.parent + "/" + place.leaf;
  if (place.leaf.find_first_of("/\\") != std::string::npos) __builtin_trap();
  if (place.parent.empty() ? rejoined != place.relative
                           : rejoined.size() != place.relative.size() ||
                                 place.relative.compare(0, place.parent.size(), place.parent) != 0) {
    __builtin_trap();
  }
  // A name placed once places the same way again from its relative path.
  korbel::ExtractPlace again;
  if (korbel::PlaceInFolder(folder, place.relative, &again) != korbel::kOk ||
      again.relative != place.relative) {
    __builtin_trap();
  }
  return 0;
}
