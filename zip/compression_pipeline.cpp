#include "zip/compression_pipeline.h"

#include <libdeflate.h>

#include <new>

namespace korbel {
namespace {

void RunPiece(CompressionJob* job, PieceCompressor* compressor) {
  const unsigned char* data = job->input.get() + job->dictionarySize;
  job->crc = libdeflate_crc32(0, data, job->DataSize());
  job->noMemory = !compressor->Compress(job->level, job->input.get(), job->dictionarySize, job->DataSize(),
                                        job->lastPiece, &job->output, &job->outputSize);
  if (job->noMemory) {
    job->output.reset();
    job->outputSize = 0;
  }
}

void RunJob(CompressionJob* job, BlockCompressor* compressor) {
  job->crc = libdeflate_crc32(0, job->input.get(), job->inputSize);
  if (!compressor->SetLevel(job->level)) {
    job->noMemory = true;
    return;
  }
  const std::size_t room = compressor->Bound(job->inputSize);
  job->output.reset(new (std::nothrow) unsigned char[room]);
  if (!job->output) {
    job->noMemory = true;
    return;
  }
  job->outputSize = compressor->Compress(job->input.get(), job->inputSize, job->output.get(), room);
  if (job->outputSize == 0 || job->outputSize > job->inputSize) {
    job->stored = true;
    job->output.reset();
    job->outputSize = 0;
  }
}

}  // namespace

void CompressionWorker::Run(CompressionJob* job) {
  if (job->piece) {
    RunPiece(job, &pieces_);
  } else {
    RunJob(job, &whole_);
  }
}

}  // namespace korbel
