// Deflate64Decoder: decompression of zip method 9, Deflate with a 64 KiB
// window. The format is Deflate (RFC 1951) with three changes: matches may
// reach 65536 bytes back, length code 285 carries 16 extra bits on base 3
// (lengths 3..65538), and distance codes 30 and 31 are in use (bases 32769
// and 49153 with 14 extra bits each).
//
// The decoder pulls its input through a callback and pushes its output
// through another, so the caller never has to size a buffer for either
// side. It keeps the last 64 KiB of output itself and can be run again for
// the next stream; the window is allocated on the first run.
#ifndef PAKKARO_ZIP_CODEC_DEFLATE64_DECODER_H
#define PAKKARO_ZIP_CODEC_DEFLATE64_DECODER_H

#include <memory>

namespace korbel {

// Hands the decoder its next piece of input through `*data`. Answers the
// number of bytes there (any positive count; the engine reads 16 KiB at a
// time), 0 at the end of the input, negative when reading failed. The bytes
// must stay valid until the next call or the end of the run.
using InflateRead = long (*)(void* context, const unsigned char** data);

// Takes `size` bytes of output. Answers 0 when they were all taken, anything
// else when writing failed. A run calls it with size > 0 only.
using InflateWrite = int (*)(void* context, const unsigned char* data, unsigned long size);

enum class Deflate64Result {
  kStreamEnd,    // the final block ended; all output has been written
  kDataError,    // the input is not a valid Deflate64 stream
  kReadFailed,   // the read callback failed while its bytes were needed
  kWriteFailed,  // the write callback refused output
  kNoMemory,     // the window could not be allocated
  kTruncated,    // the input ended before the final block did
};

class Deflate64Decoder {
 public:
  Deflate64Decoder();
  ~Deflate64Decoder();
  Deflate64Decoder(const Deflate64Decoder&) = delete;
  Deflate64Decoder& operator=(const Deflate64Decoder&) = delete;

  // Decodes one stream from its first block to the end of its final block.
  // `bytesIn` receives the compressed bytes the stream occupied (bytes the
  // decoder fetched past its end are not counted), `bytesOut` the bytes
  // handed to `write`; either may be null. Both are set on failure too, to
  // what was consumed and written until then.
  Deflate64Result Run(InflateRead read, void* in, InflateWrite write, void* out, unsigned long long* bytesIn,
                      unsigned long long* bytesOut);

  // The decoding tables and the window; kept between runs.
  struct Workspace;

 private:
  std::unique_ptr<Workspace> workspace_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_DEFLATE64_DECODER_H
