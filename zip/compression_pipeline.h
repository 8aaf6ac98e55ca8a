// CompressionPipeline: compresses whole files, and the pieces of large ones,
// on worker threads while the archive's thread reads the next files and
// writes the finished ones, so that packing keeps every core busy. Only the compression runs on the workers;
// all file work stays on the caller's thread, in entry order, which keeps the
// sequence of file operations the same from run to run.
#ifndef PAKKARO_ZIP_COMPRESSION_PIPELINE_H
#define PAKKARO_ZIP_COMPRESSION_PIPELINE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

class CompressionPipeline {
 public:
  // `budget` caps the footprint of the jobs in flight; one job is always let in.
  CompressionPipeline(unsigned workers, std::size_t budget, std::size_t maxJobs);
  ~CompressionPipeline();
  CompressionPipeline(const CompressionPipeline&) = delete;
  CompressionPipeline& operator=(const CompressionPipeline&) = delete;

  // The number of workers that suits this machine.
  static unsigned DefaultWorkers();

  bool HasRoomFor(std::size_t footprint);
  void Submit(std::unique_ptr<CompressionJob> job);
  // Waits for the oldest job submitted and hands it back.
  std::unique_ptr<CompressionJob> TakeOldest();

 private:
  void Work();

  const std::size_t budget_;
  const std::size_t maxJobs_;
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable jobDone_;
  std::deque<std::unique_ptr<CompressionJob>> jobs_;  // in the order submitted
  std::size_t started_ = 0;                           // jobs_ taken by a worker
  std::size_t footprint_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_COMPRESSION_PIPELINE_H
