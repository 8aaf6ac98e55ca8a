// CRegistryKeyStack: opens one registry key below a root, then walks down
// into sub-keys and back up, keeping every key on the way open.
#ifndef PAKKARO_APP_REGISTRY_KEY_STACK_H
#define PAKKARO_APP_REGISTRY_KEY_STACK_H

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace pakkaro {

// Result codes of the stack's own, kept beside the system's.
enum RegistryStackError : std::int32_t {
  kNoKeyOpen = 0x5815,
  kStackFull = 0x5816,
  kKeyNotOpened = 0x5817,  // or a write asked of a key opened for reading
  kNoData = 0x5818,
};

class CRegistryKeyStack {
 public:
  static constexpr int kLevels = 12;
  static constexpr int kNameCapacity = 260;

  CRegistryKeyStack() = default;
  ~CRegistryKeyStack() { CloseAll(); }
  CRegistryKeyStack(const CRegistryKeyStack&) = delete;
  CRegistryKeyStack& operator=(const CRegistryKeyStack&) = delete;

  // mode: low 6 bits 0 read, 1 write, 2 write and create; the bits above are
  // further access rights. A root of 0 takes the root from the path.
  bool OpenKey(platform::RegistryKey root, const char* path, std::uint32_t mode);
  bool CreateKey(platform::RegistryKey root, const char* path, std::uint32_t flags);
  bool OpenSubKey(const char* name, bool noCreate);
  bool CreateSubKey(const char* name);
  bool CloseSubKey();
  bool CloseAll();
  bool QueryString(char* buffer, std::uint32_t size, const char* valueName, std::uint32_t type);
  bool SetValue(const void* data, std::uint32_t size, const char* valueName, std::uint32_t type);
  bool DeleteSubKey(const char* name);

  std::int32_t LastError() const { return lastError_; }
  int Depth() const { return depth_; }
  int Mode() const { return mode_; }
  std::uint32_t ValueType() const { return valueType_; }
  std::uint32_t DataSize() const { return dataSize_; }
  const char* LevelName(int level) const;

 private:
  bool Succeed() {
    lastError_ = 0;
    return true;
  }
  bool Refuse(std::int32_t code) {
    lastError_ = code;
    return false;
  }
  bool CheckTop();
  // `retryWithout64`: the 64-bit view bit was added by us, not the caller, and
  // an open refused with access denied is tried once more without it.
  bool OpenPath(platform::RegistryKey root, const char* path, bool create, bool retryWithout64);
  void Push(platform::RegistryKey key, const char* name);
  void RememberName(const char* name);

  platform::RegistryKey current_ = 0;
  platform::RegistryKey root_ = 0;
  char name_[kNameCapacity] = {};
  std::uint32_t valueType_ = 0;
  std::uint32_t dataSize_ = 0;
  std::uint32_t nameLength_ = 0;
  platform::RegistryKey keys_[kLevels] = {};
  std::uint32_t valueIndex_[kLevels] = {};
  std::uint32_t subKeyIndex_[kLevels] = {};
  std::string levelNames_[kLevels];
  int depth_ = -1;
  int mode_ = 0;
  std::uint32_t access_ = 0;
  std::int32_t lastError_ = 0;
};

}  // namespace pakkaro

#endif  // PAKKARO_APP_REGISTRY_KEY_STACK_H
