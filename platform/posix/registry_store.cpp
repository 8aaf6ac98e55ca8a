// The registry of the POSIX build: one text file in the registry-export
// format, read when a key is first opened and written whole, through a
// temporary file and a rename, after every change, so that an interrupted
// run leaves the previous tree intact.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"

namespace platform {
namespace {

struct Value {
  std::string name;  // as written
  std::uint32_t type = kRegNone;
  std::string data;
};

struct Node {
  std::string name;
  std::map<std::string, std::unique_ptr<Node>> children;  // by lower-case name
  std::map<std::string, Value> values;                    // by lower-case name
};

struct OpenKey {
  std::vector<std::string> path;  // lower-case components, the root first
  std::uint32_t access = 0;
};

std::string Lower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

const char* RootName(RegistryKey root) {
  switch (root) {
    case kClassesRoot: return "HKEY_CLASSES_ROOT";
    case kCurrentUser: return "HKEY_CURRENT_USER";
    case kLocalMachine: return "HKEY_LOCAL_MACHINE";
    case kUsers: return "HKEY_USERS";
    case kCurrentConfig: return "HKEY_CURRENT_CONFIG";
    case kDynData: return "HKEY_DYN_DATA";
    default: return nullptr;
  }
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

class Store {
 public:
  std::mutex lock;
  std::string file;
  Node root;
  bool loaded = false;
  std::map<RegistryKey, OpenKey> open;
  RegistryKey nextHandle = 0x1000;

  std::string FilePath() {
    if (!file.empty()) return file;
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && *data != '\0') {
      base = data;
    } else {
      const char* home = std::getenv("HOME");
      base = std::string(home != nullptr ? home : ".") + "/.local/share";
    }
    return base + "/pakkaro/registry.reg";
  }

  void Load() {
    if (loaded) return;
    loaded = true;
    root = Node();
    std::ifstream in(FilePath());
    std::string line;
    Node* current = nullptr;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
        current = Walk(Split(line.substr(1, line.size() - 2)), true);
      } else if (current != nullptr && !line.empty() && (line[0] == '@' || line[0] == '"')) {
        ParseValue(line, current);
      }
    }
  }

  Node* Walk(const std::vector<std::string>& parts, bool create) {
    Node* node = &root;
    for (const std::string& part : parts) {
      auto found = node->children.find(Lower(part));
      if (found == node->children.end()) {
        if (!create) return nullptr;
        auto child = std::make_unique<Node>();
        child->name = part;
        found = node->children.emplace(Lower(part), std::move(child)).first;
      }
      node = found->second.get();
    }
    return node;
  }

  static void ParseValue(const std::string& line, Node* node) {
    std::size_t at = 0;
    Value value;
    if (line[0] == '@') {
      at = 1;
    } else {
      at = 1;
      while (at < line.size() && line[at] != '"') {
        if (line[at] == '\\' && at + 1 < line.size()) ++at;
        value.name += line[at++];
      }
      ++at;
    }
    if (at >= line.size() || line[at] != '=') return;
    ++at;
    if (at < line.size() && line[at] == '"') {
      value.type = kRegString;
      for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) ++at;
        value.data += line[at];
      }
      value.data += '\0';
    } else if (line.compare(at, 4, "hex(") == 0) {
      value.type = static_cast<std::uint32_t>(std::strtoul(line.c_str() + at + 4, nullptr, 16));
      at = line.find(':', at);
      if (at == std::string::npos) return;
      std::istringstream bytes(line.substr(at + 1));
      std::string byte;
      while (std::getline(bytes, byte, ',')) {
        if (!byte.empty()) value.data += static_cast<char>(std::strtoul(byte.c_str(), nullptr, 16));
      }
    } else {
      return;
    }
    node->values[Lower(value.name)] = value;
  }

  static void WriteNode(std::ostream& out, const Node& node, const std::string& path) {
    if (!path.empty() && path.find('\\') != std::string::npos) {
      out << "\n[" << path << "]\n";
      for (const auto& entry : node.values) {
        const Value& value = entry.second;
        out << (value.name.empty() ? "@" : "\"" + Escape(value.name) + "\"") << '=';
        const bool plainString = value.type == kRegString && !value.data.empty() && value.data.back() == '\0' &&
                                 value.data.find('\0') == value.data.size() - 1 &&
                                 value.data.find('\n') == std::string::npos;
        if (plainString) {
          out << '"' << Escape(value.data.substr(0, value.data.size() - 1)) << "\"\n";
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "%x", value.type);
          out << "hex(" << hex << "):";
          for (std::size_t i = 0; i < value.data.size(); ++i) {
            std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(value.data[i]));
            out << (i ? "," : "") << hex;
          }
          out << '\n';
        }
      }
    }
    for (const auto& child : node.children) {
      WriteNode(out, *child.second, path.empty() ? child.second->name : path + "\\" + child.second->name);
    }
  }

  static std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    return escaped;
  }

  // Writes the whole tree beside the file and renames it over the old one.
  bool Save() {
    const std::string path = FilePath();
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
      // Create the folders on the way, as the user's data folder may be new.
      for (std::size_t at = 1; at <= slash; ++at) {
        if (at == slash || path[at] == '/') ::mkdir(path.substr(0, at).c_str(), 0755);
      }
    }
    std::ostringstream text;
    text << "Windows Registry Editor Version 5.00\n";
    WriteNode(text, root, "");
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const std::string bytes = text.str();
    const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                         ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return false;
    }
    return true;
  }

  // The components of a key below `parent` joined with `path`; false for an
  // unknown parent.
  bool Resolve(RegistryKey parent, const char* path, std::vector<std::string>* parts) {
    if (const char* root = RootName(parent)) {
      parts->assign(1, root);
    } else {
      auto found = open.find(parent);
      if (found == open.end()) return false;
      *parts = found->second.path;
    }
    if (path != nullptr) {
      for (const std::string& part : Split(path)) parts->push_back(part);
    }
    return true;
  }

  RegistryKey Add(std::vector<std::string> parts, std::uint32_t access) {
    const RegistryKey handle = nextHandle++;
    open[handle] = OpenKey{std::move(parts), access};
    return handle;
  }

  Node* NodeOf(RegistryKey key, OpenKey** state) {
    if (RootName(key) != nullptr) {
      static OpenKey rootState;
      rootState.path.assign(1, RootName(key));
      rootState.access = kKeyAllAccess;
      *state = &rootState;
      return Walk(rootState.path, true);
    }
    auto found = open.find(key);
    if (found == open.end()) return nullptr;
    *state = &found->second;
    return Walk(found->second.path, false);
  }
};

Store& TheStore() {
  static Store store;
  return store;
}

}  // namespace

void SetRegistryStorePath(const char* path) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  store.file = path != nullptr ? path : "";
  store.loaded = false;
}

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  store.Load();
  std::vector<std::string> parts;
  if (!store.Resolve(parent, path, &parts)) return kErrorInvalidHandle;
  if (store.Walk(parts, false) == nullptr) return kErrorFileNotFound;
  *key = store.Add(std::move(parts), access);
  return kErrorSuccess;
}

std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  store.Load();
  std::vector<std::string> parts;
  if (!store.Resolve(parent, path, &parts)) return kErrorInvalidHandle;
  if (store.Walk(parts, false) == nullptr) {
    store.Walk(parts, true);
    if (!store.Save()) return kErrorAccessDenied;
  }
  *key = store.Add(std::move(parts), access);
  return kErrorSuccess;
}

std::uint32_t CloseRegistryKey(RegistryKey key) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  if (RootName(key) != nullptr) return kErrorSuccess;
  return store.open.erase(key) != 0 ? kErrorSuccess : kErrorInvalidHandle;
}

std::uint32_t QueryRegistryValue(RegistryKey key, const char* name, std::uint32_t* type, void* data,
                                 std::uint32_t* size) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  OpenKey* state = nullptr;
  Node* node = store.NodeOf(key, &state);
  if (node == nullptr) return state == nullptr ? kErrorInvalidHandle : kErrorFileNotFound;
  auto found = node->values.find(Lower(name != nullptr ? name : ""));
  if (found == node->values.end()) return kErrorFileNotFound;
  const Value& value = found->second;
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return kErrorSuccess;
  const std::uint32_t needed = static_cast<std::uint32_t>(value.data.size());
  const std::uint32_t room = *size;
  *size = needed;
  if (data == nullptr) return kErrorSuccess;
  if (needed > room) return kErrorMoreData;
  std::memcpy(data, value.data.data(), needed);
  return kErrorSuccess;
}

std::uint32_t SetRegistryValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                               std::uint32_t size) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  OpenKey* state = nullptr;
  Node* node = store.NodeOf(key, &state);
  if (node == nullptr) return state == nullptr ? kErrorInvalidHandle : kErrorFileNotFound;
  if (!(state->access & kKeySetValue)) return kErrorAccessDenied;
  Value value;
  value.name = name != nullptr ? name : "";
  value.type = type;
  value.data.assign(static_cast<const char*>(data), size);
  node->values[Lower(value.name)] = value;
  return store.Save() ? kErrorSuccess : kErrorAccessDenied;
}

std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  std::vector<std::string> parts;
  if (!store.Resolve(key, path, &parts) || parts.size() < 2) return kErrorInvalidHandle;
  Node* node = store.Walk(parts, false);
  if (node == nullptr) return kErrorFileNotFound;
  // As on Windows, a key with sub-keys is not deleted.
  if (!node->children.empty()) return kErrorAccessDenied;
  const std::string last = Lower(parts.back());
  parts.pop_back();
  store.Walk(parts, false)->children.erase(last);
  return store.Save() ? kErrorSuccess : kErrorAccessDenied;
}

std::uint32_t CountRegistrySubKeys(RegistryKey key, std::uint32_t* count) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  OpenKey* state = nullptr;
  Node* node = store.NodeOf(key, &state);
  if (node == nullptr) return kErrorInvalidHandle;
  *count = static_cast<std::uint32_t>(node->children.size());
  return kErrorSuccess;
}

std::uint32_t EnumRegistryKey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t* length) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  OpenKey* state = nullptr;
  Node* node = store.NodeOf(key, &state);
  if (node == nullptr) return kErrorInvalidHandle;
  if (index >= node->children.size()) return kErrorNoMoreItems;
  auto it = node->children.begin();
  std::advance(it, index);
  const std::string& child = it->second->name;
  if (child.size() + 1 > *length) return kErrorMoreData;
  std::memcpy(name, child.c_str(), child.size() + 1);
  *length = static_cast<std::uint32_t>(child.size());
  return kErrorSuccess;
}

}  // namespace platform
