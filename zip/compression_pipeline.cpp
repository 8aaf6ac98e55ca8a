#include "zip/compression_pipeline.h"

#include <libdeflate.h>

#include <algorithm>
#include <new>

#include "zip/codec/block_compressor.h"
#include "zip/codec/piece_compressor.h"

namespace korbel {
namespace {

void RunPiece(CompressionJob* job, PieceCompressor* compressor) {
  const unsigned char* data = job->input.get() + job->dictionarySize;
  job->crc = libdeflate_crc32(0, data, job->DataSize());
  job->noMemory = !compressor->Compress(job->level, job->input.get(), job->dictionarySize, job->DataSize(),
                                        job->lastPiece, &job->output, &job->outputSize);
  if (job->noMemory) {
    job->output.reset();
    job->outputSize = 0;
  }
}

void RunJob(CompressionJob* job, BlockCompressor* compressor) {
  job->crc = libdeflate_crc32(0, job->input.get(), job->inputSize);
  if (!compressor->SetLevel(job->level)) {
    job->noMemory = true;
    return;
  }
  const std::size_t room = compressor->Bound(job->inputSize);
  job->output.reset(new (std::nothrow) unsigned char[room]);
  if (!job->output) {
    job->noMemory = true;
    return;
  }
  job->outputSize = compressor->Compress(job->input.get(), job->inputSize, job->output.get(), room);
  if (job->outputSize == 0 || job->outputSize > job->inputSize) {
    job->stored = true;
    job->output.reset();
    job->outputSize = 0;
  }
}

}  // namespace

CompressionPipeline::CompressionPipeline(unsigned workers, std::size_t budget, std::size_t maxJobs)
    : budget_(budget), maxJobs_(std::max<std::size_t>(maxJobs, 1)) {
  for (unsigned i = 0; i < std::max(workers, 1u); ++i) {
    workers_.emplace_back(&CompressionPipeline::Work, this);
  }
}

CompressionPipeline::~CompressionPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

unsigned CompressionPipeline::DefaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, 8u);
}

bool CompressionPipeline::HasRoomFor(std::size_t footprint) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return true;
  return jobs_.size() < maxJobs_ && footprint_ + footprint <= budget_;
}

void CompressionPipeline::Submit(std::unique_ptr<CompressionJob> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    footprint_ += job->Footprint();
    jobs_.push_back(std::move(job));
  }
  workReady_.notify_one();
}

std::unique_ptr<CompressionJob> CompressionPipeline::TakeOldest() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (jobs_.empty()) return nullptr;
  jobDone_.wait(lock, [this] { return jobs_.front()->finished; });
  std::unique_ptr<CompressionJob> job = std::move(jobs_.front());
  jobs_.pop_front();
  --started_;
  footprint_ -= job->Footprint();
  return job;
}

void CompressionPipeline::Work() {
  BlockCompressor compressor;
  PieceCompressor pieces;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workReady_.wait(lock, [this] { return stopping_ || started_ < jobs_.size(); });
    if (stopping_) return;
    CompressionJob* job = jobs_[started_++].get();
    lock.unlock();
    if (job->piece) {
      RunPiece(job, &pieces);
    } else {
      RunJob(job, &compressor);
    }
    lock.lock();
    job->finished = true;
    jobDone_.notify_all();
  }
}

}  // namespace korbel
