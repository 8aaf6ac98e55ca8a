#include "platform/registry.h"

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HKEY Native(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExA(Native(parent), path, 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  HKEY created = nullptr;
  const LONG result = RegCreateKeyExA(Native(parent), path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                      nullptr, &created, nullptr);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(created);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CloseRegistryKey(RegistryKey key) { return static_cast<std::uint32_t>(RegCloseKey(Native(key))); }

std::uint32_t QueryRegistryValue(RegistryKey key, const char* name, std::uint32_t* type, void* data,
                                 std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD bytes = size != nullptr ? *size : 0;
  const LONG result =
      RegQueryValueExA(Native(key), name, nullptr, &valueType, static_cast<BYTE*>(data), size ? &bytes : nullptr);
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = bytes;
  return static_cast<std::uint32_t>(result);
}

std::uint32_t SetRegistryValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                               std::uint32_t size) {
  return static_cast<std::uint32_t>(
      RegSetValueExA(Native(key), name, 0, type, static_cast<const BYTE*>(data), size));
}

std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path) {
  return static_cast<std::uint32_t>(RegDeleteKeyA(Native(key), path));
}

std::uint32_t CountRegistrySubKeys(RegistryKey key, std::uint32_t* count) {
  DWORD subKeys = 0;
  const LONG result = RegQueryInfoKeyA(Native(key), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
  *count = subKeys;
  return static_cast<std::uint32_t>(result);
}

std::uint32_t EnumRegistryKey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t* length) {
  DWORD size = *length;
  const LONG result = RegEnumKeyExA(Native(key), index, name, &size, nullptr, nullptr, nullptr, nullptr);
  *length = size;
  return static_cast<std::uint32_t>(result);
}

void SetRegistryStorePath(const char*) {}

}  // namespace platform
