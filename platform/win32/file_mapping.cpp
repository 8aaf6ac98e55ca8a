#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/win32/windows_api.h"

namespace platform {

bool backend::MapFile(Handle file, std::uint64_t size, unsigned char** data, std::intptr_t* mapping) {
  if (file == kInvalidHandle) return win32::Fail(kErrorInvalidHandle);
  if (size == 0) return win32::Fail(kErrorInvalidParameter);
  if (size > SIZE_MAX) return win32::Fail(kErrorNotEnoughMemory);
  const HANDLE section =
      ::CreateFileMappingW(win32::ToHandle(file), nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                           static_cast<DWORD>(size & 0xFFFFFFFFu), nullptr);
  if (section == nullptr) return false;
  void* view = ::MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(size));
  if (view == nullptr) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(section);
    return win32::Fail(error);
  }
  *data = static_cast<unsigned char*>(view);
  *mapping = reinterpret_cast<std::intptr_t>(section);
  NoteHandleOpened();
  return true;
}

void FileMapping::Unmap() {
  if (data_ != nullptr) {
    ::UnmapViewOfFile(data_);
    NoteHandleClosed();
  }
  if (mapping_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(mapping_));
  data_ = nullptr;
  size_ = 0;
  mapping_ = 0;
}

}  // namespace platform
