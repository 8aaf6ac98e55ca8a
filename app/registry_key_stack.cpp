#include "app/registry_key_stack.h"

#include <cstring>

#include "platform/platform.h"

namespace pakkaro {
namespace {

constexpr std::uint32_t kModeMask = 0x3F;
constexpr int kMaxTop = 10;  // value operations and pushes need depth <= 10

struct RootName {
  const char* name;
  platform::RegistryKey key;
};

constexpr RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", platform::kClassesRoot},     {"HKEY_CURRENT_USER", platform::kCurrentUser},
    {"HKEY_LOCAL_MACHINE", platform::kLocalMachine},   {"HKEY_USERS", platform::kUsers},
    {"HKEY_CURRENT_CONFIG", platform::kCurrentConfig}, {"HKEY_DYN_DATA", platform::kDynData},
};

bool EqualIgnoringCase(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// Takes the root from the start of the path; a path without one lies below
// HKEY_CURRENT_USER.
platform::RegistryKey RootOf(const char** path) {
  for (const RootName& root : kRoots) {
    const std::size_t length = std::strlen(root.name);
    if (std::strlen(*path) >= length && EqualIgnoringCase(*path, root.name, length) &&
        ((*path)[length] == '\\' || (*path)[length] == '\0')) {
      *path += length;
      if (**path == '\\') ++*path;
      return root.key;
    }
  }
  return platform::kCurrentUser;
}

}  // namespace

const char* CRegistryKeyStack::LevelName(int level) const {
  return (level >= 0 && level <= depth_) ? levelNames_[level].c_str() : nullptr;
}

void CRegistryKeyStack::RememberName(const char* name) {
  const char* text = name != nullptr ? name : "";
  std::size_t length = std::strlen(text);
  if (length > 256) length = 256;
  std::memcpy(name_, text, length);
  name_[length] = '\0';
  nameLength_ = static_cast<std::uint32_t>(length);
}

bool CRegistryKeyStack::CheckTop() {
  if (depth_ < 0 || current_ == 0) return Refuse(kNoKeyOpen);
  if (depth_ > kMaxTop) return Refuse(kStackFull);
  return true;
}

void CRegistryKeyStack::Push(platform::RegistryKey key, const char* name) {
  ++depth_;
  keys_[depth_] = key;
  valueIndex_[depth_] = 0;
  subKeyIndex_[depth_] = 0;
  levelNames_[depth_] = name != nullptr ? name : "";
  current_ = key;
}

bool CRegistryKeyStack::OpenPath(platform::RegistryKey root, const char* path, bool create,
                                 bool retryWithout64) {
  root_ = root;
  platform::RegistryKey key = 0;
  std::uint32_t result;
  if (create) {
    result = platform::CreateRegistryKey(root, path, access_, &key);
  } else {
    result = platform::OpenRegistryKey(root, path, access_, &key);
    // A system without the 64-bit view refuses the bit that was added for it.
    if (result == platform::kErrorAccessDenied && retryWithout64) {
      access_ &= ~platform::kKeyWow64Key64;
      result = platform::OpenRegistryKey(root, path, access_, &key);
    }
  }
  if (result != 0) return Refuse(static_cast<std::int32_t>(result));
  Push(key, path);
  return Succeed();
}

bool CRegistryKeyStack::OpenKey(platform::RegistryKey root, const char* path, std::uint32_t mode) {
  CloseAll();
  mode_ = static_cast<int>(mode & kModeMask);
  const std::uint32_t further = mode & ~kModeMask;
  access_ = (mode_ == 0 ? platform::kKeyRead : platform::kKeyAllAccess) | further;
  const char* rest = path != nullptr ? path : "";
  const platform::RegistryKey effectiveRoot = root != 0 ? root : RootOf(&rest);
  const bool added64 = effectiveRoot == platform::kLocalMachine && further == 0;
  if (added64) access_ |= platform::kKeyWow64Key64;
  if (OpenPath(effectiveRoot, rest, false, added64)) return true;
  if (mode_ == 2) return CreateKey(effectiveRoot, rest, further);
  return Refuse(kKeyNotOpened);
}

bool CRegistryKeyStack::CreateKey(platform::RegistryKey root, const char* path, std::uint32_t flags) {
  CloseAll();
  mode_ = 2;
  const char* rest = path != nullptr ? path : "";
  const platform::RegistryKey effectiveRoot = root != 0 ? root : RootOf(&rest);
  access_ = platform::kKeyAllAccess | (flags & ~kModeMask);
  if (effectiveRoot == platform::kLocalMachine) access_ |= platform::kKeyWow64Key64;
  return OpenPath(effectiveRoot, rest, true, false);
}

bool CRegistryKeyStack::OpenSubKey(const char* name, bool noCreate) {
  if (!CheckTop()) return false;
  platform::RegistryKey key = 0;
  const std::uint32_t result = platform::OpenRegistryKey(current_, name, access_, &key);
  if (result == 0) {
    Push(key, name);
    return Succeed();
  }
  if (mode_ == 2 && !noCreate) return CreateSubKey(name);
  return Refuse(result == platform::kErrorAccessDenied ? static_cast<std::int32_t>(result) : kKeyNotOpened);
}

bool CRegistryKeyStack::CreateSubKey(const char* name) {
  if (!CheckTop()) return false;
  if (mode_ != 2) return Refuse(kKeyNotOpened);
  platform::RegistryKey key = 0;
  const std::uint32_t result = platform::CreateRegistryKey(current_, name, access_, &key);
  if (result != 0) return Refuse(static_cast<std::int32_t>(result));
  Push(key, name);
  return Succeed();
}

bool CRegistryKeyStack::CloseSubKey() {
  if (depth_ < 0) return Refuse(kNoKeyOpen);
  const std::uint32_t result = platform::CloseRegistryKey(keys_[depth_]);
  keys_[depth_] = 0;
  levelNames_[depth_].clear();
  --depth_;
  current_ = depth_ >= 0 ? keys_[depth_] : 0;
  if (result != 0) return Refuse(static_cast<std::int32_t>(result));
  return Succeed();
}

bool CRegistryKeyStack::CloseAll() {
  std::int32_t lastFailure = 0;
  while (depth_ >= 0) {
    if (!CloseSubKey()) lastFailure = lastError_;
  }
  lastError_ = lastFailure;
  return lastFailure == 0;
}

bool CRegistryKeyStack::QueryString(char* buffer, std::uint32_t size, const char* valueName,
                                    std::uint32_t type) {
  const std::uint32_t terminator = type == platform::kRegMultiString ? 2 : 1;
  const bool stringType =
      type == platform::kRegString || type == platform::kRegExpandString || type == platform::kRegMultiString;
  auto leaveEmpty = [&]() {
    if (buffer != nullptr && size >= terminator) std::memset(buffer, 0, terminator);
    dataSize_ = stringType ? terminator : 0;
  };
  if (!CheckTop()) {
    leaveEmpty();
    return false;
  }
  if (buffer == nullptr) return Refuse(static_cast<std::int32_t>(platform::kErrorInvalidParameter));
  RememberName(valueName);
  std::uint32_t bytes = size;
  std::uint32_t actualType = 0;
  const std::uint32_t result = platform::QueryRegistryValue(current_, valueName, &actualType, buffer, &bytes);
  valueType_ = actualType;
  if (result != 0) {
    leaveEmpty();
    return Refuse(static_cast<std::int32_t>(result));
  }
  // The data may lack its terminator: add it when there is room.
  std::uint32_t present = 0;
  while (present < terminator && bytes > present && buffer[bytes - 1 - present] == '\0') ++present;
  if (bytes == 0) present = 0;
  const std::uint32_t missing = stringType ? terminator - present : 0;
  if (bytes + missing > size) {
    leaveEmpty();
    return Refuse(static_cast<std::int32_t>(platform::kErrorMoreData));
  }
  std::memset(buffer + bytes, 0, missing);
  dataSize_ = bytes + missing;
  return Succeed();
}

bool CRegistryKeyStack::SetValue(const void* data, std::uint32_t size, const char* valueName,
                                 std::uint32_t type) {
  if (!CheckTop()) return false;
  if (mode_ != 1 && mode_ != 2) return Refuse(kKeyNotOpened);
  if (data == nullptr) return Refuse(kNoData);
  RememberName(valueName);
  const std::uint32_t result = platform::SetRegistryValue(current_, valueName, type, data, size);
  valueType_ = type;
  dataSize_ = size;
  if (result != 0) return Refuse(static_cast<std::int32_t>(result));
  return Succeed();
}

bool CRegistryKeyStack::DeleteSubKey(const char* name) {
  if (!CheckTop()) return false;
  // An empty name would name the top key itself.
  if (name == nullptr || *name == '\0') {
    return Refuse(static_cast<std::int32_t>(platform::kErrorInvalidParameter));
  }
  if (platform::DeleteRegistryKey(current_, name) == 0) return Succeed();
  // A key with sub-keys goes bottom up.
  if (!OpenSubKey(name, true)) return false;
  std::uint32_t count = 0;
  platform::CountRegistrySubKeys(current_, &count);
  for (std::uint32_t index = count; index-- > 0;) {
    char child[kNameCapacity];
    std::uint32_t length = sizeof child;
    if (platform::EnumRegistryKey(current_, index, child, &length) == 0) DeleteSubKey(child);
  }
  CloseSubKey();
  const std::uint32_t result = platform::DeleteRegistryKey(current_, name);
  if (result != 0) return Refuse(static_cast<std::int32_t>(result));
  return Succeed();
}

}  // namespace pakkaro
