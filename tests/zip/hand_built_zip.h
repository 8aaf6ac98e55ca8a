// Small stored zip archives built byte by byte, with the places of their
// records, for tests that damage them on purpose.
#ifndef PAKKARO_TESTS_ZIP_HAND_BUILT_ZIP_H
#define PAKKARO_TESTS_ZIP_HAND_BUILT_ZIP_H

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace korbel {
namespace hand_built {

using testing_support::Bytes;

inline void Put16(Bytes* out, std::uint32_t value) {
  out->push_back(static_cast<std::uint8_t>(value));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void Put32(Bytes* out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
inline void Put64(Bytes* out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}
inline void Set16(Bytes* out, std::size_t at, std::uint32_t value) {
  (*out)[at] = static_cast<std::uint8_t>(value);
  (*out)[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void Set32(Bytes* out, std::size_t at, std::uint32_t value) {
  Set16(out, at, value & 0xFFFF);
  Set16(out, at + 2, value >> 16);
}
inline void Set64(Bytes* out, std::size_t at, std::uint64_t value) {
  Set32(out, at, static_cast<std::uint32_t>(value));
  Set32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

struct Item {
  std::string name;
  std::string data;
  bool descriptor;  // flag bit 3 and a data descriptor behind the data
  std::uint16_t flags;
};

// A stored archive built byte by byte, with the places of its records.
struct Archive {
  Bytes bytes;
  std::vector<std::size_t> local;
  std::vector<std::size_t> central;
  std::vector<std::size_t> descriptor;
  std::size_t directoryStart = 0;
  std::size_t zip64Record = 0;  // 0: none
  std::size_t locator = 0;
  std::size_t end = 0;
};

inline Archive Build(const std::vector<Item>& items, bool zip64 = false, const std::string& comment = "") {
  Archive a;
  Bytes& out = a.bytes;
  std::vector<std::uint32_t> crcs;
  for (const Item& item : items) {
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(item.data.data()), static_cast<uInt>(item.data.size())));
    crcs.push_back(crc);
    a.local.push_back(out.size());
    const std::uint32_t flags = item.flags | (item.descriptor ? 8u : 0u);
    Put32(&out, 0x04034B50);
    Put16(&out, 10);
    Put16(&out, flags);
    Put16(&out, 0);           // stored
    Put32(&out, 0x5A210000);  // some DOS date-time
    Put32(&out, item.descriptor ? 0 : crc);
    Put32(&out, item.descriptor ? 0 : static_cast<std::uint32_t>(item.data.size()));
    Put32(&out, item.descriptor ? 0 : static_cast<std::uint32_t>(item.data.size()));
    Put16(&out, static_cast<std::uint32_t>(item.name.size()));
    Put16(&out, 0);
    out.insert(out.end(), item.name.begin(), item.name.end());
    out.insert(out.end(), item.data.begin(), item.data.end());
    a.descriptor.push_back(out.size());
    if (item.descriptor) {
      Put32(&out, 0x08074B50);
      Put32(&out, crc);
      Put32(&out, static_cast<std::uint32_t>(item.data.size()));
      Put32(&out, static_cast<std::uint32_t>(item.data.size()));
    }
  }
  a.directoryStart = out.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    a.central.push_back(out.size());
    Put32(&out, 0x02014B50);
    Put16(&out, 0x0014);
    Put16(&out, 10);
    Put16(&out, item.flags | (item.descriptor ? 8u : 0u));
    Put16(&out, 0);
    Put32(&out, 0x5A210000);
    Put32(&out, crcs[i]);
    Put32(&out, static_cast<std::uint32_t>(item.data.size()));
    Put32(&out, static_cast<std::uint32_t>(item.data.size()));
    Put16(&out, static_cast<std::uint32_t>(item.name.size()));
    Put16(&out, 0);  // extra
    Put16(&out, 0);  // comment
    Put16(&out, 0);  // disk
    Put16(&out, 0);  // internal attributes
    Put32(&out, 0x20);
    Put32(&out, static_cast<std::uint32_t>(a.local[i]));
    out.insert(out.end(), item.name.begin(), item.name.end());
  }
  const std::size_t directorySize = out.size() - a.directoryStart;
  if (zip64) {
    a.zip64Record = out.size();
    Put32(&out, 0x06064B50);
    Put64(&out, 44);
    Put16(&out, 45);
    Put16(&out, 45);
    Put32(&out, 0);
    Put32(&out, 0);
    Put64(&out, items.size());
    Put64(&out, items.size());
    Put64(&out, directorySize);
    Put64(&out, a.directoryStart);
    a.locator = out.size();
    Put32(&out, 0x07064B50);
    Put32(&out, 0);
    Put64(&out, a.zip64Record);
    Put32(&out, 1);
  }
  a.end = out.size();
  Put32(&out, 0x06054B50);
  Put16(&out, 0);
  Put16(&out, 0);
  Put16(&out, static_cast<std::uint32_t>(items.size()));
  Put16(&out, static_cast<std::uint32_t>(items.size()));
  // With Zip64 records the directory size still ends the directory at the
  // Zip64 end record; the loader takes the start from the Zip64 record.
  Put32(&out, static_cast<std::uint32_t>(directorySize + (zip64 ? 76 : 0)));
  Put32(&out, zip64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(a.directoryStart));
  Put16(&out, static_cast<std::uint32_t>(comment.size()));
  out.insert(out.end(), comment.begin(), comment.end());
  return a;
}

}  // namespace hand_built
}  // namespace korbel

#endif  // PAKKARO_TESTS_ZIP_HAND_BUILT_ZIP_H
