#include "zip/io/archive_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "tests/support/reference_codecs.h"
#include "tests/zip/io/scratch_file.h"
#include "zip/error_codes.h"
#include "zip/io/pseudo_path.h"

namespace korbel {
namespace {

using korbel_test::ReadWholeFile;
using korbel_test::ScratchFile;
using korbel_test::SystemTempFolder;
using korbel_test::TestBytes;

// The code a call raises, or kOk when it raises nothing.
template <typename Call>
int RaisedCode(Call call) {
  try {
    call();
  } catch (const EngineFault& fault) {
    return fault.code;
  }
  return kOk;
}

// Closes the store and deletes the temporary file it spilled to.
struct SpillCleanup {
  ArchiveStore& store;
  ~SpillCleanup() {
    const std::string name = store.TempName();
    store.Release();
    if (!name.empty()) platform::DeleteFile(name.c_str());
  }
};

std::string FileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

// ---- Growable memory blocks ------------------------------------------------------------

class GrowableStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The archive object opens memory this way: block 1, capacity = maximum.
    ASSERT_EQ(OpenMemoryStore(store_, reinterpret_cast<void*>(kGrowableBlock), 1000000, 0, nullptr), kOk);
  }
  ArchiveStore store_;
};

TEST_F(GrowableStoreTest, StartsWithTheMinimumCapacity) {
  EXPECT_TRUE(store_.OwnsBuffer());
  EXPECT_EQ(store_.Capacity(), 262144);
  EXPECT_EQ(store_.MaximumSize(), 1000000);
  EXPECT_EQ(store_.UsedSize(), 0);
  EXPECT_EQ(store_.Size(), 0);
}

TEST_F(GrowableStoreTest, GrowsByHalfPlus64KiB) {
  const auto data = TestBytes(262145, 41);
  ASSERT_EQ(store_.Write(data.data(), 262144), 262144);
  EXPECT_EQ(store_.Capacity(), 262144);
  ASSERT_EQ(store_.Write(data.data() + 262144, 1), 1);
  EXPECT_EQ(store_.Capacity(), 458752);
  EXPECT_EQ(store_.Size(), 262145);
  EXPECT_EQ(0, std::memcmp(store_.Data(), data.data(), data.size()));
}

TEST_F(GrowableStoreTest, GrowsByTheWholeWriteWhenHalfIsNotEnough) {
  const auto data = TestBytes(300000, 43);
  ASSERT_EQ(store_.Write(data.data(), data.size()), 300000);
  EXPECT_EQ(store_.Capacity(), 566240);
  EXPECT_EQ(store_.Tell(), 300000);
  EXPECT_EQ(0, std::memcmp(store_.Data(), data.data(), data.size()));
}

TEST(GrowableStore, GrowthIsCappedAtTheMaximum) {
  ArchiveStore store;
  ASSERT_EQ(OpenMemoryStore(store, reinterpret_cast<void*>(kGrowableBlock), 800000, 0, nullptr), kOk);
  const auto data = TestBytes(600000, 45);
  ASSERT_EQ(store.Write(data.data(), 300000), 300000);
  ASSERT_EQ(store.Capacity(), 566240);
  ASSERT_EQ(store.Seek(550000, platform::kSeekBegin), 550000);
  ASSERT_EQ(store.Write(data.data() + 550000, 50000), 50000);
  // 566240 + 283120 + 65536 would pass the maximum of 800000.
  EXPECT_EQ(store.Capacity(), 800000);
  EXPECT_EQ(store.Size(), 600000);
  EXPECT_EQ(0, std::memcmp(store.Data(), data.data(), 300000));
  EXPECT_EQ(0, std::memcmp(store.Data() + 550000, data.data() + 550000, 50000));
}

TEST_F(GrowableStoreTest, WriteBeyondTheMaximumFailsWithoutSpill) {
  const auto data = TestBytes(1000001, 47);
  ASSERT_EQ(store_.Write(data.data(), 100), 100);
  EXPECT_EQ(RaisedCode([&] { store_.Write(data.data(), 999901); }), kWriteError);
  // Nothing was written and the block did not move.
  EXPECT_EQ(store_.Capacity(), 262144);
  EXPECT_EQ(store_.Size(), 100);
  EXPECT_EQ(store_.Tell(), 100);
  EXPECT_TRUE(store_.IsMemoryMode());

  store_.SetRaiseOnWriteFailure(false);
  EXPECT_EQ(store_.Write(data.data(), 999901), -1);
  EXPECT_EQ(store_.Size(), 100);
}

TEST_F(GrowableStoreTest, TruncateCutsAndGrows) {
  const auto data = TestBytes(1000, 49);
  ASSERT_EQ(store_.Write(data.data(), 1000), 1000);
  ASSERT_EQ(store_.Seek(400, platform::kSeekBegin), 400);
  EXPECT_EQ(store_.Truncate(), kOk);
  EXPECT_EQ(store_.Size(), 400);
  // A position beyond the capacity grows the block.
  ASSERT_EQ(store_.Seek(300000, platform::kSeekBegin), 300000);
  EXPECT_EQ(store_.Truncate(), kOk);
  EXPECT_GE(store_.Capacity(), 300000);
  EXPECT_EQ(store_.Size(), 300000);
  EXPECT_EQ(0, std::memcmp(store_.Data(), data.data(), 400));
}

TEST_F(GrowableStoreTest, ClearEmptiesTheArchive) {
  const auto data = TestBytes(100, 51);
  ASSERT_EQ(store_.Write(data.data(), 100), 100);
  EXPECT_EQ(store_.Clear(), kOk);
  EXPECT_EQ(store_.Size(), 0);
  EXPECT_EQ(store_.Tell(), 0);
}

// ---- Spilling into a temporary file --------------------------------------------------------

TEST(ArchiveStoreSpill, GrowthFailureMovesTheArchiveIntoATempFile) {
  const std::string folder = SystemTempFolder();
  ASSERT_FALSE(folder.empty());
  for (const bool configured : {true, false}) {
    SCOPED_TRACE(configured ? "configured folder" : "system folder");
    ArchiveStore store;
    SpillCleanup cleanup{store};
    ASSERT_TRUE(store.CreateGrowable(0, 300000));
    store.SetSpillAllowed(true);
    if (configured) store.SetTempFolder(folder.c_str());
    const auto data = TestBytes(450000, 53);
    ASSERT_EQ(store.Write(data.data(), 250000), 250000);
    // Rewrite a piece in the middle, as the writer does with local headers.
    ASSERT_EQ(store.Seek(1000, platform::kSeekBegin), 1000);
    ASSERT_EQ(store.Write(data.data() + 1000, 1000), 1000);
    ASSERT_EQ(store.Seek(250000, platform::kSeekBegin), 250000);
    ASSERT_EQ(store.Write(data.data() + 250000, 200000), 200000);

    EXPECT_TRUE(store.IsFileMode());
    EXPECT_TRUE(store.HasSpilled());
    EXPECT_FALSE(store.OwnsBuffer());
    EXPECT_EQ(std::string(store.TempName()).rfind(folder, 0), 0u) << store.TempName();
    EXPECT_EQ(FileName(store.TempName()).rfind("AF_", 0), 0u) << store.TempName();
    EXPECT_EQ(store.FileSize(), 250000);  // the content copied when spilling
    EXPECT_EQ(store.Size(), 450000);
    EXPECT_EQ(store.Tell(), 450000);

    std::vector<unsigned char> back(data.size());
    ASSERT_EQ(store.Seek(0, platform::kSeekBegin), 0);
    ASSERT_EQ(store.Read(back.data(), back.size()), 450000);
    EXPECT_EQ(back, data);
  }
}

TEST(ArchiveStoreSpill, MissingTempFolderFailsWith25) {
  ArchiveStore store;
  SpillCleanup cleanup{store};
  ASSERT_TRUE(store.CreateGrowable(0, 262144));
  store.SetSpillAllowed(true);
  const std::string missing = SystemTempFolder() + "korbel-no-such-folder/";
  store.SetTempFolder(missing.c_str());
  const auto data = TestBytes(262145, 55);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), data.size()); }), kFileCreateError);
  EXPECT_TRUE(store.IsMemoryMode());
  EXPECT_EQ(store.Size(), 0);
  store.SetRaiseOnWriteFailure(false);
  EXPECT_EQ(store.Write(data.data(), data.size()), -1);
}

// ---- Caller's blocks and resources -------------------------------------------------------------

TEST(ArchiveStoreBlock, NegativeSeekStopsAtZero) {
  std::vector<unsigned char> block(100);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, 50);
  EXPECT_EQ(store.Seek(-5, platform::kSeekBegin), 0);
  EXPECT_EQ(store.Seek(30, platform::kSeekBegin), 30);
  EXPECT_EQ(store.Seek(-40, platform::kSeekCurrent), 0);
  EXPECT_EQ(store.Seek(-10, platform::kSeekEnd), 90);  // the end is the capacity
  EXPECT_EQ(store.Seek(-1000, platform::kSeekEnd), 0);
  EXPECT_EQ(store.Tell(), 0);
}

TEST(ArchiveStoreBlock, UsedSizeMinusOneReadsToTheCapacity) {
  const auto data = TestBytes(100, 57);
  ArchiveStore store;
  store.UseBlock(const_cast<unsigned char*>(data.data()), 100, -1);
  EXPECT_EQ(store.Size(), 100);
  std::vector<unsigned char> back(150, 0);
  store.SetRaiseOnShortRead(false);
  EXPECT_EQ(store.Read(back.data(), back.size()), 100);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
  EXPECT_EQ(store.Tell(), 100);
}

TEST(ArchiveStoreBlock, ShortReadsRaise11OrAnswerTheCount) {
  const auto data = TestBytes(100, 59);
  std::vector<unsigned char> block(data);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, 60);  // 60 bytes of content in a 100-byte block
  std::vector<unsigned char> back(100);
  ASSERT_EQ(store.Seek(20, platform::kSeekBegin), 20);
  EXPECT_TRUE(store.RaisesOnShortRead());  // on by default
  EXPECT_EQ(RaisedCode([&] { store.Read(back.data(), 50); }), kReadError);
  EXPECT_EQ(store.Tell(), 60);  // the position is at the end of the content
  EXPECT_TRUE(std::equal(data.begin() + 20, data.begin() + 60, back.begin()));

  store.SetRaiseOnShortRead(false);
  ASSERT_EQ(store.Seek(55, platform::kSeekBegin), 55);
  EXPECT_EQ(store.Read(back.data(), 50), 5);
  EXPECT_EQ(store.Read(back.data(), 50), 0);
  // A position beyond the content reads nothing and returns to the end.
  ASSERT_EQ(store.Seek(90, platform::kSeekBegin), 90);
  EXPECT_EQ(store.Read(back.data(), 5), 0);
  EXPECT_EQ(store.Tell(), 60);
}

TEST(ArchiveStoreBlock, WritingPastTheBlockFillsItAndFails) {
  const auto data = TestBytes(120, 61);
  std::vector<unsigned char> block(100, 0);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, 0);
  ASSERT_EQ(store.Write(data.data(), 60), 60);
  EXPECT_EQ(store.UsedSize(), 60);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data() + 60, 60); }), kWriteError);
  EXPECT_EQ(store.Tell(), 100);
  EXPECT_EQ(store.UsedSize(), 100);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin()));
  EXPECT_EQ(store.Data(), block.data());  // never reallocated

  store.SetRaiseOnWriteFailure(false);
  EXPECT_EQ(store.Write(data.data(), 1), -1);
}

TEST(ArchiveStoreBlock, UsedSizeFollowsTheFurthestWrite) {
  const auto data = TestBytes(80, 63);
  std::vector<unsigned char> block(100, 0);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, 10);
  ASSERT_EQ(store.Seek(50, platform::kSeekBegin), 50);
  ASSERT_EQ(store.Write(data.data(), 30), 30);
  EXPECT_EQ(store.UsedSize(), 80);
  ASSERT_EQ(store.Seek(0, platform::kSeekBegin), 0);
  ASSERT_EQ(store.Write(data.data(), 5), 5);
  EXPECT_EQ(store.UsedSize(), 80);
  EXPECT_EQ(store.Truncate(), kOk);
  EXPECT_EQ(store.UsedSize(), 5);
  // A caller's block cannot grow, so truncating beyond it fails.
  ASSERT_EQ(store.Seek(150, platform::kSeekBegin), 150);
  EXPECT_EQ(RaisedCode([&] { store.Truncate(); }), kWriteError);
  EXPECT_EQ(store.UsedSize(), 5);
}

TEST(ArchiveStoreBlock, ClearKeepsAWholeBlockArchive) {
  std::vector<unsigned char> block(100, 1);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, -1);
  ASSERT_EQ(store.Seek(10, platform::kSeekBegin), 10);
  EXPECT_EQ(store.Clear(), kOk);
  EXPECT_EQ(store.Size(), 100);
  EXPECT_EQ(store.Tell(), 10);
}

TEST(ArchiveStoreBlock, ResourcesAreReadOnly) {
  const auto data = TestBytes(64, 65);
  ArchiveStore store;
  store.UseResource(data.data(), 64);
  EXPECT_TRUE(store.IsReadOnly());
  EXPECT_EQ(store.UsedSize(), -1);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), 1); }), kWriteError);
  DataStream stream;
  EXPECT_EQ(RaisedCode([&] { store.ConnectOutput(stream); }), kWriteError);
  std::vector<unsigned char> back(64);
  EXPECT_EQ(store.Read(back.data(), 64), 64);
  EXPECT_EQ(back, data);
}

// ---- File mode ---------------------------------------------------------------------------------

TEST(ArchiveStoreFile, ReadWriteSeekTruncateAndClear) {
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ArchiveStore store;
  ASSERT_TRUE(store.OpenFile(scratch.Path(), platform::kAccessReadWrite, platform::kShareNone,
                             platform::kCreateAlways));
  EXPECT_TRUE(store.IsFileMode());
  const auto data = TestBytes(5000, 67);
  ASSERT_EQ(store.Write(data.data(), data.size()), 5000);
  EXPECT_EQ(store.Size(), 5000);
  EXPECT_EQ(store.Tell(), 5000);
  EXPECT_EQ(store.Seek(-1000, platform::kSeekEnd), 4000);
  std::vector<unsigned char> back(2000);
  EXPECT_EQ(RaisedCode([&] { store.Read(back.data(), 2000); }), kReadError);
  store.SetRaiseOnShortRead(false);
  ASSERT_EQ(store.Seek(4000, platform::kSeekBegin), 4000);
  EXPECT_EQ(store.Read(back.data(), 2000), 1000);
  EXPECT_TRUE(std::equal(data.begin() + 4000, data.end(), back.begin()));

  ASSERT_EQ(store.Seek(3000, platform::kSeekBegin), 3000);
  EXPECT_EQ(store.Truncate(), kOk);
  EXPECT_EQ(store.Size(), 3000);
  EXPECT_EQ(store.Clear(), kOk);
  EXPECT_EQ(store.Size(), 0);
  EXPECT_EQ(store.Tell(), 0);
  store.RefreshFileSize();
  EXPECT_EQ(store.FileSize(), 0);
}

TEST(ArchiveStoreFile, FailedWritesRaise14OrAnswerMinusOne) {
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ArchiveStore store;
  // A file opened for reading refuses writes.
  ASSERT_TRUE(
      store.OpenFile(scratch.Path(), platform::kAccessRead, platform::kShareRead, platform::kOpenExisting));
  const auto data = TestBytes(10, 69);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), data.size()); }), kWriteError);
  store.SetRaiseOnWriteFailure(false);
  EXPECT_EQ(store.Write(data.data(), data.size()), -1);
}

TEST(ArchiveStoreFile, PositionsBeyondFourGigabytes) {
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ArchiveStore store;
  ASSERT_TRUE(store.OpenFile(scratch.Path(), platform::kAccessReadWrite, platform::kShareNone,
                             platform::kCreateAlways));
  const std::int64_t far = (std::int64_t{5} << 30) + 12345;  // past 2^32, a sparse gap before it
  const auto data = TestBytes(16, 71);
  ASSERT_EQ(store.Seek(far, platform::kSeekBegin), far);
  ASSERT_EQ(store.Write(data.data(), data.size()), 16);
  EXPECT_EQ(store.Tell(), far + 16);
  EXPECT_EQ(store.Size(), far + 16);
  EXPECT_EQ(store.Seek(-16, platform::kSeekCurrent), far);
  std::vector<unsigned char> back(16);
  ASSERT_EQ(store.Read(back.data(), 16), 16);
  EXPECT_EQ(back, data);

  // An input span of that size is counted by the store, not by a handle limit.
  ASSERT_EQ(store.Seek(far, platform::kSeekBegin), far);
  DataStream stream;
  store.ConnectInput(stream, 0x7FFFFFF1, 0);
  EXPECT_EQ(stream.InputKind(), SideKind::kFunction);
  std::vector<unsigned char> got(64);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 16);
  EXPECT_EQ(stream.InputCrc(), testing_support::Crc32(data.data(), 16));

  ASSERT_EQ(store.Seek(far + 4, platform::kSeekBegin), far + 4);
  EXPECT_EQ(store.Truncate(), kOk);
  EXPECT_EQ(store.Size(), far + 4);
}

// ---- Failing system calls ------------------------------------------------------------------

class ArchiveStoreFaults : public ::testing::Test {
 protected:
  void TearDown() override { platform::ClearFaults(); }

  void OpenScratch(ArchiveStore& store) {
    ASSERT_TRUE(scratch_.Valid());
    ASSERT_TRUE(store.OpenFile(scratch_.Path(), platform::kAccessReadWrite, platform::kShareNone,
                               platform::kCreateAlways));
  }

  ScratchFile scratch_;
};

TEST_F(ArchiveStoreFaults, ShortFileWritesFail) {
  ArchiveStore store;
  OpenScratch(store);
  const auto data = TestBytes(100, 91);
  platform::InjectFault(platform::Operation::kWriteFile, 1, platform::FaultKind::kShortWrite);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), 100); }), kWriteError);
  store.SetRaiseOnWriteFailure(false);
  platform::InjectFault(platform::Operation::kWriteFile, 1, platform::FaultKind::kDiskFull);
  EXPECT_EQ(store.Write(data.data(), 100), -1);
  EXPECT_EQ(store.Write(data.data(), 100), 100);
}

TEST_F(ArchiveStoreFaults, ShortAndFailedFileReads) {
  ArchiveStore store;
  OpenScratch(store);
  const auto data = TestBytes(100, 93);
  ASSERT_EQ(store.Write(data.data(), 100), 100);
  std::vector<unsigned char> back(100);
  ASSERT_EQ(store.Seek(0, platform::kSeekBegin), 0);
  platform::InjectFault(platform::Operation::kReadFile, 1, platform::FaultKind::kShortRead);
  EXPECT_EQ(RaisedCode([&] { store.Read(back.data(), 100); }), kReadError);

  store.SetRaiseOnShortRead(false);
  ASSERT_EQ(store.Seek(0, platform::kSeekBegin), 0);
  platform::InjectFault(platform::Operation::kReadFile, 1, platform::FaultKind::kShortRead);
  EXPECT_EQ(store.Read(back.data(), 100), 50);
  platform::InjectFault(platform::Operation::kReadFile, 1, platform::FaultKind::kFail);
  EXPECT_EQ(store.Read(back.data(), 50), -1);
}

TEST_F(ArchiveStoreFaults, FailedTruncateAndClear) {
  ArchiveStore store;
  OpenScratch(store);
  platform::InjectFault(platform::Operation::kTruncateFile, 1, platform::FaultKind::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { store.Truncate(); }), kWriteError);
  store.SetRaiseOnWriteFailure(false);
  platform::InjectFault(platform::Operation::kTruncateFile, 1, platform::FaultKind::kAccessDenied);
  EXPECT_EQ(store.Clear(), -1);
  EXPECT_EQ(store.Clear(), kOk);
}

TEST_F(ArchiveStoreFaults, SpillCopyFailureDeletesTheTempFile) {
  ArchiveStore store;
  SpillCleanup cleanup{store};
  ASSERT_TRUE(store.CreateGrowable(0, 262144));
  store.SetSpillAllowed(true);
  const auto data = TestBytes(262144, 95);
  ASSERT_EQ(store.Write(data.data(), 1000), 1000);
  platform::InjectFault(platform::Operation::kWriteFile, 1, platform::FaultKind::kDiskFull);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), data.size()); }), kWriteError);
  ASSERT_NE(store.TempName()[0], '\0');
  EXPECT_EQ(platform::GetAttributes(store.TempName()), platform::kInvalidAttributes);
  // The archive stays in memory, unchanged.
  EXPECT_TRUE(store.IsMemoryMode());
  EXPECT_EQ(store.Size(), 1000);
  EXPECT_EQ(0, std::memcmp(store.Data(), data.data(), 1000));
}

TEST_F(ArchiveStoreFaults, TempFileThatCannotBeOpenedIs25) {
  ArchiveStore store;
  SpillCleanup cleanup{store};
  ASSERT_TRUE(store.CreateGrowable(0, 262144));
  store.SetSpillAllowed(true);
  const auto data = TestBytes(262145, 97);
  platform::InjectFault(platform::Operation::kOpenFile, 1, platform::FaultKind::kAccessDenied);
  EXPECT_EQ(RaisedCode([&] { store.Write(data.data(), data.size()); }), kFileCreateError);
  EXPECT_TRUE(store.IsMemoryMode());
  // The name that was made for it does not stay behind.
  ASSERT_NE(store.TempName()[0], '\0');
  EXPECT_EQ(platform::GetAttributes(store.TempName()), platform::kInvalidAttributes);
}

// ---- Connecting data streams ----------------------------------------------------------------------

TEST(ArchiveStoreStreams, FileOutputWritesAtThePosition) {
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ArchiveStore store;
  ASSERT_TRUE(store.OpenFile(scratch.Path(), platform::kAccessReadWrite, platform::kShareNone,
                             platform::kCreateAlways));
  const auto data = TestBytes(3000, 73);
  ASSERT_EQ(store.Write(data.data(), 1000), 1000);
  DataStream stream;
  store.ConnectOutput(stream);
  EXPECT_EQ(stream.OutputKind(), SideKind::kHandle);
  ASSERT_EQ(stream.Write(data.data() + 1000, 2000), 2000);
  EXPECT_EQ(store.Tell(), 3000);
  store.Release();
  EXPECT_EQ(ReadWholeFile(scratch.Path()), data);
}

TEST(ArchiveStoreStreams, OwnedBlockOutputGoesThroughTheStore) {
  ArchiveStore store;
  ASSERT_TRUE(store.CreateGrowable(0, 2000000));
  const auto data = TestBytes(600000, 75);
  DataStream stream;
  store.ConnectOutput(stream, 0);
  EXPECT_EQ(stream.OutputKind(), SideKind::kFunction);
  for (std::size_t at = 0; at < data.size(); at += 16384) {
    const std::size_t piece = std::min<std::size_t>(16384, data.size() - at);
    ASSERT_EQ(stream.Write(data.data() + at, piece), static_cast<std::int64_t>(piece));
  }
  EXPECT_TRUE(stream.EndOutput());
  EXPECT_EQ(store.Size(), 600000);
  EXPECT_GT(store.Capacity(), 262144);  // it grew on the way
  EXPECT_EQ(0, std::memcmp(store.Data(), data.data(), data.size()));
  EXPECT_EQ(stream.OutputCrc(), testing_support::Crc32(data.data(), 600000));
}

TEST(ArchiveStoreStreams, OwnedBlockFailureReachesTheStreamAsMinusOne) {
  ArchiveStore store;
  ASSERT_TRUE(store.CreateGrowable(0, 262144));  // cannot grow, no spill
  const auto data = TestBytes(262145, 77);
  DataStream stream;
  store.ConnectOutput(stream);
  EXPECT_EQ(stream.Write(data.data(), 262144), 262144);
  EXPECT_EQ(stream.Write(data.data(), 1), -1);
}

TEST(ArchiveStoreStreams, CallerBlockOutputIsAMemorySide) {
  const auto data = TestBytes(100, 79);
  std::vector<unsigned char> block(100, 0);
  ArchiveStore store;
  store.UseBlock(block.data(), 100, 30);
  ASSERT_EQ(store.Seek(20, platform::kSeekBegin), 20);
  DataStream stream;
  store.ConnectOutput(stream);
  EXPECT_EQ(stream.OutputKind(), SideKind::kMemory);
  EXPECT_EQ(stream.OutputRoom(), 80u);
  ASSERT_EQ(stream.Write(data.data(), 5), 5);
  EXPECT_EQ(store.Tell(), 25);
  EXPECT_EQ(store.UsedSize(), 30);  // not passed yet
  ASSERT_EQ(stream.Write(data.data() + 5, 40), 40);
  EXPECT_EQ(store.Tell(), 65);
  EXPECT_EQ(store.UsedSize(), 65);
  // The rest of the block is all it takes.
  EXPECT_EQ(stream.Write(data.data(), 100), 35);
  EXPECT_EQ(store.UsedSize(), 100);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 45, block.begin() + 20));
}

TEST(ArchiveStoreStreams, MemoryInputCoversWhatRemains) {
  const auto data = TestBytes(1000, 81);
  std::vector<unsigned char> block(data);
  ArchiveStore store;
  store.UseBlock(block.data(), 1000, 700);
  ASSERT_EQ(store.Seek(100, platform::kSeekBegin), 100);
  std::vector<unsigned char> got(1000);
  DataStream stream;
  store.ConnectInput(stream, 250, 0);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 250);
  EXPECT_EQ(store.Tell(), 350);
  EXPECT_TRUE(std::equal(data.begin() + 100, data.begin() + 350, got.begin()));
  store.ConnectInput(stream, 5000, 0);  // more than remains: up to the used size
  EXPECT_EQ(stream.Read(got.data(), got.size()), 350);
  EXPECT_EQ(store.Tell(), 700);
  ASSERT_EQ(store.Seek(600, platform::kSeekBegin), 600);
  store.ConnectInput(stream, -1, 0);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 100);
  EXPECT_EQ(stream.InputCrc(), testing_support::Crc32(data.data() + 600, 100));
}

TEST(ArchiveStoreStreams, FileInputIsLimitedToTheLength) {
  ScratchFile scratch;
  ASSERT_TRUE(scratch.Valid());
  ArchiveStore store;
  ASSERT_TRUE(store.OpenFile(scratch.Path(), platform::kAccessReadWrite, platform::kShareNone,
                             platform::kCreateAlways));
  const auto data = TestBytes(4000, 83);
  ASSERT_EQ(store.Write(data.data(), data.size()), 4000);
  ASSERT_EQ(store.Seek(1000, platform::kSeekBegin), 1000);
  std::vector<unsigned char> got(4000);
  DataStream stream;
  store.ConnectInput(stream, 0x7FFFFFF0, 0);
  EXPECT_EQ(stream.InputKind(), SideKind::kHandle);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 3000);
  ASSERT_EQ(store.Seek(1000, platform::kSeekBegin), 1000);
  store.ConnectInput(stream, 1500, 0);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 1500);
  EXPECT_EQ(stream.Read(got.data(), got.size()), 0);
  EXPECT_EQ(stream.InputCrc(), testing_support::Crc32(data.data() + 1000, 1500));
}

// ---- Rebuilding --------------------------------------------------------------------------------------

TEST(ArchiveStoreRebuild, OldBytesMoveToTheSecondStore) {
  const auto data = TestBytes(500, 85);
  std::vector<unsigned char> block(data);
  ArchiveStore store;
  store.UseBlock(block.data(), 500, 500);
  store.SetRaiseOnShortRead(false);
  store.BeginRebuild(1000, 1000000);
  ArchiveStore* old = store.RebuildSource();
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->Data(), block.data());
  EXPECT_EQ(old->Size(), 500);
  EXPECT_FALSE(old->RaisesOnShortRead());  // the settings went along
  // The new image: a growable block of 128 KiB at least, spilling allowed.
  EXPECT_TRUE(store.OwnsBuffer());
  EXPECT_EQ(store.Capacity(), 131072);
  EXPECT_EQ(store.MaximumSize(), 1000000);
  EXPECT_EQ(store.Size(), 0);
  EXPECT_TRUE(store.SpillAllowed());
  EXPECT_EQ(RaisedCode([&] { store.BeginRebuild(0, 1000000); }), kInternalError);

  // Copy across, then finish.
  DataStream stream;
  old->ConnectInput(stream, -1, 0);
  std::vector<unsigned char> piece(500);
  ASSERT_EQ(stream.Read(piece.data(), piece.size()), 500);
  ASSERT_EQ(store.Write(piece.data(), piece.size()), 500);
  store.EndRebuild();
  EXPECT_EQ(store.RebuildSource(), nullptr);
  EXPECT_EQ(0, std::memcmp(store.Data(), data.data(), 500));
}

TEST(ArchiveStoreRebuild, ExpectedSizeAboveTheMinimumIsTheStart) {
  ArchiveStore store;
  ASSERT_TRUE(store.CreateGrowable(0, 1000000));
  store.BeginRebuild(200000, 1000000);
  EXPECT_EQ(store.Capacity(), 200000);
  EXPECT_EQ(store.RebuildSource()->Capacity(), 262144);
}

TEST(ArchiveStoreRebuild, SmallMaximumGoesStraightToATempFile) {
  ArchiveStore store;
  SpillCleanup cleanup{store};
  ASSERT_TRUE(store.CreateGrowable(0, 1000000));
  store.BeginRebuild(1000, 100000);
  EXPECT_TRUE(store.IsFileMode());
  EXPECT_TRUE(store.HasSpilled());
  EXPECT_EQ(FileName(store.TempName()).rfind("AF_", 0), 0u);
  const auto data = TestBytes(10, 87);
  EXPECT_EQ(store.Write(data.data(), 10), 10);
  EXPECT_EQ(store.Size(), 10);
}

TEST(ArchiveStoreRebuild, CancelGivesTheOldBytesBack) {
  ArchiveStore store;
  ASSERT_TRUE(store.CreateGrowable(0, 1000000));
  const auto data = TestBytes(50, 89);
  ASSERT_EQ(store.Write(data.data(), 50), 50);
  unsigned char* const oldData = store.Data();
  store.BeginRebuild(0, 50000);  // straight into a temp file
  const std::string image = store.TempName();
  ASSERT_FALSE(image.empty());
  store.CancelRebuild();
  EXPECT_EQ(store.RebuildSource(), nullptr);
  EXPECT_EQ(store.Data(), oldData);
  EXPECT_EQ(store.Size(), 50);
  EXPECT_TRUE(store.IsMemoryMode());
  // The image file is gone.
  EXPECT_EQ(platform::GetAttributes(image.c_str()), platform::kInvalidAttributes);
}

}  // namespace
}  // namespace korbel
