// The core that writes an entry's local header and data, reached the ways
// the archive reaches it: a folder (no data), an entry written at once from
// a read function, queued files that were compressed whole on a worker (the
// final form) or that stream from their handle at close. Every row checks
// the bytes written against the reference inflater and the headers field by
// field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/file_info.h"
#include "tests/support/archive_builder.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/codec/deflate_codec.h"
#include "zip/format/zip_constants.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::CentralHeader;
using archive_builder::Get;
using archive_builder::LocalHeader;
using testing_support::Bytes;
using testing_support::TempDir;

// The archive with its adding mode and retry switch under the test's control.
class WritingKorbel : public Korbel {
 public:
  WritingKorbel(bool queued, bool retry) {
    queuedAdding_ = queued;
    storeOnGrowthRetry_ = retry;
  }
};

enum class Way {
  kFolder,     // no data: the header is written once
  kImmediate,  // a read function, first header rewritten with the final sizes
  kQueued,     // a file written at close: whole on a worker, or streamed from its handle
};

enum class Content { kEmpty, kText, kRandom, kShortRepeat, kShortRandom };

struct Row {
  const char* name;
  Way way;
  Content content;
  std::size_t size;
  int method;            // the archive's setting: -1 automatic, 0 stored, 8 Deflate
  bool retry;            // an immediate entry that grows is added again stored
  std::uint64_t stated;  // the size the source claims (immediate only); 0: the true size
  int code;              // what adding (immediate) or closing (queued) answers
  std::uint16_t expectedMethod;
  bool zip64Block;  // the local header carries a Zip64 block
};

constexpr std::size_t kWholeMinimum = DeflateCodec::kWholeBlockMinimum;

const Row kRows[] = {
    {"Folder", Way::kFolder, Content::kEmpty, 0, -1, true, 0, kOk, kMethodStored, false},
    {"ImmediateText", Way::kImmediate, Content::kText, 100000, -1, true, 0, kOk, kMethodDeflate, false},
    {"ImmediateStoredSetting", Way::kImmediate, Content::kText, 100000, 0, true, 0, kOk, kMethodStored,
     false},
    {"ImmediateEmpty", Way::kImmediate, Content::kEmpty, 0, -1, true, 0, kOk, kMethodStored, false},
    // Deflate grows random data: without the store fallback the write fails,
    // with it the entry is added again, stored.
    {"ImmediateRandomRefused", Way::kImmediate, Content::kRandom, 100000, 8, false, 0, kCompressError,
     kMethodStored, false},
    {"ImmediateRandomStoredAgain", Way::kImmediate, Content::kRandom, 100000, 8, true, 0, kOk, kMethodStored,
     false},
    // A source that claims more than 4 GiB gets a Zip64 block in its first
    // header; the final header must have the same length, so it keeps the
    // block, with the true sizes.
    {"ImmediateStatedOver4GiB", Way::kImmediate, Content::kText, 5000, -1, true, std::uint64_t{5} << 30, kOk,
     kMethodDeflate, true},
    {"QueuedWholeText", Way::kQueued, Content::kText, 100000, -1, true, 0, kOk, kMethodDeflate, false},
    {"QueuedWholeRandom", Way::kQueued, Content::kRandom, 100000, -1, true, 0, kOk, kMethodStored, false},
    {"QueuedWholeSmallest", Way::kQueued, Content::kText, kWholeMinimum, -1, true, 0, kOk, kMethodDeflate,
     false},
    // Under the whole-block minimum the file streams from its handle; when
    // Deflate grows it, the handle is rewound and the file stored.
    {"QueuedStreamShortRepeat", Way::kQueued, Content::kShortRepeat, kWholeMinimum - 1, -1, true, 0, kOk,
     kMethodDeflate, false},
    {"QueuedStreamShortRandom", Way::kQueued, Content::kShortRandom, kWholeMinimum - 1, -1, true, 0, kOk,
     kMethodStored, false},
    {"QueuedStreamStoredSetting", Way::kQueued, Content::kText, 100000, 0, true, 0, kOk, kMethodStored,
     false},
    {"QueuedStreamEmpty", Way::kQueued, Content::kEmpty, 0, -1, true, 0, kOk, kMethodStored, false},
};

Bytes MakeContent(const Row& row) {
  switch (row.content) {
    case Content::kEmpty:
      return {};
    case Content::kText:
      return testing_support::TextBytes(row.size);
    case Content::kRandom:
    case Content::kShortRandom:
      return testing_support::RandomBytes(row.size, 77);
    case Content::kShortRepeat:
      return Bytes(row.size, 'a');
  }
  return {};
}

struct MemoryReader {
  const Bytes* data;
  std::size_t at;
};

std::int64_t ReadMemory(void* context, void* buffer, std::size_t length) {
  auto* reader = static_cast<MemoryReader*>(context);
  const std::size_t rest = reader->data->size() - reader->at;
  const std::size_t count = length < rest ? length : rest;
  std::copy(reader->data->begin() + static_cast<long>(reader->at),
            reader->data->begin() + static_cast<long>(reader->at + count),
            static_cast<unsigned char*>(buffer));
  reader->at += count;
  return static_cast<std::int64_t>(count);
}

// Adds the row's entry as its way does and closes the archive; the code of
// the step that answers for the row.
int AddAndClose(const Row& row, const Bytes& content, const TempDir& dir, const std::string& path) {
  WritingKorbel archive(row.way == Way::kQueued, row.retry);
  EXPECT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
  archive.SetMethod(row.method);
  int code = kOk;
  switch (row.way) {
    case Way::kFolder:
      EXPECT_EQ(archive.AddFolderEntry("folder"), kOk);
      break;
    case Way::kImmediate: {
      if (row.stated == 0) {
        // The way a caller adds a block: with the retry when Deflate grows it.
        code = archive.AddFromMemory("entry.bin", content.data(), content.size(), nullptr);
        break;
      }
      EntrySource source{};
      source.info.attributes = 0x20 | fs::InfoSizeBits(row.stated);
      source.info.size = static_cast<std::uint32_t>(row.stated);
      source.info.modified = 1700000000;
      MemoryReader reader{&content, 0};
      code = archive.AddEntry("entry.bin", &reader, ReadMemory, &source);
      break;
    }
    case Way::kQueued: {
      const std::string source = dir / "source.bin";
      EXPECT_TRUE(testing_support::WriteFile(source, content));
      EXPECT_EQ(archive.AddFileByPath(source.c_str(), "entry.bin"), kOk);
      break;
    }
  }
  const int closed = archive.Close();
  if (row.way == Way::kQueued) return closed;
  EXPECT_EQ(closed, kOk);
  return code;
}

class EntryWriterTest : public ::testing::TestWithParam<Row> {};

TEST_P(EntryWriterTest, HeadersAndDataMatchTheContent) {
  const Row& row = GetParam();
  const Bytes content = MakeContent(row);
  TempDir dir;
  const std::string path = dir / "out.zip";
  ASSERT_EQ(AddAndClose(row, content, dir, path), row.code);
  const Bytes bytes = testing_support::ReadFile(path);
  const archive_builder::Archive laid = archive_builder::Survey(bytes);
  if (row.code != kOk) {
    // The failed entry left nothing in the directory.
    EXPECT_TRUE(laid.central.empty());
    return;
  }
  ASSERT_EQ(laid.local.size(), 1u);
  ASSERT_EQ(laid.central.size(), 1u);
  const std::size_t local = laid.local[0];
  const std::size_t central = laid.central[0];

  // The final header: no data descriptor flag and no descriptor behind the data.
  const auto flags = Get(bytes, local + LocalHeader::kFlags, 2);
  EXPECT_EQ(flags & kFlagDataDescriptor, 0u);
  EXPECT_EQ(Get(bytes, central + CentralHeader::kFlags, 2) & kFlagDataDescriptor, 0u);
  EXPECT_EQ(Get(bytes, local + LocalHeader::kMethod, 2), row.expectedMethod);
  EXPECT_EQ(Get(bytes, central + CentralHeader::kMethod, 2), row.expectedMethod);
  const std::uint32_t crc = testing_support::Crc32(content);
  EXPECT_EQ(Get(bytes, local + LocalHeader::kCrc, 4), crc);
  EXPECT_EQ(Get(bytes, central + CentralHeader::kCrc, 4), crc);

  const std::size_t nameLength = Get(bytes, local + LocalHeader::kNameLength, 2);
  const std::size_t extraLength = Get(bytes, local + LocalHeader::kExtraLength, 2);
  const std::size_t dataStart = local + LocalHeader::kSize + nameLength + extraLength;
  // The next record follows the data directly.
  const std::size_t dataEnd = laid.directoryStart;
  ASSERT_LE(dataStart, dataEnd);
  const Bytes data(bytes.begin() + static_cast<long>(dataStart), bytes.begin() + static_cast<long>(dataEnd));

  // The sizes: in the header, or in its Zip64 block when it has one.
  std::uint64_t compressed = Get(bytes, local + LocalHeader::kCompressedSize, 4);
  std::uint64_t uncompressed = Get(bytes, local + LocalHeader::kUncompressedSize, 4);
  const std::size_t extra = local + LocalHeader::kSize + nameLength;
  const bool zip64 = extraLength >= 20 && Get(bytes, extra, 2) == 0x0001 && Get(bytes, extra + 2, 2) == 16;
  EXPECT_EQ(zip64, row.zip64Block);
  // A reader learns from the version whether it must read a Zip64 block.
  const std::uint16_t plainVersion = row.expectedMethod == kMethodStored ? kVersionStored : kVersionDeflate;
  EXPECT_EQ(Get(bytes, local + LocalHeader::kVersionNeeded, 2), zip64 ? kVersionZip64 : plainVersion);
  if (zip64) {
    EXPECT_EQ(compressed, 0xFFFFFFFFu);
    EXPECT_EQ(uncompressed, 0xFFFFFFFFu);
    uncompressed = Get(bytes, extra + 4, 8);
    compressed = Get(bytes, extra + 12, 8);
  }
  EXPECT_EQ(uncompressed, content.size());
  EXPECT_EQ(compressed, data.size());
  EXPECT_EQ(Get(bytes, central + CentralHeader::kCompressedSize, 4), data.size());
  EXPECT_EQ(Get(bytes, central + CentralHeader::kUncompressedSize, 4), content.size());

  if (row.expectedMethod == kMethodStored) {
    EXPECT_EQ(data, content);
  } else {
    EXPECT_LT(data.size(), content.size());
    EXPECT_EQ(testing_support::RawInflate(data, content.size()), content);
  }

  Korbel reader;
  ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), 1);
  if (row.way == Way::kFolder) {
    const std::string stored(bytes.begin() + static_cast<long>(local + LocalHeader::kSize),
                             bytes.begin() + static_cast<long>(local + LocalHeader::kSize + nameLength));
    EXPECT_EQ(stored, "folder/");
    EXPECT_EQ(reader.IsFolder(0), 1);
  } else {
    EXPECT_EQ(entry_bytes::ReadAll(reader, 0), content);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, EntryWriterTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& paramInfo) {
                           return std::string(paramInfo.param.name);
                         });

}  // namespace
}  // namespace korbel
