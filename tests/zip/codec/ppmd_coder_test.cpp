#include "zip/codec/ppmd_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/zip/codec/codec_sides.h"

namespace korbel {
namespace {

using testing_support::Bytes;

struct Reader {
  const Bytes* data;
  size_t pos = 0;
  long failAt = -1;  // a read starting at or past this offset fails
};

long ReadFrom(void* context, unsigned char* buffer, unsigned long size) {
  auto* reader = static_cast<Reader*>(context);
  if (reader->failAt >= 0 && reader->pos >= static_cast<size_t>(reader->failAt)) return -1;
  const size_t n = std::min<size_t>(size, reader->data->size() - reader->pos);
  if (n != 0) std::memcpy(buffer, reader->data->data() + reader->pos, n);
  reader->pos += n;
  return static_cast<long>(n);
}

struct Writer {
  Bytes data;
  size_t capacity = SIZE_MAX;  // a write that does not fit takes only what fits
  size_t calls = 0;
};

long WriteTo(void* context, const unsigned char* buffer, unsigned long size) {
  auto* writer = static_cast<Writer*>(context);
  ++writer->calls;
  const size_t n = std::min<size_t>(size, writer->capacity - writer->data.size());
  writer->data.insert(writer->data.end(), buffer, buffer + n);
  return static_cast<long>(n);
}

struct Outcome {
  PpmdResult result;
  Bytes out;
  unsigned long long in = 0;
  unsigned long long produced = 0;
};

Outcome Encode(const PpmdParameters& parameters, const Bytes& data) {
  Reader reader{&data};
  Writer writer;
  Outcome run;
  run.result = PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &writer, &run.in, &run.produced);
  run.out = std::move(writer.data);
  return run;
}

Outcome Decode(const PpmdParameters& parameters, const Bytes& stream, long long limit = -1) {
  Reader reader{&stream};
  Writer writer;
  Outcome run;
  run.result = PpmdDecode(parameters, limit, ReadFrom, &reader, WriteTo, &writer, &run.in, &run.produced);
  run.out = std::move(writer.data);
  return run;
}

// Text-like data: words, numbers and punctuation in changing mixes, so that the model
// grows in every order and keeps meeting new contexts.
Bytes Prose(size_t size, unsigned seed) {
  static const char* const kWords[] = {"archive", "entry",  "header", "central", "directory", "method",
                                       "deflate", "stored", "size",   "crc",     "name",      "the",
                                       "of",      "and",    "is",     "record",  "offset",    "disk"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* word = kWords[rng() % 18];
    out.insert(out.end(), word, word + std::strlen(word));
    switch (rng() % 8) {
      case 0:
        out.push_back(',');
        break;
      case 1: {
        const std::string number = std::to_string(rng() % 100000);
        out.insert(out.end(), number.begin(), number.end());
        break;
      }
      case 2:
        out.push_back('\n');
        break;
      default:
        break;
    }
    out.push_back(' ');
  }
  out.resize(size);
  return out;
}

TEST(PpmdHeaderTest, FieldsPackAndParse) {
  struct Case {
    PpmdParameters parameters;
    unsigned short header;
  };
  const Case cases[] = {
      {{2, 1, 0}, 0x0001},     // order 2, 1 MiB, restart
      {{16, 256, 1}, 0x1FFF},  // order 16, 256 MiB, cut off
      {{6, 16, 0}, 0x00F5},    // 7zz's default at level 5
      {{9, 14, 2}, 0x20D8},    // freeze
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PpmdHeader(c.parameters), c.header);
    PpmdParameters parsed{};
    ASSERT_TRUE(PpmdParseHeader(c.header, &parsed));
    EXPECT_EQ(parsed.order, c.parameters.order);
    EXPECT_EQ(parsed.memoryMiB, c.parameters.memoryMiB);
    EXPECT_EQ(parsed.restoreMethod, c.parameters.restoreMethod);
  }
}

TEST(PpmdHeaderTest, OrderOneAndUnknownRestoreMethodsAreRefused) {
  const std::uint16_t headers[] = {0x0000, 0x0FF0, 0x3005, 0xF005};
  for (const std::uint16_t header : headers) {
    PpmdParameters parsed{7, 7, 7};
    EXPECT_FALSE(PpmdParseHeader(header, &parsed)) << std::hex << header;
    EXPECT_EQ(parsed.order, 7) << "left untouched on failure";
  }
}

TEST(PpmdCoderTest, RoundTrips) {
  const Bytes prose = Prose(300000, 1);
  Bytes mixed = Prose(500000, 2);
  const Bytes noise = testing_support::RandomBytes(60000, 3);
  mixed.insert(mixed.begin() + 200000, noise.begin(), noise.end());
  struct Case {
    const char* name;
    Bytes data;
    PpmdParameters parameters;
  };
  const Case cases[] = {
      {"one byte, order 2", {0}, {2, 1, 0}},
      {"prose", prose, {6, 8, 0}},
      {"prose, order 2", prose, {2, 1, 0}},
      {"noise", testing_support::RandomBytes(200000, 4), {4, 2, 0}},
      {"restarts", mixed, {16, 1, 0}},
      {"cut-offs", mixed, {16, 1, 1}},
      {"freeze runs as cut-off", mixed, {12, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome encoded = Encode(c.parameters, c.data);
    ASSERT_EQ(encoded.result, PpmdResult::kOk);
    EXPECT_EQ(encoded.in, c.data.size());
    EXPECT_EQ(encoded.produced, encoded.out.size());
    const Outcome decoded = Decode(c.parameters, encoded.out);
    ASSERT_EQ(decoded.result, PpmdResult::kOk);
    EXPECT_TRUE(decoded.out == c.data);
    EXPECT_EQ(decoded.in, encoded.out.size());
    EXPECT_EQ(decoded.produced, c.data.size());
  }
}

TEST(PpmdCoderTest, CompressionReflectsTheData) {
  // 1 MiB of zeros shrinks to a few hundred bytes; noise grows by a little.
  EXPECT_LT(Encode({8, 1, 0}, Bytes(1 << 20, 0)).out.size(), 1000u);
  const Outcome noise = Encode({4, 2, 0}, testing_support::RandomBytes(100000, 5));
  EXPECT_GT(noise.out.size(), 100000u);
  EXPECT_LT(noise.out.size(), 110000u);
}

TEST(PpmdCoderTest, DecodeStopsAtTheLimit) {
  const Bytes data = Prose(100000, 6);
  const PpmdParameters parameters{6, 2, 0};
  const Outcome encoded = Encode(parameters, data);
  for (long long limit : {1LL, 65535LL, 65536LL, 65537LL, 99999LL}) {
    const Outcome decoded = Decode(parameters, encoded.out, limit);
    ASSERT_EQ(decoded.result, PpmdResult::kOk) << limit;
    EXPECT_TRUE(decoded.out == Bytes(data.begin(), data.begin() + limit)) << limit;
  }
  // A limit past the end still ends at the end mark.
  const Outcome decoded = Decode(parameters, encoded.out, 200000);
  EXPECT_EQ(decoded.result, PpmdResult::kOk);
  EXPECT_EQ(decoded.out.size(), data.size());
  // Limit 0 needs no input at all.
  EXPECT_EQ(Decode(parameters, {}, 0).result, PpmdResult::kOk);
}

TEST(PpmdCoderTest, BadParametersAreRefused) {
  const PpmdParameters bad[] = {{1, 8, 0}, {17, 8, 0}, {6, 0, 0}, {6, 257, 0}, {6, 8, 3}, {6, 8, -1}};
  const Bytes data = Prose(1000, 7);
  for (const PpmdParameters& p : bad) {
    EXPECT_EQ(Encode(p, data).result, PpmdResult::kInternalError);
    EXPECT_EQ(Decode(p, data).result, PpmdResult::kFormatError);
  }
}

TEST(PpmdCoderTest, CallbackFailuresAreReported) {
  const Bytes data = Prose(100000, 8);
  const PpmdParameters parameters{6, 2, 0};
  const Bytes stream = Encode(parameters, data).out;
  unsigned long long in = 0;
  unsigned long long out = 0;
  {
    SCOPED_TRACE("encoder input fails after the first buffer");
    Reader reader{&data, 0, 8192};
    Writer writer;
    EXPECT_EQ(PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &writer, &in, &out),
              PpmdResult::kReadFailed);
    EXPECT_EQ(in, 8192u);
  }
  {
    SCOPED_TRACE("encoder output takes only 100 bytes");
    Reader reader{&data};
    Writer writer;
    writer.capacity = 100;
    EXPECT_EQ(PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &writer, &in, &out),
              PpmdResult::kWriteFailed);
    EXPECT_EQ(writer.calls, 1u) << "no writes after the failed one";
    EXPECT_EQ(out, 0u);
  }
  {
    SCOPED_TRACE("decoder input fails at once");
    Reader reader{&stream, 0, 0};
    Writer writer;
    EXPECT_EQ(PpmdDecode(parameters, -1, ReadFrom, &reader, WriteTo, &writer, &in, &out),
              PpmdResult::kReadFailed);
  }
  {
    SCOPED_TRACE("decoder output takes only 70000 bytes");
    Reader reader{&stream};
    Writer writer;
    writer.capacity = 70000;
    EXPECT_EQ(PpmdDecode(parameters, -1, ReadFrom, &reader, WriteTo, &writer, &in, &out),
              PpmdResult::kWriteFailed);
    EXPECT_EQ(out, 65536u) << "the first full buffer went out";
    EXPECT_TRUE(writer.data == Bytes(data.begin(), data.begin() + 70000));
  }
}

TEST(PpmdCoderTest, EveryTruncationIsAFormatError) {
  const Bytes data = Prose(3000, 9);
  const PpmdParameters parameters{8, 1, 0};
  const Bytes stream = Encode(parameters, data).out;
  for (size_t length = 0; length < stream.size(); ++length) {
    const Outcome decoded = Decode(parameters, Bytes(stream.begin(), stream.begin() + length));
    ASSERT_EQ(decoded.result, PpmdResult::kFormatError) << "length " << length;
    EXPECT_LE(decoded.in, length);
  }
}

TEST(PpmdCoderTest, CorruptStreamsEndCleanly) {
  // Whatever the bytes, decoding ends: with an error, or with output bounded by how
  // much the input can code (each symbol costs at least 1/3000 of a byte).
  const Bytes data = Prose(200000, 10);
  std::mt19937 rng(11);
  for (int restore = 0; restore <= 1; ++restore) {
    const PpmdParameters parameters{12, 1, restore};
    const Bytes stream = Encode(parameters, data).out;
    for (int i = 0; i < 30; ++i) {
      Bytes corrupt =
          i < 10 ? testing_support::RandomBytes(1 + rng() % 5000, static_cast<std::uint32_t>(rng())) : stream;
      if (i >= 10) {
        for (int flips = 1 + i % 4; flips > 0; --flips) {
          corrupt[rng() % corrupt.size()] ^= static_cast<unsigned char>(1u << (rng() % 8));
        }
      }
      const Outcome decoded = Decode(parameters, corrupt);
      EXPECT_TRUE(decoded.result == PpmdResult::kOk || decoded.result == PpmdResult::kFormatError);
      EXPECT_LE(decoded.produced, 3000 * (corrupt.size() + 4));
      EXPECT_LE(decoded.in, corrupt.size());
    }
  }
}

// --- Interplay with 7-Zip's `7zz`, which writes and reads zip method 98 itself. ---

using testing_support::Quote;
using testing_support::ReadFile;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::WriteFile;

struct SevenZipCase {
  const char* name;
  Bytes data;
  int order;
  unsigned memoryMiB;
  const char* extra;  // more 7zz switches
  int restoreMethod;  // what 7zz then writes into the header
};

std::vector<SevenZipCase> SevenZipCases() {
  Bytes mixed = Prose(700000, 12);
  const Bytes noise = testing_support::RandomBytes(40000, 13);
  mixed.insert(mixed.begin() + 300000, noise.begin(), noise.end());
  Bytes objectLike = testing_support::RandomBytes(60000, 16);
  for (int i = 0; i < 60000; ++i) objectLike.push_back(static_cast<unsigned char>(i));
  return {
      {"prose order 6", Prose(400000, 14), 6, 16, "", 0},
      {"prose order 2", Prose(200000, 15), 2, 1, "", 0},
      {"restarts at order 16 in 1 MiB", mixed, 16, 1, "", 0},
      {"cut-offs at level 9", mixed, 10, 1, "-mx=9", 1},
      {"object-code-like: noise, then a repeating table", objectLike, 3, 2, "", 0},
  };
}

TEST(PpmdSevenZipTest, EntriesWrittenBySevenZipDecodeAndReencodeByteExactly) {
  if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  TempDir dir;
  for (const SevenZipCase& c : SevenZipCases()) {
    SCOPED_TRACE(c.name);
    const std::string zip = dir / (std::string("made_") + std::to_string(c.order) + c.extra + ".zip");
    ASSERT_TRUE(WriteFile(dir / "data.bin", c.data));
    const std::string command = "7zz a -tzip -mm=PPMd -mo=" + std::to_string(c.order) +
                                " -mmem=" + std::to_string(c.memoryMiB) + "m " + c.extra + " " + Quote(zip) +
                                " " + Quote(dir / "data.bin") + " > /dev/null";
    ASSERT_EQ(RunCommand(command), 0);
    const auto entry = testing_support::ParseFirstEntry(ReadFile(zip));
    ASSERT_TRUE(entry.ok);
    ASSERT_EQ(entry.method, 98);
    ASSERT_GE(entry.data.size(), 2u);
    PpmdParameters parameters{};
    ASSERT_TRUE(
        PpmdParseHeader(static_cast<unsigned short>(entry.data[0] | entry.data[1] << 8), &parameters));
    EXPECT_EQ(parameters.order, c.order);
    EXPECT_EQ(parameters.restoreMethod, c.restoreMethod);
    const Bytes stream(entry.data.begin() + 2, entry.data.end());

    const Outcome decoded = Decode(parameters, stream);
    ASSERT_EQ(decoded.result, PpmdResult::kOk);
    EXPECT_TRUE(decoded.out == c.data);
    EXPECT_EQ(decoded.in, stream.size()) << "the end mark and flush close the entry exactly";

    const Outcome encoded = Encode(parameters, c.data);
    ASSERT_EQ(encoded.result, PpmdResult::kOk);
    EXPECT_TRUE(encoded.out == stream) << "same model, same coder: the same bytes";
  }
}

}  // namespace
}  // namespace korbel
