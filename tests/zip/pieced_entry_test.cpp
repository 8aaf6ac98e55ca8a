// Queued files larger than one block, compressed on the workers in pieces
// that join into one Deflate stream. The bounds are moved down so that small
// files take that path: a file is cut into pieces of 16 KiB (less than the
// 32 KiB that a piece takes as its dictionary) above 40 KiB.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/independent_readers.h"
#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"
#include "tests/zip/entry_bytes.h"
#include "zip/korbel.h"

namespace korbel {
namespace {

using testing_support::Bytes;
using testing_support::RandomBytes;
using testing_support::TempDir;
using testing_support::TextBytes;

constexpr std::size_t kLimit = 40 * 1024;
constexpr std::size_t kPiece = 16 * 1024;

class PiecedKorbel : public Korbel {
 public:
  PiecedKorbel() { packingWriter_.SetPieceBounds(kLimit, kPiece); }
};

// `period` bytes of noise over and over: only matches that reach back across
// pieces make it smaller.
Bytes Repeated(std::size_t size, std::size_t period) {
  const Bytes block = RandomBytes(period, 5);
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = block[i % period];
  return data;
}

// Words picked at random: text on which the levels differ.
Bytes Words(std::size_t size) {
  static const char* const kWords[] = {"packer ",  "entry ",   "header ", "piece ",   "stream ", "window ",
                                       "deflate ", "archive ", "worker ", "offset\n", "size ",   "crc "};
  const Bytes picks = RandomBytes(size, 6);
  Bytes data;
  for (std::size_t i = 0; data.size() < size; ++i) {
    const char* word = kWords[picks[i] % 12];
    data.insert(data.end(), word, word + std::strlen(word));
  }
  data.resize(size);
  return data;
}

struct PieceCase {
  const char* name;
  std::function<Bytes()> make;
  int method;           // what the entry is written with
  double largestRatio;  // of compressed to plain size, at most
};

// The stored bytes of an entry, behind its local header.
Bytes StoredData(const Bytes& zip, const ZipEntry& entry) {
  const std::size_t header = static_cast<std::size_t>(entry.localHeaderOffset);
  const std::size_t nameLength = zip[header + 26] | (zip[header + 27] << 8);
  const std::size_t extraLength = zip[header + 28] | (zip[header + 29] << 8);
  const std::size_t start = header + 30 + nameLength + extraLength;
  const auto end = static_cast<std::size_t>(start + entry.compressedSize);
  return end <= zip.size() ? Bytes(zip.begin() + start, zip.begin() + end) : Bytes();
}

class PiecedEntryTest : public ::testing::TestWithParam<PieceCase> {};

// The large file sits between small ones: every entry comes back byte for
// byte, in the order added, the large one's stream inflates with zlib alone,
// and the independent readers accept the archive.
TEST_P(PiecedEntryTest, RoundTripsBetweenSmallFiles) {
  const PieceCase& c = GetParam();
  const Bytes large = c.make();
  ASSERT_GT(large.size(), kLimit);
  const std::vector<std::pair<std::string, Bytes>> files = {{"a.txt", TextBytes(5000)},
                                                            {"b.dat", large},
                                                            {"c.txt", TextBytes(7000)},
                                                            {"d.bin", RandomBytes(3000, 9)}};
  TempDir dir;
  for (const auto& file : files) ASSERT_TRUE(testing_support::WriteFile(dir / file.first, file.second));
  const std::string path = dir / "out.zip";
  {
    PiecedKorbel archive;
    ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
    for (const auto& file : files) {
      ASSERT_EQ(archive.AddFileByPath((dir / file.first).c_str(), file.first.c_str()), kOk);
    }
    ASSERT_EQ(archive.Close(), kOk);
  }
  Korbel reader;
  ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
  ASSERT_EQ(reader.EntryCount(), static_cast<int>(files.size()));
  for (int i = 0; i < reader.EntryCount(); ++i) {
    EXPECT_EQ(files[i].first, reader.EntryName(i));
    if (i > 0) {
      EXPECT_GT(reader.Table().At(i)->localHeaderOffset, reader.Table().At(i - 1)->localHeaderOffset);
    }
    EXPECT_TRUE(entry_bytes::ReadAll(reader, i) == files[i].second) << files[i].first;
    EXPECT_EQ(reader.TestEntry(i), kOk) << files[i].first;
  }
  const ZipEntry& entry = *reader.Table().At(1);
  EXPECT_EQ(entry.method, c.method);
  EXPECT_EQ(entry.crc32, testing_support::Crc32(large));
  EXPECT_LE(static_cast<double>(entry.compressedSize), c.largestRatio * static_cast<double>(large.size()));
  const Bytes stored = StoredData(testing_support::ReadFile(path), entry);
  ASSERT_EQ(stored.size(), entry.compressedSize);
  EXPECT_TRUE((c.method == 0 ? stored : testing_support::RawInflate(stored, large.size())) == large);
  EXPECT_TRUE(testing_support::ReadersAccept(path));
}

const PieceCase kPieceCases[] = {
    {"JustAboveTheBound", [] { return TextBytes(kLimit + 1); }, 8, 0.5},
    {"PiecesAndOneByte", [] { return TextBytes(4 * kPiece + 1); }, 8, 0.5},
    {"ExactPieces", [] { return TextBytes(5 * kPiece); }, 8, 0.5},
    {"Words", [] { return Words(7 * kPiece + 3); }, 8, 0.5},
    {"NoiseIsStored", [] { return RandomBytes(3 * kPiece + 7, 4); }, 0, 1.0},
    {"Zeros", [] { return Bytes(9 * kPiece, 0); }, 8, 0.01},
    // Each piece repeats data only the pieces before it hold: without the
    // dictionary the file would not shrink at all.
    {"MatchesAcrossPieces", [] { return Repeated(8 * kPiece, 20000); }, 8, 0.2},
};

INSTANTIATE_TEST_SUITE_P(Sizes, PiecedEntryTest, ::testing::ValuesIn(kPieceCases),
                         [](const ::testing::TestParamInfo<PieceCase>& paramInfo) {
                           return std::string(paramInfo.param.name);
                         });

// The pieces are compressed at the entry's level: the fastest gives a larger
// stream than the strongest.
TEST(PiecedEntryLevels, EveryLevelRoundTrips) {
  const Bytes data = Words(6 * kPiece + 100);
  TempDir dir;
  ASSERT_TRUE(testing_support::WriteFile(dir / "big.txt", data));
  std::vector<std::uint64_t> sizes;
  for (const int level : {9, 6, 1}) {
    SCOPED_TRACE(level);
    const std::string path = dir / ("out" + std::to_string(level) + ".zip");
    {
      PiecedKorbel archive;
      ASSERT_EQ(archive.Open(path.c_str(), kCreate, 9), kOk);
      // The automatic method always takes level 9.
      ASSERT_EQ(archive.SetMethod(8), 8);
      ASSERT_EQ(archive.SetLevel(level), level);
      ASSERT_EQ(archive.AddFileByPath((dir / "big.txt").c_str(), "big.txt"), kOk);
      ASSERT_EQ(archive.Close(), kOk);
    }
    Korbel reader;
    ASSERT_EQ(reader.Open(path.c_str(), kReadOnly, 9), kOk);
    EXPECT_EQ(reader.Table().At(0)->method, 8);
    EXPECT_TRUE(entry_bytes::ReadAll(reader, 0) == data);
    sizes.push_back(reader.Table().At(0)->compressedSize);
  }
  EXPECT_LT(sizes.front(), sizes.back());
}

}  // namespace
}  // namespace korbel
