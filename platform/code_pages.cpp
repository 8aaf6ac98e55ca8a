// Narrow text is UTF-8 here; the OEM code page of the names in zip files is
// taken to be 850, the one of the Western European Windows installations.
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

// Code page 850, bytes 0x80 to 0xFF, as Unicode.
constexpr std::uint16_t kCodePage850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// Windows-1252 bytes 0x80 to 0x9F; the five it leaves unassigned stay the
// C1 controls of the same value.
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// Encodes one character below U+10000; the number of bytes, at most 3.
std::size_t EncodeUtf8(std::uint16_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (code >> 12));
  out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (code & 0x3F));
  return 3;
}

}  // namespace

bool NarrowIsUtf8() { return true; }

std::string Windows1252ToUtf8(const std::string& text) {
  std::string utf8;
  utf8.reserve(text.size() + 8);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char encoded[3];
    const std::uint16_t code = byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
    utf8.append(encoded, EncodeUtf8(code, encoded));
  }
  return utf8;
}

// A character that does not fit whole ends the text: no sequence is cut.
std::size_t OemToNarrow(const char* text, std::size_t length, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::size_t written = 0;
  for (std::size_t i = 0; text != nullptr && i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    char encoded[3];
    const std::size_t size = EncodeUtf8(byte < 0x80 ? byte : kCodePage850[byte - 0x80], encoded);
    if (size > capacity - 1 - written) break;
    std::memcpy(buffer + written, encoded, size);
    written += size;
  }
  buffer[written] = 0;
  return written;
}

// The narrow text is decoded as UTF-8; every character must be one of code
// page 850.
bool NarrowToOem(const std::string& narrow, std::string* oem) {
  oem->clear();
  for (std::size_t i = 0; i < narrow.size();) {
    const unsigned char lead = static_cast<unsigned char>(narrow[i]);
    std::uint32_t code = lead;
    std::size_t length = 1;
    if (lead >= 0xC0 && lead < 0xE0) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0x80) {
      return false;
    }
    if (i + length > narrow.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(narrow[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += length;
    if (code < 0x80) {
      oem->push_back(static_cast<char>(code));
      continue;
    }
    std::size_t place = 0;
    while (place < 128 && kCodePage850[place] != code) ++place;
    if (place == 128) return false;
    oem->push_back(static_cast<char>(0x80 + place));
  }
  return true;
}

bool NarrowToUtf8(const std::string& narrow, std::string* utf8) {
  *utf8 = narrow;
  return true;
}

bool Utf8ToNarrow(const std::string& utf8, std::string* narrow) {
  *narrow = utf8;
  return true;
}

}  // namespace platform
