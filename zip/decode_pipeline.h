// DecodePipeline: decodes and checks whole entries on worker threads
// (zip/ordered_workers.h) while
// the archive's thread writes the entries decoded before them. The archive's
// thread reads the stored bytes and hands them over with a copy of what
// decoding needs; a worker gives back the data and the verdict. Jobs come
// back in the order submitted, so files, messages and progress keep the
// archive's order.
#ifndef PAKKARO_ZIP_DECODE_PIPELINE_H
#define PAKKARO_ZIP_DECODE_PIPELINE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "zip/codec/codec_selection.h"
#include "zip/entry_decoder.h"
#include "zip/ordered_workers.h"

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

// What each worker thread keeps from job to job: its own codecs.
class DecodeWorker {
 public:
  void Run(DecodeJob* job);

 private:
  CodecSelection codec_;
  EntryDecoder decoder_{&codec_};
};

// Jobs are submitted in batches (Submit without waking, then Start) once
// RunningLow says so; ReadOldest tells which plan position comes back next.
class DecodePipeline : public OrderedWorkers<DecodeJob, DecodeWorker> {
 public:
  using OrderedWorkers::OrderedWorkers;

  // The plan position of the oldest job, or SIZE_MAX when none is in flight.
  std::size_t OldestPosition() {
    return ReadOldest(SIZE_MAX, [](const DecodeJob& job) { return job.planPosition; });
  }
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_DECODE_PIPELINE_H
