#include "zip/format/extra_fields.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "zip/format/byte_cursor.h"
#include "zip/format/dos_time.h"

namespace korbel {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kFiveGiB = 5ull << 30;

// Builds extra blocks by hand: id, size, data.
class Blocks {
 public:
  Blocks& Block(std::uint16_t id, const Bytes& data) {
    writer_.Put16(id);
    writer_.Put16(static_cast<std::uint16_t>(data.size()));
    writer_.PutBytes(data.data(), data.size());
    return *this;
  }
  Blocks& Raw(const Bytes& data) {
    writer_.PutBytes(data.data(), data.size());
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  ByteWriter writer_{&bytes_};
};

Bytes Le32(std::uint32_t value) {
  Bytes out;
  ByteWriter(&out).Put32(value);
  return out;
}

Bytes Le64(std::uint64_t value) {
  Bytes out;
  ByteWriter(&out).Put64(value);
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

void Parse(const Bytes& field, ZipEntry* entry) {
  // An exact-size heap copy, so a read past the end is caught by the address sanitizer.
  Bytes copy(field);
  ParseExtraField(copy.data(), copy.size(), entry);
}

ZipEntry TimedEntry() {
  ZipEntry entry;
  entry.modified = 1700000000;
  entry.accessed = 1700000100;
  entry.created = 1600000000;
  entry.method = 8;
  entry.versionNeeded = 20;
  return entry;
}

TEST(ExtraFieldsTest, FileTimesConvertWithoutALimitAt2038) {
  const struct {
    std::uint64_t fileTime;
    std::int64_t seconds;
  } cases[] = {
      {kFileTimeEpoch, 0},
      {kFileTimeEpoch - 10000000ull * 315619200, -315619200},  // 1960-01-01
      {kFileTimeEpoch + 10000000ull * 0x7FFFFFFF, 0x7FFFFFFF},
      {kFileTimeEpoch + 10000000ull * 0x80000000ull, 0x80000000ll},
      {kFileTimeEpoch + 10000000ull * 4102444800ull, 4102444800ll},  // 2100-01-01
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SecondsFromFileTime(c.fileTime), c.seconds) << c.seconds;
    EXPECT_EQ(FileTimeFromSeconds(c.seconds), c.fileTime) << c.seconds;
  }
  EXPECT_EQ(SecondsFromFileTime(kFileTimeEpoch + 10000000ull * 1700000000 + 9999999), 1700000000);
  EXPECT_EQ(SecondsFromFileTime(0), platform::kNoTime);
  EXPECT_EQ(FileTimeFromSeconds(platform::kNoTime), 0u);
}

TEST(ExtraFieldsTest, CentralFieldWithoutZip64IsTimestampThenNtfs) {
  ZipEntry entry = TimedEntry();
  Bytes field = BuildCentralExtra(entry);
  ASSERT_EQ(field.size(), 53u);
  ByteCursor in(field.data(), field.size());
  EXPECT_EQ(in.Get16(), kTimestampExtraId);
  EXPECT_EQ(in.Get16(), 13);
  EXPECT_EQ(in.Get8(), 7);  // modification, access and creation present
  EXPECT_EQ(in.Get32(), 1700000000u);
  EXPECT_EQ(in.Get32(), 1700000100u);
  EXPECT_EQ(in.Get32(), 1600000000u);
  EXPECT_EQ(in.Get16(), kNtfsExtraId);
  EXPECT_EQ(in.Get16(), 32);
  EXPECT_EQ(in.Get32(), 0u);  // reserved
  EXPECT_EQ(in.Get16(), 1);   // tag 1: times
  EXPECT_EQ(in.Get16(), 24);
  EXPECT_EQ(in.Get64(), (1700000000ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(in.Get64(), (1700000100ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(in.Get64(), (1600000000ull + 11644473600ull) * 10000000ull);
  EXPECT_TRUE(in.ok());
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(ExtraFieldsTest, AbsentTimesGiveZeroFileTimesAndNoTimestampBlock) {
  ZipEntry entry;
  Bytes field = BuildCentralExtra(entry);
  ASSERT_EQ(field.size(), kNtfsBlockSize);
  ByteCursor in(field.data(), field.size());
  EXPECT_EQ(in.Get16(), kNtfsExtraId);
  in.Skip(10);
  EXPECT_EQ(in.Get64(), 0u);
  EXPECT_EQ(in.Get64(), 0u);
  EXPECT_EQ(in.Get64(), 0u);
}

// Seconds since 1970 (UTC) of the dates around the limits of the three forms.
constexpr std::int64_t k1960 = -315619200;        // 1960-01-01 00:00
constexpr std::int64_t k1979 = 299635200;         // 1979-07-01 00:00
constexpr std::int64_t k1980 = 315532800;         // 1980-01-01 00:00
constexpr std::int64_t k2038Last = 0x7FFFFFFF;    // 2038-01-19 03:14:07
constexpr std::int64_t k2038Next = 0x80000000ll;  // one second later
constexpr std::int64_t k2040 = 2209032000;        // 2040-01-01 12:00
constexpr std::int64_t k2100 = 4102444800;        // 2100-01-01 00:00
constexpr std::int64_t k2108 = 4354819200;        // 2108-01-01 00:00

// Every time goes into the NTFS block whole; the 32-bit block carries only
// what every reader takes back the same, 1970 to January 2038.
TEST(ExtraFieldsTest, TimesOutsideThe32BitRangeGoToTheNtfsBlockOnly) {
  const struct {
    std::int64_t modified;
    std::int64_t accessed;
    bool inTimestamp;
  } cases[] = {
      {k1960, k1960, false}, {k1979, k1979, true},         {k1980, k1980, true},
      {0, 0, true},          {k2038Last, k2038Last, true}, {k2038Next, k2038Next, false},
      {k2040, k2040, false}, {k2100, k2100, false},        {k2108, k2108, false},
  };
  for (const auto& c : cases) {
    ZipEntry entry;
    entry.modified = entry.created = c.modified;
    entry.accessed = c.accessed;
    Bytes field = BuildCentralExtra(entry);
    EXPECT_EQ(field.size(), (c.inTimestamp ? kTimestampBlockSize : 0) + kNtfsBlockSize) << c.modified;
    std::size_t at = 0;
    std::size_t size = 0;
    EXPECT_EQ(FindExtraBlock(field.data(), field.size(), kTimestampExtraId, &at, &size), c.inTimestamp)
        << c.modified;
    ASSERT_TRUE(FindExtraBlock(field.data(), field.size(), kNtfsExtraId, &at, &size));
    ByteCursor ntfs(field.data() + at + 8, 24);
    EXPECT_EQ(ntfs.Get64(), FileTimeFromSeconds(c.modified));

    // Read back as the header leaves an entry: the DOS time first.
    ZipEntry read;
    read.dosDateTime = DosDateTimeFromSeconds(c.modified);
    read.modified = SecondsFromDosDateTime(read.dosDateTime);
    Parse(field, &read);
    EXPECT_EQ(read.modified, c.modified);
    EXPECT_EQ(read.accessed, c.accessed);
    EXPECT_EQ(read.created, c.modified);
  }
}

TEST(ExtraFieldsTest, TimestampBlockHoldsOnlyTheTimesThatFit) {
  ZipEntry entry;
  entry.modified = k2040;
  entry.accessed = 1700000000;
  entry.created = k1960;
  Bytes field = BuildCentralExtra(entry);
  ByteCursor in(field.data(), field.size());
  EXPECT_EQ(in.Get16(), kTimestampExtraId);
  EXPECT_EQ(in.Get16(), 5);
  EXPECT_EQ(in.Get8(), 2);  // access only
  EXPECT_EQ(in.Get32(), 1700000000u);
  EXPECT_EQ(in.Get16(), kNtfsExtraId);

  ZipEntry read;
  read.modified = 5;
  Parse(field, &read);
  EXPECT_EQ(read.modified, k2040);
  EXPECT_EQ(read.accessed, 1700000000);
  EXPECT_EQ(read.created, k1960);
}

// Other writers' 32-bit times: signed, except that a time with its top bit
// set is taken unsigned (2038 to 2106) when the DOS date says so.
TEST(ExtraFieldsTest, ThirtyTwoBitTimesPastJanuary2038FollowTheDosDate) {
  const struct {
    std::uint32_t stored;
    std::uint32_t dosDateTime;
    std::int64_t modified;
  } cases[] = {
      {0x80000000u, DosDateTimeFromSeconds(k2038Next + 86400), k2038Next},
      {static_cast<std::uint32_t>(k2100), DosDateTimeFromSeconds(k2100), k2100},
      {static_cast<std::uint32_t>(k1960), kDosEpoch, k1960},
      {static_cast<std::uint32_t>(k1960), DosDateTimeFromSeconds(k2038Last - 86400 * 30), k1960},
      {1000, DosDateTimeFromSeconds(k2040), 1000},
  };
  for (const auto& c : cases) {
    for (std::uint16_t id : {kTimestampExtraId, kUnixOldExtraId}) {
      ZipEntry entry;
      entry.dosDateTime = c.dosDateTime;
      const Bytes data =
          id == kTimestampExtraId ? Concat({{1}, Le32(c.stored)}) : Concat({Le32(0), Le32(c.stored)});
      Parse(Blocks().Block(id, data).bytes(), &entry);
      EXPECT_EQ(entry.modified, c.modified) << id << " " << c.stored;
    }
  }
}

struct Zip64Case {
  const char* what;
  std::uint64_t uncompressed, compressed, offset;
  std::vector<std::uint64_t> central;  // values in the central Zip64 block
  std::vector<std::uint64_t> local;    // values in the local Zip64 block
};

TEST(ExtraFieldsTest, Zip64BlocksHoldTheValuesThatNeedThem) {
  const Zip64Case cases[] = {
      {"none", 100, 50, 1000, {}, {}},
      {"just below", 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu, {}, {}},
      {"uncompressed", kFiveGiB, 1000, 0, {kFiveGiB}, {kFiveGiB, 1000}},
      {"exactly 0xFFFFFFFF", 0xFFFFFFFFu, 10, 0, {0xFFFFFFFFu}, {0xFFFFFFFFu, 10}},
      {"compressed", 10, kFiveGiB, 0, {kFiveGiB}, {10, kFiveGiB}},
      {"offset only", 10, 10, kFiveGiB + 7, {kFiveGiB + 7}, {}},
      {"all three",
       kFiveGiB + 1,
       kFiveGiB + 2,
       kFiveGiB + 3,
       {kFiveGiB + 1, kFiveGiB + 2, kFiveGiB + 3},
       {kFiveGiB + 1, kFiveGiB + 2}},
      {"sizes skip the offset", kFiveGiB, 10, kFiveGiB + 3, {kFiveGiB, kFiveGiB + 3}, {kFiveGiB, 10}},
  };
  for (const Zip64Case& c : cases) {
    ZipEntry entry = TimedEntry();
    entry.uncompressedSize = c.uncompressed;
    entry.compressedSize = c.compressed;
    entry.localHeaderOffset = c.offset;

    Bytes central = BuildCentralExtra(entry);
    ByteCursor in(central.data(), central.size());
    if (!c.central.empty()) {
      EXPECT_EQ(in.Get16(), kZip64ExtraId) << c.what;
      EXPECT_EQ(in.Get16(), 8 * c.central.size()) << c.what;
      for (std::uint64_t value : c.central) EXPECT_EQ(in.Get64(), value) << c.what;
    }
    EXPECT_EQ(in.remaining(), 53u) << c.what;  // the time blocks follow
    EXPECT_EQ(in.Get16(), kTimestampExtraId) << c.what;

    Bytes local = BuildLocalExtra(entry);
    EXPECT_EQ(local.size(), c.local.empty() ? 0u : 4 + 8 * c.local.size()) << c.what;
    ByteCursor localIn(local.data(), local.size());
    if (!c.local.empty()) {
      EXPECT_EQ(localIn.Get16(), kZip64ExtraId) << c.what;
      EXPECT_EQ(localIn.Get16(), 8 * c.local.size()) << c.what;
      for (std::uint64_t value : c.local) EXPECT_EQ(localIn.Get64(), value) << c.what;
    }
    EXPECT_TRUE(in.ok() && localIn.ok()) << c.what;
  }
}

TEST(ExtraFieldsTest, BuiltCentralFieldParsesBackIntoTheEntry) {
  ZipEntry written = TimedEntry();
  written.uncompressedSize = kFiveGiB;
  written.compressedSize = kFiveGiB - 100;
  written.localHeaderOffset = 0x123456789ull;
  Bytes field = BuildCentralExtra(written);

  ZipEntry read;  // as the 32-bit header fields leave it
  read.uncompressedSize = Field32(written.uncompressedSize);
  read.compressedSize = Field32(written.compressedSize);
  read.localHeaderOffset = Field32(written.localHeaderOffset);
  Parse(field, &read);
  EXPECT_EQ(read.uncompressedSize, written.uncompressedSize);
  EXPECT_EQ(read.compressedSize, written.compressedSize);
  EXPECT_EQ(read.localHeaderOffset, written.localHeaderOffset);
  EXPECT_EQ(read.modified, written.modified);
  EXPECT_EQ(read.accessed, written.accessed);
  EXPECT_EQ(read.created, written.created);
}

TEST(ExtraFieldsTest, Zip64ValuesAreTakenOnlyForMarkedFieldsAndOnlyWhenPresent) {
  // Only the compressed size is marked: the first value is the compressed size.
  ZipEntry entry;
  entry.uncompressedSize = 7;
  entry.compressedSize = kZip64Marker;
  entry.localHeaderOffset = kZip64Marker;
  Parse(Blocks().Block(kZip64ExtraId, Concat({Le64(kFiveGiB), Le64(kFiveGiB + 1)})).bytes(), &entry);
  EXPECT_EQ(entry.uncompressedSize, 7u);
  EXPECT_EQ(entry.compressedSize, kFiveGiB);
  EXPECT_EQ(entry.localHeaderOffset, kFiveGiB + 1);

  // A block too short for the second value leaves that field alone.
  ZipEntry shortBlock;
  shortBlock.uncompressedSize = kZip64Marker;
  shortBlock.compressedSize = kZip64Marker;
  Parse(Blocks().Block(kZip64ExtraId, Concat({Le64(kFiveGiB), Le32(9)})).bytes(), &shortBlock);
  EXPECT_EQ(shortBlock.uncompressedSize, kFiveGiB);
  EXPECT_EQ(shortBlock.compressedSize, kZip64Marker);

  // Nothing marked: the block is ignored.
  ZipEntry unmarked;
  unmarked.uncompressedSize = 5;
  Parse(Blocks().Block(kZip64ExtraId, Le64(kFiveGiB)).bytes(), &unmarked);
  EXPECT_EQ(unmarked.uncompressedSize, 5u);
}

TEST(ExtraFieldsTest, NtfsTimesAreReadFromTagOne) {
  Bytes times = Concat({Le64(kFileTimeEpoch + 10000000ull * 1000),  // modification
                        Le64(kFileTimeEpoch - 5),                   // access: before 1970
                        Le64(0)});                                  // creation: none
  Bytes data = Concat({Le32(0),                                     // reserved
                       {2, 0, 3, 0, 9, 9, 9},                       // tag 2, skipped
                       {1, 0, 24, 0},
                       times});
  ZipEntry entry;
  entry.accessed = 77;
  entry.created = 88;
  Parse(Blocks().Block(kNtfsExtraId, data).bytes(), &entry);
  EXPECT_EQ(entry.modified, 1000);
  EXPECT_EQ(entry.accessed, -1);  // rounded down
  EXPECT_EQ(entry.created, 88);   // kept

  // Tag 1 shorter than three times is ignored.
  ZipEntry shortTag;
  shortTag.modified = 5;
  Parse(Blocks()
            .Block(kNtfsExtraId,
                   Concat({Le32(0), {1, 0, 16, 0}, Le64(kFileTimeEpoch + 10000000ull * 9), Le64(0)}))
            .bytes(),
        &shortTag);
  EXPECT_EQ(shortTag.modified, 5);

  // A tag running past its block stops the tag walk.
  ZipEntry cut;
  cut.modified = 5;
  Parse(Blocks().Block(kNtfsExtraId, Concat({Le32(0), {1, 0, 24, 0}, Le64(kFileTimeEpoch)})).bytes(), &cut);
  EXPECT_EQ(cut.modified, 5);
}

struct TimestampCase {
  const char* what;
  Bytes data;
  std::int64_t modified, accessed, created;  // starting values 1, 2, 3
};

TEST(ExtraFieldsTest, ExtendedTimestampTakesTheTimesItsFlagsAnnounce) {
  const TimestampCase cases[] = {
      {"all three", Concat({{7}, Le32(100), Le32(200), Le32(300)}), 100, 200, 300},
      {"modification and creation", Concat({{5}, Le32(100), Le32(300)}), 100, 2, 300},
      {"access only", Concat({{2}, Le32(200)}), 1, 200, 3},
      // The local form announces three but carries one: the others are dropped.
      {"announced but missing", Concat({{7}, Le32(100)}), 100, 2, 3},
      {"half a time", Concat({{1}, {1, 2}}), 1, 2, 3},
      {"empty block", {}, 1, 2, 3},
      {"unknown flag bits", Concat({{0xF8}, Le32(100)}), 1, 2, 3},
  };
  for (const TimestampCase& c : cases) {
    ZipEntry entry;
    entry.modified = 1;
    entry.accessed = 2;
    entry.created = 3;
    Parse(Blocks().Block(kTimestampExtraId, c.data).bytes(), &entry);
    EXPECT_EQ(entry.modified, c.modified) << c.what;
    EXPECT_EQ(entry.accessed, c.accessed) << c.what;
    EXPECT_EQ(entry.created, c.created) << c.what;
  }
}

TEST(ExtraFieldsTest, OldUnixBlockYieldsToTheNewerForms) {
  const Bytes unixOld = Concat({Le32(50), Le32(60)});  // access, modification
  ZipEntry alone;
  Parse(Blocks().Block(kUnixOldExtraId, unixOld).bytes(), &alone);
  EXPECT_EQ(alone.accessed, 50);
  EXPECT_EQ(alone.modified, 60);

  ZipEntry afterTimestamp;
  Parse(Blocks().Block(kTimestampExtraId, Concat({{1}, Le32(100)})).Block(kUnixOldExtraId, unixOld).bytes(),
        &afterTimestamp);
  EXPECT_EQ(afterTimestamp.modified, 100);
  EXPECT_EQ(afterTimestamp.accessed, platform::kNoTime);

  ZipEntry afterUnixNew;
  Parse(Blocks().Block(kUnixNewExtraId, {1, 4, 0, 0, 0, 0}).Block(kUnixOldExtraId, unixOld).bytes(),
        &afterUnixNew);
  EXPECT_EQ(afterUnixNew.modified, platform::kNoTime);
  EXPECT_EQ(afterUnixNew.accessed, platform::kNoTime);

  // Before an extended timestamp it is read, and the timestamp then wins.
  ZipEntry before;
  Parse(Blocks().Block(kUnixOldExtraId, unixOld).Block(kTimestampExtraId, Concat({{1}, Le32(100)})).bytes(),
        &before);
  EXPECT_EQ(before.modified, 100);
  EXPECT_EQ(before.accessed, 50);

  ZipEntry tooShort;
  Parse(Blocks().Block(kUnixOldExtraId, Le32(50)).bytes(), &tooShort);
  EXPECT_EQ(tooShort.accessed, platform::kNoTime);
}

// The NTFS block holds 64-bit times of full precision: it wins over the
// 32-bit blocks whichever comes first.
TEST(ExtraFieldsTest, NtfsTimesWinOverTheThirtyTwoBitBlocksInEitherOrder) {
  const Bytes ntfs = Concat({Le32(0),
                             {1, 0, 24, 0},
                             Le64(kFileTimeEpoch + 10000000ull * 1000),
                             Le64(kFileTimeEpoch + 10000000ull * 2000),
                             Le64(kFileTimeEpoch + 10000000ull * 3000)});
  const Bytes timestamp = Concat({{7}, Le32(100), Le32(200), Le32(300)});
  const Bytes unixOld = Concat({Le32(50), Le32(60)});
  ZipEntry ntfsFirst;
  Parse(Blocks()
            .Block(kNtfsExtraId, ntfs)
            .Block(kTimestampExtraId, timestamp)
            .Block(kUnixOldExtraId, unixOld)
            .bytes(),
        &ntfsFirst);
  ZipEntry ntfsLast;
  Parse(Blocks()
            .Block(kUnixOldExtraId, unixOld)
            .Block(kTimestampExtraId, timestamp)
            .Block(kNtfsExtraId, ntfs)
            .bytes(),
        &ntfsLast);
  for (const ZipEntry* entry : {&ntfsFirst, &ntfsLast}) {
    EXPECT_EQ(entry->modified, 1000);
    EXPECT_EQ(entry->accessed, 2000);
    EXPECT_EQ(entry->created, 3000);
  }
  // An NTFS block without its times tag leaves the timestamp in charge.
  ZipEntry noTimes;
  Parse(Blocks()
            .Block(kNtfsExtraId, Concat({Le32(0), {2, 0, 3, 0, 9, 9, 9}}))
            .Block(kTimestampExtraId, timestamp)
            .bytes(),
        &noTimes);
  EXPECT_EQ(noTimes.modified, 100);
}

struct AesCase {
  const char* what;
  Bytes data;
  std::uint8_t info, method;  // 0, 0 when refused
};

TEST(ExtraFieldsTest, AesBlockIsTakenOnlyWhenEveryTestPasses) {
  const AesCase cases[] = {
      {"AE-2, 256 bits, deflate", {2, 0, 'A', 'E', 3, 8, 0}, 2 * 4 + 3, 8},
      {"AE-1, 128 bits, stored", {1, 0, 'A', 'E', 1, 0, 0}, 1 * 4 + 1, 0},
      {"longer block", {1, 0, 'A', 'E', 2, 12, 0, 0xEE}, 1 * 4 + 2, 12},
      {"version 3", {3, 0, 'A', 'E', 3, 8, 0}, 0, 0},
      {"version 0x0102", {2, 1, 'A', 'E', 3, 8, 0}, 0, 0},
      {"vendor AF", {2, 0, 'A', 'F', 3, 8, 0}, 0, 0},
      {"strength 0", {2, 0, 'A', 'E', 0, 8, 0}, 0, 0},
      {"strength 4", {2, 0, 'A', 'E', 4, 8, 0}, 0, 0},
      {"method high byte", {2, 0, 'A', 'E', 3, 8, 1}, 0, 0},
      {"six bytes", {2, 0, 'A', 'E', 3, 8}, 0, 0},
  };
  for (const AesCase& c : cases) {
    ZipEntry entry;
    Parse(Blocks().Block(kAesExtraId, c.data).bytes(), &entry);
    EXPECT_EQ(entry.aesInfo, c.info) << c.what;
    EXPECT_EQ(entry.aesMethod, c.method) << c.what;
  }
}

TEST(ExtraFieldsTest, ScanningStopsAtABlockRunningPastTheEnd) {
  ZipEntry entry;
  Bytes field = Blocks()
                    .Block(0x4242, {1, 2, 3})  // unknown: skipped by its size
                    .Block(kTimestampExtraId, Concat({{1}, Le32(100)}))
                    .Raw({0x01, 0x99, 0xFF, 0x00, 'A', 'E'})  // claims 255 bytes, has 2
                    .bytes();
  Parse(field, &entry);
  EXPECT_EQ(entry.modified, 100);
  EXPECT_EQ(entry.aesInfo, 0);

  // Fewer than 4 bytes left: the rest is ignored.
  ZipEntry tail;
  Parse(Blocks().Block(kTimestampExtraId, Concat({{1}, Le32(100)})).Raw({0x55, 0x54, 0x05}).bytes(), &tail);
  EXPECT_EQ(tail.modified, 100);
}

TEST(ExtraFieldsTest, ArbitraryBytesNeverReadPastTheField) {
  std::uint32_t state = 99;
  for (int round = 0; round < 2000; ++round) {
    Bytes field(round % 64);
    for (auto& byte : field) {
      state = state * 1664525u + 1013904223u;
      byte = static_cast<std::uint8_t>(state >> 24);
    }
    // Make block ids the interpreted ones often.
    static const std::uint16_t kIds[] = {kZip64ExtraId,   kNtfsExtraId,    kTimestampExtraId,
                                         kUnixOldExtraId, kUnixNewExtraId, kAesExtraId};
    if (field.size() >= 4) {
      std::uint16_t id = kIds[round % 6];
      field[0] = static_cast<std::uint8_t>(id);
      field[1] = static_cast<std::uint8_t>(id >> 8);
      field[3] = 0;
    }
    ZipEntry entry;
    entry.uncompressedSize = entry.compressedSize = entry.localHeaderOffset = kZip64Marker;
    Parse(field, &entry);
  }
  ZipEntry entry;
  ParseExtraField(nullptr, 0, &entry);
  EXPECT_EQ(entry.modified, platform::kNoTime);
}

TEST(ExtraFieldsTest, BuildingSetsLengthsAndVersionNeeded) {
  ZipEntry entry = TimedEntry();
  entry.versionNeeded = 45;
  BuildExtraFields(&entry);
  EXPECT_EQ(entry.centralExtraLength, 53);
  EXPECT_EQ(entry.localExtraLength, 0);
  EXPECT_TRUE(entry.localExtra.empty());
  EXPECT_EQ(entry.versionNeeded, 20);  // lowered for Deflate without Zip64

  entry.uncompressedSize = kFiveGiB;
  entry.versionNeeded = 20;
  BuildExtraFields(&entry);
  EXPECT_EQ(entry.versionNeeded, 45);
  EXPECT_EQ(entry.centralExtraLength, 53 + 12);
  EXPECT_EQ(entry.localExtraLength, 20);

  ZipEntry offsetOnly = TimedEntry();
  offsetOnly.localHeaderOffset = kFiveGiB;
  BuildExtraFields(&offsetOnly);
  EXPECT_EQ(offsetOnly.versionNeeded, 45);
  EXPECT_TRUE(offsetOnly.localExtra.empty());

  ZipEntry bzip2 = TimedEntry();
  bzip2.method = 12;
  bzip2.versionNeeded = 46;
  BuildExtraFields(&bzip2);
  EXPECT_EQ(bzip2.versionNeeded, 46);  // other methods keep theirs

  ZipEntry stored = TimedEntry();
  stored.method = 0;
  stored.versionNeeded = 10;
  BuildExtraFields(&stored);
  EXPECT_EQ(stored.versionNeeded, 10);
}

TEST(ExtraFieldsTest, ExistingFieldsAreKeptUntilZip64IsNeeded) {
  const Bytes foreign = {0x75, 0x78, 0x0B, 0x00, 1, 4, 0xE8, 3, 0, 0, 4, 0xE8, 3, 0, 0};
  ZipEntry entry = TimedEntry();
  entry.centralExtra = foreign;
  entry.localExtra = foreign;
  entry.versionNeeded = 45;
  PrepareExtraFields(&entry);
  EXPECT_EQ(entry.centralExtra, foreign);
  EXPECT_EQ(entry.localExtra, foreign);
  EXPECT_EQ(entry.versionNeeded, 45);

  // A compressed size needing Zip64 alone does not trigger the rebuild.
  entry.compressedSize = kFiveGiB;
  PrepareExtraFields(&entry);
  EXPECT_EQ(entry.centralExtra, foreign);

  for (int which = 0; which < 2; ++which) {
    ZipEntry big = TimedEntry();
    big.centralExtra = foreign;
    (which == 0 ? big.uncompressedSize : big.localHeaderOffset) = kFiveGiB;
    PrepareExtraFields(&big);
    EXPECT_EQ(big.centralExtra, BuildCentralExtra(big)) << which;
    EXPECT_EQ(big.localExtra, BuildLocalExtra(big)) << which;
    EXPECT_EQ(big.versionNeeded, 45) << which;
  }

  ZipEntry fresh = TimedEntry();
  PrepareExtraFields(&fresh);
  EXPECT_EQ(fresh.centralExtra.size(), 53u);
}

TEST(ExtraFieldsTest, VersionNeededByMethod) {
  EXPECT_EQ(VersionNeededFor(0, false), 10);
  EXPECT_EQ(VersionNeededFor(8, false), 20);
  EXPECT_EQ(VersionNeededFor(8, true), 10);
  EXPECT_EQ(kVersionMadeBy, 0x0B17);
}

}  // namespace
}  // namespace korbel
