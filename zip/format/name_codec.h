// Entry names (and comments) between their in-memory text and the bytes the
// zip file stores.
//
// A name is stored in code page 850 when it is plain ASCII or when code page
// 850 holds every character and code page 437 (the zip default, which most
// readers and US Windows assume) reads those bytes as the same characters,
// as it does the German umlauts; every other name goes as UTF-8 with flag
// bit 11, so that each reader gets back the name as written. This holds on
// both kinds of system below.
//
// A system whose narrow text is an ANSI code page reads OEM bytes, or UTF-8
// through UTF-16, into the ANSI code page. Every conversion goes through the system's code pages: no
// character is ever cut to its low 8 bits (the euro sign of Windows-1252 is U+20AC, not U+0080). Without the
// conversion functions (a test's system), Windows-1252 is assumed.
//
// A system whose narrow text is UTF-8 keeps a UTF-8 name read from an
// archive as it is, and converts a stored name without bit 11 from the OEM
// code page (850) to UTF-8.
//
// Either way, names without bit 11 are read as code page 850, the page this
// engine writes, whatever the system's own OEM page.
#ifndef PAKKARO_ZIP_NAME_CODEC_H
#define PAKKARO_ZIP_NAME_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/format/zip_constants.h"

namespace korbel {

// How the running system holds text in memory.
struct NameSystem {
  bool narrowIsUtf8;
  // Converts OEM code page text to narrow text; the shape of
  // platform::OemToNarrow (length written, always terminated).
  std::size_t (*oemToNarrow)(const char* text, std::size_t length, char* buffer, std::size_t capacity);
  // Narrow text to code page 850, and between narrow text and UTF-8; false
  // when a character has no place in the target. Null: Windows-1252 tables.
  bool (*narrowToOem)(const std::string& narrow, std::string* oem) = nullptr;
  bool (*narrowToUtf8)(const std::string& narrow, std::string* utf8) = nullptr;
  bool (*utf8ToNarrow)(const std::string& utf8, std::string* narrow) = nullptr;
};

// The running system, from platform::NarrowIsUtf8 and platform::OemToNarrow.
NameSystem CurrentNameSystem();

// Whether code page 437 reads a code page 850 byte as the same character
// (every byte below 0x80 does).
bool Cp850ReadsTheSameIn437(std::uint8_t byte);

// The code page 850 byte of a Windows-1252 byte of 0x80 or more; 0 when code
// page 850 has no place for the character (the euro sign, for example).
std::uint8_t Cp850FromWindows1252(std::uint8_t byte);

// Encodes `inMemory` for a header and sets or clears kFlagUtf8Name in *flags
// (other bits kept; flags may be null, as for comments). Any length works;
// the result may be longer than the input (up to twice).
void EncodeName(const std::string& inMemory, std::string* stored, std::uint16_t* flags);
void EncodeName(const std::string& inMemory, const NameSystem& system, std::string* stored,
                std::uint16_t* flags);

// The name as UTF-8 (for the Unicode Path block that accompanies a name
// stored in code page 850); stray bytes stand for their own code points.
void NameAsUtf8(const std::string& inMemory, std::string* utf8);
void NameAsUtf8(const std::string& inMemory, const NameSystem& system, std::string* utf8);

// Decodes stored name bytes read with the given general-purpose flags.
void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags, std::string* inMemory);
void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags, const NameSystem& system,
                std::string* inMemory);

}  // namespace korbel

#endif  // PAKKARO_ZIP_NAME_CODEC_H
