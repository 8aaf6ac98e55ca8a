#include "zip/stored_name.h"

#include "fs/char_rules.h"
#include "zip/name_codec.h"

namespace korbel {
namespace {

void DropTrailingSlash(std::string* name) {
  if (!name->empty() && name->back() == '/') name->pop_back();
}

}  // namespace

void EncodeStoredName(const ZipEntry& entry, std::string* stored, std::uint16_t* flags) {
  EncodeName(entry.name.str(), stored, flags);
  if (entry.externalAttributes & kEntryFolder) stored->push_back('/');
}

void ApplyStoredName(const std::uint8_t* stored, std::size_t length, ZipEntry* entry, StringArena* arena) {
  // Reused from entry to entry, so a loaded name costs no allocation.
  thread_local std::string decoded;
  DecodeName(stored, length, entry->flags, &decoded);
  entry->nameLength = static_cast<std::uint16_t>(length > 0xFFFF ? 0xFFFF : length);
  if (!decoded.empty() && decoded.back() == '/') {
    DropTrailingSlash(&decoded);
    if (entry->uncompressedSize == 0) entry->externalAttributes |= kEntryFolder;
  }
  if (arena != nullptr) {
    entry->name.View(arena->Copy(decoded.data(), decoded.size()), decoded.size());
  } else {
    entry->name = decoded;
  }
}

bool LocalNameMatches(const std::uint8_t* stored, std::size_t length, std::uint16_t localFlags,
                      const ZipEntry& entry) {
  thread_local std::string local;
  DecodeName(stored, length, localFlags, &local);
  DropTrailingSlash(&local);
  if (local.size() != entry.name.size()) return false;
  for (std::size_t i = 0; i < local.size(); ++i) {
    if (fs::FoldAscii(local[i]) != fs::FoldAscii(entry.name[i])) return false;
  }
  return true;
}

}  // namespace korbel
