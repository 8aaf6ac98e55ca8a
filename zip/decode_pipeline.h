// DecodePipeline: decodes and checks whole entries on worker threads while
// the archive's thread writes the entries decoded before them. The archive's
// thread reads the stored bytes and hands them over with a copy of what
// decoding needs; a worker gives back the data and the verdict. Jobs come
// back in the order submitted, so files, messages and progress keep the
// archive's order.
#ifndef PAKKARO_ZIP_DECODE_PIPELINE_H
#define PAKKARO_ZIP_DECODE_PIPELINE_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/entry_decoder.h"

namespace korbel {

struct DecodeJob {
  // Set by the caller.
  int entryIndex = -1;
  std::size_t planPosition = 0;
  EntryCoding coding;
  bool testing = false;  // the data is checked and dropped
  bool hasPassword = false;
  std::string password;  // the password when the job was made
  std::unique_ptr<unsigned char[]> input;
  // Set by the worker.
  std::unique_ptr<unsigned char[]> output;
  std::size_t outputSize = 0;
  int code = 0;         // the entry's result code as a read on the archive's thread gives it
  bool noRoom = false;  // no memory for the output: the entry is read again the usual way
  bool finished = false;

  std::size_t Footprint() const {
    return static_cast<std::size_t>(coding.compressedSize + (testing ? 0 : coding.uncompressedSize)) + 256;
  }
};

class DecodePipeline {
 public:
  // `budget` caps the footprint of the jobs in flight; one job is always let in.
  DecodePipeline(unsigned workers, std::size_t budget, std::size_t maxJobs);
  ~DecodePipeline();
  DecodePipeline(const DecodePipeline&) = delete;
  DecodePipeline& operator=(const DecodePipeline&) = delete;

  bool HasRoomFor(std::size_t footprint);
  // Queues a job; the workers see it after the next Start.
  void Submit(std::unique_ptr<DecodeJob> job);
  // Wakes the workers for the jobs queued. Submitting a batch and waking
  // once spares a wake-up per entry.
  void Start();
  // Whether the next batch is due: few jobs wait for a worker and at least
  // half of the budget is free.
  bool RunningLow();
  // The plan position of the oldest job, or SIZE_MAX when none is in flight.
  std::size_t OldestPosition();
  // Waits for the oldest job submitted and hands it back.
  std::unique_ptr<DecodeJob> TakeOldest();

 private:
  void Work();

  const std::size_t budget_;
  const std::size_t maxJobs_;
  std::mutex mutex_;
  std::condition_variable workReady_;
  std::condition_variable jobDone_;
  std::deque<std::unique_ptr<DecodeJob>> jobs_;  // in the order submitted
  std::size_t started_ = 0;                      // jobs_ taken by a worker
  std::size_t footprint_ = 0;
  bool stopping_ = false;
  unsigned workerCount_ = 0;
  std::vector<std::thread> workers_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_DECODE_PIPELINE_H
