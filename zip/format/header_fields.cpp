#include "zip/format/header_fields.h"

namespace korbel {

void ReadHeaderFields(ByteCursor& in, HeaderFields* fields) {
  fields->versionNeeded = in.Get16();
  fields->flags = in.Get16();
  fields->method = in.Get16();
  fields->dosDateTime = in.Get32();
  fields->crc32 = in.Get32();
  fields->compressedSize = in.Get32();
  fields->uncompressedSize = in.Get32();
  fields->nameLength = in.Get16();
  fields->extraLength = in.Get16();
}

void WriteHeaderFields(const HeaderFields& fields, ByteWriter& writer) {
  writer.Put16(fields.versionNeeded);
  writer.Put16(fields.flags);
  writer.Put16(fields.method);
  writer.Put32(fields.dosDateTime);
  writer.Put32(fields.crc32);
  writer.Put32(fields.compressedSize);
  writer.Put32(fields.uncompressedSize);
  writer.Put16(fields.nameLength);
  writer.Put16(fields.extraLength);
}

void FillHeaderFields(const ZipEntry& entry, HeaderFields* fields) {
  fields->versionNeeded = entry.versionNeeded;
  fields->flags = entry.flags;
  fields->method = entry.method;
  fields->dosDateTime = entry.dosDateTime;
  fields->crc32 = entry.crc32;
  fields->compressedSize = Field32(entry.compressedSize);
  fields->uncompressedSize = Field32(entry.uncompressedSize);
  fields->nameLength = entry.nameLength;
}

}  // namespace korbel
