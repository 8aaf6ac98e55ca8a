#include "zip/read_ahead.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

#include "zip/decode_pipeline.h"
#include "zip/format/zip_constants.h"
#include "zip/ordered_workers.h"

namespace korbel {
namespace {

// An entry larger than this streams on the archive's thread, which holds no
// more than a codec's buffers of it.
constexpr std::uint64_t kLargestDecodedAhead = 8u << 20;
constexpr std::size_t kMostJobs = 4096;
constexpr std::size_t kJobsPerWake = 16;
constexpr std::size_t kSearchAhead = 1024;

bool DecodableAhead(const ZipEntry* entry) {
  return entry != nullptr && !entry->deleted && entry->written && entry->uncompressedSize != 0 &&
         !(entry->flags & kFlagStrongEncryption) && entry->uncompressedSize <= kLargestDecodedAhead &&
         entry->compressedSize <= kLargestDecodedAhead;
}

}  // namespace

ReadAhead::ReadAhead() = default;
ReadAhead::~ReadAhead() = default;

void ReadAhead::Start(std::vector<int> indices, bool testing) {
  End();
  if (indices.empty()) return;
  plan_ = std::move(indices);
  testing_ = testing;
  try {
    pipeline_ = std::make_unique<DecodePipeline>(DefaultWorkerCount(), kWorkersBudget, kMostJobs);
  } catch (const std::exception&) {
    End();
  }
}

void ReadAhead::End() {
  pipeline_.reset();
  plan_.clear();
  asked_ = 0;
  filled_ = 0;
}

std::unique_ptr<DecodeJob> ReadAhead::Take(int index, bool testing, const EntryTable& table,
                                           const std::string* password, const StoredBytesReader& read) {
  if (!pipeline_ || testing != testing_) return nullptr;
  // The caller asks for the announced entries in order, leaving some out -
  // also ahead of those submitted. One asked for out of order is looked for
  // only so far, so that such a caller does not scan the list every time.
  const std::size_t searchEnd = std::min(plan_.size(), std::max(filled_, asked_) + kSearchAhead);
  std::size_t position = asked_;
  while (position < searchEnd && plan_[position] != index) ++position;
  if (position >= searchEnd) return nullptr;
  asked_ = position + 1;
  filled_ = std::max(filled_, asked_);
  // Jobs of entries the caller left out are dropped.
  while (pipeline_->OldestPosition() < position) pipeline_->TakeOldest();
  const bool submitted = pipeline_->OldestPosition() == position;
  if (pipeline_->RunningLow()) {
    try {
      Fill(table, password, read);
    } catch (const std::bad_alloc&) {
      // What is in flight still serves; the rest is read here.
    }
    pipeline_->Start();
  }
  return submitted ? pipeline_->TakeOldest() : nullptr;
}

void ReadAhead::Fill(const EntryTable& table, const std::string* password, const StoredBytesReader& read) {
  std::size_t submitted = 0;
  while (filled_ < plan_.size()) {
    const ZipEntry* entry = table.At(plan_[filled_]);
    if (!DecodableAhead(entry)) {
      ++filled_;
      continue;
    }
    // The caller is asked for a password at the first encrypted entry: the
    // read-ahead waits there until it has one.
    const bool encrypted = (entry->flags & kFlagEncrypted) != 0;
    if (encrypted && password == nullptr) return;
    auto job = std::make_unique<DecodeJob>();
    job->entryIndex = plan_[filled_];
    job->planPosition = filled_;
    job->coding = EntryCoding::Of(*entry);
    job->testing = testing_;
    if (!pipeline_->HasRoomFor(job->Footprint())) return;
    ++filled_;
    // An entry whose bytes cannot be read now is read the usual way, which
    // names the failure.
    if (!read(*entry, job.get())) continue;
    if (encrypted) {
      job->hasPassword = true;
      job->password = *password;
    }
    pipeline_->Submit(std::move(job), false);
    // The workers start on a long batch while the rest is read.
    if (++submitted % kJobsPerWake == 0) pipeline_->Start();
  }
}

}  // namespace korbel
