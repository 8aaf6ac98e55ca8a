// A liblzma stream as the LZMA and XZ codecs drive it through the codec
// pumps: ended on every way out of a run, fed and stepped the same way; each
// codec adds how it reads the library's results.
#ifndef PAKKARO_ZIP_CODEC_LZMA_STREAM_H
#define PAKKARO_ZIP_CODEC_LZMA_STREAM_H

#include <lzma.h>

#include <cstddef>

#include "zip/codec/codec_pump.h"

namespace korbel {

struct LzmaStream {
  lzma_stream stream = LZMA_STREAM_INIT;
  LzmaStream() = default;
  ~LzmaStream() { lzma_end(&stream); }
  LzmaStream(const LzmaStream&) = delete;
  LzmaStream& operator=(const LzmaStream&) = delete;
};

class LzmaFeed {
 public:
  explicit LzmaFeed(lzma_stream& zs) : zs_(zs) {}
  void Feed(const unsigned char* data, std::size_t size) {
    zs_.next_in = data;
    zs_.avail_in = size;
  }
  std::size_t Pending() const { return zs_.avail_in; }

 protected:
  // One call of the coder into `out`; answers the bytes it produced.
  std::size_t Code(unsigned char* out, std::size_t room, lzma_action action, lzma_ret* result) {
    zs_.next_out = out;
    zs_.avail_out = room;
    *result = lzma_code(&zs_, action);
    return room - zs_.avail_out;
  }
  // Compressing, a piece is done when it is taken; finishing, when the end is written.
  bool PieceDone(bool finish, lzma_ret result) const {
    return finish ? result == LZMA_STREAM_END : zs_.avail_in == 0;
  }
  // One compressing step; `failureOf` reads the library's result as the
  // codec does.
  template <typename FailureOf>
  StepResult CompressStep(unsigned char* out, std::size_t room, bool finish, FailureOf failureOf) {
    lzma_ret result = LZMA_OK;
    StepResult step;
    step.produced = Code(out, room, finish ? LZMA_FINISH : LZMA_RUN, &result);
    step.done = PieceDone(finish, result);
    step.failure = failureOf(result);
    return step;
  }

  lzma_stream& zs_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_LZMA_STREAM_H
