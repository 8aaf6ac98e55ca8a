// The one core that writes an entry's local header and data, shared by the
// immediate path of AddEntry and the queued entries written at close.
#ifndef PAKKARO_ZIP_ENTRY_WRITER_H
#define PAKKARO_ZIP_ENTRY_WRITER_H

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "zip/archive_tail.h"
#include "zip/codec/codec_selection.h"
#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"
#include "zip/io/data_stream.h"

namespace korbel {

// The method and level for an entry of `size` bytes, from the archive's
// choice (method -1 automatic, 0 stored, 8 Deflate): an empty entry is
// stored, the automatic method is Deflate at level 9, stored means level 0.
void ChooseMethodAndLevel(std::uint64_t size, int* method, int* level);

// Opens a source file for an entry: a regular file only, for reading, others
// may read too, sequential; never blocks on a pipe or device.
platform::Handle OpenEntrySource(const char* path);

// Where an entry's data comes from.
struct EntryInput {
  enum Kind {
    kNone,      // no data (a folder): the header is written once
    kFunction,  // a read function with its context
    kHandle,    // an open file, read to its end or to `limit`
    kMemory,    // a block of memory, compressed while it is written
    kFinal,     // a block already in its final form; the entry's sizes,
                // method and CRC-32 are set: the header is written once
  };
  Kind kind = kNone;
  void* context = nullptr;
  ReadFunction read = nullptr;
  platform::Handle handle = platform::kInvalidHandle;
  // kHandle: bytes to read at most (a file that grows while it is read ends
  // at its size at the open); negative reads to the end.
  std::int64_t limit = -1;
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  // Compressed data larger than the input is stored instead, from the start
  // of the input again; without it the write fails with kCompressError.
  bool storeOnGrowth = false;

  void Connect(Codec& codec) const;
  // Back to the start of the input; false when that is not possible.
  bool Rewind() const;
};

// Writes entries where the archive's data ends, through the archive's store
// and current codec, and moves the end of data past each entry written.
// Failures are raised as engine faults; the archive reports them.
class EntryWriter {
 public:
  // What the codec found while an entry's data went through it.
  struct WrittenData {
    std::uint32_t crc32 = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t compressedSize = 0;
    bool stored = false;
  };

  EntryWriter(ArchiveStore& store, ArchiveTail& tail, CodecSelection& codec)
      : store_(store), tail_(tail), codec_(codec) {}
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // The one core that writes an entry's header and data, used by the
  // immediate and the queued path. `readFailure` is the code raised when
  // the input cannot be read.
  void WriteEntryData(ZipEntry& entry, EntryInput& input, int level, int readFailure);
  // Writes the entry's first local header where the data ends: the length
  // of its extra field, which the final header keeps.
  std::uint16_t WriteFirstHeader(ZipEntry& entry);
  void FinishEntryHeader(ZipEntry& entry, const WrittenData& written, std::uint16_t firstExtraLength);

 private:
  void WriteLocalHeader(ZipEntry& entry);

  ArchiveStore& store_;
  ArchiveTail& tail_;
  CodecSelection& codec_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_WRITER_H
