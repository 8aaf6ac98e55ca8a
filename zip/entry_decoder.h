// EntryDecoder: turns one entry's stored bytes into its data and checks them
// (size, CRC, the password and an AES entry's authentication code). The
// archive's thread and each read-ahead worker hold one of their own, with a
// codec of their own, so that decoding shares no state between threads.
#ifndef PAKKARO_ZIP_ENTRY_DECODER_H
#define PAKKARO_ZIP_ENTRY_DECODER_H

#include <cstdint>
#include <memory>
#include <string>

#include "zip/archive_base.h"
#include "zip/codec/codec_selection.h"
#include "zip/crypt/entry_decryptor.h"
#include "zip/format/zip_entry.h"

namespace korbel {

// What decoding needs of an entry: a copy a worker may keep while the
// archive's table goes on changing.
// The sink of a test: takes every byte and keeps none.
inline std::int64_t DiscardBytes(void*, const void*, std::size_t length) {
  return static_cast<std::int64_t>(length);
}

struct EntryCoding {
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t dosDateTime = 0;
  std::uint16_t method = 0;      // as stored; kMethodAes names the wrapper
  std::uint16_t dataMethod = 0;  // the compression method under any wrapper
  std::uint16_t flags = 0;
  std::uint8_t aesInfo = 0;

  static EntryCoding Of(const ZipEntry& entry);
};

class EntryDecoder {
 public:
  // `codec` is the selection this decoder runs; it must outlive the decoder.
  explicit EntryDecoder(CodecSelection* codec) : codec_(codec) {}

  // Connects the selected codec's input to the entry's stored bytes; raises
  // an EngineFault when they cannot be reached.
  using InputConnector = void (*)(void* context, Codec& codec);

  // Decodes the entry into the sink, at most its declared size, with the
  // codec its method needs and the input `connect` gives it: kOk when it
  // came out whole and its checks passed, else the entry's code (they
  // differ for a test).
  int DecodeEntry(const EntryCoding& entry, const std::string* password, InputConnector connect,
                  void* connectContext, void* sinkContext, SinkFunction sink, bool testing);

 private:
  // Makes the codec serve the entry's method: kOk, kUnsupported or kNoMemory.
  int Select(const EntryCoding& entry);
  // Decodes from the connected input; raises an EngineFault on any failure.
  void Decode(const EntryCoding& entry, const std::string* password, void* sinkContext, SinkFunction sink,
              bool testing);
  void SetUpDecryption(const EntryCoding& entry, const std::string* password);
  void CheckAuthentication(bool testing);

  CodecSelection* codec_;
  // One decryptor serves the entries of its kind.
  std::unique_ptr<EntryDecryptor> decryptor_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ENTRY_DECODER_H
