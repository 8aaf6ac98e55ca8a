// The registry through its wide calls: key and value names and string data
// are narrow text (UTF-8) here and UTF-16 in the registry, so that a program
// path outside the ANSI code page is written as it is. Text read back is
// UTF-8.
#include "platform/registry.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/long_path.h"
#include "platform/win32/windows_api.h"

namespace platform {
namespace {

HKEY Native(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Text for the registry: narrow text is UTF-8; a text that is not UTF-8 is
// one of the program's own German texts (menu and verb texts), which are
// Windows-1252.
void WideText(const char* text, std::size_t length, std::wstring* wide) {
  if (win32::ToWide(text, length, wide)) return;
  wide->clear();
  const int count = ::MultiByteToWideChar(1252, 0, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return;
  wide->resize(static_cast<std::size_t>(count));
  ::MultiByteToWideChar(1252, 0, text, static_cast<int>(length), &(*wide)[0], count);
}

// A name for a wide call, held in `wide`; null stays null (the default value).
const wchar_t* WideName(const char* name, std::wstring* wide) {
  if (name == nullptr) return nullptr;
  WideText(name, std::strlen(name), wide);
  return wide->c_str();
}

}  // namespace

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  std::wstring wide;
  const wchar_t* name = WideName(path, &wide);
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExW(Native(parent), name, 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(opened);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access,
                                RegistryKey* key) {
  std::wstring wide;
  const wchar_t* name = WideName(path, &wide);
  HKEY created = nullptr;
  const LONG result = RegCreateKeyExW(Native(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                      nullptr, &created, nullptr);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(created);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t CloseRegistryKey(RegistryKey key) {
  return static_cast<std::uint32_t>(RegCloseKey(Native(key)));
}

// Text values are read whole as UTF-16 and answered as narrow text, with the
// sizes of the narrow text; other values as they are.
std::uint32_t QueryRegistryValue(RegistryKey key, const char* name, std::uint32_t* type, void* data,
                                 std::uint32_t* size) {
  std::wstring wide;
  const wchar_t* valueName = WideName(name, &wide);
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
  result = RegQueryValueExW(Native(key), valueName, nullptr, &valueType,
                            reinterpret_cast<BYTE*>(units.data()), &got);
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
  const wchar_t* valueName = WideName(name, &wide);
  if (!IsText(type) || data == nullptr) {
    return static_cast<std::uint32_t>(
        RegSetValueExW(Native(key), valueName, 0, type, static_cast<const BYTE*>(data), size));
  }
  // The byte count decides what is written, terminator or not, as it does
  // for the narrow text.
  std::wstring text;
  WideText(static_cast<const char*>(data), size, &text);
  return static_cast<std::uint32_t>(RegSetValueExW(Native(key), valueName, 0, type,
                                                   reinterpret_cast<const BYTE*>(text.data()),
                                                   static_cast<DWORD>(text.size() * sizeof(wchar_t))));
}

std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path) {
  std::wstring wide;
  const wchar_t* name = WideName(path, &wide);
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
