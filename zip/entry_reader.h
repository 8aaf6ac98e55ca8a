// EntryReader: reads one entry's stored data back, on the archive's thread or
// from the read-ahead, into a sink or for a test. It owns what reading keeps
// between entries: the decoder, the window small entries are read through and
// the read-ahead.
#ifndef PAKKARO_ZIP_ENTRY_READER_H
#define PAKKARO_ZIP_ENTRY_READER_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "zip/archive_base.h"
#include "zip/codec/codec_selection.h"
#include "zip/entry_decoder.h"
#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"
#include "zip/io/read_window.h"
#include "zip/read_ahead.h"
#include "zip/table/entry_table.h"

namespace korbel {

struct DecodeJob;

class EntryReader {
 public:
  // `store` and `codec` belong to the archive and outlive the reader.
  EntryReader(ArchiveStore* store, CodecSelection* codec) : store_(store), decoder_(codec) {}

  // The entries read next (see Korbel::PlanReads); an empty list ends the
  // read-ahead.
  void Plan(std::vector<int> indices, bool testing) { readAhead_.Start(std::move(indices), testing); }
  void EndPlan();
  // Forgets what was read ahead of the store, which may have changed.
  void Forget();

  // Reads entry `index` of `table` into the sink, or checks it when
  // `testing`: the entry's result code. Small entries of a read-only
  // archive are read through the window.
  int Read(const EntryTable& table, int index, bool testing, bool readOnly, const std::string* password,
           void* sinkContext, SinkFunction sink);
  // The entry read last came from the workers: the codec's counts are not
  // its progress.
  bool DecodedAhead() const { return decodedAhead_; }

 private:
  bool ReadStoredBytes(const ZipEntry& entry, DecodeJob* job);
  // Decodes the entry on this thread: its result code.
  int DecodeHere(const ZipEntry& entry, bool readOnly, const std::string* password, void* sinkContext,
                 SinkFunction sink, bool testing);
  // Small entries of a read-only archive come from the window.
  void ConnectEntryData(Codec& codec, const ZipEntry& entry, bool readOnly);

  static constexpr std::size_t kWindowSize = 256 * 1024;
  ArchiveStore* store_;
  EntryDecoder decoder_;
  ReadWindow window_{kWindowSize};
  ReadAhead readAhead_;
  bool decodedAhead_ = false;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_READER_H
