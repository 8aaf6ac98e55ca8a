// PackingWriter: writes the queued entries of a change when it is committed.
// Files that fit one block are read ahead, in entry order, and compressed on
// worker threads; larger Deflate files go to the same workers in pieces
// (zip/pieced_entry.cpp); the others stream through the codec at their turn.
// Each entry goes into the archive through the EntryWriter.
#ifndef PAKKARO_ZIP_PACKING_WRITER_H
#define PAKKARO_ZIP_PACKING_WRITER_H

#include <cstddef>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "zip/archive_tail.h"
#include "zip/entry_writer.h"
#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"
#include "zip/table/entry_table.h"

namespace korbel {

class CompressionPipeline;
struct CompressionJob;

// What the packing writer tells the archive while it writes: the archive
// reports the progress events and keeps the texts that name a failure.
struct PackingEvents {
  // Reports a progress event for the entry at `index`: true when the user
  // asks to stop.
  std::function<bool(int event, int index)> report;
  // The source file that a failure from now on names.
  std::function<void(const char* sourcePath)> detail;
  // The name of the entry being written, which the progress callback shows.
  std::function<void(const std::string& name)> pendingName;
  // The entry at `index` is left out: its file could not be opened or read.
  std::function<void(int index, int code)> dropped;
};

class PackingWriter {
 public:
  // A queued Deflate file larger than this is compressed in pieces of
  // kPieceSize on the workers; one no larger is compressed whole. Each piece
  // boundary costs a few dozen bytes (a block ended early and an empty
  // stored block): at 2 MiB the stream stays within some hundred bytes of
  // one made in a single pass, and the read-ahead budget still holds a
  // piece for each worker and the next ones.
  static constexpr std::size_t kWholeFileLimit = std::size_t{32} << 20;
  static constexpr std::size_t kPieceSize = std::size_t{2} << 20;

  PackingWriter(ArchiveStore& store, ArchiveTail& tail, EntryTable& table, EntryWriter& writer)
      : store_(store), tail_(tail), table_(table), writer_(writer) {}
  PackingWriter(const PackingWriter&) = delete;
  PackingWriter& operator=(const PackingWriter&) = delete;

  // Tests move these so that small files are cut into pieces.
  void SetPieceBounds(std::size_t wholeFileLimit, std::size_t pieceSize) {
    wholeFileLimit_ = wholeFileLimit;
    pieceSize_ = pieceSize;
  }

  // Writes the table's queued entries where the data ends, in entry order,
  // with the archive's `method` and `level`. An entry whose file cannot be
  // opened or read is marked deleted and the others still go in; a user
  // abort ends the writing. Other failures are raised.
  void WriteQueued(int method, int level, const PackingEvents& events);

 private:
  // The queued files read ahead of their turn (zip/packing_queue.h).
  struct PreparedSource;
  struct PackingQueue;
  void FillPackingQueue(PackingQueue* ahead);
  void PrepareSource(int index, int method, int level, PreparedSource* prepared);
  void SubmitPreparedSource(PreparedSource* prepared, CompressionPipeline* pipeline);
  void WritePreparedEntry(PreparedSource* prepared, CompressionJob* job, PackingQueue* ahead);
  // A file larger than one block goes to the workers in pieces that join
  // into one Deflate stream (zip/pieced_entry.cpp).
  void SubmitPiece(PreparedSource* prepared, CompressionPipeline* pipeline);
  void WritePieces(ZipEntry& entry, PreparedSource* prepared, PackingQueue* ahead);
  // Reads up to `want` bytes of a source file, fewer when it ends early (it
  // shrank since its size was taken): the count, or -1 when a read fails.
  static std::int64_t ReadSourceBytes(platform::Handle source, unsigned char* data, std::size_t want);
  // Takes back the pieces of a file that failed, unwritten.
  static void DropPieces(PreparedSource* prepared, CompressionPipeline* pipeline);

  ArchiveStore& store_;
  ArchiveTail& tail_;
  EntryTable& table_;
  EntryWriter& writer_;
  std::size_t wholeFileLimit_ = kWholeFileLimit;
  std::size_t pieceSize_ = kPieceSize;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_PACKING_WRITER_H
