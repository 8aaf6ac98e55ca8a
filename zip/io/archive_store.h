// ArchiveStore: where the archive bytes live. A store is in file mode while
// it holds a file handle; otherwise it is in memory mode over an owned
// growable block, a caller's block, or a read-only resource. An owned block
// that can no longer grow may spill into a temporary file, after which the
// store is in file mode for good.
#ifndef PAKKARO_ZIP_IO_ARCHIVE_STORE_H
#define PAKKARO_ZIP_IO_ARCHIVE_STORE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "zip/io/data_stream.h"

namespace korbel {

class ArchiveStore {
 public:
  // A new growable block holds at least this much.
  static constexpr std::int32_t kStartCapacity = 262144;
  // A rebuilt archive image starts with at least this much.
  static constexpr std::int32_t kRebuildStartCapacity = 131072;
  // Memory positions, sizes and limits are 32-bit values.
  static constexpr std::int64_t kMemoryLimit = 0x7FFFFFFF;
  // Capacity of the temporary file name, terminator included.
  static constexpr std::size_t kNameCapacity = 260;

  ArchiveStore();
  ~ArchiveStore();
  ArchiveStore(const ArchiveStore&) = delete;
  ArchiveStore& operator=(const ArchiveStore&) = delete;

  // ---- Settings (kept across Release; BeginRebuild hands them on) ----------

  // A read that delivers fewer bytes than asked raises kReadError.
  void SetRaiseOnShortRead(bool on) { raiseOnShortRead_ = on; }
  bool RaisesOnShortRead() const { return raiseOnShortRead_; }
  // A failed write raises kWriteError (kFileCreateError when the temporary
  // file cannot be made); otherwise it answers -1.
  void SetRaiseOnWriteFailure(bool on) { raiseOnWriteFailure_ = on; }
  bool RaisesOnWriteFailure() const { return raiseOnWriteFailure_; }
  // An owned block that cannot grow moves to a temporary file.
  void SetSpillAllowed(bool on) { spillAllowed_ = on; }
  bool SpillAllowed() const { return spillAllowed_; }
  // Folder for temporary files; null or empty means the system's.
  void SetTempFolder(const char* folder);
  const char* TempFolder() const { return tempFolder_; }

  // ---- Attaching the bytes ----------------------------------------------------

  // Opens the archive file (platform::OpenFile arguments); false when the
  // system refuses, its error left in platform::LastError().
  bool OpenFile(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition);
  // Takes ownership of an open file handle.
  void AttachFile(platform::Handle file);
  // Closes the file handle only: used when the archive file is opened again
  // with other access. The temporary-file name stays. False when the system
  // reported a failure (the handle is released all the same).
  bool CloseFile();
  // Makes what was written to the file durable; true in memory mode.
  bool FlushFile();
  // Hands the file handle to the caller, leaving the store without one.
  platform::Handle DetachFile();
  // An owned growable block of at least kStartCapacity bytes (or `initial`
  // when larger) that may grow up to `maximum`; false when it cannot be
  // allocated.
  bool CreateGrowable(std::int64_t initial, std::int64_t maximum);
  // The caller's block, never reallocated. `used` is the archive content in
  // it; -1 means the whole capacity.
  void UseBlock(unsigned char* block, std::int32_t capacity, std::int32_t used);
  // A read-only block (a program resource): used size -1.
  void UseResource(const unsigned char* data, std::int32_t size);
  // Closes the handle, forgets a resource, frees owned blocks and ends a
  // rebuild; the settings stay. The temporary file, if any, is not deleted:
  // it may hold the only copy of the archive.
  void Release();

  // ---- State -------------------------------------------------------------------

  bool IsFileMode() const { return bytes_.file != platform::kInvalidHandle; }
  bool IsMemoryMode() const { return !IsFileMode(); }
  // Neither a file nor a block is attached.
  bool IsEmpty() const { return !IsFileMode() && bytes_.data == nullptr; }
  bool OwnsBuffer() const { return bytes_.owned != nullptr; }
  bool IsReadOnly() const { return bytes_.readOnly; }
  platform::Handle FileHandle() const { return bytes_.file; }
  unsigned char* Data() const { return bytes_.data; }
  std::int32_t Capacity() const { return bytes_.capacity; }
  std::int64_t UsedSize() const { return bytes_.used; }
  std::int32_t MaximumSize() const { return bytes_.maximum; }
  // Size of the file when it was opened, spilled to or rebuilt.
  std::int64_t FileSize() const { return bytes_.fileSize; }
  void RefreshFileSize();
  // The store moved from memory into a temporary file whose name TempName holds.
  bool HasSpilled() const { return bytes_.spilled; }
  const char* TempName() const { return tempName_; }

  // ---- Access ------------------------------------------------------------------

  // Bytes read; short reads raise kReadError when RaisesOnShortRead, else
  // the count (or -1 for a failed file read) is answered.
  std::int64_t Read(void* buffer, std::size_t length);
  // Reads exactly `length` bytes at `position`; anything less raises
  // kReadError.
  void ReadAt(std::int64_t position, void* buffer, std::size_t length);
  // Bytes written (always `length`), or -1 / a raised code on failure.
  std::int64_t Write(const void* buffer, std::size_t length);
  // New position, or -1 when a file seek fails. A memory position stays
  // within 0 and kMemoryLimit.
  std::int64_t Seek(std::int64_t offset, std::uint32_t origin);
  std::int64_t Tell() const;
  std::int64_t Size() const;
  // Ends the archive at the current position: 0, or -1 / a raised code.
  int Truncate();
  // Empties the archive: 0, or -1 / a raised code.
  int Clear();

  // ---- Streams -----------------------------------------------------------------

  // Makes the store the output side of `stream`.
  void ConnectOutput(DataStream& stream, std::uint32_t seed = kNoCrc);
  // Makes the store the input side of `stream` for `length` bytes from the
  // current position; a negative length reads to the end.
  void ConnectInput(DataStream& stream, std::int64_t length, std::uint32_t seed = kNoCrc);

  // ---- Rebuilding ---------------------------------------------------------------

  // Moves the current bytes into the second store and sets up an empty new
  // image here: a growable block of max(expected, kRebuildStartCapacity)
  // bytes that may grow to `maximum` and spill, or a temporary file at once
  // when `maximum` is below that. Raises kInternalError when a rebuild is
  // already running, kNoMemory or kFileCreateError when the image cannot be
  // made.
  void BeginRebuild(std::int64_t expected, std::int64_t maximum);
  // The old bytes while a rebuild runs, else null.
  ArchiveStore* RebuildSource() { return second_.get(); }
  // Releases the old bytes and refreshes the file size of the new image.
  void EndRebuild();
  // Drops the new image (deleting its temporary file) and takes the old
  // bytes back.
  void CancelRebuild();

 private:
  // Everything that says where the bytes are; moved whole by a rebuild.
  struct Bytes {
    std::unique_ptr<unsigned char[]> owned;  // growable block, capacity + 16 bytes
    unsigned char* data = nullptr;           // owned block, caller's block or resource
    std::int32_t capacity = 0;               // bytes available at data
    // Memory position and used size are 64-bit so that a data stream can
    // count them directly; both stay within kMemoryLimit.
    std::int64_t position = 0;
    std::int64_t used = 0;     // -1: the whole capacity
    std::int32_t maximum = 0;  // growth limit of the owned block
    bool readOnly = false;     // a resource
    platform::Handle file = platform::kInvalidHandle;
    std::int64_t fileSize = 0;
    bool spilled = false;  // file is the temporary file
  };

  std::int64_t Available() const;
  std::int64_t FailWrite(int code);
  std::int64_t WriteMemory(const unsigned char* data, std::size_t length);
  std::int64_t WriteFileBytes(const void* data, std::size_t length);
  bool Grow(std::int64_t needed);
  // 0, or the code of the failure (kFileCreateError / kWriteError).
  int Spill();
  // A new "AF_" file in the temporary folder, its name in tempName_.
  platform::Handle CreateTempFile();
  // Makes room for `end` bytes: 0, or the failure code; with a caller's
  // block the room is limited to its capacity.
  int Reserve(std::int64_t end, std::int64_t needed);
  static std::int64_t WriteThunk(void* context, const void* buffer, std::size_t length);
  static std::int64_t ReadThunk(void* context, void* buffer, std::size_t length);

  Bytes bytes_;
  bool raiseOnShortRead_ = true;
  bool raiseOnWriteFailure_ = true;
  bool spillAllowed_ = false;
  char tempFolder_[kNameCapacity] = {};
  char tempName_[kNameCapacity] = {};
  std::int64_t inputRemainder_ = 0;  // of a function input over a large file span
  std::unique_ptr<ArchiveStore> second_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_IO_ARCHIVE_STORE_H
