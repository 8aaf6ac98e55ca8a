// The queued files of a close, read ahead of their turn into the workers of
// the compression pipeline, in entry order, while the archive's thread
// writes the entries in front of them (zip/packing_writer.cpp).
#ifndef PAKKARO_ZIP_PACKING_QUEUE_H
#define PAKKARO_ZIP_PACKING_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "zip/compression_pipeline.h"
#include "zip/error_codes.h"
#include "zip/packing_writer.h"

namespace korbel {

// A queued entry on its way into the archive, prepared before its turn.
struct PackingWriter::PreparedSource {
  // kOpened: read whole at the next room; kCompressing: read whole, in the
  // pipeline; kPieces: read piece by piece into the pipeline; kStreaming:
  // compressed at its turn on the archive's thread.
  enum State { kFolder, kOpened, kCompressing, kPieces, kStreaming, kFailed };
  int index = -1;
  State state = kFailed;
  int error = kOk;
  int method = 0;
  int level = 0;
  std::uint64_t size = 0;
  platform::FileCloser source;

  // kPieces (and kFailed after it): the bytes read so far, whether the last
  // piece is in the pipeline, how many pieces wait there, and the data in
  // front of the next piece that it takes as its dictionary.
  std::uint64_t bytesRead = 0;
  bool readEnded = false;
  // No memory was had for a piece: the file streams at its turn instead.
  bool piecesFailed = false;
  std::size_t piecesInFlight = 0;
  std::unique_ptr<unsigned char[]> window;
  std::size_t windowSize = 0;
};

struct PackingWriter::PackingQueue {
  PackingQueue(const std::vector<int>& queued, CompressionPipeline& workers, int archiveMethod,
               int archiveLevel, const PackingEvents& reports)
      : queue(queued), pipeline(workers), method(archiveMethod), level(archiveLevel), events(reports) {}

  const std::vector<int>& queue;  // the entries to write, in order
  CompressionPipeline& pipeline;
  // The archive's choice, which each file's size and name may change.
  int method;
  int level;
  const PackingEvents& events;
  std::deque<PreparedSource> sources;  // the next entry to write first
  std::size_t prepared = 0;            // of queue
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_PACKING_QUEUE_H
