#include "fs/path_order.h"

#include <cstdint>

#include "fs/char_rules.h"
#include "fs/path_kind.h"
#include "platform/platform.h"

namespace fs {
namespace {

constexpr int Letter(char c) { return static_cast<unsigned char>(c) * 256; }

// Weights of the codes 0xC0..0xDF and, alike, 0xE0..0xFF: each accented
// letter follows its base letter; 0 marks the codes that weigh code * 256.
constexpr int kAccented[32] = {
    Letter('a') + 1,
    Letter('a') + 2,
    Letter('a') + 3,
    Letter('a') + 4,  // À Á Â Ã
    Letter('a') + 5,
    Letter('a') + 6,
    Letter('a') + 7,  // Ä Å Æ
    Letter('g') + 1,  // Ç
    Letter('e') + 1,
    Letter('e') + 2,
    Letter('e') + 3,
    Letter('e') + 4,  // È É Ê Ë
    Letter('i') + 1,
    Letter('i') + 2,
    Letter('i') + 3,
    Letter('i') + 4,  // Ì Í Î Ï
    Letter('d') + 1,  // Ð
    Letter('n') + 1,  // Ñ
    Letter('o') + 1,
    Letter('o') + 2,
    Letter('o') + 3,
    Letter('o') + 4,  // Ò Ó Ô Õ
    Letter('o') + 5,  // Ö
    0xF700,           // × and ÷
    0xF800,           // Ø and ø
    Letter('u') + 1,
    Letter('u') + 2,
    Letter('u') + 3,
    Letter('u') + 4,  // Ù Ú Û Ü
    0xFD00,           // Ý and ý
    Letter('y') + 1,  // Þ
    0,                // ß and ÿ
};

int WeightOfCode(unsigned code) {
  switch (code) {
    case 0:
      return 0;
    case '/':
    case '\\':
      return 1;
    case '.':
      return 2;
    case ' ':
      return 3;
    case '_':
      return 4;
    case '(':
      return 8;
    case '[':
      return 9;
    case '{':
      return 10;
    case '<':
      return 11;
    case ')':
      return 12;
    case ']':
      return 13;
    case '}':
      return 14;
    case '>':
      return 15;
    case ':':
      return 0x101;
    case ';':
      return 0x102;
    case ',':
      return 0x103;
    case '|':
      return 0x104;
    default:
      break;
  }
  if (code >= '0' && code <= '9') return static_cast<int>(code) * 256 + 0x80;
  if (code >= 'A' && code <= 'Z') return static_cast<int>(FoldAscii(code)) * 256;
  if (code >= 0xC0 && code <= 0xFF && kAccented[code & 0x1F] != 0) return kAccented[code & 0x1F];
  return static_cast<int>(code) * 256;
}

template <typename Char>
const Char* OrEmpty(const Char* text) {
  static const Char kEmpty[1] = {Char(0)};
  return text ? text : kEmpty;
}

// Full form into buffer; an empty text when the platform fails.
template <typename Char>
const Char* Resolved(const Char* path, Char (&buffer)[MaxPath]) {
  const std::uint32_t length = platform::GetFullPath(path, buffer, MaxPath);
  if (length == 0 || length >= static_cast<std::uint32_t>(MaxPath)) buffer[0] = 0;
  return buffer;
}

}  // namespace

template <typename Char>
int PathWeight(Char c) {
  return WeightOfCode(CodeOf(c));
}

template <typename Char>
int PathOrder(const Char* first, const Char* second) {
  first = OrEmpty(first);
  second = OrEmpty(second);
  for (int i = 0;; ++i) {
    const int a = PathWeight(first[i]);
    const int b = PathWeight(second[i]);
    if (a == 0 || b == 0) return a - b;
    if (a == b) continue;
    // Where the texts part, the one whose component ends first sorts first.
    int endA = i;
    while (PathWeight(first[endA]) >= 2) ++endA;
    int endB = i;
    while (PathWeight(second[endB]) >= 2) ++endB;
    const int stopA = PathWeight(first[endA]);
    const int stopB = PathWeight(second[endB]);
    return stopA == stopB ? a - b : stopA - stopB;
  }
}

template <typename Char>
int ComparePaths(const Char* first, const Char* second, unsigned flags) {
  first = OrEmpty(first);
  second = OrEmpty(second);
  Char fullFirst[MaxPath];
  Char fullSecond[MaxPath];
  if (flags & CompareResolveFirst) first = Resolved(first, fullFirst);
  if (flags & CompareResolveSecond) second = Resolved(second, fullSecond);
  const int order = PathOrder(first, second);
  if (order != 0 || (flags & CompareIgnoreCase)) return order;
  // Equal weights everywhere: only letter case can differ (and the two
  // separators, which stay equal).
  for (int i = 0; first[i]; ++i) {
    if (first[i] != second[i] && !(IsSeparator(first[i]) && IsSeparator(second[i]))) {
      return static_cast<int>(CodeOf(first[i])) - static_cast<int>(CodeOf(second[i]));
    }
  }
  return 0;
}

template int PathWeight<char>(char);
template int PathWeight<platform::WideChar>(platform::WideChar);
template int PathOrder<char>(const char*, const char*);
template int PathOrder<platform::WideChar>(const platform::WideChar*, const platform::WideChar*);
template int ComparePaths<char>(const char*, const char*, unsigned);
template int ComparePaths<platform::WideChar>(const platform::WideChar*, const platform::WideChar*, unsigned);

}  // namespace fs
