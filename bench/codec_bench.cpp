// Deflate through DeflateCodec beside zlib called directly, on the same data.
//
// Usage: codec_bench [PATH...] [--repeat N]
// Each PATH is a file or a folder (read recursively, in name order); the
// files, up to 64 MiB, form the sample (default: the benchmark corpus if it
// exists, else /usr/include). Two workloads:
//   stream  - the whole sample as one stream;
//   entries - every file as its own stream, one after the other, the way a
//             folder is packed (this is where setting up the library per
//             run would show).
// Each is compressed at level 9 and inflated back, from memory into a
// function output that only counts, once through the codec and once through
// zlib with the same 16 KiB pieces. For entries, zlib runs twice: with a
// fresh stream per entry and with one stream reset between entries. The best
// of N runs is printed in MB/s of uncompressed data; the codec's figure
// should stay within 10% of zlib's.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench/sample_files.h"
#include "zip/codec/codec_failure.h"
#include "zip/codec/deflate_codec.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
constexpr std::size_t kSampleLimit = std::size_t{64} << 20;
constexpr std::size_t kPiece = 16384;

struct Sample {
  std::vector<Bytes> files;
  std::size_t total = 0;
};

void AddFile(const fs::path& file, Sample& sample) {
  if (sample.total >= kSampleLimit) return;
  std::ifstream in(file, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes.resize(std::min(bytes.size(), kSampleLimit - sample.total));
  sample.total += bytes.size();
  sample.files.push_back(std::move(bytes));
}

void AddPath(const fs::path& path, Sample& sample) {
  for (const auto& file : bench::SampleFiles(path)) AddFile(file, sample);
}

// The output every run writes to: it keeps the bytes only when asked to.
struct Sink {
  Bytes* keep = nullptr;
  std::uint64_t bytes = 0;
};

std::int64_t WriteToSink(void* context, const void* buffer, std::size_t length) {
  auto* sink = static_cast<Sink*>(context);
  if (buffer == nullptr) return 0;
  sink->bytes += length;
  if (sink->keep != nullptr) {
    const auto* data = static_cast<const unsigned char*>(buffer);
    sink->keep->insert(sink->keep->end(), data, data + length);
  }
  return static_cast<std::int64_t>(length);
}

// ---- The codec ------------------------------------------------------------------

void CodecCompress(korbel::DeflateCodec& codec, const Bytes& data, Sink& sink) {
  codec.InputFromMemory(data.size(), data.data(), korbel::kNoCrc);
  codec.OutputToFunction(&sink, WriteToSink, korbel::kNoCrc);
  codec.Compress(9);
}

void CodecInflate(korbel::DeflateCodec& codec, const Bytes& packed, Sink& sink) {
  codec.InputFromMemory(packed.size(), packed.data(), korbel::kNoCrc);
  codec.OutputToFunction(&sink, WriteToSink, korbel::kNoCrc);
  codec.Decompress(8);
}

// ---- zlib directly, in the same pieces --------------------------------------------

void ZlibCompress(z_stream& zs, const Bytes& data, Sink& sink, unsigned char* out) {
  std::size_t offset = 0;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const std::size_t take = std::min(kPiece, data.size() - offset);
    zs.next_in = const_cast<unsigned char*>(data.data() + offset);
    zs.avail_in = static_cast<uInt>(take);
    offset += take;
    flush = take == 0 ? Z_FINISH : Z_NO_FLUSH;
    int result;
    do {
      zs.next_out = out;
      zs.avail_out = kPiece;
      result = deflate(&zs, flush);
      WriteToSink(&sink, out, kPiece - zs.avail_out);
    } while (zs.avail_out == 0 && result != Z_STREAM_END);
  }
}

void ZlibInflate(z_stream& zs, const Bytes& packed, Sink& sink, unsigned char* out) {
  std::size_t offset = 0;
  for (;;) {
    if (zs.avail_in == 0) {
      const std::size_t take = std::min(kPiece, packed.size() - offset);
      if (take == 0) std::abort();
      zs.next_in = const_cast<unsigned char*>(packed.data() + offset);
      zs.avail_in = static_cast<uInt>(take);
      offset += take;
    }
    zs.next_out = out;
    zs.avail_out = kPiece;
    const int result = inflate(&zs, Z_SYNC_FLUSH);
    WriteToSink(&sink, out, kPiece - zs.avail_out);
    if (result == Z_STREAM_END) return;
    if (result != Z_OK && result != Z_BUF_ERROR) std::abort();
  }
}

double BestSeconds(int repeat, const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

void Report(const char* what, std::size_t bytes, double zlibSeconds, double codecSeconds) {
  const double zlibRate = static_cast<double>(bytes) / zlibSeconds / 1e6;
  const double codecRate = static_cast<double>(bytes) / codecSeconds / 1e6;
  std::printf("%-34s zlib %8.1f MB/s   codec %8.1f MB/s   codec/zlib %5.1f%%\n", what, zlibRate, codecRate,
              100.0 * codecRate / zlibRate);
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 5;
  std::vector<fs::path> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      paths.emplace_back(argv[i]);
    }
  }
  if (paths.empty()) {
    std::error_code error;
    paths.emplace_back(fs::exists("/tmp/pakkaro-corpus", error) ? "/tmp/pakkaro-corpus" : "/usr/include");
  }
  Sample sample;
  for (const auto& path : paths) AddPath(path, sample);
  if (sample.total == 0) {
    std::fprintf(stderr, "no data in the given paths\n");
    return 1;
  }
  Bytes whole;
  whole.reserve(sample.total);
  for (const Bytes& file : sample.files) whole.insert(whole.end(), file.begin(), file.end());
  std::printf("sample: %zu files, %.1f MiB; best of %d runs\n", sample.files.size(),
              static_cast<double>(sample.total) / 1048576.0, repeat);

  try {
    korbel::DeflateCodec codec;
    // A memory input of known size would otherwise go whole through the
    // block compressor; the comparison is with zlib's stream in pieces.
    codec.SetWholeBlockLimit(0);
    Bytes buffer(kPiece);

    // The compressed forms, made by the codec and checked against zlib's.
    Bytes packedWhole;
    std::vector<Bytes> packedFiles(sample.files.size());
    {
      Sink keep{&packedWhole};
      CodecCompress(codec, whole, keep);
      for (std::size_t i = 0; i < sample.files.size(); ++i) {
        Sink entry{&packedFiles[i]};
        CodecCompress(codec, sample.files[i], entry);
      }
      Bytes reference;
      Sink check{&reference};
      z_stream zs{};
      deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      ZlibCompress(zs, whole, check, buffer.data());
      deflateEnd(&zs);
      if (reference != packedWhole) {
        std::fprintf(stderr, "the codec's stream differs from zlib's\n");
        return 1;
      }
    }
    std::printf("compressed: %.1f MiB (%.1f%%)\n", static_cast<double>(packedWhole.size()) / 1048576.0,
                100.0 * static_cast<double>(packedWhole.size()) / static_cast<double>(whole.size()));

    Sink sink;
    const double zlibStream = BestSeconds(repeat, [&] {
      z_stream zs{};
      deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      ZlibCompress(zs, whole, sink, buffer.data());
      deflateEnd(&zs);
    });
    const double codecStream = BestSeconds(repeat, [&] { CodecCompress(codec, whole, sink); });
    Report("deflate 9, one stream", whole.size(), zlibStream, codecStream);

    const double zlibEntriesFresh = BestSeconds(repeat, [&] {
      for (const Bytes& file : sample.files) {
        z_stream zs{};
        deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        ZlibCompress(zs, file, sink, buffer.data());
        deflateEnd(&zs);
      }
    });
    const double zlibEntriesReset = BestSeconds(repeat, [&] {
      z_stream zs{};
      deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
      for (const Bytes& file : sample.files) {
        deflateReset(&zs);
        ZlibCompress(zs, file, sink, buffer.data());
      }
      deflateEnd(&zs);
    });
    const double codecEntries = BestSeconds(repeat, [&] {
      for (const Bytes& file : sample.files) CodecCompress(codec, file, sink);
    });
    Report("deflate 9, entries (zlib fresh)", whole.size(), zlibEntriesFresh, codecEntries);
    Report("deflate 9, entries (zlib reset)", whole.size(), zlibEntriesReset, codecEntries);

    const double zlibInflate = BestSeconds(repeat, [&] {
      z_stream zs{};
      inflateInit2(&zs, -15);
      ZlibInflate(zs, packedWhole, sink, buffer.data());
      inflateEnd(&zs);
    });
    const double codecInflate = BestSeconds(repeat, [&] { CodecInflate(codec, packedWhole, sink); });
    Report("inflate, one stream", whole.size(), zlibInflate, codecInflate);

    const double zlibInflateEntries = BestSeconds(repeat, [&] {
      for (const Bytes& packed : packedFiles) {
        z_stream zs{};
        inflateInit2(&zs, -15);
        ZlibInflate(zs, packed, sink, buffer.data());
        inflateEnd(&zs);
      }
    });
    const double codecInflateEntries = BestSeconds(repeat, [&] {
      for (const Bytes& packed : packedFiles) CodecInflate(codec, packed, sink);
    });
    Report("inflate, entries (zlib fresh)", whole.size(), zlibInflateEntries, codecInflateEntries);
  } catch (const korbel::CodecFailure& failure) {
    std::fprintf(stderr, "codec failure %d\n", failure.kind);
    return 1;
  }
  return 0;
}
