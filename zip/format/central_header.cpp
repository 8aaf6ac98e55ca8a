#include "zip/format/central_header.h"

#include <string>

#include "zip/format/byte_cursor.h"
#include "zip/format/dos_time.h"
#include "zip/format/name_codec.h"
#include "zip/format/stored_name.h"

namespace korbel {

bool ParseCentralHeader(const std::uint8_t* data, std::size_t size, CentralHeader* header) {
  ByteCursor in(data, size);
  if (in.Get32() != kCentralHeaderSignature) return false;
  CentralHeader parsed;
  parsed.versionMadeBy = in.Get16();
  ReadHeaderFields(in, &parsed);
  parsed.commentLength = in.Get16();
  parsed.diskNumberStart = in.Get16();
  parsed.internalAttributes = in.Get16();
  parsed.externalAttributes = in.Get32();
  parsed.localHeaderOffset = in.Get32();
  if (!in.ok()) return false;
  *header = parsed;
  return true;
}

void AppendCentralHeader(const CentralHeader& header, std::vector<std::uint8_t>* out) {
  ByteWriter writer(out);
  writer.Put32(kCentralHeaderSignature);
  writer.Put16(header.versionMadeBy);
  WriteHeaderFields(header, writer);
  writer.Put16(header.commentLength);
  writer.Put16(header.diskNumberStart);
  writer.Put16(header.internalAttributes);
  writer.Put32(header.externalAttributes);
  writer.Put32(header.localHeaderOffset);
}

void ApplyCentralHeader(const CentralHeader& header, ZipEntry* entry, DosTimeConverter* times) {
  entry->versionMadeBy = header.versionMadeBy;
  entry->madeByDos = (header.versionMadeBy >> 8) == 0 ? 1 : 0;
  entry->versionNeeded = header.versionNeeded;
  entry->flags = header.flags;
  entry->method = header.method;
  entry->dosDateTime = header.dosDateTime;
  entry->modified =
      times != nullptr ? times->Seconds(header.dosDateTime) : SecondsFromDosDateTime(header.dosDateTime);
  entry->crc32 = header.crc32;
  entry->compressedSize = header.compressedSize;
  entry->uncompressedSize = header.uncompressedSize;
  entry->nameLength = header.nameLength;
  entry->centralExtraLength = header.extraLength;
  entry->commentLength = header.commentLength;
  entry->diskNumberStart = header.diskNumberStart;
  entry->internalAttributes = header.internalAttributes;
  entry->externalAttributes = header.externalAttributes;
  entry->localHeaderOffset = header.localHeaderOffset;
}

bool AppendEntryCentralHeader(ZipEntry* entry, std::vector<std::uint8_t>* out) {
  std::string name;
  std::uint16_t flags = entry->flags;
  EncodeStoredName(*entry, &name, &flags);
  std::string comment;
  EncodeName(entry->comment.str(), &comment, nullptr);
  if (name.size() > 0xFFFF || comment.size() > 0xFFFF || entry->centralExtra.size() > 0xFFFF) {
    return false;
  }
  entry->flags = flags;
  entry->nameLength = static_cast<std::uint16_t>(name.size());
  entry->commentLength = static_cast<std::uint16_t>(comment.size());
  entry->centralExtraLength = static_cast<std::uint16_t>(entry->centralExtra.size());

  CentralHeader header;
  FillHeaderFields(*entry, &header);
  header.versionMadeBy = entry->versionMadeBy;
  header.extraLength = entry->centralExtraLength;
  header.commentLength = entry->commentLength;
  header.diskNumberStart = entry->diskNumberStart;
  header.internalAttributes = entry->internalAttributes;
  header.externalAttributes = entry->externalAttributes;
  header.localHeaderOffset = Field32(entry->localHeaderOffset);
  out->reserve(out->size() + kCentralHeaderSize + name.size() + entry->centralExtra.size() + comment.size());
  AppendCentralHeader(header, out);
  out->insert(out->end(), name.begin(), name.end());
  out->insert(out->end(), entry->centralExtra.begin(), entry->centralExtra.end());
  out->insert(out->end(), comment.begin(), comment.end());
  return true;
}

}  // namespace korbel
