#include "zip/compression_pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tests/support/reference_codecs.h"
#include "tests/support/test_support.h"

namespace korbel {
namespace {

using testing_support::Bytes;

std::unique_ptr<CompressionJob> MakeJob(int index, const Bytes& data, int level) {
  auto job = std::make_unique<CompressionJob>();
  job->entryIndex = index;
  job->level = level;
  job->inputSize = data.size();
  job->input.reset(new unsigned char[data.size()]);
  std::memcpy(job->input.get(), data.data(), data.size());
  return job;
}

// Many jobs of mixed sizes and kinds over several workers: each comes back in
// the order submitted, with its CRC-32, and either a stream that inflates to
// its input or, where Deflate would grow it, marked to be stored.
TEST(CompressionPipelineTest, JobsComeBackInOrderWithTheirResults) {
  std::vector<Bytes> inputs;
  for (int i = 0; i < 40; ++i) {
    const std::size_t size = 100 + static_cast<std::size_t>(i) * 997;
    inputs.push_back(i % 5 == 4 ? testing_support::RandomBytes(size, static_cast<unsigned>(i))
                                : testing_support::TextBytes(size));
  }
  CompressionPipeline pipeline(3, std::size_t{1} << 30, 8);
  std::size_t submitted = 0;
  for (std::size_t taken = 0; taken < inputs.size(); ++taken) {
    while (submitted < inputs.size() && pipeline.HasRoomFor(2 * inputs[submitted].size())) {
      pipeline.Submit(
          MakeJob(static_cast<int>(submitted), inputs[submitted], static_cast<int>(1 + submitted % 9)));
      ++submitted;
    }
    const std::unique_ptr<CompressionJob> job = pipeline.TakeOldest();
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(job->entryIndex, static_cast<int>(taken));
    const Bytes& data = inputs[taken];
    EXPECT_TRUE(job->finished);
    EXPECT_FALSE(job->noMemory);
    EXPECT_EQ(job->crc, testing_support::Crc32(data));
    if (taken % 5 == 4) {
      EXPECT_TRUE(job->stored) << taken;
      EXPECT_EQ(job->output, nullptr);
    } else {
      ASSERT_FALSE(job->stored) << taken;
      EXPECT_LT(job->outputSize, data.size());
      const Bytes packed(job->output.get(), job->output.get() + job->outputSize);
      EXPECT_EQ(testing_support::RawInflate(packed, data.size()), data) << taken;
    }
  }
  EXPECT_EQ(pipeline.TakeOldest(), nullptr);
}

TEST(CompressionPipelineTest, RoomIsBoundedByBudgetAndCountButOneJobAlwaysFits) {
  CompressionPipeline pipeline(1, 1000, 2);
  EXPECT_TRUE(pipeline.HasRoomFor(std::size_t{1} << 40));           // nothing in flight
  pipeline.Submit(MakeJob(0, testing_support::TextBytes(100), 9));  // footprint 1224
  EXPECT_FALSE(pipeline.HasRoomFor(1));
  EXPECT_NE(pipeline.TakeOldest(), nullptr);

  CompressionPipeline counted(1, std::size_t{1} << 30, 2);
  counted.Submit(MakeJob(0, testing_support::TextBytes(10), 9));
  EXPECT_TRUE(counted.HasRoomFor(10));
  counted.Submit(MakeJob(1, testing_support::TextBytes(10), 9));
  EXPECT_FALSE(counted.HasRoomFor(10));
}

// Leaving with jobs still queued (as a failed write does) joins the workers.
TEST(CompressionPipelineTest, StopsWithJobsLeft) {
  auto pipeline = std::make_unique<CompressionPipeline>(2, std::size_t{1} << 30, 64);
  for (int i = 0; i < 20; ++i) pipeline->Submit(MakeJob(i, testing_support::TextBytes(200000), 9));
  EXPECT_EQ(pipeline->TakeOldest()->entryIndex, 0);
  pipeline.reset();
  SUCCEED();
}

}  // namespace
}  // namespace korbel
