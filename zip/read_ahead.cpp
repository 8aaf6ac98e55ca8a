// Reading ahead: the entries a caller announced are decoded on worker
// threads (zip/decode_pipeline.h) while the caller handles the ones before
// them. Whatever the read-ahead cannot serve - an entry asked for out of the
// announced order, a large one, one whose password came later - is read on
// the archive's thread as before, so the results never depend on it.
#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "zip/decode_pipeline.h"
#include "zip/format/local_header.h"
#include "zip/format/zip_constants.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

// An entry larger than this streams on the archive's thread, which holds no
// more than a codec's buffers of it.
constexpr std::uint64_t kLargestDecodedAhead = 8u << 20;
constexpr std::size_t kMostJobs = 4096;
constexpr std::size_t kJobsPerWake = 16;
constexpr std::size_t kSearchAhead = 1024;

}  // namespace

void Korbel::PlanReads(std::vector<int> indices, bool testing) {
  EndReadAhead();
  if (openMode_ != kReadOnly || indices.empty()) return;
  plan_ = std::move(indices);
  planTesting_ = testing;
  // Without workers every entry is read here, as without the list.
  try {
    decodePipeline_ = std::make_unique<DecodePipeline>(DefaultWorkerCount(), kWorkersBudget, kMostJobs);
  } catch (const std::exception&) {
    EndReadAhead();
  }
}

void Korbel::EndReadAhead() {
  decodePipeline_.reset();
  plan_.clear();
  planAsked_ = 0;
  planFilled_ = 0;
  decodedAhead_ = false;
}

std::unique_ptr<DecodeJob> Korbel::TakeDecoded(int index, bool testing) {
  if (!decodePipeline_ || testing != planTesting_) return nullptr;
  // The caller asks for the announced entries in order, leaving some out -
  // also ahead of those submitted. One asked for out of order is looked for
  // only so far, so that such a caller does not scan the list every time.
  const std::size_t searchEnd = std::min(plan_.size(), std::max(planFilled_, planAsked_) + kSearchAhead);
  std::size_t position = planAsked_;
  while (position < searchEnd && plan_[position] != index) ++position;
  if (position >= searchEnd) return nullptr;
  planAsked_ = position + 1;
  planFilled_ = std::max(planFilled_, planAsked_);
  // Jobs of entries the caller left out are dropped.
  while (decodePipeline_->OldestPosition() < position) decodePipeline_->TakeOldest();
  const bool submitted = decodePipeline_->OldestPosition() == position;
  if (decodePipeline_->RunningLow()) {
    try {
      FillReadAhead();
    } catch (const std::bad_alloc&) {
      // What is in flight still serves; the rest is read here.
    }
    decodePipeline_->Start();
  }
  return submitted ? decodePipeline_->TakeOldest() : nullptr;
}

void Korbel::FillReadAhead() {
  std::size_t submitted = 0;
  while (planFilled_ < plan_.size()) {
    const ZipEntry* entry = table_.At(plan_[planFilled_]);
    const bool usable = entry != nullptr && !entry->deleted && entry->written &&
                        entry->uncompressedSize != 0 && !(entry->flags & kFlagStrongEncryption) &&
                        entry->uncompressedSize <= kLargestDecodedAhead &&
                        entry->compressedSize <= kLargestDecodedAhead;
    if (!usable) {
      ++planFilled_;
      continue;
    }
    // The caller is asked for a password at the first encrypted entry: the
    // read-ahead waits there until it has one.
    if ((entry->flags & kFlagEncrypted) && !password_) return;
    auto job = std::make_unique<DecodeJob>();
    job->entryIndex = plan_[planFilled_];
    job->planPosition = planFilled_;
    job->coding = EntryCoding::Of(*entry);
    job->testing = planTesting_;
    if (!decodePipeline_->HasRoomFor(job->Footprint())) return;
    ++planFilled_;
    // An entry whose bytes cannot be read now is read the usual way, which
    // names the failure.
    if (!ReadStoredBytes(*entry, job.get())) continue;
    if (password_ && (entry->flags & kFlagEncrypted)) {
      job->hasPassword = true;
      job->password = *password_;
    }
    decodePipeline_->Submit(std::move(job), false);
    // The workers start on a long batch while the rest is read.
    if (++submitted % kJobsPerWake == 0) decodePipeline_->Start();
  }
}

bool Korbel::ReadStoredBytes(const ZipEntry& entry, DecodeJob* job) {
  const std::uint64_t dataAt =
      entry.localHeaderOffset + kLocalHeaderSize + entry.nameLength + entry.localExtraLength;
  const auto size = static_cast<std::size_t>(entry.compressedSize);
  job->input.reset(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
  if (!job->input || dataAt > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const auto at = static_cast<std::int64_t>(dataAt);
  try {
    if (store_.IsFileMode() && size <= kEntryWindowSize) {
      const unsigned char* window = entryWindow_.Get(store_, at, size);
      if (window == nullptr) return false;
      std::copy(window, window + size, job->input.get());
    } else {
      ReadAt(at, job->input.get(), size);
    }
  } catch (const EngineFault&) {
    return false;
  }
  return true;
}

// Hands a decoded entry's data to the sink as a read on this thread would;
// the entry's result code.
int Korbel::DeliverDecoded(const DecodeJob& job, void* sinkContext, SinkFunction sink) {
  if (job.code != kOk || job.testing) return job.code;
  if (job.outputSize > 0 &&
      sink(sinkContext, job.output.get(), job.outputSize) != static_cast<std::int64_t>(job.outputSize)) {
    return kWriteError;
  }
  return sink(sinkContext, nullptr, 0) != 0 ? kFileWriteError : kOk;
}

}  // namespace korbel
