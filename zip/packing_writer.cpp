// Writing the queued entries when the archive is closed. Files that fit one
// block are read ahead, in entry order, and compressed on worker threads; each
// is then written with its final header. Larger Deflate files go to the same
// workers in pieces (zip/pieced_entry.cpp). Other files stream through the
// codec behind a first header that is written again with the final sizes and
// CRC-32.
#include "zip/packing_writer.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "zip/archive_base.h"
#include "zip/codec/deflate_codec.h"
#include "zip/compression_pipeline.h"
#include "zip/entry_writer.h"
#include "zip/error_codes.h"
#include "zip/format/extra_fields.h"
#include "zip/packing_queue.h"
#include "zip/stored_extensions.h"

namespace korbel {
namespace {

// At most this many files are read ahead, within kWorkersBudget (a job
// holds its file and the compressed copy); a single larger file is still
// let in alone.
constexpr std::size_t kReadAheadJobs = 64;

}  // namespace

static_assert(PackingWriter::kWholeFileLimit == DeflateCodec::kWholeBlockLimit,
              "files compressed whole are those the codec handles as one block");

void PackingWriter::WriteQueued(int method, int level, const PackingEvents& events) {
  if (store_.Seek(tail_.DirectoryStart(), platform::kSeekBegin) != tail_.DirectoryStart())
    RaiseError(kWriteError);
  std::vector<int> queue;
  for (int index = 0; index < table_.Count(); ++index) {
    const ZipEntry& entry = *table_.At(index);
    if (entry.queued && !entry.deleted) queue.push_back(index);
  }
  if (!queue.empty()) tail_.MarkChanged();

  CompressionPipeline pipeline(DefaultWorkerCount(), kWorkersBudget, kReadAheadJobs);
  PackingQueue ahead(queue, pipeline, method, level, events);
  for (std::size_t turn = 0; turn < queue.size(); ++turn) {
    FillPackingQueue(&ahead);
    PreparedSource& next = ahead.sources.front();
    std::unique_ptr<CompressionJob> job;
    if (next.state == PreparedSource::kCompressing) job = pipeline.TakeOldest();
    const int index = next.index;
    try {
      WritePreparedEntry(&next, job.get(), &ahead);
    } catch (const EngineFault& fault) {
      if (fault.code == kUserAbort) break;
      if (fault.code != kFileOpenError && fault.code != kFileReadError) throw;
      // This file is dropped; the others still go in.
      DropPieces(&next, &pipeline);
      events.dropped(index, fault.code);
      table_.MarkDeleted(table_.At(index));
    }
    ahead.sources.pop_front();
  }
}

void PackingWriter::FillPackingQueue(PackingQueue* ahead) {
  // Files are read ahead, in order, while the workers have room; a large
  // file goes in piece by piece, and one that streams waits for its turn.
  std::deque<PreparedSource>& sources = ahead->sources;
  for (;;) {
    if (!sources.empty()) {
      PreparedSource& last = sources.back();
      if (last.state == PreparedSource::kOpened) {
        if (!ahead->pipeline.HasRoomFor(2 * last.size)) break;
        SubmitPreparedSource(&last, &ahead->pipeline);
        continue;
      }
      if (last.state == PreparedSource::kPieces && !last.readEnded) {
        if (!ahead->pipeline.HasRoomFor(2 * (pieceSize_ + last.windowSize))) break;
        SubmitPiece(&last, &ahead->pipeline);
        continue;
      }
      if (last.state == PreparedSource::kStreaming) break;
    }
    if (ahead->prepared == ahead->queue.size()) break;
    sources.emplace_back();
    PrepareSource(ahead->queue[ahead->prepared++], ahead->method, ahead->level, &sources.back());
  }
}

void PackingWriter::PrepareSource(int index, int method, int level, PreparedSource* prepared) {
  const ZipEntry& entry = *table_.At(index);
  prepared->index = index;
  if (entry.externalAttributes & kEntryFolder) {
    prepared->state = PreparedSource::kFolder;
    return;
  }
  prepared->state = PreparedSource::kFailed;
  if (IsStoredExtension(entry.sourcePath.c_str())) method = kMethodStored;
  prepared->source.Reset(OpenEntrySource(entry.sourcePath.c_str()));
  if (prepared->source.Get() == platform::kInvalidHandle) {
    prepared->error = kFileOpenError;
    return;
  }
  const std::int64_t fileSize = platform::FileSize(prepared->source.Get());
  if (fileSize < 0) {
    prepared->error = kFileReadError;
    return;
  }
  const auto size = static_cast<std::uint64_t>(fileSize);
  ChooseMethodAndLevel(size, &method, &level);
  prepared->method = method;
  prepared->level = level;
  prepared->size = size;
  // A file that fits one block is read whole, once, and compressed on a
  // worker; a larger one goes to the workers in pieces; others stream
  // through the codec at their turn.
  const bool compressed = method != kMethodStored && size >= DeflateCodec::kWholeBlockMinimum;
  if (compressed && size <= wholeFileLimit_) {
    prepared->state = PreparedSource::kOpened;
  } else if (compressed && method == kMethodDeflate) {
    prepared->state = PreparedSource::kPieces;
  } else {
    prepared->state = PreparedSource::kStreaming;
  }
}

std::int64_t PackingWriter::ReadSourceBytes(platform::Handle source, unsigned char* data, std::size_t want) {
  std::size_t filled = 0;
  while (filled < want) {
    const std::int64_t got = platform::ReadFile(source, data + filled, want - filled);
    if (got < 0) return -1;
    // A file that shrank since its size was taken ends early.
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(filled);
}

void PackingWriter::SubmitPreparedSource(PreparedSource* prepared, CompressionPipeline* pipeline) {
  auto job = std::make_unique<CompressionJob>();
  job->entryIndex = prepared->index;
  job->level = prepared->level;
  const auto size = static_cast<std::size_t>(prepared->size);
  job->input.reset(new (std::nothrow) unsigned char[size]);
  if (!job->input) {
    // No room to read it whole: it streams at its turn instead.
    prepared->state = PreparedSource::kStreaming;
    return;
  }
  const std::int64_t filled = ReadSourceBytes(prepared->source.Get(), job->input.get(), size);
  prepared->source.Reset();
  if (filled < 0) {
    prepared->state = PreparedSource::kFailed;
    prepared->error = kFileReadError;
    return;
  }
  job->inputSize = static_cast<std::size_t>(filled);
  pipeline->Submit(std::move(job));
  prepared->state = PreparedSource::kCompressing;
}

void PackingWriter::WritePreparedEntry(PreparedSource* prepared, CompressionJob* job, PackingQueue* ahead) {
  const int index = prepared->index;
  ZipEntry& entry = *table_.At(index);
  const PackingEvents& events = ahead->events;
  if (events.report(kEventCompress, index)) RaiseError(kUserAbort);
  events.detail(entry.sourcePath.c_str());
  if (prepared->state == PreparedSource::kFailed) RaiseError(prepared->error);
  const bool folder = prepared->state == PreparedSource::kFolder;
  // A compressed job knows its final sizes, so its header is written once.
  const bool compressed = job != nullptr && !job->noMemory;
  const bool stored = compressed && job->stored;
  const int method = compressed ? (stored ? kMethodStored : kMethodDeflate) : prepared->method;

  events.pendingName(entry.name.str());
  entry.flags = 0;
  entry.versionMadeBy = kVersionMadeBy;
  entry.method = static_cast<std::uint16_t>(method);
  entry.versionNeeded = VersionNeededFor(entry.method, false);
  entry.compressedSize = compressed ? (stored ? job->inputSize : job->outputSize) : 0;
  entry.uncompressedSize = compressed ? job->inputSize : prepared->size;
  entry.crc32 = compressed ? job->crc : 0;
  entry.externalAttributes = (entry.externalAttributes & ~0xFFu) | (folder ? kEntryFolder : 0);

  EntryInput input;
  input.storeOnGrowth = true;
  if (folder) {
    input.kind = EntryInput::kNone;
  } else if (compressed) {
    input.kind = EntryInput::kFinal;
    input.data = stored ? job->input.get() : job->output.get();
    input.size = static_cast<std::size_t>(entry.compressedSize);
  } else if (job != nullptr) {
    // A job that found no memory for its compressed copy still has the file.
    input.kind = EntryInput::kMemory;
    input.data = job->input.get();
    input.size = job->inputSize;
  } else {
    input.kind = EntryInput::kHandle;
    input.handle = prepared->source.Get();
    input.limit = static_cast<std::int64_t>(prepared->size);
  }
  try {
    if (prepared->state == PreparedSource::kPieces) {
      WritePieces(entry, prepared, ahead);
    } else {
      writer_.WriteEntryData(entry, input, prepared->level, kFileReadError);
    }
  } catch (const EngineFault&) {
    prepared->source.Reset();
    throw;
  }
  prepared->source.Reset();
  if (events.report(kEventCompressed, index)) RaiseError(kUserAbort);
}

}  // namespace korbel
