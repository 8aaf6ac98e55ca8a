// The loop that every streaming codec runs: read a piece of input, let the
// library step over it into an output span, hand the output on, count both
// sides. A codec brings only a small adapter around its library stream that
// feeds it and turns each of its results into a StepResult.
//
// A compression adapter has
//   void Feed(const unsigned char* data, std::size_t size);
//   CodecFailure ReadFailure() const;    the input side failed
//   StepResult Step(unsigned char* out, std::size_t room, bool finish);
// where `done` means the piece is taken (when finishing: the end is written).
// A decompression adapter has Feed and ReadFailure, and
//   std::size_t Pending() const;         bytes fed and not yet taken
//   CodecFailure EndFailure() const;     the input ended: a failure, or
//                                        kNoFailure to let the stream finish
//   StepResult Step(unsigned char* out, std::size_t room, bool inputEnded);
//   CodecFailure StallFailure(bool starved, bool inputEnded) const;
// where `done` means the stream is complete, and StallFailure judges a step
// that neither took input nor gave output (`starved`: it left output room).
#ifndef PAKKARO_ZIP_CODEC_CODEC_PUMP_H
#define PAKKARO_ZIP_CODEC_CODEC_PUMP_H

#include <cstddef>
#include <cstdint>

#include "zip/codec/codec.h"

namespace korbel {

struct StepResult {
  std::size_t produced = 0;
  bool done = false;
  // Fails the run once the output of the step is handed on and counted.
  CodecFailure failure = kNoFailure;
  // Fails the run before the output of the step is handed on.
  CodecFailure refused = kNoFailure;
};

inline bool IsFailure(const CodecFailure& failure) { return failure.kind != kCodecOk; }

template <typename Library>
void Codec::PumpCompression(Library& library, unsigned char* input, std::size_t inputSize,
                            unsigned char* work, const OutputFailureTexts& texts) {
  for (bool finish = false; !finish;) {
    const std::int64_t got = Read(input, inputSize);
    if (got < 0) Fail(library.ReadFailure());
    CountUncompressed(static_cast<std::uint64_t>(got));
    finish = got == 0;
    library.Feed(input, static_cast<std::size_t>(got));
    StepResult step;
    do {
      const OutputSpan span = BeginOutput(work, kWorkBufferSize);
      step = library.Step(span.data, span.size, finish);
      DeliverOutput(span, step.produced, texts);
      CountCompressed(step.produced);
      if (IsFailure(step.failure)) Fail(step.failure);
    } while (!step.done);
  }
  NoteExpansion();
  FinishOutput(texts);
}

template <typename Library>
void Codec::PumpDecompression(Library& library, unsigned char* input, std::size_t inputSize,
                              unsigned char* work, std::size_t workSize, const OutputFailureTexts& texts) {
  bool inputEnded = false;
  bool starved = true;  // the last step left output room, so it wants input
  for (;;) {
    if (library.Pending() == 0 && starved && !inputEnded) {
      const std::int64_t got = Read(input, inputSize);
      if (got < 0) Fail(library.ReadFailure());
      if (got == 0) {
        const CodecFailure ended = library.EndFailure();
        if (IsFailure(ended)) Fail(ended);
        inputEnded = true;
      }
      library.Feed(input, static_cast<std::size_t>(got));
    }
    const std::size_t before = library.Pending();
    const OutputSpan span = BeginOutput(work, workSize);
    const StepResult step = library.Step(span.data, span.size, inputEnded);
    const std::size_t taken = before - library.Pending();
    CountCompressed(taken);
    if (IsFailure(step.refused)) Fail(step.refused);
    DeliverOutput(span, step.produced, texts);
    CountUncompressed(step.produced);
    if (step.done) return;
    if (IsFailure(step.failure)) Fail(step.failure);
    starved = step.produced < span.size;
    if (step.produced == 0 && taken == 0) {
      const CodecFailure stalled = library.StallFailure(starved, inputEnded);
      if (IsFailure(stalled)) Fail(stalled);
    }
  }
}

}  // namespace korbel

#endif  // PAKKARO_ZIP_CODEC_CODEC_PUMP_H
