#include "app/explorer_registration.h"

#include <cstring>
#include <string>

#include "app/registry_key_stack.h"
#include "fs/char_rules.h"
#include "fs/module_path.h"
#include "fs/path_kind.h"
#include "fs/path_strings.h"
#include "platform/platform.h"

namespace pakkaro {
namespace {

constexpr std::size_t kExtensionCapacity = 16;
constexpr std::size_t kVerbCapacity = 64;
constexpr std::size_t kCommandCapacity = 536;
// A class name as long as the registry allows: the default value of an
// extension key is read whole, whatever its length.
constexpr std::uint32_t kClassNameCapacity = 1024;

struct Synonyms {
  const char* const* texts;
  std::size_t count;
  const char* canonical;
};

constexpr const char* kOpenTexts[] = {"\326ffne", "\366ffne", "\326ffnen", "\366ffnen"};
constexpr const char* kPrintTexts[] = {"Drucke", "Drucken"};
constexpr const char* kEditTexts[] = {"Bearbeiten"};

bool EqualIgnoringAsciiCase(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && fs::EqualNoCase(a.c_str(), b, static_cast<int>(a.size()));
}

bool Lookup(const Synonyms& table, std::string* verb) {
  for (std::size_t i = 0; i < table.count; ++i) {
    if (EqualIgnoringAsciiCase(*verb, table.texts[i])) {
      *verb = table.canonical;
      return true;
    }
  }
  return false;
}

bool WriteString(CRegistryKeyStack& keys, const std::string& text, const char* valueName) {
  return keys.SetValue(text.c_str(), static_cast<std::uint32_t>(text.size()), valueName,
                       platform::kRegString);
}

// The class name the extension key names, writing "<ext>file" as its
// default value when it names none.
bool FindOrMakeClass(const std::string& extensionKey, std::string* progId) {
  CRegistryKeyStack keys;
  if (!keys.OpenKey(platform::kClassesRoot, extensionKey.c_str(), 0) &&
      !keys.CreateKey(platform::kClassesRoot, extensionKey.c_str(), 0)) {
    return false;
  }
  char value[kClassNameCapacity];
  if (keys.QueryString(value, sizeof value, nullptr, platform::kRegString) && value[0] != '\0') {
    *progId = value;
    return true;
  }
  // A default value too long for any key name is the user's, not a missing
  // one: it is left as it is, and the type is not registered.
  if (keys.LastError() == static_cast<std::int32_t>(platform::kErrorMoreData)) return false;
  *progId = extensionKey.substr(1) + "file";
  // A key opened for reading is opened again for writing, so that the type
  // does get its class.
  if (keys.Mode() == 0 && !keys.OpenKey(platform::kClassesRoot, extensionKey.c_str(), 1)) return false;
  return WriteString(keys, *progId, nullptr);
}

// What a verb text becomes: the key name leaves out the accelerator marks
// and the text with them is the display text (a text merely cut to the key
// name's length has none); a known synonym takes its standard key name.
struct VerbNames {
  std::string key;
  std::string display;
  bool edit = false;  // the edit verb, which replaces the old "Bearbeiten" keys
};

VerbNames NamesOfVerb(const char* verbText) {
  const std::string source = (verbText != nullptr && *verbText != '\0') ? verbText : "open";
  VerbNames names;
  bool markDropped = false;
  for (char c : source) {
    if (names.key.size() == kVerbCapacity - 1) break;
    if (c == '&') {
      markDropped = true;
      continue;
    }
    names.key += c;
  }
  if (markDropped) names.display = source;
  const Synonyms open{kOpenTexts, 4, "open"}, print{kPrintTexts, 2, "print"}, editing{kEditTexts, 1, "Edit"};
  if (Lookup(open, &names.key)) names.display.clear();
  if (Lookup(print, &names.key)) names.display.clear();
  if (Lookup(editing, &names.key)) {
    names.display.clear();
    names.edit = true;
  }
  return names;
}

}  // namespace

bool RegisterFileTypeVerb(const char* type, const char* programPath, const char* verbText,
                          const char* arguments) {
  if (type == nullptr) return false;
  int extensionLength = 0;
  const char* extension = fs::FindExtension(static_cast<int>(std::strlen(type)), type, &extensionLength);
  std::string extensionText(extension, static_cast<std::size_t>(extensionLength));
  if (extensionText.empty()) {
    if (*type == '\0') return false;
    extensionText = type;
  }
  if (extensionText.size() + 2 > kExtensionCapacity) return false;

  char program[fs::MaxPath];
  if (programPath != nullptr) {
    fs::CopyBounded(program, programPath, fs::MaxPath);
    if (fs::GetPathKind(program) != fs::PathFile && std::strchr(program, '%') == nullptr) return false;
  } else {
    fs::GetModulePath(program, fs::MaxPath);
  }
  const std::string command = std::string("\"") + program + "\" " +
                              ((arguments != nullptr && *arguments != '\0') ? arguments : "\"%1\"");
  // The command with its terminator must fit; checked before anything is
  // written.
  if (command.size() + 1 > kCommandCapacity) return false;

  std::string extensionKey = "." + extensionText;
  for (char& c : extensionKey) c = fs::FoldAscii(c);
  std::string progId;
  if (!FindOrMakeClass(extensionKey, &progId)) return false;

  const VerbNames names = NamesOfVerb(verbText);
  const std::string& verb = names.key;
  const std::string& display = names.display;
  const bool edit = names.edit;

  CRegistryKeyStack keys;
  if (!keys.OpenKey(platform::kClassesRoot, progId.c_str(), 2) || !keys.OpenSubKey("Shell", false))
    return false;
  if (edit) {
    keys.DeleteSubKey("Bearbeiten");
    keys.DeleteSubKey("&Bearbeiten");
  }
  if (!keys.OpenSubKey(verb.c_str(), false)) return false;
  if (edit) {
    WriteString(keys, "&Bearbeiten", nullptr);
  } else if (!display.empty()) {
    WriteString(keys, display, nullptr);
  }
  if (!keys.OpenSubKey("Command", false) || !WriteString(keys, command, nullptr)) return false;
  keys.CloseSubKey();
  keys.DeleteSubKey("ddeexec");
  keys.CloseSubKey();
  keys.DeleteSubKey("DropTarget");
  keys.CloseAll();
  return true;
}

}  // namespace pakkaro
