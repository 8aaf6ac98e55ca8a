#include "zip/decode_pipeline.h"

#include <cstring>
#include <new>

#include "zip/error_codes.h"

namespace korbel {
namespace {

struct MemorySink {
  unsigned char* data;
  std::size_t size;
  std::size_t capacity;
};

std::int64_t WriteToMemory(void* context, const void* data, std::size_t length) {
  if (data == nullptr) return 0;
  auto* memory = static_cast<MemorySink*>(context);
  // The decoder bounds the data by the entry's size, which is the capacity.
  if (length > memory->capacity - memory->size) return -1;
  std::memcpy(memory->data + memory->size, data, length);
  memory->size += length;
  return static_cast<std::int64_t>(length);
}

void RunJob(DecodeJob* job, EntryDecoder* decoder) {
  const std::size_t size = static_cast<std::size_t>(job->coding.uncompressedSize);
  MemorySink memory{nullptr, 0, size};
  if (!job->testing && size > 0) {
    job->output.reset(new (std::nothrow) unsigned char[size]);
    if (!job->output) {
      job->noRoom = true;
      return;
    }
    memory.data = job->output.get();
  }
  const auto connect = [](void* context, Codec& codec) {
    const DecodeJob& stored = *static_cast<const DecodeJob*>(context);
    codec.InputFromMemory(static_cast<std::size_t>(stored.coding.compressedSize), stored.input.get(), kNoCrc);
  };
  job->code = decoder->DecodeEntry(job->coding, job->hasPassword ? &job->password : nullptr, connect, job,
                                   &memory, job->testing ? DiscardBytes : WriteToMemory, job->testing);
  job->input.reset();
  job->outputSize = memory.size;
}

}  // namespace

void DecodeWorker::Run(DecodeJob* job) { RunJob(job, &decoder_); }

}  // namespace korbel
