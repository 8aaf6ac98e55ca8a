// CompressionPipeline: compresses whole files, and the pieces of large ones,
// on worker threads (zip/ordered_workers.h) while the archive's thread reads
// the next files and writes the finished ones, so that packing keeps every
// core busy. Only the compression runs on the workers; all file work stays on
// the caller's thread, in entry order.
#ifndef PAKKARO_ZIP_COMPRESSION_PIPELINE_H
#define PAKKARO_ZIP_COMPRESSION_PIPELINE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/codec/block_compressor.h"
#include "zip/codec/piece_compressor.h"
#include "zip/ordered_workers.h"

namespace korbel {

struct CompressionJob {
  // Set by the caller.
  int entryIndex = -1;
  int level = 9;
  std::unique_ptr<unsigned char[]> input;
  std::size_t inputSize = 0;
  // A piece of a large file: its data follows the `dictionarySize` bytes
  // in front of it at the start of `input`; its compressed form is always
  // kept (the entry as a whole decides about storing), and only the last
  // piece ends the stream. The CRC-32 covers the piece's own data.
  bool piece = false;
  bool lastPiece = false;
  std::size_t dictionarySize = 0;
  // Set by the worker.
  std::unique_ptr<unsigned char[]> output;  // null when stored or failed
  std::size_t outputSize = 0;
  std::uint32_t crc = 0;
  bool stored = false;    // Deflate would have grown the data: the input goes in as it is
  bool noMemory = false;  // no room for the output or the library state
  bool finished = false;

  // What the job may hold at its largest: the input and a compressed copy.
  std::size_t Footprint() const { return inputSize * 2 + 1024; }
  std::size_t DataSize() const { return inputSize - dictionarySize; }
};

// What each worker thread keeps from job to job.
class CompressionWorker {
 public:
  void Run(CompressionJob* job);

 private:
  BlockCompressor whole_;
  PieceCompressor pieces_;
};

class CompressionPipeline : public OrderedWorkers<CompressionJob, CompressionWorker> {
 public:
  using OrderedWorkers::OrderedWorkers;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_COMPRESSION_PIPELINE_H
