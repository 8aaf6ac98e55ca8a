// Writing the queued entries when the archive is closed: each source file is
// opened, compressed into the archive behind its local header, and the header
// is written again with the final sizes and CRC-32.
#include "platform/platform.h"
#include "zip/codec/codec_failure.h"
#include "zip/extra_fields.h"
#include "zip/korbel.h"
#include "zip/local_header.h"
#include "zip/stored_extensions.h"

namespace korbel {
namespace {

int CodeForFailure(const CodecFailure& failure) {
  if (failure.kind == 1) return kFileReadError;
  if (failure.kind == 2) return kWriteError;
  return kInternalError;
}

}  // namespace

void Korbel::WritePendingEntries() {
  if (store_.Seek(directoryStart_, platform::kSeekBegin) != directoryStart_) RaiseError(kWriteError);
  for (int index = 0; index < EntryCount(); ++index) {
    ZipEntry& entry = *EntryAt(index);
    if (!entry.queued || entry.deleted) continue;
    directoryChanged_ = true;
    try {
      WritePendingEntry(index);
    } catch (const EngineFault& fault) {
      if (fault.code == kUserAbort) break;
      if (fault.code != kFileOpenError && fault.code != kFileReadError) throw;
      // This file is dropped; the others still go in.
      lastError_ = fault.code;
      Report(kEventError, index);
      MarkDeleted(&entry);
    }
  }
  pendingName_ = nullptr;
  for (int index = EntryCount() - 1; index >= 0; --index) {
    if (EntryAt(index)->deleted) RemoveEntry(index);
  }
  if (options_ & kKeepSorted) SortEntries(-1);
}

void Korbel::WritePendingEntry(int index) {
  ZipEntry& entry = *EntryAt(index);
  if (EventEnabled(kEventCompress) && Report(kEventCompress, index) != 0) RaiseError(kUserAbort);
  if (store_.Seek(directoryStart_, platform::kSeekBegin) != directoryStart_) RaiseError(kWriteError);
  const bool folder = (entry.externalAttributes & kEntryFolder) != 0;
  int method = 0;
  int level = 0;
  std::uint64_t size = 0;
  platform::FileCloser source;
  detailText_ = entry.sourcePath.c_str();
  if (!folder) {
    method = method_;
    level = level_;
    if (IsStoredExtension(entry.sourcePath.c_str())) method = 0;
    source.Reset(platform::OpenFile(entry.sourcePath.c_str(), platform::kAccessRead, platform::kShareRead,
                                    platform::kOpenExisting, true));
    if (source.Get() == platform::kInvalidHandle) RaiseError(kFileOpenError);
    const std::int64_t fileSize = platform::FileSize(source.Get());
    if (fileSize < 0) RaiseError(kFileReadError);
    size = static_cast<std::uint64_t>(fileSize);
    if (size == 0) {
      method = 0;
      level = 0;
    } else if (method == -1) {
      method = 8;
      level = 9;
    }
    if (method == 0) level = 0;
  }

  const std::int64_t offset = directoryStart_;
  SetPendingName(entry.name);
  entry.localHeaderOffset = static_cast<std::uint64_t>(offset);
  entry.flags = 0;
  entry.versionMadeBy = kVersionMadeBy;
  entry.versionNeeded = method != 0 ? kVersionDeflate : kVersionStored;
  entry.method = static_cast<std::uint16_t>(method);
  entry.compressedSize = 0;
  entry.uncompressedSize = size;
  entry.crc32 = 0;
  entry.externalAttributes = (entry.externalAttributes & ~0xFFu) | (folder ? kEntryFolder : 0);
  BuildExtraFields(&entry);
  WriteLocalHeader(entry);
  const std::int64_t dataStart = store_.Tell();

  if (folder) {
    entry.queued = 0;
    entry.written = 1;
    directoryStart_ = dataStart;
  } else {
    Codec& codec = *codec_.codec;
    try {
      store_.ConnectOutput(codec, kNoCrc);
      codec.InputFromHandle(source.Get(), kNoLimit, 0);
      codec.Compress(level);
      if (codec.StateFlags() & kCodecExpanded) {
        // Compressed data larger than the file: store it instead.
        if (store_.Seek(dataStart, platform::kSeekBegin) != dataStart) RaiseError(kWriteError);
        if (platform::SeekFile(source.Get(), 0, platform::kSeekBegin) != 0) RaiseError(kFileReadError);
        store_.ConnectOutput(codec, kNoCrc);
        codec.InputFromHandle(source.Get(), kNoLimit, 0);
        codec.Compress(0);
      }
    } catch (const CodecFailure& failure) {
      codec.Disconnect();
      source.Reset();
      // Nothing of this entry stays in the archive.
      if (store_.Seek(offset, platform::kSeekBegin) == offset) store_.Truncate();
      RaiseError(CodeForFailure(failure));
    } catch (const EngineFault&) {
      codec.Disconnect();
      source.Reset();
      if (store_.Seek(offset, platform::kSeekBegin) == offset) store_.Truncate();
      throw;
    }
    source.Reset();
    FinishEntryHeader(entry, codec, codec.UncompressedCount());
    codec.Disconnect();
  }
  if (EventEnabled(kEventCompressed) && Report(kEventCompressed, index) != 0) RaiseError(kUserAbort);
}

}  // namespace korbel
