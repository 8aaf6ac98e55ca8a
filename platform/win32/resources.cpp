#include "platform/resources.h"

#include "platform/win32/windows_api.h"

namespace platform {

namespace {

LPCSTR ResourceName(ResourceId id) { return id.text != nullptr ? id.text : MAKEINTRESOURCEA(id.number); }

bool ValidId(ResourceId id) { return id.text != nullptr || id.number < 0x10000; }

}  // namespace

bool FindResourceData(ResourceId type, ResourceId name, const unsigned char** data, std::uint32_t* size) {
  if (data == nullptr || size == nullptr || !ValidId(type) || !ValidId(name)) {
    return win32::Fail(kErrorInvalidParameter);
  }
  const HMODULE module = ::GetModuleHandleA(nullptr);
  const HRSRC found = ::FindResourceA(module, ResourceName(name), ResourceName(type));
  if (found == nullptr) return false;
  const HGLOBAL loaded = ::LoadResource(module, found);
  if (loaded == nullptr) return false;
  const void* bytes = ::LockResource(loaded);
  if (bytes == nullptr) return false;
  *data = static_cast<const unsigned char*>(bytes);
  *size = ::SizeofResource(module, found);
  return true;
}

// The program's own resources are the only ones; nothing can be added.
bool RegisterResourceData(ResourceId, ResourceId, const unsigned char*, std::uint32_t) {
  return win32::Fail(ERROR_NOT_SUPPORTED);
}

}  // namespace platform
