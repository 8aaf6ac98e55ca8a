#include "zip/entry_decoder.h"

#include <new>

#include "zip/codec/codec_failure.h"
#include "zip/error_codes.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

// Codes for a codec failure while reading. A test's sink never refuses
// bytes, so a failed write there is just another decompression failure.
int CodeForFailure(const CodecFailure& failure, bool testing) {
  switch (failure.kind) {
    case kCodecInputEnded:
      return kEndOfData;
    case kCodecReadFailed:
      return testing ? kFileReadError : kReadError;
    case kCodecWriteFailed:
      return testing ? kDecompressError : kWriteError;
    default:
      return kDecompressError;
  }
}

EncryptedEntry EncryptionOf(const EntryCoding& entry) {
  EncryptedEntry encrypted;
  encrypted.aes = entry.method == kMethodAes;
  encrypted.dataDescriptor = (entry.flags & kFlagDataDescriptor) != 0;
  encrypted.crc32 = entry.crc32;
  encrypted.dosDateTime = entry.dosDateTime;
  encrypted.aesInfo = entry.aesInfo;
  encrypted.compressedSize = entry.compressedSize;
  return encrypted;
}

// Passes at most the entry's declared size on to the real sink: a stream
// that would produce more is refused, not written.
struct BoundedSink {
  void* context;
  SinkFunction sink;
  std::uint64_t left;
  bool overflowed;
};

std::int64_t WriteBounded(void* context, const void* data, std::size_t length) {
  auto* bounded = static_cast<BoundedSink*>(context);
  if (data != nullptr && length > bounded->left) {
    bounded->overflowed = true;
    return -1;
  }
  const std::int64_t taken = bounded->sink(bounded->context, data, length);
  if (data != nullptr && taken > 0) bounded->left -= static_cast<std::uint64_t>(taken);
  return taken;
}

}  // namespace

EntryCoding EntryCoding::Of(const ZipEntry& entry) {
  EntryCoding coding;
  coding.compressedSize = entry.compressedSize;
  coding.uncompressedSize = entry.uncompressedSize;
  coding.crc32 = entry.crc32;
  coding.dosDateTime = entry.dosDateTime;
  coding.method = entry.method;
  coding.dataMethod = DataMethodOf(entry);
  coding.flags = entry.flags;
  coding.aesInfo = entry.aesInfo;
  return coding;
}

int EntryDecoder::Select(const EntryCoding& entry) {
  const int selected = SelectCodec(*codec_, entry.dataMethod, entry.uncompressedSize, 0);
  if (selected == kSelectUnsupported) return kUnsupported;
  if (selected != kSelectOk) return kNoMemory;
  codec_->codec->ClearCounts();
  return kOk;
}

int EntryDecoder::DecodeEntry(const EntryCoding& entry, const std::string* password, InputConnector connect,
                              void* connectContext, void* sinkContext, SinkFunction sink, bool testing) {
  const int selected = Select(entry);
  if (selected != kOk) return selected;
  Codec& codec = *codec_->codec;
  int code = kOk;
  try {
    connect(connectContext, codec);
    Decode(entry, password, sinkContext, sink, testing);
  } catch (const EngineFault& fault) {
    code = fault.code;
  } catch (const std::bad_alloc&) {
    code = kNoMemory;
  }
  codec.Disconnect();
  return code;
}

void EntryDecoder::Decode(const EntryCoding& entry, const std::string* password, void* sinkContext,
                          SinkFunction sink, bool testing) {
  Codec& codec = *codec_->codec;
  const bool encrypted = (entry.flags & kFlagEncrypted) != 0;
  if (encrypted) SetUpDecryption(entry, password);
  const bool trailingCode = encrypted && decryptor_->HasTrailingCode();
  BoundedSink bounded{sinkContext, sink, entry.uncompressedSize, false};
  codec.OutputToFunction(&bounded, WriteBounded, 0);
  codec.ExpectSize(entry.uncompressedSize);
  try {
    codec.Decompress(kOwnMode);
  } catch (const CodecFailure& failure) {
    // Some decoders report any failed read after their first as the end
    // of the input; a code that did not match is named as such.
    if (trailingCode && decryptor_->Mismatched()) RaiseError(testing ? kFileReadError : kReadError);
    RaiseError(bounded.overflowed ? kDecompressError : CodeForFailure(failure, testing));
  }
  if (trailingCode) CheckAuthentication(testing);
  // AES entries of the second form store CRC 0 and rest on their
  // authentication code alone; that waives the CRC only for an entry that
  // was decrypted as AES and whose code passed.
  const bool authenticated = trailingCode && entry.method == kMethodAes && entry.aesInfo != 0;
  const std::uint32_t crc = codec.OutputCrc();
  if (crc != entry.crc32 && !(entry.crc32 == 0 && authenticated)) {
    RaiseError(testing ? kCrcError : kDecompressError);
  }
  // Less data than the directory declares is as wrong as more.
  if (bounded.left != 0) RaiseError(kDecompressError);
  if (sink(sinkContext, nullptr, 0) != 0) RaiseError(kFileWriteError);
}

void EntryDecoder::SetUpDecryption(const EntryCoding& entry, const std::string* password) {
  const EncryptedEntry encrypted = EncryptionOf(entry);
  if (!decryptor_ || decryptor_->ForAes() != encrypted.aes) decryptor_ = EntryDecryptor::Make(encrypted.aes);
  Codec& codec = *codec_->codec;
  unsigned char header[EntryDecryptor::kMaxHeaderSize];
  const std::size_t headerSize = decryptor_->HeaderSize(encrypted);
  if (headerSize > 0 && codec.Read(header, headerSize) != static_cast<std::int64_t>(headerSize)) {
    RaiseError(kReadError);
  }
  const int begun = decryptor_->Begin(encrypted, password, header);
  if (begun != kOk) RaiseError(begun);
  codec.AddReadTransform(decryptor_.get(), EntryDecryptor::Transform);
}

// A decoder stops at its stream's end mark, and whatever follows it up to the
// code would never pass the HMAC: an attacker could put a shorter stream in
// front and keep the old tail and code. So the rest is read through the
// decryption, and only a complete, matching code lets the entry pass.
void EntryDecoder::CheckAuthentication(bool testing) {
  Codec& codec = *codec_->codec;
  unsigned char rest[4096];
  for (;;) {
    const std::int64_t got = codec.Read(rest, sizeof rest);
    if (got < 0) RaiseError(testing ? kFileReadError : kReadError);
    if (got == 0) break;
  }
  switch (decryptor_->Finish()) {
    case EntryDecryptor::Verdict::kPassed:
      return;
    // A decoder may take the failed read that carried the code for the end
    // of its input when its stream was complete already.
    case EntryDecryptor::Verdict::kMismatched:
      RaiseError(testing ? kFileReadError : kReadError);
    case EntryDecryptor::Verdict::kIncomplete:
      RaiseError(kEndOfData);
  }
}

}  // namespace korbel
