#include "zip/format/local_header.h"

#include <string>

#include "zip/format/byte_cursor.h"
#include "zip/format/extra_fields.h"
#include "zip/format/stored_name.h"

namespace korbel {

bool ParseLocalHeader(const std::uint8_t* data, std::size_t size, LocalHeader* header) {
  ByteCursor in(data, size);
  if (in.Get32() != kLocalHeaderSignature) return false;
  LocalHeader parsed;
  parsed.versionNeeded = in.Get16();
  parsed.flags = in.Get16();
  parsed.method = in.Get16();
  parsed.dosDateTime = in.Get32();
  parsed.crc32 = in.Get32();
  parsed.compressedSize = in.Get32();
  parsed.uncompressedSize = in.Get32();
  parsed.nameLength = in.Get16();
  parsed.extraLength = in.Get16();
  if (!in.ok()) return false;
  *header = parsed;
  return true;
}

void AppendLocalHeader(const LocalHeader& header, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kLocalHeaderSignature);
  writer.Put16(header.versionNeeded);
  writer.Put16(header.flags);
  writer.Put16(header.method);
  writer.Put32(header.dosDateTime);
  writer.Put32(header.crc32);
  writer.Put32(header.compressedSize);
  writer.Put32(header.uncompressedSize);
  writer.Put16(header.nameLength);
  writer.Put16(header.extraLength);
}

bool AppendEntryLocalHeader(ZipEntry* entry, std::vector<std::uint8_t>* out) {
  std::string name;
  std::uint16_t flags = entry->flags;
  EncodeStoredName(*entry, &name, &flags);
  if (name.size() > 0xFFFF || entry->localExtra.size() > 0xFFFF) return false;
  entry->flags = flags;
  entry->nameLength = static_cast<std::uint16_t>(name.size());
  entry->localExtraLength = static_cast<std::uint16_t>(entry->localExtra.size());

  LocalHeader header;
  header.versionNeeded = entry->versionNeeded;
  header.flags = entry->flags;
  header.method = entry->method;
  header.dosDateTime = entry->dosDateTime;
  header.crc32 = entry->crc32;
  // A local Zip64 block holds both sizes, and then both fields point to it.
  const bool zip64 = entry->localExtra.size() >= 4 && entry->localExtra[0] == (kZip64ExtraId & 0xFF) &&
                     entry->localExtra[1] == (kZip64ExtraId >> 8);
  header.compressedSize = zip64 ? kZip64Marker : Field32(entry->compressedSize);
  header.uncompressedSize = zip64 ? kZip64Marker : Field32(entry->uncompressedSize);
  header.nameLength = entry->nameLength;
  header.extraLength = entry->localExtraLength;
  out->reserve(out->size() + kLocalHeaderSize + name.size() + entry->localExtra.size());
  AppendLocalHeader(header, out);
  out->insert(out->end(), name.begin(), name.end());
  out->insert(out->end(), entry->localExtra.begin(), entry->localExtra.end());
  return true;
}

std::uint64_t EntrySpan(const ZipEntry& entry) {
  std::uint64_t header = kLocalHeaderSize + entry.nameLength + entry.localExtraLength;
  if (entry.descriptorLength != 0) {
    header += entry.descriptorLength;
  } else if (entry.flags & kFlagDataDescriptor) {
    header += kDataDescriptorSize;
  }
  // A hostile Zip64 size must not wrap around to a small span.
  if (entry.compressedSize > UINT64_MAX - header) return UINT64_MAX;
  return header + entry.compressedSize;
}

bool IsDataDescriptor(const std::uint8_t* data, std::size_t size) {
  ByteCursor in(data, size);
  std::uint32_t signature = in.Get32();
  return in.ok() && signature == kDataDescriptorSignature;
}

}  // namespace korbel
