// Zstandard entries (method 93) are read only; their data is made here with
// libzstd's own encoder.
#include "zip/codec/zstd_codec.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <string>
#include <vector>

#include "tests/zip/codec/codec_sides.h"

namespace {

using codec_testing::Bytes;
using codec_testing::Direction;
using codec_testing::SideType;
using korbel::ZstdCodec;

Bytes Packed(const Bytes& data, int level, bool checksum = false, int windowLog = 0) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
  if (windowLog != 0) ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  Bytes packed(ZSTD_compressBound(data.size()));
  const std::size_t size = ZSTD_compress2(context, packed.data(), packed.size(), data.data(), data.size());
  ZSTD_freeCCtx(context);
  EXPECT_FALSE(ZSTD_isError(size));
  packed.resize(size);
  return packed;
}

Bytes Concatenated(const Bytes& a, const Bytes& b) {
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

TEST(ZstdCodecTest, FramesDecodeOnEverySide) {
  const Bytes text = testing_support::TextBytes(300000);
  const Bytes noise = testing_support::RandomBytes(70000, 9);
  const struct {
    const char* what;
    Bytes packed;
    Bytes plain;
  } cases[] = {
      {"text, level 3", Packed(text, 3), text},
      {"text, level 19 with checksum", Packed(text, 19, true), text},
      {"noise", Packed(noise, 1), noise},
      {"one byte", Packed(Bytes{0x42}, 3), Bytes{0x42}},
      {"two frames", Concatenated(Packed(text, 3), Packed(noise, 5)), Concatenated(text, noise)},
  };
  testing_support::TempDir dir;
  for (const auto& c : cases) {
    for (const SideType in : {SideType::kMemory, SideType::kFunction, SideType::kHandle}) {
      SCOPED_TRACE(std::string(c.what) + " side " + std::to_string(static_cast<int>(in)));
      ZstdCodec codec;
      const auto run = codec_testing::RunCodec(codec, Direction::kDecompress, korbel::kOwnMode, in,
                                               SideType::kFunction, c.packed, 0, dir);
      EXPECT_EQ(run.output, c.plain);
      EXPECT_EQ(run.answer, c.plain.size());
      EXPECT_EQ(codec.CompressedCount(), c.packed.size());
    }
  }
}

TEST(ZstdCodecTest, DamageFails) {
  const Bytes text = testing_support::TextBytes(100000);
  const Bytes packed = Packed(text, 3, true);
  Bytes flipped = packed;
  flipped[packed.size() - 2] ^= 0x55;  // in the checksum
  Bytes notZstd = packed;
  notZstd[0] = 0x00;
  const struct {
    const char* what;
    Bytes input;
    int kind;
  } cases[] = {
      {"cut short", Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2)),
       korbel::kCodecInputEnded},
      {"checksum damaged", flipped, korbel::kCodecDataError},
      {"no frame magic", notZstd, korbel::kCodecDataError},
      {"empty input", Bytes(), korbel::kCodecInputEnded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZstdCodec codec;
    EXPECT_THROW(codec_testing::Unpack(codec, korbel::kOwnMode, c.input), korbel::CodecFailure);
    EXPECT_EQ(codec.FailureKind(), c.kind);
  }
}

// A frame whose window exceeds 128 MiB is refused as too little memory
// before the decoder takes it.
TEST(ZstdCodecTest, WindowPastTheLimitIsRefused) {
  const Bytes packed = Packed(testing_support::TextBytes(5000), 3, false, 30);
  // An encoder that knows its input is small shrinks the window: fed as a
  // stream of unknown length, it keeps the 1 GiB window it was asked for.
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 30);
  const Bytes data = testing_support::TextBytes(5000);
  Bytes streamed(ZSTD_compressBound(data.size()) + 64);
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  ZSTD_outBuffer out{streamed.data(), streamed.size(), 0};
  ASSERT_FALSE(ZSTD_isError(ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue)));
  ZSTD_inBuffer none{nullptr, 0, 0};
  ASSERT_EQ(ZSTD_compressStream2(context, &out, &none, ZSTD_e_end), 0u);
  ZSTD_freeCCtx(context);
  streamed.resize(out.pos);
  ZstdCodec codec;
  EXPECT_THROW(codec_testing::Unpack(codec, korbel::kOwnMode, streamed), korbel::CodecFailure);
  EXPECT_EQ(codec.FailureKind(), korbel::kCodecNoMemory);
  // The same data with its size in the header needs no such window.
  ZstdCodec sized;
  EXPECT_EQ(codec_testing::Unpack(sized, korbel::kOwnMode, packed).output, data);
}

}  // namespace
