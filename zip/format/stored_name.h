// The entry-level rules around a stored name: a folder is stored with a
// trailing '/', and held in memory without it.
#ifndef PAKKARO_ZIP_STORED_NAME_H
#define PAKKARO_ZIP_STORED_NAME_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/format/string_arena.h"
#include "zip/format/zip_entry.h"

namespace korbel {

// The name bytes a header of the entry carries: the encoded name, with '/'
// appended for a folder. Sets or clears bit 11 in *flags.
void EncodeStoredName(const ZipEntry& entry, std::string* stored, std::uint16_t* flags);

// Sets the entry's name from the bytes of its central header, decoded with
// the entry's flags, and its stored name length. A name ending in '/' loses
// the slash, and with an uncompressed size of 0 the entry gets the folder
// attribute. Call after the header's fields are in the entry. With an arena
// the name is kept there rather than in an allocation of its own.
// With the header's extra field, a Unicode Path block that belongs to the
// stored bytes gives the name instead (see UnicodePathOf); the stored name
// length stays that of the bytes.
void ApplyStoredName(const std::uint8_t* stored, std::size_t length, ZipEntry* entry,
                     StringArena* arena = nullptr, const std::uint8_t* extra = nullptr,
                     std::size_t extraLength = 0);

// Whether a local header's name (decoded with the local flags, or taken from
// the local Unicode Path block) is the entry's: equal ignoring ASCII case, a
// trailing '/' ignored.
bool LocalNameMatches(const std::uint8_t* stored, std::size_t length, std::uint16_t localFlags,
                      const ZipEntry& entry, const std::uint8_t* extra = nullptr,
                      std::size_t extraLength = 0);

// The UTF-8 name of an Info-ZIP Unicode Path block (ID 0x7075, version 1)
// in `extra`, when the CRC-32 it carries is that of the stored name bytes:
// a block whose name was changed without it is stale and not taken.
bool UnicodePathOf(const std::uint8_t* extra, std::size_t extraLength, const std::uint8_t* stored,
                   std::size_t storedLength, const std::uint8_t** name, std::size_t* nameLength);

}  // namespace korbel

#endif  // PAKKARO_ZIP_STORED_NAME_H
