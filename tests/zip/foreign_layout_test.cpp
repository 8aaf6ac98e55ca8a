// Archives as other writers lay them out, read as the trusted readers read
// them, and damage that must not pass for a sound archive: end records found
// by what surrounds them, Zip64 values in place of the plain record's
// markers, data in front of an archive, local headers that contradict the
// central ones, and entries whose checks must not be waived.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/archive_change.h"
#include "zip/format/name_codec.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using archive_builder::Archive;
using archive_builder::CentralHeader;
using archive_builder::EndRecord;
using archive_builder::Get;
using archive_builder::LocalHeader;
using archive_builder::Set16;
using archive_builder::Set32;
using archive_builder::Set64;
using archive_builder::Stored;
using archive_builder::Zip64EndRecord;
using archive_builder::Zip64Locator;
using testing_support::Bytes;
using testing_support::TempDir;

std::vector<archive_builder::Entry> ThreeItems(bool descriptor = false) {
  return {Stored("a.txt", "alpha"), Stored("b.txt", "bravo!", descriptor),
          archive_builder::Deflated("c.txt", testing_support::TextBytes(3000))};
}

// A text with zero bytes inside, whole.
template <std::size_t N>
std::string Text(const char (&bytes)[N]) {
  return std::string(bytes, N - 1);
}

// The plain end record as some writers leave it beside a Zip64 record:
// markers in every field but the directory offset.
void MarkPlainRecordButOffset(Archive* a) {
  Set16(&a->bytes, a->end + EndRecord::kDisk, 0xFFFF);
  Set16(&a->bytes, a->end + EndRecord::kDirectoryDisk, 0xFFFF);
  Set16(&a->bytes, a->end + EndRecord::kEntriesOnDisk, 0xFFFF);
  Set16(&a->bytes, a->end + EndRecord::kEntries, 0xFFFF);
  Set32(&a->bytes, a->end + EndRecord::kDirectorySize, 0xFFFFFFFF);
}

Archive Built(bool zip64, bool descriptor = false, const std::string& comment = "") {
  return archive_builder::Build(ThreeItems(descriptor), {zip64, comment});
}

// Opens the bytes from a file of their own; the archive stays open.
int Open(const TempDir& dir, const Bytes& bytes, Korbel* archive, std::uint32_t options = 0) {
  static int opened = 0;
  const std::string path = dir / ("case" + std::to_string(++opened) + ".zip");
  EXPECT_TRUE(testing_support::WriteFile(path, bytes));
  return archive->Open(path.c_str(), kReadOnly | options, 9);
}

// Every entry of the archive tests good.
void ExpectAllGood(Korbel& archive, int count) {
  ASSERT_EQ(archive.EntryCount(), count);
  for (int i = 0; i < count; ++i) EXPECT_EQ(archive.TestEntry(i), kOk) << archive.EntryName(i);
}

Bytes Stub(std::size_t length) {
  Bytes stub = testing_support::RandomBytes(length, 7);
  // A self-extractor's code holds the signatures its reader looks for.
  const unsigned char signatures[] = {'P', 'K', 3, 4, 'P', 'K', 1, 2, 'P', 'K', 5, 6};
  std::memcpy(stub.data() + length / 2, signatures, sizeof signatures);
  return stub;
}

Bytes Prepend(const Bytes& front, const Bytes& archive) {
  Bytes joined = front;
  joined.insert(joined.end(), archive.begin(), archive.end());
  return joined;
}

// Takes the signature off entry `index`'s data descriptor, moving what
// follows and the offsets that point there.
void DropDescriptorSignature(Archive* a, std::size_t index) {
  const std::size_t at = a->descriptor[index];
  a->bytes.erase(a->bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 a->bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4);
  for (std::size_t& central : a->central) central -= 4;
  for (std::size_t i = index + 1; i < a->local.size(); ++i) {
    a->local[i] -= 4;
    Set32(&a->bytes, a->central[i] + CentralHeader::kLocalHeaderOffset,
          static_cast<std::uint32_t>(a->local[i]));
  }
  a->directoryStart -= 4;
  a->end -= 4;
  Set32(&a->bytes, a->end + EndRecord::kDirectoryOffset, static_cast<std::uint32_t>(a->directoryStart));
}

// Archives other writers make, each read whole and tested good.
TEST(ForeignLayoutTest, ArchivesTheTrustedReadersReadAreRead) {
  using Make = std::function<Bytes()>;
  const struct {
    const char* what;
    Make make;
  } cases[] = {
      {"Zip64 records behind a plain record of markers only (3MF files)",
       [] {
         Archive a = Built(true);
         MarkPlainRecordButOffset(&a);
         return a.bytes;
       }},
      {"count markers with the real count in the Zip64 record, the offset in the plain one",
       [] {
         Archive a = Built(true);
         Set16(&a.bytes, a.end + EndRecord::kEntriesOnDisk, 0xFFFF);
         Set16(&a.bytes, a.end + EndRecord::kEntries, 0xFFFF);
         Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset, static_cast<std::uint32_t>(a.directoryStart));
         return a.bytes;
       }},
      {"a stub in front, offsets not adjusted (cat stub archive)",
       [] { return Prepend(Stub(5000), Built(false).bytes); }},
      {"a stub in front of a Zip64 archive, its locator not adjusted either",
       [] { return Prepend(Stub(5000), Built(true).bytes); }},
      {"a stub in front, local offsets adjusted but not the directory's",
       [] {
         Archive a = Built(false, true);
         for (std::size_t i = 0; i < a.central.size(); ++i) {
           Set32(&a.bytes, a.central[i] + CentralHeader::kLocalHeaderOffset,
                 static_cast<std::uint32_t>(a.local[i] + 700));
         }
         return Prepend(Stub(700), a.bytes);
       }},
      {"a stub in front, every offset adjusted",
       [] {
         Archive a = Built(false);
         for (std::size_t i = 0; i < a.central.size(); ++i) {
           Set32(&a.bytes, a.central[i] + CentralHeader::kLocalHeaderOffset,
                 static_cast<std::uint32_t>(a.local[i] + 64));
         }
         Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset,
               static_cast<std::uint32_t>(a.directoryStart + 64));
         return Prepend(Stub(64), a.bytes);
       }},
      {"an end record signature inside the archive comment",
       [] { return Built(false, false, Text("see PK\x05\x06 and PK\x05\x06\x01\x00 here")).bytes; }},
      {"an end record signature as the comment's last bytes",
       [] { return Built(true, false, Text("tail PK\x05\x06")).bytes; }},
      {"data behind the end record",
       [] {
         Bytes bytes = Built(false).bytes;
         const Bytes behind = Stub(100000);
         bytes.insert(bytes.end(), behind.begin(), behind.end());
         return bytes;
       }},
      {"data descriptors without their signature",
       [] {
         Archive a = archive_builder::Build({Stored("a.txt", "alpha", true), Stored("b.txt", "bravo!", true),
                                             Stored("c.txt", "charlie", true)});
         for (std::size_t i = 0; i < 3; ++i) DropDescriptorSignature(&a, i);
         return a.bytes;
       }},
      {"local CRC and sizes left 0 without a descriptor",
       [] {
         Archive a = Built(false);
         for (const std::size_t local : a.local) {
           Set32(&a.bytes, local + LocalHeader::kCrc, 0);
           Set32(&a.bytes, local + LocalHeader::kCompressedSize, 0);
           Set32(&a.bytes, local + LocalHeader::kUncompressedSize, 0);
         }
         return a.bytes;
       }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Korbel archive;
    ASSERT_EQ(Open(dir, c.make(), &archive), kOk);
    ExpectAllGood(archive, 3);
  }
}

TEST(ForeignLayoutTest, ACommentHoldingASignatureKeepsItsText) {
  TempDir dir;
  const std::string comment = Text("made by PK\x05\x06\x00\x00 a tool");
  Korbel archive;
  ASSERT_EQ(Open(dir, Built(false, false, comment).bytes, &archive), kOk);
  ASSERT_NE(archive.ArchiveComment(), nullptr);
  EXPECT_EQ(std::string(archive.ArchiveComment()), std::string("made by PK\x05\x06"));
}

// Damage that once passed as an empty or a different archive.
TEST(ForeignLayoutTest, RecordsThatContradictEachOtherAreRefused) {
  using Damage = std::function<void(Archive&)>;
  const struct {
    const char* what;
    bool zip64;
    Damage damage;
  } cases[] = {
      {"the Zip64 record counts no entries, the plain one three", true,
       [](Archive& a) {
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kEntriesOnDisk, 0);
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kEntries, 0);
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectorySize, 0);
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryOffset, a.zip64Record);
       }},
      {"the two records state other directory sizes", true,
       [](Archive& a) { Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectorySize, 46); }},
      {"the two records state other directory offsets", true,
       [](Archive& a) {
         Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset, static_cast<std::uint32_t>(a.directoryStart));
         Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kDirectoryOffset, a.directoryStart - 10);
       }},
      {"entries claimed, an empty directory", false,
       [](Archive& a) {
         Set32(&a.bytes, a.end + EndRecord::kDirectorySize, 0);
         Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset, static_cast<std::uint32_t>(a.end));
       }},
      {"entries claimed, no central header where the directory starts", false,
       [](Archive& a) { a.bytes[a.central[0]] = 'Q'; }},
      {"a directory offset behind the directory", false,
       [](Archive& a) {
         Set32(&a.bytes, a.end + EndRecord::kDirectoryOffset,
               static_cast<std::uint32_t>(a.directoryStart + 8));
       }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Archive archive = Built(c.zip64);
    c.damage(archive);
    Korbel strict;
    EXPECT_EQ(Open(dir, archive.bytes, &strict), kBadFormat);
    EXPECT_EQ(strict.EntryCount(), 0);
  }
}

// A local header that says something else than the central one: two readers
// would get two different files out of one archive.
TEST(ForeignLayoutTest, LocalHeadersMustAgreeWithTheCentralOnes) {
  using Damage = std::function<void(Archive&)>;
  const struct {
    const char* what;
    Damage damage;
  } cases[] = {
      {"method", [](Archive& a) { Set16(&a.bytes, a.local[1] + LocalHeader::kMethod, kMethodDeflate); }},
      {"encryption bit",
       [](Archive& a) { Set16(&a.bytes, a.local[1] + LocalHeader::kFlags, kFlagEncrypted); }},
      {"descriptor bit",
       [](Archive& a) { Set16(&a.bytes, a.local[1] + LocalHeader::kFlags, kFlagDataDescriptor); }},
      {"CRC", [](Archive& a) { Set32(&a.bytes, a.local[1] + LocalHeader::kCrc, 0x12345678); }},
      {"compressed size", [](Archive& a) { Set32(&a.bytes, a.local[1] + LocalHeader::kCompressedSize, 5); }},
      {"uncompressed size",
       [](Archive& a) { Set32(&a.bytes, a.local[1] + LocalHeader::kUncompressedSize, 7); }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Archive archive = Built(false);
    c.damage(archive);
    Korbel strict;
    EXPECT_EQ(Open(dir, archive.bytes, &strict), kBadFormat);
    Korbel tolerant;
    ASSERT_EQ(Open(dir, archive.bytes, &tolerant, kTolerant), kOk);
    EXPECT_EQ(tolerant.IsFaulty(0), 0);
    EXPECT_EQ(tolerant.IsFaulty(1), 1);
    EXPECT_EQ(tolerant.IsFaulty(2), 0);
  }
}

Bytes AesBlock() {
  Bytes block;
  archive_builder::Put16(&block, 0x9901);
  archive_builder::Put16(&block, 7);
  archive_builder::Put16(&block, 2);  // vendor version 2: CRC 0
  block.push_back('A');
  block.push_back('E');
  block.push_back(3);
  archive_builder::Put16(&block, kMethodStored);
  return block;
}

// Only an entry decrypted as AES, whose code passed, may go without a CRC.
TEST(ForeignLayoutTest, TheCrcIsWaivedOnlyForAnAuthenticatedAesEntry) {
  TempDir dir;
  {
    // Plain data posing as AES: method 99, the encryption bit clear.
    archive_builder::Entry entry = Stored("posing.txt", "replaced content");
    entry.method = kMethodAes;
    entry.crc = 0;
    entry.extra = AesBlock();
    Korbel archive;
    ASSERT_EQ(Open(dir, archive_builder::Build({entry}).bytes, &archive), kOk);
    archive.SetPassword("pw");
    EXPECT_EQ(archive.TestEntry(0), kCrcError);
  }
  {
    // An AES block in the local header only.
    archive_builder::Entry entry = Stored("plain.txt", "replaced content");
    entry.crc = 0;
    entry.extra = AesBlock();
    Archive built = archive_builder::Build({entry});
    Set16(&built.bytes, built.central[0] + CentralHeader::kSize + entry.name.size(), 0x6666);
    Korbel archive;
    ASSERT_EQ(Open(dir, built.bytes, &archive), kOk);
    EXPECT_EQ(archive.TestEntry(0), kCrcError);
  }
}

// Methods and schemes the engine does not read say so, rather than calling
// the data damaged or the password wrong.
TEST(ForeignLayoutTest, UnreadMethodsAreUnsupported) {
  TempDir dir;
  const struct {
    const char* what;
    std::uint16_t method;
    std::uint16_t flags;
  } cases[] = {
      {"Shrink", 1, 0},
      {"Reduce", 3, 0},
      {"Implode", 6, 0},
      {"Tokenize", 7, 0},
      {"strong encryption", kMethodDeflate, kFlagEncrypted | kFlagStrongEncryption},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    archive_builder::Entry entry = Stored("old/entry.bin", testing_support::RandomBytes(300, 5));
    entry.method = c.method;
    entry.flags = c.flags;
    Korbel archive;
    ASSERT_EQ(Open(dir, archive_builder::Build({entry}).bytes, &archive), kOk);
    archive.SetPassword("pw");
    EXPECT_EQ(archive.TestEntry(0), kUnsupported);
  }
}

// A central directory encrypted by a scheme the engine does not read: the
// plain record holds markers, the Zip64 record is of the second form, and
// no central header stands where the directory starts.
TEST(ForeignLayoutTest, AnEncryptedDirectoryIsUnsupported) {
  Archive a = Built(true);
  MarkPlainRecordButOffset(&a);
  for (const std::size_t central : a.central) a.bytes[central] ^= 0x5A;  // the directory as ciphertext
  TempDir dir;
  Korbel plainForm;
  EXPECT_EQ(Open(dir, a.bytes, &plainForm), kBadFormat);
  // The second form: version 6.2 and 28 more bytes (method, sizes, algorithm).
  Set16(&a.bytes, a.zip64Record + Zip64EndRecord::kVersionNeeded, 62);
  Set64(&a.bytes, a.zip64Record + Zip64EndRecord::kRecordSize, 44 + 28);
  Korbel sealed;
  EXPECT_EQ(Open(dir, a.bytes, &sealed), kUnsupported);
}

// A change to an archive keeps the comment it has, byte for byte, however
// long and in whatever encoding; only a new archive gets the engine's text.
TEST(ForeignLayoutTest, AChangeKeepsTheArchiveCommentByteForByte) {
  std::string longComment;
  for (int i = 0; longComment.size() < 22781; ++i)
    longComment += "Ölfässer \x99\x81 \xE2\x82\xAC line " + std::to_string(i) + "\n";
  longComment.resize(22781);
  TempDir dir;
  for (const std::string& comment : {longComment, std::string("\x8E\x99\x9A cp850"), std::string()}) {
    const std::string path = dir / "commented.zip";
    ASSERT_TRUE(testing_support::WriteFile(path, Built(false, false, comment).bytes));
    ASSERT_EQ(archive_change::DeleteEntry(path, "b.txt"), kOk);
    const Bytes written = testing_support::ReadFile(path);
    const std::size_t end = archive_builder::EndRecordAt(written);
    ASSERT_EQ(Get(written, end + EndRecord::kCommentLength, 2), comment.size());
    EXPECT_EQ(
        std::string(written.begin() + static_cast<std::ptrdiff_t>(end + EndRecord::kSize), written.end()),
        comment);
    Korbel reread;
    ASSERT_EQ(reread.Open(path.c_str(), kReadOnly, 9), kOk);
    ExpectAllGood(reread, 2);
  }
}

// An Info-ZIP Unicode Path block for the stored name bytes `stored`.
Bytes UnicodePathBlock(const std::string& stored, const std::string& utf8, std::uint32_t crcChange = 0) {
  Bytes block;
  archive_builder::Put16(&block, 0x7075);
  archive_builder::Put16(&block, static_cast<std::uint32_t>(5 + utf8.size()));
  block.push_back(1);
  archive_builder::Put32(&block, testing_support::Crc32(stored) ^ crcChange);
  block.insert(block.end(), utf8.begin(), utf8.end());
  return block;
}

// Names other writers could not store in the header's own encoding come
// from the Unicode Path block, when it belongs to the stored name.
TEST(ForeignLayoutTest, UnicodePathBlocksNameTheEntry) {
  const std::string utf8 = "\xC3\x96lf\xC3\xA4sser.txt";  // Ölfässer.txt
  const std::string escaped = "#U00D6lf#U00E4sser.txt";
  // The name as a header flagged UTF-8 gives it on this system.
  std::string decoded;
  DecodeName(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), kFlagUtf8Name, &decoded);
  TempDir dir;
  {
    archive_builder::Entry entry = Stored(escaped, "oil");
    entry.extra = UnicodePathBlock(escaped, utf8);
    Korbel archive;
    ASSERT_EQ(Open(dir, archive_builder::Build({entry}).bytes, &archive), kOk);
    EXPECT_EQ(std::string(archive.EntryName(0)), decoded);
    EXPECT_EQ(archive.TestEntry(0), kOk);
  }
  {
    // A stale block: the name was changed by a tool that kept the block.
    archive_builder::Entry entry = Stored(escaped, "oil");
    entry.extra = UnicodePathBlock(escaped, utf8, 1);
    Korbel archive;
    ASSERT_EQ(Open(dir, archive_builder::Build({entry}).bytes, &archive), kOk);
    EXPECT_STREQ(archive.EntryName(0), escaped.c_str());
  }
  {
    // Local and central headers store the name differently; decoded, they
    // are one name.
    const std::string local = "%U00D6lf%U00E4sser.txt";
    archive_builder::Entry entry = Stored(escaped, "oil");
    entry.extra = UnicodePathBlock(escaped, utf8);
    Archive built = archive_builder::Build({entry});
    std::copy(local.begin(), local.end(),
              built.bytes.begin() + static_cast<std::ptrdiff_t>(LocalHeader::kSize));
    const Bytes localBlock = UnicodePathBlock(local, utf8);
    std::copy(localBlock.begin(), localBlock.end(),
              built.bytes.begin() + static_cast<std::ptrdiff_t>(LocalHeader::kSize + local.size()));
    Korbel archive;
    ASSERT_EQ(Open(dir, built.bytes, &archive), kOk);
    EXPECT_EQ(std::string(archive.EntryName(0)), decoded);
    EXPECT_EQ(archive.TestEntry(0), kOk);
    // Without the local block the local name is another one.
    built.bytes[LocalHeader::kSize + local.size() + 5] ^= 0xFF;
    Korbel refused;
    EXPECT_EQ(Open(dir, built.bytes, &refused), kBadFormat);
  }
}

Bytes ZstdPacked(const Bytes& plain) {
  Bytes packed(ZSTD_compressBound(plain.size()));
  const std::size_t size = ZSTD_compress(packed.data(), packed.size(), plain.data(), plain.size(), 3);
  EXPECT_FALSE(ZSTD_isError(size));
  packed.resize(size);
  return packed;
}

std::int64_t Collect(void* context, const void* data, std::size_t length) {
  if (data != nullptr) {
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<const std::uint8_t*>(data),
                static_cast<const std::uint8_t*>(data) + length);
  }
  return static_cast<std::int64_t>(length);
}

// Zstandard entries as libzip and Python write them: read byte for byte; one
// whose data yields far more than it declares stops at the declared size.
TEST(ForeignLayoutTest, ZstandardEntriesAreReadAndABombStopsAtItsDeclaredSize) {
  const Bytes plain = testing_support::TextBytes(200000);
  archive_builder::Entry entry = Stored("z.txt", plain);
  entry.method = kMethodZstd;
  entry.versionNeeded = 63;
  entry.data = ZstdPacked(plain);
  entry.compressedSize = entry.data.size();
  // Its headers declare the first 1000 bytes, its data holds 64 MiB.
  archive_builder::Entry bomb = Stored("bomb.bin", Bytes(1000, 0));
  bomb.method = kMethodZstd;
  bomb.data = ZstdPacked(Bytes(64 << 20, 0));
  bomb.compressedSize = bomb.data.size();
  TempDir dir;
  Korbel archive;
  ASSERT_EQ(Open(dir, archive_builder::Build({entry, bomb}).bytes, &archive), kOk);
  EXPECT_EQ(archive.TestEntry(0), kOk);
  Bytes read;
  ASSERT_EQ(archive.ReadEntry(0, &read, Collect, nullptr), kOk);
  EXPECT_EQ(read, plain);
  Bytes bombed;
  EXPECT_EQ(archive.ReadEntry(1, &bombed, Collect, nullptr), kDecompressError);
  EXPECT_LE(bombed.size(), 1000u);
  EXPECT_EQ(archive.TestEntry(1), kDecompressError);
}

}  // namespace
}  // namespace korbel
