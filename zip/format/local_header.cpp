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
  ReadHeaderFields(in, &parsed);
  if (!in.ok()) return false;
  *header = parsed;
  return true;
}

void AppendLocalHeader(const LocalHeader& header, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kLocalHeaderSignature);
  WriteHeaderFields(header, writer);
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
  FillHeaderFields(*entry, &header);
  // A local Zip64 block holds both sizes, and then both fields point to it.
  const bool zip64 = entry->localExtra.size() >= 4 && entry->localExtra[0] == (kZip64ExtraId & 0xFF) &&
                     entry->localExtra[1] == (kZip64ExtraId >> 8);
  if (zip64) {
    header.compressedSize = kZip64Marker;
    header.uncompressedSize = kZip64Marker;
  }
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
