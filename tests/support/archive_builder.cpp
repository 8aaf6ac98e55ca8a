#include "tests/support/archive_builder.h"

#include "tests/support/reference_codecs.h"

namespace archive_builder {
namespace {

constexpr std::uint32_t kNoSize = 0xFFFFFFFF;
// The Zip64 end record's size field counts the bytes behind itself.
constexpr std::uint64_t kZip64RecordRest = Zip64EndRecord::kSize - 12;

Bytes ExtraOf(const Entry& entry) {
  Bytes extra;
  if (entry.zip64Sizes) {
    Put16(&extra, 0x0001);
    Put16(&extra, 16);
    Put64(&extra, entry.uncompressedSize);
    Put64(&extra, entry.compressedSize);
  }
  extra.insert(extra.end(), entry.extra.begin(), entry.extra.end());
  return extra;
}

bool HasDescriptor(const Entry& entry) { return (entry.flags & korbel::kFlagDataDescriptor) != 0; }

void PutCrcAndSizes(Bytes* out, const Entry& entry) {
  Put32(out, entry.crc);
  Put32(out, entry.zip64Sizes ? kNoSize : static_cast<std::uint32_t>(entry.compressedSize));
  Put32(out, entry.zip64Sizes ? kNoSize : static_cast<std::uint32_t>(entry.uncompressedSize));
}

void PutLocal(Bytes* out, const Entry& entry, const Bytes& extra) {
  Put32(out, kLocalSignature);
  Put16(out, entry.versionNeeded);
  Put16(out, entry.flags);
  Put16(out, entry.method);
  Put32(out, entry.dosDateTime);
  if (HasDescriptor(entry)) {
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
  } else {
    PutCrcAndSizes(out, entry);
  }
  Put16(out, static_cast<std::uint32_t>(entry.name.size()));
  Put16(out, static_cast<std::uint32_t>(extra.size()));
  out->insert(out->end(), entry.name.begin(), entry.name.end());
  out->insert(out->end(), extra.begin(), extra.end());
  out->insert(out->end(), entry.data.begin(), entry.data.end());
}

void PutCentral(Bytes* out, const Entry& entry, const Bytes& extra, std::size_t localOffset) {
  Put32(out, kCentralSignature);
  Put16(out, entry.versionMadeBy);
  Put16(out, entry.versionNeeded);
  Put16(out, entry.flags);
  Put16(out, entry.method);
  Put32(out, entry.dosDateTime);
  PutCrcAndSizes(out, entry);
  Put16(out, static_cast<std::uint32_t>(entry.name.size()));
  Put16(out, static_cast<std::uint32_t>(extra.size()));
  Put16(out, 0);  // comment
  Put16(out, 0);  // disk
  Put16(out, 0);  // internal attributes
  Put32(out, entry.externalAttributes);
  Put32(out, static_cast<std::uint32_t>(localOffset));
  out->insert(out->end(), entry.name.begin(), entry.name.end());
  out->insert(out->end(), extra.begin(), extra.end());
}

void PutZip64Records(Archive* a, std::size_t count, std::size_t directorySize) {
  Bytes& out = a->bytes;
  a->zip64Record = out.size();
  Put32(&out, kZip64EndSignature);
  Put64(&out, kZip64RecordRest);
  Put16(&out, korbel::kVersionZip64);
  Put16(&out, korbel::kVersionZip64);
  Put32(&out, 0);
  Put32(&out, 0);
  Put64(&out, count);
  Put64(&out, count);
  Put64(&out, directorySize);
  Put64(&out, a->directoryStart);
  a->locator = out.size();
  Put32(&out, kZip64LocatorSignature);
  Put32(&out, 0);
  Put64(&out, a->zip64Record);
  Put32(&out, 1);
}

}  // namespace

void Put16(Bytes* out, std::uint32_t value) {
  out->push_back(static_cast<std::uint8_t>(value));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes* out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void Put64(Bytes* out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}

void Set16(Bytes* out, std::size_t at, std::uint32_t value) {
  (*out)[at] = static_cast<std::uint8_t>(value);
  (*out)[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Set32(Bytes* out, std::size_t at, std::uint32_t value) {
  Set16(out, at, value & 0xFFFF);
  Set16(out, at + 2, value >> 16);
}

void Set64(Bytes* out, std::size_t at, std::uint64_t value) {
  Set32(out, at, static_cast<std::uint32_t>(value));
  Set32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t Get(const Bytes& in, std::size_t at, int width) {
  std::uint64_t value = 0;
  // at(): a read past the bytes is a test failure, not a wild read.
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | in.at(at + static_cast<std::size_t>(i));
  return value;
}

Entry Stored(const std::string& name, const Bytes& data, bool descriptor, std::uint16_t flags) {
  Entry entry;
  entry.name = name;
  entry.data = data;
  entry.versionNeeded = korbel::VersionNeededFor(korbel::kMethodStored, false);
  entry.flags = static_cast<std::uint16_t>(flags | (descriptor ? korbel::kFlagDataDescriptor : 0));
  entry.crc = testing_support::Crc32(data);
  entry.compressedSize = entry.uncompressedSize = data.size();
  return entry;
}

Entry Stored(const std::string& name, const std::string& data, bool descriptor, std::uint16_t flags) {
  return Stored(name, Bytes(data.begin(), data.end()), descriptor, flags);
}

Entry Deflated(const std::string& name, const Bytes& plain) {
  Entry entry;
  entry.name = name;
  entry.data = testing_support::RawDeflate(plain, 9);
  entry.method = korbel::kMethodDeflate;
  entry.crc = testing_support::Crc32(plain);
  entry.compressedSize = entry.data.size();
  entry.uncompressedSize = plain.size();
  return entry;
}

Archive Build(const std::vector<Entry>& entries, const Options& options) {
  Archive a;
  Bytes& out = a.bytes;
  for (const Entry& entry : entries) {
    a.local.push_back(out.size());
    PutLocal(&out, entry, ExtraOf(entry));
    a.descriptor.push_back(out.size());
    if (HasDescriptor(entry)) {
      Put32(&out, kDescriptorSignature);
      Put32(&out, entry.crc);
      Put32(&out, static_cast<std::uint32_t>(entry.compressedSize));
      Put32(&out, static_cast<std::uint32_t>(entry.uncompressedSize));
    }
  }
  a.directoryStart = out.size();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    a.central.push_back(out.size());
    PutCentral(&out, entries[i], ExtraOf(entries[i]), a.local[i]);
  }
  const std::size_t directorySize = out.size() - a.directoryStart;
  if (options.zip64Records) PutZip64Records(&a, entries.size(), directorySize);
  a.end = out.size();
  Put32(&out, kEndSignature);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, static_cast<std::uint32_t>(entries.size()));
  Put16(&out, static_cast<std::uint32_t>(entries.size()));
  // With Zip64 records both records state the same size; the directory ends
  // where the Zip64 end record starts.
  Put32(&out, static_cast<std::uint32_t>(directorySize));
  Put32(&out, options.zip64Records ? kNoSize : static_cast<std::uint32_t>(a.directoryStart));
  Put16(&out, static_cast<std::uint32_t>(options.comment.size()));
  out.insert(out.end(), options.comment.begin(), options.comment.end());
  return a;
}

std::size_t EndRecordAt(const Bytes& bytes) {
  if (bytes.size() < EndRecord::kSize) return 0;
  std::size_t end = bytes.size() - EndRecord::kSize;
  while (end > 0 && Get(bytes, end, 4) != kEndSignature) --end;
  return end;
}

Archive Survey(const Bytes& bytes) {
  Archive a;
  a.bytes = bytes;
  const std::size_t end = EndRecordAt(bytes);
  if (bytes.size() < EndRecord::kSize || Get(bytes, end, 4) != kEndSignature) return a;
  a.end = end;
  a.directoryStart = static_cast<std::size_t>(Get(bytes, end + EndRecord::kDirectoryOffset, 4));
  const std::size_t count = static_cast<std::size_t>(Get(bytes, end + EndRecord::kEntries, 2));
  std::size_t at = a.directoryStart;
  for (std::size_t i = 0; i < count && at + CentralHeader::kSize <= end; ++i) {
    a.central.push_back(at);
    a.local.push_back(static_cast<std::size_t>(Get(bytes, at + CentralHeader::kLocalHeaderOffset, 4)));
    at += CentralHeader::kSize + Get(bytes, at + CentralHeader::kNameLength, 2) +
          Get(bytes, at + CentralHeader::kExtraLength, 2) + Get(bytes, at + CentralHeader::kCommentLength, 2);
  }
  return a;
}

}  // namespace archive_builder
