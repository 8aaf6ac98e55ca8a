#include "zip/stored_extensions.h"

#include <cstring>

#include "fs/pattern_list.h"

namespace korbel {

bool IsStoredExtension(const char* name) {
  return fs::ExtensionInList(name, kStoredExtensions, static_cast<int>(std::strlen(name))) != 0;
}

}  // namespace korbel
