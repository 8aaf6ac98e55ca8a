// POSIX executables carry no resources: a table filled at start-up by
// RegisterResourceData stands in for them.
#include "platform/resources.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

struct Key {
  bool isText;
  std::string text;  // upper case: ids compare without case
  std::uint32_t number;
};

struct Blob {
  Key type;
  Key name;
  const unsigned char* data;
  std::uint32_t size;
};

struct ResourceTable {
  std::mutex mutex;
  std::vector<Blob> blobs;
};

ResourceTable& Table() {
  static ResourceTable table;
  return table;
}

Key MakeKey(ResourceId id) {
  Key key{id.text != nullptr, std::string(), id.number};
  if (key.isText) {
    key.text = id.text;
    for (char& c : key.text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    key.number = 0;
  }
  return key;
}

bool SameKey(const Key& a, const Key& b) {
  return a.isText == b.isText && (a.isText ? a.text == b.text : a.number == b.number);
}

bool ValidId(ResourceId id) { return id.text != nullptr || id.number < 0x10000; }

}  // namespace

bool FindResourceData(ResourceId type, ResourceId name, const unsigned char** data, std::uint32_t* size) {
  if (data == nullptr || size == nullptr || !ValidId(type) || !ValidId(name)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const Key typeKey = MakeKey(type), nameKey = MakeKey(name);
  ResourceTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = std::find_if(table.blobs.begin(), table.blobs.end(), [&](const Blob& blob) {
    return SameKey(blob.type, typeKey) && SameKey(blob.name, nameKey);
  });
  if (it == table.blobs.end()) {
    SetLastError(kErrorFileNotFound);
    return false;
  }
  *data = it->data;
  *size = it->size;
  return true;
}

// A second blob under the same type and name replaces the first.
bool RegisterResourceData(ResourceId type, ResourceId name, const unsigned char* data, std::uint32_t size) {
  if ((data == nullptr && size != 0) || !ValidId(type) || !ValidId(name)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  Blob blob{MakeKey(type), MakeKey(name), data, size};
  ResourceTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  const auto it = std::find_if(table.blobs.begin(), table.blobs.end(), [&](const Blob& old) {
    return SameKey(old.type, blob.type) && SameKey(old.name, blob.name);
  });
  if (it != table.blobs.end()) {
    *it = std::move(blob);
  } else {
    table.blobs.push_back(std::move(blob));
  }
  return true;
}

}  // namespace platform
