#include "zip/codec/ppmd_coder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

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
      {{2, 1, 0}, 0x0001},       // order 2, 1 MiB, restart
      {{16, 256, 1}, 0x1FFF},    // order 16, 256 MiB, cut off
      {{6, 16, 0}, 0x00F5},      // 7zz's default at level 5
      {{9, 14, 2}, 0x20D8},      // freeze
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
  for (unsigned short header : {0x0000, 0x0FF0, 0x3005, 0xF005}) {
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
      {"empty", {}, {6, 1, 0}},
      {"one byte", {'x'}, {6, 1, 0}},
      {"one byte, order 2", {0}, {2, 1, 0}},
      {"prose", prose, {6, 8, 0}},
      {"prose, order 2", prose, {2, 1, 0}},
      {"noise", testing_support::RandomBytes(200000, 4), {4, 2, 0}},
      {"zeros", Bytes(1 << 20, 0), {8, 1, 0}},
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
    EXPECT_EQ(PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &writer, &in, &out), PpmdResult::kReadFailed);
    EXPECT_EQ(in, 8192u);
  }
  {
    SCOPED_TRACE("encoder output takes only 100 bytes");
    Reader reader{&data};
    Writer writer;
    writer.capacity = 100;
    EXPECT_EQ(PpmdEncode(parameters, ReadFrom, &reader, WriteTo, &writer, &in, &out), PpmdResult::kWriteFailed);
    EXPECT_EQ(writer.calls, 1u) << "no writes after the failed one";
    EXPECT_EQ(out, 0u);
  }
  {
    SCOPED_TRACE("decoder input fails at once");
    Reader reader{&stream, 0, 0};
    Writer writer;
    EXPECT_EQ(PpmdDecode(parameters, -1, ReadFrom, &reader, WriteTo, &writer, &in, &out), PpmdResult::kReadFailed);
  }
  {
    SCOPED_TRACE("decoder output takes only 70000 bytes");
    Reader reader{&stream};
    Writer writer;
    writer.capacity = 70000;
    EXPECT_EQ(PpmdDecode(parameters, -1, ReadFrom, &reader, WriteTo, &writer, &in, &out), PpmdResult::kWriteFailed);
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
      Bytes corrupt = i < 10 ? testing_support::RandomBytes(1 + rng() % 5000, rng()) : stream;
      if (i >= 10) {
        for (int flips = 1 + i % 4; flips > 0; --flips) corrupt[rng() % corrupt.size()] ^= 1u << (rng() % 8);
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

// Little-endian reads that fail (and stay failed) past the end.
class Cursor {
 public:
  Cursor(const Bytes& data, size_t pos) : data_(data), pos_(pos) {}
  uint32_t Get(int width) {
    uint32_t v = 0;
    if (pos_ > data_.size() || static_cast<size_t>(width) > data_.size() - pos_) {
      ok_ = false;
      return 0;
    }
    for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(data_[pos_ + i]) << (8 * i);
    pos_ += width;
    return v;
  }
  void Skip(size_t n) { pos_ += n; }
  bool ok() const { return ok_; }

 private:
  const Bytes& data_;
  size_t pos_;
  bool ok_ = true;
};

struct Entry {
  uint32_t method = 0;
  Bytes data;  // as stored, including the 2-byte PPMd header
};

// The first entry of a single-volume zip, located through the central directory.
bool FirstEntry(const Bytes& zip, Entry* entry) {
  if (zip.size() < 22) return false;
  size_t end = zip.size() - 22;
  while (end > 0 && !(zip[end] == 'P' && zip[end + 1] == 'K' && zip[end + 2] == 5 && zip[end + 3] == 6)) --end;
  Cursor eocd(zip, end + 16);
  Cursor central(zip, eocd.Get(4));
  if (central.Get(4) != 0x02014b50) return false;
  central.Skip(6);  // versions, flags
  entry->method = central.Get(2);
  central.Skip(8);  // time, date, CRC
  const uint32_t compressedSize = central.Get(4);
  central.Skip(18);  // size, name, extra and comment lengths, disk, attributes
  const uint32_t localOffset = central.Get(4);
  Cursor local(zip, localOffset);
  if (local.Get(4) != 0x04034b50) return false;
  local.Skip(22);  // up to the name length
  const size_t dataStart = localOffset + 30 + local.Get(2) + local.Get(2);
  if (!eocd.ok() || !central.ok() || !local.ok() || dataStart > zip.size() || compressedSize > zip.size() - dataStart) {
    return false;
  }
  entry->data.assign(zip.begin() + dataStart, zip.begin() + dataStart + compressedSize);
  return true;
}

void Put(Bytes* out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A zip with one method-98 entry "data.bin".
Bytes MakeZip(const Bytes& original, const PpmdParameters& parameters, const Bytes& stream) {
  Bytes compressed;
  Put(&compressed, PpmdHeader(parameters), 2);
  compressed.insert(compressed.end(), stream.begin(), stream.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, original.data(), static_cast<uInt>(original.size())));
  const std::string name = "data.bin";
  auto common = [&](Bytes* out) {
    Put(out, 63, 2);        // version needed: 6.3 for PPMd
    Put(out, 0, 2);         // flags
    Put(out, 98, 2);        // method
    Put(out, 0, 2);         // time
    Put(out, 0x5A21, 2);    // date: 2025-01-01
    Put(out, crc, 4);
    Put(out, static_cast<uint32_t>(compressed.size()), 4);
    Put(out, static_cast<uint32_t>(original.size()), 4);
    Put(out, static_cast<uint32_t>(name.size()), 2);
    Put(out, 0, 2);         // extra field length
  };
  Bytes zip;
  Put(&zip, 0x04034b50, 4);
  common(&zip);
  zip.insert(zip.end(), name.begin(), name.end());
  zip.insert(zip.end(), compressed.begin(), compressed.end());
  const uint32_t centralStart = static_cast<uint32_t>(zip.size());
  Put(&zip, 0x02014b50, 4);
  Put(&zip, 63, 2);  // version made by
  common(&zip);
  Put(&zip, 0, 2);   // comment length
  Put(&zip, 0, 2);   // disk
  Put(&zip, 0, 2);   // internal attributes
  Put(&zip, 0, 4);   // external attributes
  Put(&zip, 0, 4);   // local header offset
  zip.insert(zip.end(), name.begin(), name.end());
  const uint32_t centralSize = static_cast<uint32_t>(zip.size()) - centralStart;
  Put(&zip, 0x06054b50, 4);
  Put(&zip, 0, 4);  // disk numbers
  Put(&zip, 1, 2);
  Put(&zip, 1, 2);
  Put(&zip, centralSize, 4);
  Put(&zip, centralStart, 4);
  Put(&zip, 0, 2);
  return zip;
}

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
    const std::string command = "7zz a -tzip -mm=PPMd -mo=" + std::to_string(c.order) + " -mmem=" +
                                std::to_string(c.memoryMiB) + "m " + c.extra + " " + Quote(zip) + " " +
                                Quote(dir / "data.bin") + " > /dev/null";
    ASSERT_EQ(RunCommand(command), 0);
    Entry entry;
    ASSERT_TRUE(FirstEntry(ReadFile(zip), &entry));
    ASSERT_EQ(entry.method, 98u);
    ASSERT_GE(entry.data.size(), 2u);
    PpmdParameters parameters{};
    ASSERT_TRUE(PpmdParseHeader(static_cast<unsigned short>(entry.data[0] | entry.data[1] << 8), &parameters));
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

TEST(PpmdSevenZipTest, EntriesWeWriteAreAcceptedBySevenZip) {
  if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  TempDir dir;
  struct Case {
    const char* name;
    Bytes data;
    PpmdParameters parameters;
  };
  const Case cases[] = {
      {"empty", {}, {6, 1, 0}},
      {"prose", Prose(300000, 17), {8, 8, 0}},
      {"restarts", Prose(600000, 18), {16, 1, 0}},
      {"cut-offs", Prose(600000, 19), {16, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome encoded = Encode(c.parameters, c.data);
    ASSERT_EQ(encoded.result, PpmdResult::kOk);
    const std::string zip = dir / (std::string(c.name) + ".zip");
    ASSERT_TRUE(WriteFile(zip, MakeZip(c.data, c.parameters, encoded.out)));
    EXPECT_EQ(RunCommand("7zz t " + Quote(zip) + " > /dev/null"), 0);
    const std::string extracted = dir / (std::string(c.name) + ".out");
    ASSERT_EQ(RunCommand("7zz e -so " + Quote(zip) + " > " + Quote(extracted) + " 2> /dev/null"), 0);
    EXPECT_TRUE(ReadFile(extracted) == c.data);
  }
}

TEST(PpmdSevenZipTest, SevenZipRejectsAStreamWeCorrupted) {
  // Control for the test above: 7zz really checks what it reads.
  if (!testing_support::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  TempDir dir;
  const Bytes data = Prose(50000, 20);
  const PpmdParameters parameters{6, 1, 0};
  Bytes stream = Encode(parameters, data).out;
  stream[stream.size() / 2] ^= 0x10;
  const std::string zip = dir / "bad.zip";
  ASSERT_TRUE(WriteFile(zip, MakeZip(data, parameters, stream)));
  EXPECT_NE(RunCommand("7zz t " + Quote(zip) + " > /dev/null 2>&1"), 0);
}

}  // namespace
}  // namespace korbel
