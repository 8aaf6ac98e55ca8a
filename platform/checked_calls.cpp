// The public file calls that the fault injection can fail. The check is made
// here, once for both systems, before the backend does the real work, so
// that an injected fault leaves the same result, the same last error and the
// same count of calls on every system.
#include "platform/backend.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace platform {

namespace {

bool Fail(std::uint32_t code) {
  SetLastError(code);
  return false;
}

std::int64_t FailCount(std::uint32_t code) {
  SetLastError(code);
  return -1;
}

// A call that an injected fault of `op` fails whole, before the backend runs.
template <typename... Args>
bool Checked(Operation op, bool (*call)(Args...), Args... args) {
  return !FailInjected(op) && call(args...);
}

}  // namespace

Handle OpenFile(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                bool sequential) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  return backend::OpenFile(path, access, share, disposition, sequential);
}

Handle OpenSourceFile(const char* path) {
  if (FailInjected(Operation::kOpenFile)) return kInvalidHandle;
  return backend::OpenSourceFile(path);
}

std::int64_t ReadFile(Handle file, void* buffer, std::size_t size) {
  if (!backend::ValidHandle(file)) return FailCount(kErrorInvalidHandle);
  FaultKind fault;
  if (FaultFor(Operation::kReadFile, &fault)) {
    if (fault != FaultKind::kShortRead || size < 2) return FailCount(FaultError(fault));
    size /= 2;
  }
  return backend::ReadFile(file, buffer, size);
}

std::int64_t WriteFile(Handle file, const void* buffer, std::size_t size) {
  if (!backend::ValidHandle(file)) return FailCount(kErrorInvalidHandle);
  bool shortWrite = false;
  FaultKind fault;
  if (FaultFor(Operation::kWriteFile, &fault)) {
    if (fault != FaultKind::kShortWrite) return FailCount(FaultError(fault));
    shortWrite = true;
    size /= 2;
  }
  const std::int64_t written = backend::WriteFile(file, buffer, size);
  // The half that went out is reported as a device that filled up.
  if (shortWrite && written >= 0) SetLastError(kErrorDiskFull);
  return written;
}

std::int64_t SeekFile(Handle file, std::int64_t offset, std::uint32_t origin) {
  if (!backend::ValidHandle(file)) return FailCount(kErrorInvalidHandle);
  if (FailInjected(Operation::kSeekFile)) return -1;
  return backend::SeekFile(file, offset, origin);
}

bool TruncateFile(Handle file) {
  if (!backend::ValidHandle(file)) return Fail(kErrorInvalidHandle);
  if (FailInjected(Operation::kTruncateFile)) return false;
  return backend::TruncateFile(file);
}

bool CloseFile(Handle file) {
  if (!backend::ValidHandle(file)) return Fail(kErrorInvalidHandle);
  // The handle is released also when the close is to fail: only the result
  // tells of the fault.
  FaultKind fault;
  const bool injected = FaultFor(Operation::kCloseFile, &fault);
  if (!backend::CloseFile(file)) return false;
  if (injected) return Fail(FaultError(fault));
  return true;
}

bool DeleteFile(const char* path) { return Checked(Operation::kDeleteFile, backend::DeleteFile, path); }

bool DeleteFile(const WideChar* path) { return Checked(Operation::kDeleteFile, backend::DeleteFile, path); }

bool MoveFileOver(const char* from, const char* to) {
  return Checked(Operation::kDeleteFile, backend::MoveFileOver, from, to);
}

bool MoveFileNew(const char* from, const char* to) {
  return Checked(Operation::kDeleteFile, backend::MoveFileNew, from, to);
}

bool FlushFile(Handle file) {
  if (!backend::ValidHandle(file)) return Fail(kErrorInvalidHandle);
  return Checked(Operation::kFlushFile, backend::FlushFile, file);
}

bool CopyFileData(Handle from, std::int64_t fromOffset, Handle to, std::int64_t toOffset,
                  std::uint64_t length) {
  if (!backend::ValidHandle(from) || !backend::ValidHandle(to)) return Fail(kErrorInvalidHandle);
  if (fromOffset < 0 || toOffset < 0) return Fail(kErrorInvalidParameter);
  return Checked(Operation::kWriteFile, backend::CopyFileData, from, fromOffset, to, toOffset, length);
}

bool CreateDirectory(const char* path) {
  return Checked(Operation::kCreateDirectory, backend::CreateDirectory, path);
}

bool CreateDirectory(const WideChar* path) {
  return Checked(Operation::kCreateDirectory, backend::CreateDirectory, path);
}

bool FileMapping::Map(Handle file, std::uint64_t size) {
  Unmap();
  if (FailInjected(Operation::kFileMapping)) return false;
  if (!backend::MapFile(file, size, &data_, &mapping_)) return false;
  size_ = size;
  return true;
}

}  // namespace platform
