// Changing archives that other tools wrote: deleting one entry, and then
// adding one, must leave every other entry's local header, data, data
// descriptor and central record byte for byte as the tool wrote them (only
// the offset may change), shrink the file by exactly the deleted entry, and
// give an archive that unzip, 7zz, Python's zipfile and a streaming reader
// (bsdtar reading a pipe) all accept.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/independent_readers.h"
#include "tests/support/test_support.h"
#include "tests/zip/archive_change.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::HaveTool;
using testing_support::Quote;
using testing_support::RunCommand;
using testing_support::TempDir;

using archive_builder::CentralHeader;
using archive_builder::DataDescriptor;
using archive_builder::EndRecord;
using archive_builder::EndRecordAt;
using archive_builder::Get;
using archive_builder::LocalHeader;
using archive_builder::Zip64EndRecord;
using archive_builder::Zip64Locator;

// One entry as the file holds it, found through its central record.
struct RawEntry {
  Bytes central;  // the central record with its offset field zeroed
  Bytes local;    // local header, data and data descriptor
};

// The central records, read from the end record (and the Zip64 end record
// when the offset field says so), with each entry's local bytes.
std::map<std::string, RawEntry> RawEntries(const Bytes& file) {
  std::map<std::string, RawEntry> entries;
  const std::size_t end = EndRecordAt(file);
  std::uint64_t count = Get(file, end + EndRecord::kEntries, 2);
  std::uint64_t start = Get(file, end + EndRecord::kDirectoryOffset, 4);
  if (start == 0xFFFFFFFF) {
    const std::uint64_t zip64End = Get(file, end - Zip64Locator::kSize + Zip64Locator::kRecordOffset, 8);
    count = Get(file, static_cast<std::size_t>(zip64End) + Zip64EndRecord::kEntries, 8);
    start = Get(file, static_cast<std::size_t>(zip64End) + Zip64EndRecord::kDirectoryOffset, 8);
  }
  auto at = static_cast<std::size_t>(start);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t nameLength = Get(file, at + CentralHeader::kNameLength, 2);
    const std::size_t extraLength = Get(file, at + CentralHeader::kExtraLength, 2);
    const std::size_t commentLength = Get(file, at + CentralHeader::kCommentLength, 2);
    const std::size_t length = CentralHeader::kSize + nameLength + extraLength + commentLength;
    const std::size_t nameAt = at + CentralHeader::kSize;
    const std::string name(file.begin() + nameAt, file.begin() + nameAt + nameLength);
    RawEntry entry;
    entry.central.assign(file.begin() + at, file.begin() + at + length);
    std::uint64_t compressed = Get(file, at + CentralHeader::kCompressedSize, 4);
    std::uint64_t uncompressedField = Get(file, at + CentralHeader::kUncompressedSize, 4);
    std::uint64_t offset = Get(file, at + CentralHeader::kLocalHeaderOffset, 4);
    // Zip64 values of the central extra field, in their fixed order.
    std::size_t slot = 0;
    std::size_t zip64At = 0;
    for (std::size_t x = nameAt + nameLength; x + 4 <= nameAt + nameLength + extraLength;) {
      const std::size_t size = Get(file, x + 2, 2);
      if (Get(file, x, 2) == 1) zip64At = x + 4;
      x += 4 + size;
    }
    if (uncompressedField == 0xFFFFFFFF) slot += 8;
    if (compressed == 0xFFFFFFFF) compressed = Get(file, zip64At + slot, 8), slot += 8;
    if (offset == 0xFFFFFFFF) {
      offset = Get(file, zip64At + slot, 8);
      for (std::size_t b = 0; b < 8; ++b) entry.central[zip64At - at + slot + b] = 0;
    }
    for (std::size_t b = CentralHeader::kLocalHeaderOffset; b < CentralHeader::kSize; ++b)
      entry.central[b] = 0;
    const auto local = static_cast<std::size_t>(offset);
    const std::size_t localName = Get(file, local + LocalHeader::kNameLength, 2);
    const std::size_t localExtra = Get(file, local + LocalHeader::kExtraLength, 2);
    std::size_t span = LocalHeader::kSize + localName + localExtra + static_cast<std::size_t>(compressed);
    if (Get(file, local + LocalHeader::kFlags, 2) & kFlagDataDescriptor) {
      bool zip64 = false;
      const std::size_t localExtraAt = local + LocalHeader::kSize + localName;
      for (std::size_t x = localExtraAt; x + 4 <= localExtraAt + localExtra;) {
        if (Get(file, x, 2) == 1) zip64 = true;
        x += 4 + Get(file, x + 2, 2);
      }
      // A Zip64 descriptor holds 8-byte sizes.
      span += zip64 ? DataDescriptor::kSize + 8 : DataDescriptor::kSize;
    }
    entry.local.assign(file.begin() + local, file.begin() + local + span);
    entries[name] = entry;
    at += length;
  }
  return entries;
}

struct Maker {
  const char* what;
  std::vector<const char*> tools;  // needed to make the archive
  // Run in a folder holding a.txt, b.bin, c.txt and <names> (see below);
  // writes in.zip.
  const char* command;
  bool aes;  // entries are AES-encrypted with the password "Secret"
};

// Python's zipfile on a pipe, each entry forced to Zip64: data descriptors
// with 64-bit sizes.
const char* const kPythonStream =
    "python3 -c 'import sys, zipfile\n"
    "z = zipfile.ZipFile(sys.stdout.buffer, \"w\", zipfile.ZIP_DEFLATED)\n"
    "for n in (\"a.txt\", \"b.bin\", \"c.txt\"):\n"
    "    with z.open(n, \"w\", force_zip64=True) as w: w.write(open(n, \"rb\").read())\n"
    "z.close()' | cat > in.zip";

// Python names an entry in plain ASCII; the placeholder is then turned into
// the code page 850 byte of 'Ü' in both headers, bit 11 clear, as a Windows
// tool writes it.
const char* const kCp850Names =
    "python3 -c 'import zipfile\n"
    "z = zipfile.ZipFile(\"in.zip\", \"w\", zipfile.ZIP_DEFLATED)\n"
    "for n in (\"a.txt\", \"b.bin\", \"c.txt\"): z.write(n)\n"
    "z.writestr(\"QUmlaut.txt\", b\"cp850 \" * 100)\n"
    "z.close()\n"
    "d = open(\"in.zip\", \"rb\").read().replace(b\"QUmlaut.txt\", b\"\\x9aUmlaut.txt\")\n"
    "open(\"in.zip\", \"wb\").write(d)'";

const Maker kMakers[] = {
    {"python zipfile on a pipe, Zip64 descriptors", {"python3"}, kPythonStream, false},
    {"zip -fz", {"zip"}, "zip -q -fz in.zip a.txt b.bin c.txt", false},
    {"zip to a pipe", {"zip"}, "zip -q - a.txt b.bin c.txt | cat > in.zip", false},
    {"zip with a Latin-1 name made on Linux",
     {"zip"},
     "printf 'latin' > \"$(printf 'n\\344me.txt')\" && zip -q in.zip a.txt b.bin c.txt \"$(printf "
     "'n\\344me.txt')\"",
     false},
    {"code page 850 name", {"python3"}, kCp850Names, false},
    {"7zz with AES", {"7zz"}, "7zz a -tzip -pSecret -mem=AES256 in.zip a.txt b.bin c.txt >/dev/null", true},
};

class ForeignArchiveChangeTest : public ::testing::TestWithParam<Maker> {
 protected:
  // Every reader tests the archive (a missing one marks the test skipped);
  // a streaming reader must also list the entries around the changed one.
  void ExpectReadersAccept(const std::string& path, const std::string& step) {
    using testing_support::Reader;
    EXPECT_TRUE(testing_support::ReadersAccept(path, {Reader::kUnzip, Reader::kSevenZip, Reader::kPython},
                                               GetParam().aes ? "Secret" : ""))
        << step;
    if (!testing_support::RequireTool("bsdtar")) return;
    std::string output;
    EXPECT_EQ(RunCommand("cat " + Quote(path) + " | bsdtar -tf - 2>&1", &output), 0)
        << step << ": " << output;
    EXPECT_NE(output.find("a.txt"), std::string::npos) << step << ": " << output;
    EXPECT_NE(output.find("c.txt"), std::string::npos) << step << ": " << output;
  }
};

TEST_P(ForeignArchiveChangeTest, DeleteAndAddKeepEveryOtherEntryByteForByte) {
  const Maker& maker = GetParam();
  for (const char* tool : maker.tools) {
    if (!HaveTool(tool)) GTEST_SKIP() << "SKIPPED: " << tool << " is needed to make the archive";
  }
  TempDir dir;
  ASSERT_TRUE(testing_support::WriteFile(dir / "a.txt", testing_support::TextBytes(20000)));
  ASSERT_TRUE(testing_support::WriteFile(dir / "b.bin", testing_support::RandomBytes(7000, 5)));
  ASSERT_TRUE(testing_support::WriteFile(dir / "c.txt", testing_support::TextBytes(9000)));
  ASSERT_TRUE(testing_support::WriteFile(dir / "d.txt", testing_support::TextBytes(3000)));
  std::string output;
  ASSERT_EQ(RunCommand("cd " + Quote(dir.Path()) + " && " + maker.command + " 2>&1", &output), 0) << output;
  const std::string path = dir / "in.zip";
  const Bytes before = testing_support::ReadFile(path);
  const auto entriesBefore = RawEntries(before);
  ASSERT_EQ(entriesBefore.count("b.bin"), 1u);
  const std::uint64_t commentBefore = Get(before, EndRecordAt(before) + EndRecord::kCommentLength, 2);

  ASSERT_EQ(archive_change::DeleteEntry(path, "b.bin"), kOk);
  const Bytes afterDelete = testing_support::ReadFile(path);
  const auto entriesAfterDelete = RawEntries(afterDelete);
  ASSERT_EQ(entriesAfterDelete.size(), entriesBefore.size() - 1);
  for (const auto& entry : entriesAfterDelete) {
    ASSERT_EQ(entriesBefore.count(entry.first), 1u) << entry.first;
    EXPECT_EQ(entry.second.local, entriesBefore.at(entry.first).local) << entry.first;
    EXPECT_EQ(entry.second.central, entriesBefore.at(entry.first).central) << entry.first;
  }
  // Smaller by the deleted entry's bytes, larger by what the engine's
  // comment adds over the old one.
  const RawEntry& removed = entriesBefore.at("b.bin");
  const std::uint64_t commentAfter =
      Get(afterDelete, EndRecordAt(afterDelete) + EndRecord::kCommentLength, 2);
  const bool hadZip64End = Get(before, EndRecordAt(before) + EndRecord::kDirectoryOffset, 4) == 0xFFFFFFFF;
  const std::uint64_t zip64EndBytes = hadZip64End ? Zip64EndRecord::kSize + Zip64Locator::kSize : 0;
  EXPECT_EQ(afterDelete.size() + removed.local.size() + removed.central.size() + zip64EndBytes,
            before.size() + commentAfter - commentBefore);
  ExpectReadersAccept(path, "after the delete");

  {
    Korbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kReadOnly, 9), kOk);
    ASSERT_EQ(archive.SwitchMode(kModify), kOk);
    ASSERT_EQ(archive.AddFileByPath((dir / "d.txt").c_str(), "d.txt"), kOk);
    ASSERT_EQ(archive.Close(), kOk);
  }
  const auto entriesAfterAdd = RawEntries(testing_support::ReadFile(path));
  ASSERT_EQ(entriesAfterAdd.size(), entriesBefore.size());
  for (const auto& entry : entriesAfterDelete) {
    ASSERT_EQ(entriesAfterAdd.count(entry.first), 1u) << entry.first;
    EXPECT_EQ(entriesAfterAdd.at(entry.first).local, entry.second.local) << entry.first;
    EXPECT_EQ(entriesAfterAdd.at(entry.first).central, entry.second.central) << entry.first;
  }
  ExpectReadersAccept(path, "after the add");
}

INSTANTIATE_TEST_SUITE_P(Makers, ForeignArchiveChangeTest, ::testing::ValuesIn(kMakers),
                         [](const ::testing::TestParamInfo<Maker>& paramInfo) {
                           std::string name;
                           for (const char* c = paramInfo.param.what; *c != '\0'; ++c) {
                             if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                                 (*c >= '0' && *c <= '9')) {
                               name += *c;
                             }
                           }
                           return name;
                         });

}  // namespace
}  // namespace korbel
