// The registry through its wide calls: key and value names and string data
// are narrow text (UTF-8) here and UTF-16 in the registry, so that a program
// path outside the ANSI code page is written as it is.
#include "platform/registry.h"

#include <algorithm>
#include <vector>

#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HKEY Native(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A name for a wide call; null stays null (the default value).
bool WideName(const char* name, std::wstring* wide, const wchar_t** pointer) {
  *pointer = nullptr;
  if (name == nullptr) return true;
  if (!win32::ToWide(name, wide)) return false;
  *pointer = wide->c_str();
  return true;
}

}  // namespace

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  std::wstring wide;
  const wchar_t* name;
  if (!WideName(path, &wide, &name)) return kErrorInvalidParameter;
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExW(Native(parent), name, 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  std::wstring wide;
  const wchar_t* name;
  if (!WideName(path, &wide, &name)) return kErrorInvalidParameter;
  HKEY created = nullptr;
  const LONG result =
      RegCreateKeyExW(Native(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &created, nullptr);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(created);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CloseRegistryKey(RegistryKey key) { return static_cast<std::uint32_t>(RegCloseKey(Native(key))); }

// Text values are read whole as UTF-16 and answered as narrow text, with the
// sizes of the narrow text; other values as they are.
std::uint32_t QueryRegistryValue(RegistryKey key, const char* name, std::uint32_t* type, void* data,
                                 std::uint32_t* size) {
  std::wstring wide;
  const wchar_t* valueName;
  if (!WideName(name, &wide, &valueName)) return kErrorInvalidParameter;
  DWORD valueType = 0;
  DWORD bytes = 0;
  LONG result = RegQueryValueExW(Native(key), valueName, nullptr, &valueType, nullptr, &bytes);
  if (type != nullptr) *type = valueType;
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  if (!IsText(valueType)) {
    bytes = size != nullptr ? *size : 0;
    result = RegQueryValueExW(Native(key), valueName, nullptr, &valueType, static_cast<BYTE*>(data),
                              size != nullptr ? &bytes : nullptr);
    if (size != nullptr) *size = bytes;
    return static_cast<std::uint32_t>(result);
  }
  std::vector<wchar_t> units(bytes / sizeof(wchar_t) + 1);
  DWORD got = static_cast<DWORD>(units.size() * sizeof(wchar_t));
  result = RegQueryValueExW(Native(key), valueName, nullptr, &valueType, reinterpret_cast<BYTE*>(units.data()), &got);
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  const std::string narrow = win32::ToNarrow(units.data(), got / sizeof(wchar_t));
  if (size == nullptr) return kErrorSuccess;
  const std::uint32_t capacity = *size;
  *size = static_cast<std::uint32_t>(narrow.size());
  if (data == nullptr) return kErrorSuccess;
  if (narrow.size() > capacity) return kErrorMoreData;
  std::copy(narrow.begin(), narrow.end(), static_cast<char*>(data));
  return kErrorSuccess;
}

std::uint32_t SetRegistryValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                               std::uint32_t size) {
  std::wstring wide;
  const wchar_t* valueName;
  if (!WideName(name, &wide, &valueName)) return kErrorInvalidParameter;
  if (!IsText(type) || data == nullptr) {
    return static_cast<std::uint32_t>(
        RegSetValueExW(Native(key), valueName, 0, type, static_cast<const BYTE*>(data), size));
  }
  // The byte count decides what is written, terminator or not, as it does
  // for the narrow text.
  std::wstring text;
  if (!win32::ToWide(static_cast<const char*>(data), size, &text)) return kErrorInvalidParameter;
  return static_cast<std::uint32_t>(RegSetValueExW(Native(key), valueName, 0, type,
                                                   reinterpret_cast<const BYTE*>(text.data()),
                                                   static_cast<DWORD>(text.size() * sizeof(wchar_t))));
}

std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path) {
  std::wstring wide;
  const wchar_t* name;
  if (!WideName(path, &wide, &name)) return kErrorInvalidParameter;
  return static_cast<std::uint32_t>(RegDeleteKeyW(Native(key), name));
}

std::uint32_t CountRegistrySubKeys(RegistryKey key, std::uint32_t* count) {
  DWORD subKeys = 0;
  const LONG result = RegQueryInfoKeyW(Native(key), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
  *count = subKeys;
  return static_cast<std::uint32_t>(result);
}

std::uint32_t EnumRegistryKey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t* length) {
  wchar_t wide[256];  // a key name has at most 255 units
  DWORD units = sizeof wide / sizeof wide[0];
  const LONG result = RegEnumKeyExW(Native(key), index, wide, &units, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  const std::string narrow = win32::ToNarrow(wide, units);
  if (narrow.size() >= *length) return kErrorMoreData;
  std::copy(narrow.begin(), narrow.end(), name);
  name[narrow.size()] = 0;
  *length = static_cast<std::uint32_t>(narrow.size());
  return kErrorSuccess;
}

void SetRegistryStorePath(const char*) {}

}  // namespace platform
