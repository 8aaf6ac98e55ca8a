// Data blocks built into the program, found by type and name.
#ifndef PAKKARO_PLATFORM_RESOURCES_H
#define PAKKARO_PLATFORM_RESOURCES_H

#include <cstdint>

namespace platform {

// A resource type or name: a text, or (text null) a number below 65536.
struct ResourceId {
  const char* text;
  std::uint32_t number;
};

// Finds a resource of the program's own module and gives its bytes, which stay
// valid for the life of the process; false when there is none.
bool FindResourceData(ResourceId type, ResourceId name, const unsigned char** data, std::uint32_t* size);

// Adds a blob to the table that stands in for module resources where the
// system has none (the POSIX build); the Windows build answers false and
// keeps using its real resources. Text ids are compared without case.
bool RegisterResourceData(ResourceId type, ResourceId name, const unsigned char* data, std::uint32_t size);

}  // namespace platform

#endif  // PAKKARO_PLATFORM_RESOURCES_H
