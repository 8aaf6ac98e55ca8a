// Entry names (and comments) between their in-memory text and the bytes the
// zip file stores.
//
// A system whose narrow text is an ANSI code page stores a name in code page
// 850 when that code page holds every character, else as UTF-8 with flag bit
// 11; reading converts OEM bytes, or UTF-8 through UTF-16, to the ANSI code
// page. Every conversion goes through the system's code pages: no character
// is ever cut to its low 8 bits (the euro sign of Windows-1252 is U+20AC, not
// U+0080). Without the conversion functions (a test's system), Windows-1252
// is assumed.
//
// A system whose narrow text is UTF-8 stores a name with bytes of 0x80 or
// more as UTF-8 with bit 11, keeps a UTF-8 name read from an archive as it
// is, and converts a stored name without bit 11 from the OEM code page (850)
// to UTF-8.
#ifndef PAKKARO_ZIP_NAME_CODEC_H
#define PAKKARO_ZIP_NAME_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/zip_constants.h"

namespace korbel {

// How the running system holds text in memory.
struct NameSystem {
  bool narrowIsUtf8;
  // Converts OEM code page text to narrow text; the shape of
  // platform::OemToNarrow (length written, always terminated).
  std::size_t (*oemToNarrow)(const char* text, std::size_t length, char* buffer,
                             std::size_t capacity);
  // Narrow text to code page 850, and between narrow text and UTF-8; false
  // when a character has no place in the target. Null: Windows-1252 tables.
  bool (*narrowToOem)(const std::string& narrow, std::string* oem) = nullptr;
  bool (*narrowToUtf8)(const std::string& narrow, std::string* utf8) = nullptr;
  bool (*utf8ToNarrow)(const std::string& utf8, std::string* narrow) = nullptr;
};

// The running system, from platform::NarrowIsUtf8 and platform::OemToNarrow.
NameSystem CurrentNameSystem();

// The code page 850 byte of a Windows-1252 byte of 0x80 or more; 0 when code
// page 850 has no place for the character (the euro sign, for example).
std::uint8_t Cp850FromWindows1252(std::uint8_t byte);

// Encodes `inMemory` for a header and sets or clears kFlagUtf8Name in *flags
// (other bits kept; flags may be null, as for comments). Any length works;
// the result may be longer than the input (up to twice).
void EncodeName(const std::string& inMemory, std::string* stored, std::uint16_t* flags);
void EncodeName(const std::string& inMemory, const NameSystem& system, std::string* stored,
                std::uint16_t* flags);

// Decodes stored name bytes read with the given general-purpose flags.
void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags,
                std::string* inMemory);
void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags,
                const NameSystem& system, std::string* inMemory);

}  // namespace korbel

#endif  // PAKKARO_ZIP_NAME_CODEC_H
