#include "zip/format/stored_name.h"

#include <zlib.h>

#include "fs/char_rules.h"
#include "zip/format/byte_cursor.h"
#include "zip/format/extra_fields.h"
#include "zip/format/name_codec.h"

namespace korbel {
namespace {

constexpr std::uint16_t kUnicodePathId = 0x7075;

void DropTrailingSlash(std::string* name) {
  if (!name->empty() && name->back() == '/') name->pop_back();
}

// The stored bytes decoded with `flags`, or the Unicode Path block's name.
void DecodeHeaderName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags,
                      const std::uint8_t* extra, std::size_t extraLength, std::string* decoded) {
  const std::uint8_t* unicode = nullptr;
  std::size_t unicodeLength = 0;
  if (extra != nullptr && UnicodePathOf(extra, extraLength, stored, length, &unicode, &unicodeLength)) {
    DecodeName(unicode, unicodeLength, static_cast<std::uint16_t>(flags | kFlagUtf8Name), decoded);
  } else {
    DecodeName(stored, length, flags, decoded);
  }
}

}  // namespace

void EncodeStoredName(const ZipEntry& entry, std::string* stored, std::uint16_t* flags) {
  EncodeName(entry.name.str(), stored, flags);
  if (entry.externalAttributes & kEntryFolder) stored->push_back('/');
}

void ApplyStoredName(const std::uint8_t* stored, std::size_t length, ZipEntry* entry, StringArena* arena,
                     const std::uint8_t* extra, std::size_t extraLength) {
  // Reused from entry to entry, so a loaded name costs no allocation.
  thread_local std::string decoded;
  DecodeHeaderName(stored, length, entry->flags, extra, extraLength, &decoded);
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
                      const ZipEntry& entry, const std::uint8_t* extra, std::size_t extraLength) {
  thread_local std::string local;
  DecodeHeaderName(stored, length, localFlags, extra, extraLength, &local);
  DropTrailingSlash(&local);
  if (local.size() != entry.name.size()) return false;
  for (std::size_t i = 0; i < local.size(); ++i) {
    if (fs::FoldAscii(local[i]) != fs::FoldAscii(entry.name[i])) return false;
  }
  return true;
}

bool UnicodePathOf(const std::uint8_t* extra, std::size_t extraLength, const std::uint8_t* stored,
                   std::size_t storedLength, const std::uint8_t** name, std::size_t* nameLength) {
  std::size_t at = 0, size = 0;
  if (!FindExtraBlock(extra, extraLength, kUnicodePathId, &at, &size) || size < 5) return false;
  ByteCursor block(extra + at, size);
  const std::uint8_t version = block.Get8();
  const std::uint32_t crc = block.Get32();
  const std::uint32_t storedCrc =
      static_cast<std::uint32_t>(crc32(0, stored, static_cast<uInt>(storedLength)));
  if (version != 1 || crc != storedCrc || size == 5) return false;
  *name = extra + at + 5;
  *nameLength = size - 5;
  return true;
}

}  // namespace korbel
