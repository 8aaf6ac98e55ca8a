#include "zip/entry_reader.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "zip/decode_pipeline.h"
#include "zip/format/local_header.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

std::uint64_t DataOffset(const ZipEntry& entry) {
  return entry.localHeaderOffset + kLocalHeaderSize + entry.nameLength + entry.localExtraLength;
}

// A job decoded with another password than the one set now is read again.
bool SamePassword(const DecodeJob& job, const std::string* password) {
  if (!(job.coding.flags & kFlagEncrypted)) return true;
  return password != nullptr ? job.hasPassword && job.password == *password : !job.hasPassword;
}

// Hands a decoded entry's data to the sink as a read on this thread would;
// the entry's result code.
int DeliverDecoded(const DecodeJob& job, void* sinkContext, SinkFunction sink) {
  if (job.code != kOk || job.testing) return job.code;
  if (job.outputSize > 0 &&
      sink(sinkContext, job.output.get(), job.outputSize) != static_cast<std::int64_t>(job.outputSize)) {
    return kWriteError;
  }
  return sink(sinkContext, nullptr, 0) != 0 ? kFileWriteError : kOk;
}

}  // namespace

void EntryReader::EndPlan() {
  readAhead_.End();
  decodedAhead_ = false;
}

void EntryReader::Forget() {
  EndPlan();
  window_.Forget();
}

int EntryReader::Read(const EntryTable& table, int index, bool testing, bool readOnly,
                      const std::string* password, void* sinkContext, SinkFunction sink) {
  const ZipEntry& entry = *table.At(index);
  const auto readStored = [this](const ZipEntry& stored, DecodeJob* job) {
    return ReadStoredBytes(stored, job);
  };
  const std::unique_ptr<DecodeJob> decoded = readAhead_.Take(index, testing, table, password, readStored);
  decodedAhead_ = decoded && !decoded->noRoom && SamePassword(*decoded, password);
  return decodedAhead_ ? DeliverDecoded(*decoded, sinkContext, sink)
                       : DecodeHere(entry, readOnly, password, sinkContext, sink, testing);
}

bool EntryReader::ReadStoredBytes(const ZipEntry& entry, DecodeJob* job) {
  const std::uint64_t dataAt = DataOffset(entry);
  const auto size = static_cast<std::size_t>(entry.compressedSize);
  job->input.reset(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
  if (!job->input || dataAt > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const auto at = static_cast<std::int64_t>(dataAt);
  try {
    if (store_->IsFileMode() && size <= kWindowSize) {
      const unsigned char* window = window_.Get(*store_, at, size);
      if (window == nullptr) return false;
      std::copy(window, window + size, job->input.get());
    } else {
      store_->ReadAt(at, job->input.get(), size);
    }
  } catch (const EngineFault&) {
    return false;
  }
  return true;
}

int EntryReader::DecodeHere(const ZipEntry& entry, bool readOnly, const std::string* password,
                            void* sinkContext, SinkFunction sink, bool testing) {
  struct Source {
    EntryReader* reader;
    const ZipEntry& entry;
    bool readOnly;
  } source{this, entry, readOnly};
  const auto connect = [](void* context, Codec& codec) {
    const Source& from = *static_cast<const Source*>(context);
    from.reader->ConnectEntryData(codec, from.entry, from.readOnly);
  };
  return decoder_.DecodeEntry(EntryCoding::Of(entry), password, connect, &source, sinkContext, sink, testing);
}

void EntryReader::ConnectEntryData(Codec& codec, const ZipEntry& entry, bool readOnly) {
  const std::uint64_t dataAt = DataOffset(entry);
  if (dataAt > static_cast<std::uint64_t>(INT64_MAX)) RaiseError(kReadError);
  // A read-only archive file cannot change under us, so small entries come
  // from a window read ahead over their neighbours.
  const unsigned char* window = nullptr;
  if (readOnly && store_->IsFileMode() && entry.compressedSize <= kWindowSize) {
    window = window_.Get(*store_, static_cast<std::int64_t>(dataAt),
                         static_cast<std::size_t>(entry.compressedSize));
  }
  if (window != nullptr) {
    codec.InputFromMemory(static_cast<std::size_t>(entry.compressedSize), window, kNoCrc);
    return;
  }
  const auto at = static_cast<std::int64_t>(dataAt);
  if (store_->Seek(at, platform::kSeekBegin) != at) RaiseError(kReadError);
  store_->ConnectInput(codec, static_cast<std::int64_t>(entry.compressedSize), kNoCrc);
}

}  // namespace korbel
