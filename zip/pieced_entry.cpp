// A queued Deflate file larger than one block, compressed on the workers in
// pieces that join into one raw Deflate stream: each piece is compressed
// with the 32 KiB in front of it as its dictionary and all but the last end
// on a byte boundary, so the finished pieces are written one after another,
// in order, as they come back. The archive's thread reads the pieces while
// there is room in the read-ahead budget, so the files behind a large one
// are read and compressed beside it. The entry's header is written first and
// again at the end with the sizes and the CRC-32 of the pieces combined.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "zip/codec/piece_compressor.h"
#include "zip/entry_writer.h"
#include "zip/error_codes.h"
#include "zip/format/extra_fields.h"
#include "zip/packing_queue.h"
#include "zip/packing_writer.h"

namespace korbel {

void PackingWriter::SubmitPiece(PreparedSource* prepared, CompressionPipeline* pipeline) {
  const std::uint64_t left = prepared->size - prepared->bytesRead;
  const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize_, left));
  auto job = std::make_unique<CompressionJob>();
  job->input.reset(new (std::nothrow) unsigned char[prepared->windowSize + want]);
  if (!prepared->window)
    prepared->window.reset(new (std::nothrow) unsigned char[PieceCompressor::kWindowSize]);
  if (!job->input || !prepared->window) {
    // No room for the piece: the file streams at its turn instead, from the
    // start, once the pieces already read are taken back.
    prepared->readEnded = true;
    prepared->piecesFailed = true;
    if (prepared->piecesInFlight == 0 && prepared->bytesRead == 0)
      prepared->state = PreparedSource::kStreaming;
    return;
  }
  unsigned char* data = job->input.get() + prepared->windowSize;
  std::memcpy(job->input.get(), prepared->window.get(), prepared->windowSize);
  const std::int64_t got = ReadSourceBytes(prepared->source.Get(), data, want);
  if (got < 0) {
    prepared->state = PreparedSource::kFailed;
    prepared->error = kFileReadError;
    prepared->readEnded = true;
    return;
  }
  const auto filled = static_cast<std::size_t>(got);
  prepared->bytesRead += filled;
  job->entryIndex = prepared->index;
  job->level = prepared->level;
  job->piece = true;
  job->dictionarySize = prepared->windowSize;
  job->inputSize = prepared->windowSize + filled;
  job->lastPiece = filled < want || prepared->bytesRead == prepared->size;
  prepared->readEnded = job->lastPiece;
  prepared->windowSize = std::min(job->inputSize, PieceCompressor::kWindowSize);
  std::memcpy(prepared->window.get(), job->input.get() + job->inputSize - prepared->windowSize,
              prepared->windowSize);
  pipeline->Submit(std::move(job));
  ++prepared->piecesInFlight;
}

void PackingWriter::DropPieces(PreparedSource* prepared, CompressionPipeline* pipeline) {
  for (; prepared->piecesInFlight > 0; --prepared->piecesInFlight) pipeline->TakeOldest();
}

void PackingWriter::WritePieces(ZipEntry& entry, PreparedSource* prepared, PackingQueue* ahead) {
  const std::uint16_t firstExtraLength = writer_.WriteFirstHeader(entry);
  EntryWriter::WrittenData written;
  bool complete = true;
  for (;;) {
    // Reading the next pieces here keeps the workers busy while this one is
    // written; a piece is always let in when the pipeline is empty.
    FillPackingQueue(ahead);
    if (prepared->state == PreparedSource::kFailed) RaiseError(prepared->error);
    if (prepared->piecesInFlight == 0) break;
    const std::unique_ptr<CompressionJob> piece = ahead->pipeline.TakeOldest();
    --prepared->piecesInFlight;
    if (piece->noMemory) {
      // No more pieces are read; those in the pipeline are only taken back.
      complete = false;
      prepared->readEnded = true;
    }
    if (!complete) continue;
    const std::size_t length = piece->DataSize();
    written.crc32 =
        static_cast<std::uint32_t>(crc32_combine(written.crc32, piece->crc, static_cast<z_off_t>(length)));
    written.uncompressedSize += length;
    written.compressedSize += piece->outputSize;
    if (store_.Write(piece->output.get(), piece->outputSize) !=
        static_cast<std::int64_t>(piece->outputSize)) {
      RaiseError(kWriteError);
    }
  }
  if (complete && !prepared->piecesFailed && written.compressedSize <= written.uncompressedSize) {
    writer_.FinishEntryHeader(entry, written, firstExtraLength);
    return;
  }
  // Written again over what the pieces wrote, from the start of the file:
  // stored when Deflate grew the data, streamed when memory ran short.
  if (platform::SeekFile(prepared->source.Get(), 0, platform::kSeekBegin) != 0) RaiseError(kFileReadError);
  EntryInput input;
  input.kind = EntryInput::kHandle;
  input.handle = prepared->source.Get();
  input.limit = static_cast<std::int64_t>(prepared->size);
  input.storeOnGrowth = true;
  const bool grew = complete && !prepared->piecesFailed;
  writer_.WriteEntryData(entry, input, grew ? 0 : prepared->level, kFileReadError);
}

}  // namespace korbel
