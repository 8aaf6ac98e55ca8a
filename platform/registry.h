// The registry: a tree of keys with typed values below a few root keys.
// Results are the system's error codes (0 success, kErrorFileNotFound,
// kErrorAccessDenied, kErrorMoreData, kErrorNoMoreItems, ...).
#ifndef PAKKARO_PLATFORM_REGISTRY_H
#define PAKKARO_PLATFORM_REGISTRY_H

#include <cstdint>

namespace platform {

using RegistryKey = std::uintptr_t;

constexpr RegistryKey kClassesRoot = 0x80000000u;
constexpr RegistryKey kCurrentUser = 0x80000001u;
constexpr RegistryKey kLocalMachine = 0x80000002u;
constexpr RegistryKey kUsers = 0x80000003u;
constexpr RegistryKey kCurrentConfig = 0x80000005u;
constexpr RegistryKey kDynData = 0x80000006u;

enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegString = 1,
  kRegExpandString = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiString = 7,
};

constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kKeyWow64Key64 = 0x100;
constexpr std::uint32_t kKeySetValue = 0x0002;

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key);
std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key);
std::uint32_t CloseRegistryKey(RegistryKey key);
// With data null only the type and size are answered; kErrorMoreData when
// the value does not fit `*size` bytes (then `*size` is the size needed).
std::uint32_t QueryRegistryValue(RegistryKey key, const char* name, std::uint32_t* type, void* data,
                                 std::uint32_t* size);
std::uint32_t SetRegistryValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                               std::uint32_t size);
// Deletes a sub-key that has no sub-keys of its own.
std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path);
std::uint32_t CountRegistrySubKeys(RegistryKey key, std::uint32_t* count);
// The name of sub-key `index`; `*length` is the buffer's capacity on the way
// in and the name's length on the way out.
std::uint32_t EnumRegistryKey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t* length);

// Where the POSIX build keeps its registry file; null or empty restores the
// default ($XDG_DATA_HOME or ~/.local/share, then pakkaro/registry.reg). The
// Windows build uses the system registry and ignores it.
void SetRegistryStorePath(const char* path);

}  // namespace platform

#endif  // PAKKARO_PLATFORM_REGISTRY_H
