#include "tests/support/reference_codecs.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/archive_builder.h"

namespace testing_support {

std::uint32_t Crc32(const Bytes& data) {
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

std::uint32_t Crc32(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::uint32_t Crc32(const void* data, std::size_t size) {
  return static_cast<std::uint32_t>(crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

Bytes RawDeflate(const Bytes& plain, int level) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&zs, static_cast<uLong>(plain.size())));
  zs.next_in = const_cast<Bytef*>(plain.data());
  zs.avail_in = static_cast<uInt>(plain.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

Bytes RawInflate(const Bytes& packed, std::size_t size) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  Bytes out(size + 1);
  zs.next_in = const_cast<Bytef*>(packed.data());
  zs.avail_in = static_cast<uInt>(packed.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END) << "the reference inflate did not reach the stream's end";
  out.resize(zs.total_out);
  inflateEnd(&zs);
  return out;
}

FirstEntry ParseFirstEntry(const Bytes& zip) {
  using archive_builder::Get;
  using archive_builder::LocalHeader;
  FirstEntry entry;
  if (zip.size() < LocalHeader::kSize || Get(zip, 0, 4) != archive_builder::kLocalSignature) return entry;
  entry.flags = static_cast<std::uint16_t>(Get(zip, LocalHeader::kFlags, 2));
  entry.method = static_cast<std::uint16_t>(Get(zip, LocalHeader::kMethod, 2));
  entry.dosTime = static_cast<std::uint16_t>(Get(zip, LocalHeader::kDosDateTime, 2));
  entry.crc = static_cast<std::uint32_t>(Get(zip, LocalHeader::kCrc, 4));
  entry.uncompressedSize = static_cast<std::uint32_t>(Get(zip, LocalHeader::kUncompressedSize, 4));
  const std::size_t compressed = Get(zip, LocalHeader::kCompressedSize, 4);
  const std::size_t nameAt = LocalHeader::kSize;
  const std::size_t extraAt = nameAt + Get(zip, LocalHeader::kNameLength, 2);
  const std::size_t dataAt = extraAt + Get(zip, LocalHeader::kExtraLength, 2);
  if (dataAt > zip.size() || compressed > zip.size() - dataAt) return entry;
  const auto at = [&zip](std::size_t offset) { return zip.begin() + static_cast<std::ptrdiff_t>(offset); };
  entry.name.assign(at(nameAt), at(extraAt));
  entry.extra.assign(at(extraAt), at(dataAt));
  entry.data.assign(at(dataAt), at(dataAt + compressed));
  entry.ok = true;
  return entry;
}

}  // namespace testing_support
