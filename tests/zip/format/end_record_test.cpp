#include "zip/format/end_record.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/independent_readers.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "zip/format/byte_cursor.h"
#include "zip/format/central_header.h"
#include "zip/format/extra_fields.h"
#include "zip/format/local_header.h"
#include "zip/format/stored_name.h"
#include "zip/format/zip64_end_record.h"

namespace korbel {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace ts = testing_support;

TEST(EndRecordTest, RecordHasTheDocumentedLayout) {
  Bytes out;
  AppendEndRecord(MakeEndRecord(3, 0x1234, 0x56789A, false, 7), &out);
  const Bytes expected = {0x50, 0x4B, 0x05, 0x06,  // signature
                          0,    0,                 // this disk
                          0,    0,                 // directory disk
                          3,    0,                 // entries on this disk
                          3,    0,                 // total entries
                          0x34, 0x12, 0,    0,     // directory size
                          0x9A, 0x78, 0x56, 0,     // directory offset
                          7,    0};                // comment length
  EXPECT_EQ(out, expected);
  EndRecord back;
  ASSERT_TRUE(ParseEndRecord(out.data(), out.size(), &back));
  EXPECT_EQ(back.entriesOnDisk, 3);
  EXPECT_EQ(back.totalEntries, 3);
  EXPECT_EQ(back.directorySize, 0x1234u);
  EXPECT_EQ(back.directoryOffset, 0x56789Au);
  EXPECT_EQ(back.commentLength, 7);
}

TEST(EndRecordTest, CountsSaturateFrom65536Entries) {
  struct Case {
    std::uint64_t entries;
    std::uint16_t field;
  };
  const Case cases[] = {{0, 0},          {65534, 65534},    {65535, 65535},          {65536, 0xFFFF},
                        {70000, 0xFFFF}, {0x10001, 0xFFFF}, {0x100000000ull, 0xFFFF}};
  for (const Case& c : cases) {
    EndRecord record = MakeEndRecord(c.entries, 0, 0, false, 0);
    EXPECT_EQ(record.entriesOnDisk, c.field) << c.entries;
    EXPECT_EQ(record.totalEntries, c.field) << c.entries;
  }
}

TEST(EndRecordTest, Zip64MarksTheOffsetAndKeepsTheLowSizeBits) {
  EndRecord record = MakeEndRecord(1, 0x100000010ull, 0xFFFFF100u, true, 0);
  EXPECT_EQ(record.directoryOffset, 0xFFFFFFFFu);
  EXPECT_EQ(record.directorySize, 0x10u);
}

TEST(EndRecordTest, ShortOrUnsignedBytesAreRefused) {
  Bytes out;
  AppendEndRecord(MakeEndRecord(1, 2, 3, false, 0), &out);
  EndRecord record;
  for (std::size_t size = 0; size < kEndRecordSize; ++size) {
    EXPECT_FALSE(ParseEndRecord(out.data(), size, &record)) << size;
  }
  out[2] = 0x06;
  out[3] = 0x07;  // the locator's signature
  EXPECT_FALSE(ParseEndRecord(out.data(), out.size(), &record));
}

TEST(EndRecordTest, TailWithoutZip64IsEndRecordAndComment) {
  Bytes out = {0xAA};
  AppendDirectoryTail(2, 100, 300, "note", &out);
  ASSERT_EQ(out.size(), 1 + 22 + 4u);
  EndRecord record;
  ASSERT_TRUE(ParseEndRecord(out.data() + 1, out.size() - 1, &record));
  EXPECT_EQ(record.totalEntries, 2);
  EXPECT_EQ(record.directorySize, 200u);
  EXPECT_EQ(record.directoryOffset, 100u);
  EXPECT_EQ(record.commentLength, 4);
  EXPECT_EQ(std::string(out.end() - 4, out.end()), "note");

  // The limit itself still needs no Zip64 records.
  Bytes atLimit;
  AppendDirectoryTail(1, kZip64DirectoryLimit - 46, kZip64DirectoryLimit, "", &atLimit);
  EXPECT_EQ(atLimit.size(), 22u);
}

TEST(EndRecordTest, TailAboveTheLimitHasZip64RecordAndLocator) {
  const std::uint64_t start = 0xFFFFF000u - 46;
  const std::uint64_t end = 0xFFFFF001u;
  Bytes out;
  AppendDirectoryTail(70000, start, end, "c", &out);
  ASSERT_EQ(out.size(), 56 + 20 + 22 + 1u);

  Zip64EndRecord record;
  ASSERT_TRUE(ParseZip64EndRecord(out.data(), out.size(), &record));
  EXPECT_EQ(record.totalEntries, 70000u);
  EXPECT_EQ(record.entriesOnDisk, 70000u);
  EXPECT_EQ(record.directorySize, end - start);
  EXPECT_EQ(record.directoryOffset, start);

  Zip64Locator locator;
  ASSERT_TRUE(ParseZip64Locator(out.data() + 56, out.size() - 56, &locator));
  EXPECT_EQ(locator.endRecordOffset, end);  // the record sits right behind the directory
  EXPECT_EQ(locator.totalDisks, 1u);

  EndRecord endRecord;
  ASSERT_TRUE(ParseEndRecord(out.data() + 76, out.size() - 76, &endRecord));
  EXPECT_EQ(endRecord.directoryOffset, 0xFFFFFFFFu);
  EXPECT_EQ(endRecord.totalEntries, 0xFFFF);
  EXPECT_EQ(endRecord.directorySize, static_cast<std::uint32_t>(end - start));
  EXPECT_EQ(endRecord.commentLength, 1);
}

TEST(EndRecordTest, ArchiveCommentIsCutTo512BytesBeforeEncoding) {
  EXPECT_EQ(EncodeArchiveComment(std::string(600, 'k')), std::string(512, 'k'));
  EXPECT_EQ(EncodeArchiveComment("KB Korbel"), "KB Korbel");
  EXPECT_EQ(EncodeArchiveComment(""), "");
}

// ---- Archives made of these records, checked by independent tools ---------

struct Member {
  std::string name;  // in-memory name (native narrow text)
  std::string data;
  bool folder;
};

// Lays out stored entries, the central directory and the tail as the engine
// does, using only the record functions.
Bytes BuildArchive(const std::vector<Member>& members, const std::string& comment) {
  Bytes archive;
  std::vector<ZipEntry> entries;
  for (const Member& member : members) {
    ZipEntry entry;
    entry.name = member.name;
    entry.versionMadeBy = kVersionMadeBy;
    entry.versionNeeded = VersionNeededFor(0, member.folder);
    entry.method = 0;
    entry.externalAttributes = member.folder ? kEntryFolder : 0x20;
    entry.modified = entry.accessed = entry.created = 1700000000;
    entry.dosDateTime = 0x582F6DAF;
    entry.crc32 = testing_support::Crc32(member.data.data(), member.data.size());
    entry.compressedSize = entry.uncompressedSize = member.data.size();
    entry.localHeaderOffset = archive.size();
    PrepareExtraFields(&entry);
    EXPECT_TRUE(AppendEntryLocalHeader(&entry, &archive));
    archive.insert(archive.end(), member.data.begin(), member.data.end());
    entries.push_back(entry);
  }
  std::uint64_t start = archive.size();
  for (ZipEntry& entry : entries) EXPECT_TRUE(AppendEntryCentralHeader(&entry, &archive));
  AppendDirectoryTail(entries.size(), start, archive.size(), EncodeArchiveComment(comment), &archive);
  return archive;
}

TEST(EndRecordTest, ArchiveOfTheseRecordsPassesIndependentTools) {
  if (!ts::IsPosixBuild()) GTEST_SKIP() << "the names below are UTF-8 narrow text";
  ts::TempDir dir;
  const std::string path = dir / "records.zip";
  const std::vector<Member> members = {
      {"hello.txt", "Hello, world!\n", false},
      {"docs", "", true},
      {"docs/\xC3\234bung.txt", std::string(3000, 'u'), false},  // narrow text is UTF-8 here
  };
  ASSERT_TRUE(ts::WriteFile(path, BuildArchive(members, "KB Korbel test")));

  EXPECT_TRUE(ts::ReadersAccept(path, {ts::Reader::kUnzip, ts::Reader::kSevenZip}));
  if (ts::RequireTool("python3")) {
    std::string output;
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print(z.comment.decode())\n"
        "for i in z.infolist():\n"
        "    print(i.filename, i.file_size, i.is_dir(), i.flag_bits & 0x800, '%x' % i.external_attr, "
        "i.date_time)\n";
    ASSERT_TRUE(ts::WriteFile(dir / "check.py", script));
    ASSERT_EQ(
        ts::RunCommand("python3 " + ts::Quote(dir / "check.py") + " " + ts::Quote(path) + " 2>&1", &output),
        0)
        << output;
    EXPECT_EQ(output,
              "KB Korbel test\n"
              "hello.txt 14 False 0 20 (2024, 1, 15, 13, 45, 30)\n"
              "docs/ 0 True 0 10 (2024, 1, 15, 13, 45, 30)\n"
              "docs/\xC3\234bung.txt 3000 False 0 20 (2024, 1, 15, 13, 45, 30)\n");
  }
}

TEST(EndRecordTest, RecordsOfAnotherWriterParse) {
  if (!ts::HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not available";
  ts::TempDir dir;
  const std::string content = "int main(void) { return 0; }\n";
  ASSERT_TRUE(ts::WriteFile(dir / "src/main.c", content));
  ASSERT_EQ(ts::RunCommand("cd " + ts::Quote(dir.Path()) +
                           " && touch -d @1700000001 src/main.c && "
                           "zip -q -0 -z out.zip src/main.c < /dev/null"),
            0);
  const Bytes archive = ts::ReadFile(dir / "out.zip");
  ASSERT_GE(archive.size(), kEndRecordSize);

  EndRecord end;
  ASSERT_TRUE(ParseEndRecord(archive.data() + archive.size() - kEndRecordSize, kEndRecordSize, &end));
  EXPECT_EQ(end.totalEntries, 1);
  EXPECT_EQ(end.commentLength, 0);
  // The directory start is computed from the end record's position.
  std::uint64_t start = archive.size() - kEndRecordSize - end.directorySize;
  EXPECT_EQ(start, end.directoryOffset);

  CentralHeader header;
  ASSERT_TRUE(ParseCentralHeader(archive.data() + start, end.directorySize, &header));
  ZipEntry entry;
  ApplyCentralHeader(header, &entry);
  const std::uint8_t* name = archive.data() + start + kCentralHeaderSize;
  ApplyStoredName(name, header.nameLength, &entry);
  ParseExtraField(name + header.nameLength, header.extraLength, &entry);
  EXPECT_EQ(entry.name, "src/main.c");
  EXPECT_EQ(entry.uncompressedSize, content.size());
  EXPECT_EQ(entry.compressedSize, content.size());
  EXPECT_EQ(entry.crc32, testing_support::Crc32(content.data(), content.size()));
  EXPECT_EQ(entry.modified, 1700000001);  // exact: from the extended timestamp, not the DOS time
  EXPECT_EQ(entry.localHeaderOffset, 0u);

  LocalHeader local;
  ASSERT_TRUE(ParseLocalHeader(archive.data(), archive.size(), &local));
  EXPECT_TRUE(LocalNameMatches(archive.data() + kLocalHeaderSize, local.nameLength, local.flags, entry));
  std::size_t dataStart = kLocalHeaderSize + local.nameLength + local.extraLength;
  EXPECT_EQ(std::string(archive.begin() + static_cast<std::ptrdiff_t>(dataStart),
                        archive.begin() + static_cast<std::ptrdiff_t>(dataStart + content.size())),
            content);
}

}  // namespace
}  // namespace korbel
