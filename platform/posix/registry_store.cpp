// The registry of the POSIX build: one text file in the registry-export
// format. Every change is made under an exclusive lock on a file beside it:
// the tree is read again if another process replaced the file, changed, and
// written whole to a fresh temporary file that is renamed over the old one.
// A run killed at any point therefore leaves either the old tree or the new
// one, and a reader never sees a half-written file; the temporary file it may
// leave is removed by the next writer.
//
// The file may have been written by anyone: the limits of the Windows
// registry (512 levels below a root key, key names of 255 characters) hold
// for what is read as for what is created, and a file that breaks them, or
// holds any line that is not a section, a value, a comment or empty, is
// refused whole with kErrorRegistryCorrupt and left as it is.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace platform {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxDepth = 512;           // levels below a root key
constexpr std::size_t kMaxKeyName = 255;         // characters of one key name
constexpr off_t kMaxFileSize = off_t{16} << 20;  // far above nine registrations

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

// A key handle names its key by path, so a handle stays good when the tree
// is read again from the file.
struct OpenKey {
  std::vector<std::string> path;  // components as given, the root first
  std::uint32_t access = 0;
};

// Which file the tree was read from: a rename by another process changes it.
struct FileIdentity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified = {};

  bool operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
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
    case kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case kCurrentUser:
      return "HKEY_CURRENT_USER";
    case kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case kUsers:
      return "HKEY_USERS";
    case kCurrentConfig:
      return "HKEY_CURRENT_CONFIG";
    case kDynData:
      return "HKEY_DYN_DATA";
    default:
      return nullptr;
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

// The key path of a section line ("[ROOT\\a\\b]" without the brackets), or
// of a key to open or create: no leading separator, no empty key name, no
// name longer than kMaxKeyName, no deeper than kMaxDepth.
std::uint32_t CheckKeyPath(const std::string& path, bool section) {
  if (!path.empty() && path[0] == '\\') return kErrorBadPathname;
  std::size_t depth = 0;
  std::size_t nameLength = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      // An empty name between separators is refused in a section; a path
      // passed to a call may end in a separator, as on Windows.
      if (nameLength == 0 && section) return kErrorRegistryCorrupt;
      if (nameLength != 0) ++depth;
      nameLength = 0;
    } else if (++nameLength > kMaxKeyName) {
      return section ? kErrorRegistryCorrupt : kErrorInvalidParameter;
    }
  }
  if (section && depth == 0) return kErrorRegistryCorrupt;
  if (depth > kMaxDepth + (section ? 1 : 0)) return section ? kErrorRegistryCorrupt : kErrorInvalidParameter;
  return kErrorSuccess;
}

// The file is line based: a name that holds a line break could not be read
// back, so such names are refused.
bool Writable(const std::string& name) { return name.find_first_of("\r\n") == std::string::npos; }

std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Reads a quoted text starting at `*at` (on the opening quote); false when
// the closing quote is missing.
bool ReadQuoted(const std::string& line, std::size_t* at, std::string* text) {
  for (++*at; *at < line.size(); ++*at) {
    if (line[*at] == '"') {
      ++*at;
      return true;
    }
    if (line[*at] == '\\' && *at + 1 < line.size()) ++*at;
    *text += line[*at];
  }
  return false;
}

bool ParseHexBytes(const std::string& text, std::string* data) {
  std::istringstream bytes(text);
  std::string byte;
  while (std::getline(bytes, byte, ',')) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(byte.c_str(), &end, 16);
    if (byte.empty() || *end != '\0' || value > 0xFF) return false;
    *data += static_cast<char>(value);
  }
  return true;
}

// One value line: @=... or "name"=..., with "text", dword:xxxxxxxx, hex:..
// or hex(type):.. data. False for a line that is none of these.
bool ParseValue(const std::string& line, Node* node) {
  Value value;
  std::size_t at = 0;
  if (line[0] == '@') {
    at = 1;
  } else if (!ReadQuoted(line, &at, &value.name)) {
    return false;
  }
  if (at >= line.size() || line[at] != '=') return false;
  ++at;
  if (at < line.size() && line[at] == '"') {
    value.type = kRegString;
    if (!ReadQuoted(line, &at, &value.data) || at != line.size()) return false;
    value.data += '\0';
  } else if (line.compare(at, 6, "dword:") == 0) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(line.c_str() + at + 6, &end, 16);
    if (*end != '\0' || line.size() != at + 14) return false;
    value.type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) value.data += static_cast<char>((number >> shift) & 0xFF);
  } else if (line.compare(at, 4, "hex:") == 0) {
    value.type = kRegBinary;
    if (!ParseHexBytes(line.substr(at + 4), &value.data)) return false;
  } else if (line.compare(at, 4, "hex(") == 0) {
    char* end = nullptr;
    value.type = static_cast<std::uint32_t>(std::strtoul(line.c_str() + at + 4, &end, 16));
    if (end[0] != ')' || end[1] != ':') return false;
    if (!ParseHexBytes(std::string(end + 2), &value.data)) return false;
  } else {
    return false;
  }
  node->values[Lower(value.name)] = value;
  return true;
}

void WriteNode(std::ostream& out, const Node& node, const std::string& path) {
  // A root key gets a section only when it holds values of its own.
  if (!path.empty() && (path.find('\\') != std::string::npos || !node.values.empty())) {
    out << "\n[" << path << "]\n";
    for (const auto& entry : node.values) {
      const Value& value = entry.second;
      out << (value.name.empty() ? "@" : "\"" + Escape(value.name) + "\"") << '=';
      // A string is written as text when it has no zero before its end and
      // no line break. Text reads back with its terminator, also when it was
      // stored without one: the file stays readable, and a reader that adds
      // a missing terminator gets the same result.
      const std::size_t zero = value.data.find('\0');
      const bool plainString = value.type == kRegString && Writable(value.data) &&
                               (zero == std::string::npos || zero == value.data.size() - 1);
      if (plainString) {
        out << '"' << Escape(value.data.substr(0, zero)) << "\"\n";
        continue;
      }
      char hex[16];
      std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(value.type));
      out << "hex(" << hex << "):";
      for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(value.data[i]));
        out << (i ? "," : "") << hex;
      }
      out << '\n';
    }
  }
  for (const auto& child : node.children) {
    WriteNode(out, *child.second, path.empty() ? child.second->name : path + "\\" + child.second->name);
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  FaultKind fault;
  std::size_t length = bytes.size();
  bool failNow = false;
  if (FaultFor(Operation::kWriteFile, &fault)) {
    if (fault != FaultKind::kShortWrite) return false;
    length /= 2;
    failNow = true;
  }
  std::size_t done = 0;
  while (done < length) {
    const ssize_t written = ::write(fd, bytes.data() + done, length - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return !failNow;
}

// The user's data folder may be new: creates the folders on the way to the
// store file.
void MakeFolders(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  for (std::size_t at = 1; slash != std::string::npos && at <= slash; ++at) {
    if (at == slash || path[at] == '/') ::mkdir(path.substr(0, at).c_str(), 0755);
  }
}

// Holds the exclusive lock beside the store file for one change.
class ChangeLock {
 public:
  explicit ChangeLock(const std::string& path) {
    MakeFolders(path);
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ChangeLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class Store {
 public:
  std::mutex lock;
  std::string file;
  std::map<RegistryKey, OpenKey> open;

  std::string FilePath() const {
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

  void Forget() { loaded_ = false; }

  // Brings the tree up to date with the file: kErrorSuccess, or the reason
  // the file cannot be read as a registry file (it is then left alone).
  std::uint32_t Refresh() {
    const FileIdentity now = Identify();
    if (loaded_ && now == identity_) return kErrorSuccess;
    root_ = Node();
    loaded_ = false;
    if (now.exists) {
      const std::uint32_t read = Read();
      if (read != kErrorSuccess) {
        root_ = Node();
        return read;
      }
    }
    identity_ = now;
    loaded_ = true;
    return kErrorSuccess;
  }

  Node* Walk(const std::vector<std::string>& parts, bool create) {
    Node* node = &root_;
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

  // Writes the whole tree to a new file beside the store and renames it over
  // the old one. On failure the tree is dropped, to be read again from the
  // unchanged file by the next call.
  bool Save() {
    if (!WriteFileAtomically()) {
      loaded_ = false;
      return false;
    }
    identity_ = Identify();
    return true;
  }

  // The components of a key below `parent` joined with `path`:
  // kErrorInvalidHandle for an unknown parent, the refusal of CheckKeyPath
  // for a path beyond the limits.
  std::uint32_t Resolve(RegistryKey parent, const char* path, std::vector<std::string>* parts) {
    if (const char* root = RootName(parent)) {
      parts->assign(1, root);
    } else {
      auto found = open.find(parent);
      if (found == open.end()) return kErrorInvalidHandle;
      *parts = found->second.path;
    }
    if (path != nullptr) {
      const std::uint32_t refusal = CheckKeyPath(path, false);
      if (refusal != kErrorSuccess) return refusal;
      for (const std::string& part : Split(path)) parts->push_back(part);
    }
    if (parts->size() > kMaxDepth + 1) return kErrorInvalidParameter;
    return kErrorSuccess;
  }

  RegistryKey Add(std::vector<std::string> parts, std::uint32_t access) {
    const RegistryKey handle = nextHandle_++;
    open[handle] = OpenKey{std::move(parts), access};
    return handle;
  }

  // The handle's state, or null for an unknown handle. A root key is always
  // open with every right.
  const OpenKey* StateOf(RegistryKey key) {
    if (const char* root = RootName(key)) {
      rootState_.path.assign(1, root);
      rootState_.access = kKeyAllAccess;
      return &rootState_;
    }
    auto found = open.find(key);
    return found != open.end() ? &found->second : nullptr;
  }

 private:
  FileIdentity Identify() const {
    struct stat status;
    FileIdentity identity;
    if (::stat(FilePath().c_str(), &status) != 0) return identity;
    identity.exists = true;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = status.st_size;
    identity.modified = status.st_mtim;
    return identity;
  }

  std::uint32_t Read() {
    const int fd = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? kErrorSuccess : kErrorAccessDenied;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxFileSize) {
      ::close(fd);
      return kErrorRegistryCorrupt;
    }
    std::string text;
    char chunk[65536];
    ssize_t got;
    // Never more than the limit, also from a file that grows meanwhile.
    while ((got = ::read(fd, chunk, sizeof chunk)) != 0) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) break;
      text.append(chunk, static_cast<std::size_t>(got));
      if (text.size() > static_cast<std::size_t>(kMaxFileSize)) break;
    }
    ::close(fd);
    if (got < 0) return kErrorAccessDenied;
    if (text.size() > static_cast<std::size_t>(kMaxFileSize)) return kErrorRegistryCorrupt;
    if (text.empty()) return kErrorSuccess;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line != kHeader) return kErrorRegistryCorrupt;
    Node* current = nullptr;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == ';') continue;
      if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
        const std::string path = line.substr(1, line.size() - 2);
        if (CheckKeyPath(path, true) != kErrorSuccess) return kErrorRegistryCorrupt;
        current = Walk(Split(path), true);
      } else if (current == nullptr || !ParseValue(line, current)) {
        return kErrorRegistryCorrupt;
      }
    }
    return kErrorSuccess;
  }

  // Temporary files "<store>.XXXXXX" of writers killed before their rename.
  // Called under the change lock, which every writer holds from its
  // temporary file's creation to its rename: any such file is stale.
  void RemoveStaleTemporaries(const std::string& folder, const std::string& path) const {
    const std::size_t slash = path.rfind('/');
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    while (const struct dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
      bool temporary = true;
      for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        temporary = temporary && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
      }
      struct stat status;
      if (temporary && ::fstatat(::dirfd(listing), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(status.st_mode)) {
        ::unlinkat(::dirfd(listing), name.c_str(), 0);
      }
    }
    ::closedir(listing);
  }

  bool WriteFileAtomically() const {
    const std::string path = FilePath();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::ostringstream text;
    text << kHeader << "\n";
    WriteNode(text, root_, "");
    // Never a file that the next read would refuse as too large.
    if (text.tellp() > static_cast<std::streamoff>(kMaxFileSize)) return false;
    RemoveStaleTemporaries(folder, path);
    // The file keeps the mode it has; a new one is readable by all.
    struct stat existing;
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    // A name of our own for every write: two processes never share one.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(&temporary[0]);
    if (fd < 0) return false;
    ::fchmod(fd, mode);
    const bool written = WriteAll(fd, text.str()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return false;
    }
    // The rename itself is made durable with the folder.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }

  Node root_;
  bool loaded_ = false;
  FileIdentity identity_;
  OpenKey rootState_;
  RegistryKey nextHandle_ = 0x1000;
};

Store& TheStore() {
  static Store store;
  return store;
}

// Runs `change` on an up-to-date tree under the process's and the file's
// lock, and saves the tree when `change` reports that it changed something.
template <typename Change>
std::uint32_t Modify(Change change) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  ChangeLock fileLock(store.FilePath());
  if (!fileLock.Held()) return kErrorAccessDenied;
  const std::uint32_t fresh = store.Refresh();
  if (fresh != kErrorSuccess) return fresh;
  bool changed = false;
  const std::uint32_t result = change(store, &changed);
  if (result != kErrorSuccess || !changed) return result;
  return store.Save() ? kErrorSuccess : kErrorAccessDenied;
}

// Runs `query` on an up-to-date tree.
template <typename Query>
std::uint32_t Inspect(Query query) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  const std::uint32_t fresh = store.Refresh();
  if (fresh != kErrorSuccess) return fresh;
  return query(store);
}

}  // namespace

void SetRegistryStorePath(const char* path) {
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
  store.file = path != nullptr ? path : "";
  store.Forget();
}

std::uint32_t OpenRegistryKey(RegistryKey parent, const char* path, std::uint32_t access, RegistryKey* key) {
  return Inspect([&](Store& store) -> std::uint32_t {
    std::vector<std::string> parts;
    const std::uint32_t resolved = store.Resolve(parent, path, &parts);
    if (resolved != kErrorSuccess) return resolved;
    if (parts.size() > 1 && store.Walk(parts, false) == nullptr) return kErrorFileNotFound;
    *key = store.Add(std::move(parts), access);
    return kErrorSuccess;
  });
}

std::uint32_t CreateRegistryKey(RegistryKey parent, const char* path, std::uint32_t access,
                                RegistryKey* key) {
  std::vector<std::string> parts;
  const std::uint32_t result = Modify([&](Store& store, bool* changed) -> std::uint32_t {
    const std::uint32_t resolved = store.Resolve(parent, path, &parts);
    if (resolved != kErrorSuccess) return resolved;
    if (store.Walk(parts, false) != nullptr) return kErrorSuccess;
    for (const std::string& part : parts) {
      if (!Writable(part)) return kErrorInvalidParameter;
    }
    store.Walk(parts, true);
    *changed = true;
    return kErrorSuccess;
  });
  if (result != kErrorSuccess) return result;
  Store& store = TheStore();
  std::lock_guard<std::mutex> guard(store.lock);
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
  return Inspect([&](Store& store) -> std::uint32_t {
    const OpenKey* state = store.StateOf(key);
    if (state == nullptr) return kErrorInvalidHandle;
    // A key deleted meanwhile (by us or by another process) has no values.
    const Node* node = store.Walk(state->path, false);
    if (node == nullptr) return kErrorFileNotFound;
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
    if (needed != 0) std::memcpy(data, value.data.data(), needed);
    return kErrorSuccess;
  });
}

std::uint32_t SetRegistryValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                               std::uint32_t size) {
  return Modify([&](Store& store, bool* changed) -> std::uint32_t {
    const OpenKey* state = store.StateOf(key);
    if (state == nullptr) return kErrorInvalidHandle;
    if (!(state->access & kKeySetValue)) return kErrorAccessDenied;
    if (data == nullptr && size != 0) return kErrorInvalidParameter;
    Value value;
    value.name = name != nullptr ? name : "";
    if (!Writable(value.name)) return kErrorInvalidParameter;
    Node* node = store.Walk(state->path, state->path.size() == 1);
    if (node == nullptr) return kErrorFileNotFound;
    value.type = type;
    if (size != 0) value.data.assign(static_cast<const char*>(data), size);
    node->values[Lower(value.name)] = value;
    *changed = true;
    return kErrorSuccess;
  });
}

std::uint32_t DeleteRegistryKey(RegistryKey key, const char* path) {
  return Modify([&](Store& store, bool* changed) -> std::uint32_t {
    std::vector<std::string> parts;
    const std::uint32_t resolved = store.Resolve(key, path, &parts);
    if (resolved != kErrorSuccess) return resolved;
    // A root key cannot be deleted.
    if (parts.size() < 2) return kErrorAccessDenied;
    Node* node = store.Walk(parts, false);
    if (node == nullptr) return kErrorFileNotFound;
    // As on Windows, a key with sub-keys is not deleted.
    if (!node->children.empty()) return kErrorAccessDenied;
    const std::string last = Lower(parts.back());
    parts.pop_back();
    store.Walk(parts, false)->children.erase(last);
    *changed = true;
    return kErrorSuccess;
  });
}

std::uint32_t CountRegistrySubKeys(RegistryKey key, std::uint32_t* count) {
  return Inspect([&](Store& store) -> std::uint32_t {
    const OpenKey* state = store.StateOf(key);
    if (state == nullptr) return kErrorInvalidHandle;
    const Node* node = store.Walk(state->path, false);
    *count = node != nullptr ? static_cast<std::uint32_t>(node->children.size()) : 0;
    return node != nullptr || state->path.size() == 1 ? kErrorSuccess : kErrorFileNotFound;
  });
}

std::uint32_t EnumRegistryKey(RegistryKey key, std::uint32_t index, char* name, std::uint32_t* length) {
  return Inspect([&](Store& store) -> std::uint32_t {
    const OpenKey* state = store.StateOf(key);
    if (state == nullptr) return kErrorInvalidHandle;
    const Node* node = store.Walk(state->path, false);
    if (node == nullptr || index >= node->children.size()) return kErrorNoMoreItems;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::string& child = it->second->name;
    if (child.size() + 1 > *length) return kErrorMoreData;
    std::memcpy(name, child.c_str(), child.size() + 1);
    *length = static_cast<std::uint32_t>(child.size());
    return kErrorSuccess;
  });
}

}  // namespace platform
