// ReadAhead: the entries a caller announced, decoded on worker threads
// (zip/decode_pipeline.h) while the caller handles the ones before them.
// Whatever it cannot serve - an entry asked for out of the announced order, a
// large one, one whose password came later - the caller reads on the
// archive's thread as before, so the results never depend on it.
#ifndef PAKKARO_ZIP_READ_AHEAD_H
#define PAKKARO_ZIP_READ_AHEAD_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/format/zip_entry.h"
#include "zip/table/entry_table.h"

namespace korbel {

class DecodePipeline;
struct DecodeJob;

class ReadAhead {
 public:
  // Fills a job's input with the entry's stored bytes; false when they
  // cannot be read now (the usual read names the failure).
  using StoredBytesReader = std::function<bool(const ZipEntry& entry, DecodeJob* job)>;

  ReadAhead();
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The entries the caller reads next, in this order; without workers every
  // entry is read as without the list.
  void Start(std::vector<int> indices, bool testing);
  void End();
  // The decoded job of entry `index` when the read-ahead has it; drops the
  // jobs of announced entries the caller passed over and submits further
  // ones, read from `table` through `read`.
  std::unique_ptr<DecodeJob> Take(int index, bool testing, const EntryTable& table,
                                  const std::string* password, const StoredBytesReader& read);

 private:
  void Fill(const EntryTable& table, const std::string* password, const StoredBytesReader& read);

  std::unique_ptr<DecodePipeline> pipeline_;
  std::vector<int> plan_;
  // How far the caller asked for the announced entries, and how far they
  // went to the workers.
  std::size_t asked_ = 0;
  std::size_t filled_ = 0;
  bool testing_ = false;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_READ_AHEAD_H
