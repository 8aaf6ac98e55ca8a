#include "zip/io/pseudo_path.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

#include "fs/char_rules.h"
#include "zip/error_codes.h"
#include "zip/io/archive_store.h"

namespace korbel {

namespace {

// A type is looked for among this many characters behind the separators.
constexpr std::size_t kTypeSearch = 62;
// Names this long or longer are not taken.
constexpr std::size_t kNameLimit = 63;
constexpr std::uint32_t kIdLimit = 65536;

bool IsPartEnd(char c) { return fs::IsSeparator(c) || c == '-'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (Upper(*a) != Upper(*b)) return false;
  }
  return *a == *b;
}

// Leading decimal value as atoi reads it: optional sign, digits; saturated
// to the 32-bit range.
std::int64_t DecimalValue(const char* text) {
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  std::int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= std::numeric_limits<std::uint32_t>::max()) value = value * 10 + (*text - '0');
  }
  return negative ? -value : value;
}

std::uint64_t HexValue(const char* text) {
  std::uint64_t value = 0;
  for (;; ++text) {
    const char c = Upper(*text);
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return value;
    }
    value = (value << 4) | static_cast<std::uint64_t>(digit);
  }
}

// A part whose decimal value is not zero is a number (its low 16 bits);
// anything else is a text.
void TakePart(const std::string& part, std::uint32_t* number, std::string* text) {
  const std::int64_t value = DecimalValue(part.c_str());
  if (value != 0) {
    *number = static_cast<std::uint32_t>(value) & 0xFFFFu;
    text->clear();
  } else {
    *number = 0;
    *text = part;
  }
}

ResourcePath ParseResource(const char* rest) {
  ResourcePath result;
  const char* name = rest;
  for (std::size_t i = 0; i < kTypeSearch && rest[i] != '\0'; ++i) {
    if (IsPartEnd(rest[i])) {
      result.hasType = true;
      TakePart(std::string(rest, i), &result.typeNumber, &result.typeText);
      name = rest + i + 1;
      break;
    }
  }
  if (std::strlen(name) >= kNameLimit) {
    result.nameTaken = false;
    return result;
  }
  TakePart(name, &result.nameNumber, &result.nameText);
  return result;
}

MemoryPath ParseMemory(const char* rest) {
  MemoryPath result;
  result.address = static_cast<std::uintptr_t>(HexValue(rest));
  const char* end = rest;
  while (*end != '\0' && !IsPartEnd(*end)) ++end;
  if (*end == '\0') {
    result.capacity = 0;
    return result;
  }
  const char* capacity = end + 1;
  // The capacity is written unsigned: values beyond 31 bits wrap to negative.
  const std::int64_t value = DecimalValue(capacity);
  result.capacity = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  const char* next = capacity;
  while (*next != '\0' && !IsPartEnd(*next)) ++next;
  if (*next != '\0') {
    const std::int64_t used = DecimalValue(next + 1);
    result.used = used > std::numeric_limits<std::int32_t>::max()
                      ? std::numeric_limits<std::int32_t>::max()
                      : static_cast<std::int32_t>(std::max<std::int64_t>(used, -1));
  }
  return result;
}

std::string IdText(platform::ResourceId id) {
  if (id.text != nullptr) return id.text;
  return std::to_string(id.number);
}

bool IsMissing(platform::ResourceId id) { return id.text == nullptr && id.number == 0; }

}  // namespace

platform::ResourceId ResourcePath::Type() const {
  if (!hasType) return {nullptr, 0};
  if (typeText.empty() && typeNumber != 0) return {nullptr, typeNumber};
  return {typeText.c_str(), 0};
}

platform::ResourceId ResourcePath::Name() const {
  if (!nameTaken) return {nullptr, 0};
  if (nameText.empty() && nameNumber != 0) return {nullptr, nameNumber};
  return {nameText.c_str(), 0};
}

PseudoKind PseudoPathKind(const char* path) {
  if (path == nullptr) return PseudoKind::kNone;
  // The length check stops at a short string before reading past it.
  for (int i = 0; i < 6; ++i) {
    if (path[i] == '\0') return PseudoKind::kNone;
  }
  if (path[3] != ':' || !fs::IsSeparator(path[4]) || !fs::IsSeparator(path[5])) return PseudoKind::kNone;
  const std::string head(path, 3);
  if (EqualNoCase(head.c_str(), "res")) return PseudoKind::kResource;
  if (EqualNoCase(head.c_str(), "mem")) return PseudoKind::kMemory;
  return PseudoKind::kNone;
}

PseudoPath ParsePseudoPath(const char* path) {
  PseudoPath result;
  result.kind = PseudoPathKind(path);
  if (result.kind == PseudoKind::kResource) result.resource = ParseResource(path + 6);
  if (result.kind == PseudoKind::kMemory) result.memory = ParseMemory(path + 6);
  return result;
}

platform::ResourceId ResolveResourceType(platform::ResourceId type) {
  if (IsMissing(type)) return {"DATA", 0};
  if (type.text == nullptr) return type;
  static const struct {
    const char* name;
    std::uint32_t number;
  } kNamedTypes[] = {
      {"CURSOR", kResourceCursor},
      {"BITMAP", kResourceBitmap},
      {"ICON", kResourceIcon},
      {"HTML", kResourceHtml},
  };
  for (const auto& named : kNamedTypes) {
    if (EqualNoCase(type.text, named.name)) return {nullptr, named.number};
  }
  return type;
}

std::string FormatResourcePath(platform::ResourceId type, platform::ResourceId name) {
  return "res:\\\\" + IdText(type) + "-" + IdText(name);
}

std::string FormatMemoryPath(const void* address, std::int32_t capacity, std::int32_t used) {
  char text[64];
  std::snprintf(text, sizeof text, "mem:\\\\%08" PRIXPTR "-%u", reinterpret_cast<std::uintptr_t>(address),
                static_cast<unsigned>(capacity));
  std::string path = text;
  if (used >= 0) path += "\\" + std::to_string(used);
  return path;
}

int OpenResourceStore(ArchiveStore& store, platform::ResourceId type, platform::ResourceId name,
                      std::string* path) {
  const platform::ResourceId resolved = ResolveResourceType(type);
  if (IsMissing(name)) return kNotFound;
  if (name.text == nullptr && name.number >= kIdLimit) return kNotFound;
  if (resolved.text == nullptr && resolved.number >= kIdLimit) return kNotFound;
  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
  if (!platform::FindResourceData(resolved, name, &data, &size) || data == nullptr ||
      size > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return kNotFound;
  }
  store.Release();
  store.UseResource(data, static_cast<std::int32_t>(size));
  if (path != nullptr) *path = FormatResourcePath(resolved, name);
  return kOk;
}

int OpenMemoryStore(ArchiveStore& store, void* block, std::int32_t capacity, std::int32_t used,
                    std::string* path) {
  if (block == nullptr || capacity <= 0) return kNotFound;
  store.Release();
  if (reinterpret_cast<std::uintptr_t>(block) == kGrowableBlock) {
    // The capacity argument is the limit the block may grow to.
    if (!store.CreateGrowable(used, capacity)) return kNoMemory;
  } else {
    store.UseBlock(static_cast<unsigned char*>(block), capacity, used);
  }
  if (path != nullptr) {
    *path = FormatMemoryPath(store.Data(), capacity, static_cast<std::int32_t>(store.UsedSize()));
  }
  return kOk;
}

int MemoryOpenMode(std::int64_t used) {
  if (used < 0) return 1;
  return used == 0 ? 3 : 2;
}

}  // namespace korbel
