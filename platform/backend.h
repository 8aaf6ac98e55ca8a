// The calls that the portable front in checked_calls.cpp makes after the
// fault injection has had its say. Each system's folder defines them; nothing
// outside platform/ includes this header.
//
// The front has already refused an invalid handle (see ValidHandle) and
// taken any injected fault, so these do only the system's work. What they
// leave in LastError() is what the public call reports.
#ifndef PAKKARO_PLATFORM_BACKEND_H
#define PAKKARO_PLATFORM_BACKEND_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform {
namespace backend {

// Whether `file` can name an open file on this system at all.
bool ValidHandle(Handle file);

Handle OpenFile(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                bool sequential);
Handle OpenSourceFile(const char* path);
std::int64_t ReadFile(Handle file, void* buffer, std::size_t size);
std::int64_t WriteFile(Handle file, const void* buffer, std::size_t size);
std::int64_t SeekFile(Handle file, std::int64_t offset, std::uint32_t origin);
bool TruncateFile(Handle file);
// Releases the handle; false when it could not (LastError() tells why).
bool CloseFile(Handle file);

bool DeleteFile(const char* path);
bool DeleteFile(const WideChar* path);
bool MoveFileOver(const char* from, const char* to);
bool MoveFileNew(const char* from, const char* to);
bool FlushFile(Handle file);
bool CopyFileData(Handle from, std::int64_t fromOffset, Handle to, std::int64_t toOffset,
                  std::uint64_t length);
bool CreateDirectory(const char* path);
bool CreateDirectory(const WideChar* path);

// Maps `size` bytes of `file`; on success the view and the system's mapping
// object (0 where there is none) go to `data` and `mapping`.
bool MapFile(Handle file, std::uint64_t size, unsigned char** data, std::intptr_t* mapping);

}  // namespace backend

}  // namespace platform

#endif  // PAKKARO_PLATFORM_BACKEND_H
