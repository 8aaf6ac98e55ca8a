#include "zip/decode_pipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "zip/error_codes.h"

namespace korbel {
namespace {

struct MemorySink {
  unsigned char* data;
  std::size_t size;
  std::size_t capacity;
};

std::int64_t WriteToMemory(void* context, const void* data, std::size_t length) {
  if (data == nullptr) return 0;
  auto* memory = static_cast<MemorySink*>(context);
  // The decoder bounds the data by the entry's size, which is the capacity.
  if (length > memory->capacity - memory->size) return -1;
  std::memcpy(memory->data + memory->size, data, length);
  memory->size += length;
  return static_cast<std::int64_t>(length);
}

std::int64_t Discard(void*, const void*, std::size_t length) { return static_cast<std::int64_t>(length); }

void RunJob(DecodeJob* job, EntryDecoder* decoder) {
  const std::size_t size = static_cast<std::size_t>(job->coding.uncompressedSize);
  MemorySink memory{nullptr, 0, size};
  if (!job->testing && size > 0) {
    job->output.reset(new (std::nothrow) unsigned char[size]);
    if (!job->output) {
      job->noRoom = true;
      return;
    }
    memory.data = job->output.get();
  }
  job->code = decoder->Select(job->coding);
  if (job->code != kOk) return;
  Codec& codec = decoder->CurrentCodec();
  try {
    codec.InputFromMemory(static_cast<std::size_t>(job->coding.compressedSize), job->input.get(), kNoCrc);
    decoder->Decode(job->coding, job->hasPassword ? &job->password : nullptr, &memory,
                    job->testing ? Discard : WriteToMemory, job->testing);
  } catch (const EngineFault& fault) {
    job->code = fault.code;
  } catch (const std::bad_alloc&) {
    job->code = kNoMemory;
  }
  codec.Disconnect();
  job->input.reset();
  job->outputSize = memory.size;
}

}  // namespace

DecodePipeline::DecodePipeline(unsigned workers, std::size_t budget, std::size_t maxJobs)
    : budget_(budget), maxJobs_(std::max<std::size_t>(maxJobs, 1)), workerCount_(std::max(workers, 1u)) {
  for (unsigned i = 0; i < workerCount_; ++i) {
    workers_.emplace_back(&DecodePipeline::Work, this);
  }
}

DecodePipeline::~DecodePipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool DecodePipeline::HasRoomFor(std::size_t footprint) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return true;
  return jobs_.size() < maxJobs_ && footprint_ + footprint <= budget_;
}

void DecodePipeline::Submit(std::unique_ptr<DecodeJob> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    footprint_ += job->Footprint();
    jobs_.push_back(std::move(job));
  }
}

void DecodePipeline::Start() {
  bool waiting = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting = started_ < jobs_.size();
  }
  if (waiting) workReady_.notify_all();
}

bool DecodePipeline::RunningLow() {
  std::lock_guard<std::mutex> lock(mutex_);
  // When the writing is slower than the workers, finished jobs fill the
  // budget: new ones then go in only once half of it is free, in a batch,
  // rather than one per entry taken, each with its own wake-up.
  const bool halfFree = footprint_ <= budget_ / 2 && jobs_.size() <= maxJobs_ / 2;
  return halfFree && jobs_.size() - started_ <= 2 * static_cast<std::size_t>(workerCount_);
}

std::size_t DecodePipeline::OldestPosition() {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.empty() ? SIZE_MAX : jobs_.front()->planPosition;
}

std::unique_ptr<DecodeJob> DecodePipeline::TakeOldest() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (jobs_.empty()) return nullptr;
  jobDone_.wait(lock, [this] { return jobs_.front()->finished; });
  std::unique_ptr<DecodeJob> job = std::move(jobs_.front());
  jobs_.pop_front();
  --started_;
  footprint_ -= job->Footprint();
  return job;
}

void DecodePipeline::Work() {
  CodecSelection codec;
  EntryDecoder decoder(&codec);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workReady_.wait(lock, [this] { return stopping_ || started_ < jobs_.size(); });
    if (stopping_) return;
    DecodeJob* job = jobs_[started_++].get();
    lock.unlock();
    RunJob(job, &decoder);
    lock.lock();
    job->finished = true;
    jobDone_.notify_all();
  }
}

}  // namespace korbel
