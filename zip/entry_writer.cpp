// Writing one entry: its first local header at the end of the data, the data
// through the codec, then the local header again with the final sizes and
// CRC-32. A failure leaves the end of data where it was; what the partial
// entry wrote is dealt with by the caller (RecoverFromFault, or the next
// entry written over it).
#include "zip/entry_writer.h"

#include <utility>
#include <vector>

#include "zip/codec/codec_failure.h"
#include "zip/directory_writer.h"
#include "zip/error_codes.h"
#include "zip/format/extra_fields.h"
#include "zip/format/local_header.h"

namespace korbel {

void ChooseMethodAndLevel(std::uint64_t size, int* method, int* level) {
  if (size == 0) {
    *method = kMethodStored;
  } else if (*method == -1) {
    *method = kMethodDeflate;
    *level = 9;
  }
  if (*method == kMethodStored) *level = 0;
}

platform::Handle OpenEntrySource(const char* path) { return platform::OpenSourceFile(path); }

void EntryInput::Connect(Codec& codec) const {
  switch (kind) {
    case kNone:
    case kFinal:
      break;
    case kFunction:
      codec.InputFromFunction(context, read, 0);
      break;
    case kHandle:
      codec.InputFromHandle(handle, limit >= 0 ? limit : kNoLimit, 0);
      break;
    case kMemory:
      codec.InputFromMemory(size, data, 0);
      break;
  }
}

bool EntryInput::Rewind() const {
  switch (kind) {
    case kNone:
    case kFunction:
      return false;
    case kFinal:
      return true;
    case kHandle:
      return platform::SeekFile(handle, 0, platform::kSeekBegin) == 0;
    case kMemory:
      return true;
  }
  return false;
}

std::uint16_t EntryWriter::WriteFirstHeader(ZipEntry& entry) {
  const std::int64_t offset = tail_.DirectoryStart();
  entry.localHeaderOffset = static_cast<std::uint64_t>(offset);
  if (store_.Seek(offset, platform::kSeekBegin) != offset) RaiseError(kWriteError);
  BuildExtraFields(&entry);
  WriteLocalHeader(entry);
  return entry.localExtraLength;
}

void EntryWriter::WriteEntryData(ZipEntry& entry, EntryInput& input, int level, int readFailure) {
  const std::uint16_t firstExtraLength = WriteFirstHeader(entry);
  const std::int64_t dataStart = store_.Tell();
  if (input.kind == EntryInput::kNone || input.kind == EntryInput::kFinal) {
    if (input.size > 0 && store_.Write(input.data, input.size) != static_cast<std::int64_t>(input.size)) {
      RaiseError(kWriteError);
    }
    entry.queued = 0;
    entry.written = 1;
    tail_.DataEndsAt(store_.Tell());
    return;
  }

  Codec& codec = *codec_.codec;
  auto connect = [&]() {
    store_.ConnectOutput(codec, kNoCrc);
    input.Connect(codec);
  };
  try {
    connect();
    codec.Compress(level);
    if (codec.StateFlags() & kCodecExpanded) {
      if (!input.storeOnGrowth) RaiseError(kCompressError);
      // Compressed data larger than the input: it is stored instead.
      if (store_.Seek(dataStart, platform::kSeekBegin) != dataStart) RaiseError(kWriteError);
      if (!input.Rewind()) RaiseError(readFailure);
      connect();
      codec.Compress(0);
    }
  } catch (const CodecFailure& failure) {
    codec.Disconnect();
    RaiseError(failure.kind == 1 ? readFailure : failure.kind == 2 ? kWriteError : kInternalError);
  } catch (const EngineFault&) {
    codec.Disconnect();
    throw;
  }
  try {
    WrittenData written;
    written.crc32 = codec.InputCrc();
    written.uncompressedSize = codec.UncompressedCount();
    written.compressedSize = codec.CompressedCount();
    written.stored = (codec.StateFlags() & kCodecPlainCopy) != 0;
    FinishEntryHeader(entry, written, firstExtraLength);
  } catch (const EngineFault&) {
    codec.Disconnect();
    throw;
  }
  codec.Disconnect();
}

void EntryWriter::FinishEntryHeader(ZipEntry& entry, const WrittenData& written,
                                    std::uint16_t firstExtraLength) {
  ZipEntry done = entry;
  done.crc32 = written.crc32;
  done.uncompressedSize = written.uncompressedSize;
  done.compressedSize = written.compressedSize;
  done.method = written.stored ? kMethodStored : kMethodDeflate;
  done.versionNeeded = VersionNeededFor(done.method, false);
  done.flags &= static_cast<std::uint16_t>(~kFlagDataDescriptor);
  BuildExtraFields(&done);
  // The final header goes over the first one: it must have the same length,
  // or it would reach into the data or leave a gap in front of it. A size
  // that no longer needs its Zip64 block keeps one; one that came to need a
  // block the first header had no room for (a source that grew past 4 GiB
  // while it was read) is refused.
  if (done.localExtra.size() < firstExtraLength) {
    done.localExtra = BuildLocalExtra(done, true);
    // A header with a Zip64 block asks for the version that reads it.
    done.versionNeeded = kVersionZip64;
  }
  if (done.localExtra.size() != firstExtraLength) RaiseError(kInternalError);
  done.localExtraLength = firstExtraLength;
  done.queued = 0;
  done.written = 1;
  const std::int64_t end = store_.Tell();
  const std::int64_t offset = static_cast<std::int64_t>(entry.localHeaderOffset);
  if (store_.Seek(offset, platform::kSeekBegin) != offset) RaiseError(kWriteError);
  WriteLocalHeader(done);
  if (store_.Seek(end, platform::kSeekBegin) != end) RaiseError(kWriteError);
  entry = std::move(done);
  tail_.DataEndsAt(end);
}

void EntryWriter::WriteLocalHeader(ZipEntry& entry) {
  std::vector<std::uint8_t> bytes;
  if (!AppendEntryLocalHeader(&entry, &bytes)) RaiseError(kBadPath);
  WriteBytes(store_, bytes);
}

}  // namespace korbel
