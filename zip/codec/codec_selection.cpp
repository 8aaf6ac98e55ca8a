#include "zip/codec/codec_selection.h"

#include <cstdint>
#include <limits>
#include <new>

#include "zip/codec/bzip2_codec.h"
#include "zip/codec/deflate_codec.h"
#include "zip/codec/lzma_codec.h"
#include "zip/codec/ppmd_codec.h"
#include "zip/codec/xz_codec.h"
#include "zip/codec/zstd_codec.h"
#include "zip/format/zip_constants.h"

namespace korbel {
namespace {

std::int64_t SizeForCoder(std::uint64_t size) {
  return size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
             ? -1
             : static_cast<std::int64_t>(size);
}

// Methods up to Deflate64 share the Deflate codec, which tells them apart by
// mode; every later method is a family of its own.
constexpr int kDeflateFamily = kMethodStored;

// Tells the codec of a family that knows the entry's size where its data ends.
void PassSize(Codec& codec, int family, std::uint64_t size) {
  if (family == kMethodLzma) static_cast<LzmaCodec&>(codec).SetUncompressedSize(SizeForCoder(size));
  if (family == kMethodPpmd) static_cast<PpmdCodec&>(codec).SetSizeLimit(SizeForCoder(size));
}

std::unique_ptr<Codec> NewCodec(int family, int method) {
  switch (family) {
    case kDeflateFamily: {
      std::unique_ptr<Codec> codec(new (std::nothrow) DeflateCodec);
      if (codec)
        codec->SetMode(method == kMethodStored || method == kMethodDeflate64 ? method
                                                                             : DeflateCodec::kDeflate);
      return codec;
    }
    case kMethodBZip2: {
      std::unique_ptr<Codec> codec(new (std::nothrow) BZip2Codec);
      if (codec) codec->SetMode(BZip2Codec::kBZip2);
      return codec;
    }
    case kMethodLzma: {
      std::unique_ptr<Codec> codec(new (std::nothrow) LzmaCodec);
      if (codec) codec->SetMode(LzmaCodec::kZipMode);
      return codec;
    }
    case kMethodXz: {
      std::unique_ptr<Codec> codec(new (std::nothrow) XzCodec);
      if (codec) codec->SetMode(8);
      return codec;
    }
    case kMethodPpmd: {
      std::unique_ptr<Codec> codec(new (std::nothrow) PpmdCodec);
      if (codec) codec->SetMode(PpmdCodec::kZipHeader);
      return codec;
    }
    case kMethodZstd:
      return std::unique_ptr<Codec>(new (std::nothrow) ZstdCodec);
    default:
      return nullptr;
  }
}

bool HasCodec(int family) {
  return family == kDeflateFamily || family == kMethodBZip2 || family == kMethodLzma || family == kMethodXz ||
         family == kMethodPpmd || family == kMethodZstd;
}

}  // namespace

int SelectCodec(CodecSelection& selection, int method, std::uint64_t uncompressedSize, int flag) {
  // Methods 1 to 7 (Shrink, Reduce, Implode, ...) are not read: answered
  // as unsupported rather than fed to the Deflate decoder as damaged data.
  if (method < 0 || (method > kMethodStored && method < kMethodDeflate)) return kSelectUnsupported;
  const int family = method > kMethodDeflate64 ? method : kDeflateFamily;
  if (selection.codec && family == selection.family) {
    Codec& codec = *selection.codec;
    if (method > kMethodStored && method <= kMethodDeflate) {
      codec.SetMode(DeflateCodec::kDeflate);
    } else if (method == kMethodStored) {
      codec.SetMode(DeflateCodec::kStored);
    } else if (method == kMethodDeflate64) {
      if (flag != 0) return kSelectUnsupported;
      codec.SetMode(DeflateCodec::kDeflate64);
    } else if (method == kMethodLzma) {
      selection.lzmaSize = uncompressedSize;
    }
    PassSize(codec, family, uncompressedSize);
    return kSelectOk;
  }
  if (!HasCodec(family)) return kSelectUnsupported;
  std::unique_ptr<Codec> codec = NewCodec(family, method);
  if (!codec) return kSelectNoMemory;
  if (family == kMethodLzma) selection.lzmaSize = uncompressedSize;
  PassSize(*codec, family, uncompressedSize);
  if (selection.codec) selection.codec->ReleaseBuffers();
  selection.codec = std::move(codec);
  selection.family = family;
  selection.codec->ClearCounts();
  return kSelectOk;
}

}  // namespace korbel
