#include "zip/format/name_codec.h"

#include <vector>

#include "platform/platform.h"

namespace korbel {
namespace {

// Code page 850 bytes of the Windows-1252 bytes 0x80 to 0xFF; 0 = no place.
// Of 0x80-0x9F only the florin sign exists in code page 850; 0xA0-0xFF are
// the Latin-1 characters, all of which it holds.
constexpr std::uint8_t kCp850FromAnsi[128] = {
    0x00, 0x00, 0x00, 0x9F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0x80
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0x90
    0xFF, 0xAD, 0xBD, 0x9C, 0xCF, 0xBE, 0xDD, 0xF5, 0xF9, 0xB8, 0xA6, 0xAE, 0xAA, 0xF0, 0xA9, 0xEE,  // 0xA0
    0xF8, 0xF1, 0xFD, 0xFC, 0xEF, 0xE6, 0xF4, 0xFA, 0xF7, 0xFB, 0xA7, 0xAF, 0xAC, 0xAB, 0xF3, 0xA8,  // 0xB0
    0xB7, 0xB5, 0xB6, 0xC7, 0x8E, 0x8F, 0x92, 0x80, 0xD4, 0x90, 0xD2, 0xD3, 0xDE, 0xD6, 0xD7, 0xD8,  // 0xC0
    0xD1, 0xA5, 0xE3, 0xE0, 0xE2, 0xE5, 0x99, 0x9E, 0x9D, 0xEB, 0xE9, 0xEA, 0x9A, 0xED, 0xE8, 0xE1,  // 0xD0
    0x85, 0xA0, 0x83, 0xC6, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,  // 0xE0
    0xD0, 0xA4, 0x95, 0xA2, 0x93, 0xE4, 0x94, 0xF6, 0x9B, 0x97, 0xA3, 0x96, 0x81, 0xEC, 0xE7, 0x98,  // 0xF0
};

// Bits of the code page 850 bytes 0x80 to 0xFF that code page 437 reads as
// the same character (the German umlauts and sharp s, most accented small
// letters); 45 Latin-1 characters such as Ø, ã or Ê sit on other bytes.
constexpr std::uint32_t kSameIn437[4] = {0x97FFFFFFu, 0x9E1FFDFFu, 0x9E007F3Fu, 0xE5420042u};

// Code page 850 text that a reader assuming code page 437 (the zip default,
// the OEM page of US Windows, what most tools use) reads the same.
bool ReadsTheSameIn437(const std::string& cp850) {
  for (unsigned char c : cp850) {
    if (!Cp850ReadsTheSameIn437(c)) return false;
  }
  return true;
}

// Length of the UTF-8 sequence at p: 2 to 4 for a lead byte followed by
// enough continuation bytes, else 1 (the byte stands for itself).
std::size_t SequenceLength(const std::uint8_t* p, std::size_t left) {
  std::size_t length;
  if (p[0] >= 0xC0 && p[0] <= 0xDF) {
    length = 2;
  } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    length = 3;
  } else if (p[0] >= 0xF0 && p[0] <= 0xF7) {
    length = 4;
  } else {
    return 1;
  }
  if (length > left) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 1;
  }
  return length;
}

std::uint32_t SequenceValue(const std::uint8_t* p, std::size_t length) {
  static const std::uint8_t kLeadMask[5] = {0, 0xFF, 0x1F, 0x0F, 0x07};
  std::uint32_t value = p[0] & kLeadMask[length];
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (p[i] & 0x3F);
  return value;
}

// Appends a code point below 0x100 as UTF-8.
void AppendByteAsUtf8(std::uint8_t byte, std::string* out) {
  if (byte < 0x80) {
    out->push_back(static_cast<char>(byte));
  } else {
    out->push_back(static_cast<char>(0xC0 | (byte >> 6)));
    out->push_back(static_cast<char>(0x80 | (byte & 0x3F)));
  }
}

bool HasHighByte(const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (bytes[i] >= 0x80) return true;
  }
  return false;
}

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

void SetUtf8Flag(std::uint16_t* flags, bool utf8) {
  if (flags == nullptr) return;
  if (utf8) {
    *flags = static_cast<std::uint16_t>(*flags | kFlagUtf8Name);
  } else {
    *flags = static_cast<std::uint16_t>(*flags & ~kFlagUtf8Name);
  }
}

// Windows-1252 text to code page 850; false when a character has no place
// there, or when a mapped byte would follow one of 0xC0 or more (the pair
// could then be read back as a UTF-8 sequence).
bool ToCp850(const std::string& text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (!out->empty() && static_cast<unsigned char>(out->back()) >= 0xC0) return false;
    std::uint8_t mapped = kCp850FromAnsi[c - 0x80];
    if (mapped == 0) return false;
    out->push_back(static_cast<char>(mapped));
  }
  return true;
}

// A byte of 0x80 or more behind one of 0xC0 or more: the pair might be read
// as a UTF-8 sequence.
bool HighByteAfterLead(const std::string& text) {
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80 && static_cast<unsigned char>(text[i - 1]) >= 0xC0)
      return true;
  }
  return false;
}

// Valid sequences are copied; a byte standing for itself becomes the UTF-8
// form of its own value, so the result is always readable as UTF-8.
void CopyAsUtf8(const std::uint8_t* bytes, std::size_t length, std::string* out) {
  out->clear();
  out->reserve(length);
  for (std::size_t i = 0; i < length;) {
    std::size_t n = SequenceLength(bytes + i, length - i);
    if (n > 1) {
      out->append(reinterpret_cast<const char*>(bytes + i), n);
    } else {
      AppendByteAsUtf8(bytes[i], out);
    }
    i += n;
  }
}

bool HasSequence(const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length;) {
    std::size_t n = SequenceLength(bytes + i, length - i);
    if (n > 1) return true;
    i += n;
  }
  return false;
}

void ConvertFromOem(const std::uint8_t* bytes, std::size_t length, const NameSystem& system,
                    std::size_t growth, std::string* out) {
  // One OEM byte becomes at most `growth` narrow bytes (3 for UTF-8).
  std::vector<char> buffer(length * growth + 1);
  std::size_t written =
      system.oemToNarrow(reinterpret_cast<const char*>(bytes), length, buffer.data(), buffer.size());
  if (written > buffer.size() - 1) written = buffer.size() - 1;
  out->assign(buffer.data(), written);
}

}  // namespace

NameSystem CurrentNameSystem() {
  return NameSystem{platform::NarrowIsUtf8(), platform::OemToNarrow, platform::NarrowToOem,
                    platform::NarrowToUtf8, platform::Utf8ToNarrow};
}

bool Cp850ReadsTheSameIn437(std::uint8_t byte) {
  if (byte < 0x80) return true;
  const unsigned place = byte - 0x80u;
  return ((kSameIn437[place / 32] >> (place % 32)) & 1u) != 0;
}

std::uint8_t Cp850FromWindows1252(std::uint8_t byte) {
  return byte < 0x80 ? byte : kCp850FromAnsi[byte - 0x80];
}

void EncodeName(const std::string& inMemory, std::string* stored, std::uint16_t* flags) {
  EncodeName(inMemory, CurrentNameSystem(), stored, flags);
}

void EncodeName(const std::string& inMemory, const NameSystem& system, std::string* stored,
                std::uint16_t* flags) {
  // Code page 850 only for what every reader takes back as written: a
  // reader assuming code page 437 must see the same characters. A code page
  // 850 text that could read as UTF-8 would be read back as UTF-8: such a
  // name goes as UTF-8 itself (the rule of ToCp850).
  if (!HasHighByte(Bytes(inMemory), inMemory.size())) {
    *stored = inMemory;
    SetUtf8Flag(flags, false);
    return;
  }
  const bool oem = system.narrowToOem != nullptr
                       ? system.narrowToOem(inMemory, stored) && !HighByteAfterLead(*stored)
                       : !system.narrowIsUtf8 && ToCp850(inMemory, stored);
  if (oem && ReadsTheSameIn437(*stored)) {
    SetUtf8Flag(flags, false);
    return;
  }
  if (system.narrowIsUtf8) {
    // In-memory text is UTF-8 already; stray bytes are made valid.
    CopyAsUtf8(Bytes(inMemory), inMemory.size(), stored);
    SetUtf8Flag(flags, true);
    return;
  }
  if (system.narrowToUtf8 != nullptr && system.narrowToUtf8(inMemory, stored)) {
    SetUtf8Flag(flags, true);
    return;
  }
  stored->clear();
  stored->reserve(inMemory.size() * 2);
  for (unsigned char c : inMemory) AppendByteAsUtf8(c, stored);
  SetUtf8Flag(flags, true);
}

void NameAsUtf8(const std::string& inMemory, std::string* utf8) {
  NameAsUtf8(inMemory, CurrentNameSystem(), utf8);
}

void NameAsUtf8(const std::string& inMemory, const NameSystem& system, std::string* utf8) {
  if (system.narrowIsUtf8) {
    CopyAsUtf8(Bytes(inMemory), inMemory.size(), utf8);
    return;
  }
  if (system.narrowToUtf8 != nullptr && system.narrowToUtf8(inMemory, utf8)) return;
  utf8->clear();
  for (unsigned char c : inMemory) AppendByteAsUtf8(c, utf8);
}

void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags, std::string* inMemory) {
  // Plain ASCII reads the same in every code page: the common case, which
  // need not ask the system how it reads names.
  if (stored != nullptr && !HasHighByte(stored, length)) {
    inMemory->assign(reinterpret_cast<const char*>(stored), length);
    return;
  }
  DecodeName(stored, length, flags, CurrentNameSystem(), inMemory);
}

void DecodeName(const std::uint8_t* stored, std::size_t length, std::uint16_t flags, const NameSystem& system,
                std::string* inMemory) {
  inMemory->clear();
  if (stored == nullptr || length == 0) return;
  bool utf8Flag = (flags & kFlagUtf8Name) != 0;
  bool high = HasHighByte(stored, length);
  // Without the flag, a name with high bytes and no UTF-8 sequence was
  // written in the OEM code page.
  bool fromOem = !utf8Flag && high && system.oemToNarrow != nullptr && !HasSequence(stored, length);
  if (system.narrowIsUtf8) {
    if (fromOem) {
      ConvertFromOem(stored, length, system, 3, inMemory);
    } else if (high) {
      CopyAsUtf8(stored, length, inMemory);
    } else {
      inMemory->assign(reinterpret_cast<const char*>(stored), length);
    }
    return;
  }
  if (fromOem) {
    ConvertFromOem(stored, length, system, 1, inMemory);
    return;
  }
  if (system.utf8ToNarrow != nullptr) {
    // Stray bytes stand for their own code points, as below.
    std::string utf8;
    CopyAsUtf8(stored, length, &utf8);
    if (system.utf8ToNarrow(utf8, inMemory)) return;
  }
  inMemory->clear();
  inMemory->reserve(length);
  for (std::size_t i = 0; i < length;) {
    std::size_t n = SequenceLength(stored + i, length - i);
    std::uint32_t value = n > 1 ? SequenceValue(stored + i, n) : stored[i];
    inMemory->push_back(static_cast<char>(value & 0xFF));
    i += n;
  }
}

}  // namespace korbel
