// The entry-level rules around a stored name: a folder is stored with a
// trailing '/', and held in memory without it.
#ifndef PAKKARO_ZIP_STORED_NAME_H
#define PAKKARO_ZIP_STORED_NAME_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/string_arena.h"
#include "zip/zip_entry.h"

namespace korbel {

// The name bytes a header of the entry carries: the encoded name, with '/'
// appended for a folder. Sets or clears bit 11 in *flags.
void EncodeStoredName(const ZipEntry& entry, std::string* stored, std::uint16_t* flags);

// Sets the entry's name from the bytes of its central header, decoded with
// the entry's flags, and its stored name length. A name ending in '/' loses
// the slash, and with an uncompressed size of 0 the entry gets the folder
// attribute. Call after the header's fields are in the entry. With an arena
// the name is kept there rather than in an allocation of its own.
void ApplyStoredName(const std::uint8_t* stored, std::size_t length, ZipEntry* entry,
                     StringArena* arena = nullptr);

// Whether a local header's name (decoded with the local flags) is the
// entry's: same length and equal ignoring ASCII case, a trailing '/' ignored.
bool LocalNameMatches(const std::uint8_t* stored, std::size_t length, std::uint16_t localFlags,
                      const ZipEntry& entry);

}  // namespace korbel

#endif  // PAKKARO_ZIP_STORED_NAME_H
