// Pseudo paths under which an archive held in the program's resources
// ("res:\\TYPE-NAME") or in a memory block ("mem:\\ADDRESS-CAPACITY\USED")
// is opened, and the preparation of the archive store for them.
#ifndef PAKKARO_ZIP_IO_PSEUDO_PATH_H
#define PAKKARO_ZIP_IO_PSEUDO_PATH_H

#include <cstdint>
#include <string>

#include "platform/resources.h"

namespace korbel {

class ArchiveStore;

// Resource type numbers that a type name stands for.
enum ResourceType : std::uint32_t {
  kResourceCursor = 1,
  kResourceBitmap = 2,
  kResourceIcon = 3,
  kResourceHtml = 23,
};

// The block value that asks OpenMemoryStore for a growable block.
constexpr std::uintptr_t kGrowableBlock = 1;

enum class PseudoKind { kNone, kResource, kMemory };

struct ResourcePath {
  bool hasType = false;          // false: no type was given ("DATA" applies)
  std::uint32_t typeNumber = 0;  // used when typeText is empty
  std::string typeText;
  std::uint32_t nameNumber = 0;  // used when nameText is empty
  std::string nameText;
  bool nameTaken = true;  // false for a name of 63 characters or more

  // Ids that point into this object. A missing type is {null, 0}; a name
  // that was not taken is {null, 0}, which no resource carries.
  platform::ResourceId Type() const;
  platform::ResourceId Name() const;
};

struct MemoryPath {
  std::uintptr_t address = 0;
  std::int32_t capacity = 0;  // a value beyond 31 bits reads as negative
  std::int32_t used = -1;     // -1 when the path holds none
};

struct PseudoPath {
  PseudoKind kind = PseudoKind::kNone;
  ResourcePath resource;
  MemoryPath memory;
};

// "res:" or "mem:" (any case) followed by two separators, each '\' or '/'.
PseudoKind PseudoPathKind(const char* path);
// The parts of a pseudo path; kind kNone for any other path.
PseudoPath ParsePseudoPath(const char* path);

// A missing type ({null, 0}) becomes "DATA"; the type names CURSOR, BITMAP,
// ICON and HTML (any case) become their numbers; anything else is kept.
platform::ResourceId ResolveResourceType(platform::ResourceId type);
// "res:\\" type "-" name, each as text or as decimal number.
std::string FormatResourcePath(platform::ResourceId type, platform::ResourceId name);
// "mem:\\" address (upper-case hex, at least 8 digits) "-" capacity, then
// "\" used when used is 0 or more.
std::string FormatMemoryPath(const void* address, std::int32_t capacity, std::int32_t used);

// Makes `store` a read-only memory store over a resource of the program and
// gives the archive path: kOk, or kNotFound when there is no such resource.
// The store is released first.
int OpenResourceStore(ArchiveStore& store, platform::ResourceId type, platform::ResourceId name,
                      std::string* path);
// Makes `store` a memory store over the caller's block, or (block
// kGrowableBlock) over a new growable block of at least 262144 bytes (or
// `used` when larger) that may grow to `capacity`, used size 0. Answers kOk,
// kNotFound for no block or a capacity of 0 or less, kNoMemory when the
// growable block cannot be allocated. The store is released first.
int OpenMemoryStore(ArchiveStore& store, void* block, std::int32_t capacity, std::int32_t used,
                    std::string* path);
// The open mode for a memory store's used size: 1 read (negative), 3 create
// (0), 2 modify (positive).
int MemoryOpenMode(std::int64_t used);

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_PSEUDO_PATH_H
