// korbel: a small command-line program over the zip engine.
//
//   korbel l ARCHIVE                      list the entries
//   korbel t ARCHIVE [-p PASSWORD]        test every entry
//   korbel x ARCHIVE [-d FOLDER] [-p PASSWORD] [NAME...]
//                                         extract all or the named entries
//   korbel a ARCHIVE PATH...              add files or folders (created when missing)
//   korbel d ARCHIVE NAME...              delete entries; the space is reclaimed
//
// A name the archive holds more than once names every entry of it, in
// archive order (the last one extracted wins); `l` marks them "(duplicate)".
//
// Exit status 0 when everything succeeded, 1 when an operation failed, 2 for
// a wrong command line. Failures print the engine's German error text.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fs/char_rules.h"
#include "fs/console.h"
#include "fs/path_kind.h"
#include "platform/platform.h"
#include "zip/korbel.h"
#include "zip/zip_constants.h"

namespace {

using korbel::Korbel;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Usage() {
  fs::ConsolePrint(
      "usage: korbel l ARCHIVE\n"
      "       korbel t ARCHIVE [-p PASSWORD]\n"
      "       korbel x ARCHIVE [-d FOLDER] [-p PASSWORD] [NAME...]\n"
      "       korbel a ARCHIVE PATH...\n"
      "       korbel d ARCHIVE NAME...\n");
  return kExitUsage;
}

// A name from an archive as it may be shown on a terminal: control bytes
// (C0, DEL and the C1 controls in their UTF-8 form) and the backslash are
// escaped, so that a name cannot forge lines or send escape sequences. An
// engine text keeps its own line breaks and the separators of its paths.
void AppendPrintable(std::string* printed, const char* text, bool keepNewlines = false) {
  std::string& out = *printed;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const auto next = static_cast<unsigned char>(p[1]);
    char escaped[8];
    if (c == '\n' && keepNewlines) {
      out += '\n';
    } else if (c == '\\' && !keepNewlines) {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", next);
      out += escaped;
      ++p;
    } else {
      out += static_cast<char>(c);
    }
  }
}

std::string Printable(const char* text, bool keepNewlines = false) {
  std::string out;
  AppendPrintable(&out, text, keepNewlines);
  return out;
}

// A name or path as the console shows it beside the engine's texts.
std::string Shown(const char* name) { return platform::ConsoleText(Printable(name)); }

// The engine's text may carry an entry name as its detail.
int Report(Korbel& archive) {
  fs::ConsolePrint("%s\n", Printable(archive.ErrorText(), true).c_str());
  return kExitFailure;
}

// One failing entry: its name, then the engine's text.
int ReportEntry(Korbel& archive, int index) {
  fs::ConsolePrint("%s: %s\n", Shown(archive.EntryName(index)).c_str(),
                   Printable(archive.ErrorText(), true).c_str());
  return kExitFailure;
}

// An entry by its name; a folder also by the name `korbel l` shows, with a
// trailing separator.
int FindByShownName(Korbel& archive, const char* name) {
  const int index = archive.FindEntry(name);
  if (index >= 0) return index;
  std::string bare(name);
  while (!bare.empty() && fs::IsSeparator(bare.back())) bare.pop_back();
  if (bare.empty() || bare.size() == std::strlen(name)) return -1;
  const int folder = archive.FindEntry(bare.c_str());
  return folder >= 0 && (archive.EntryStatus(folder) & korbel::kStatusFolder) ? folder : -1;
}

// Every entry an archive holds under the name of the entry at `first`, in
// archive order: an archive may hold one name several times, and each is
// handled, so the last one written wins as in a full extraction.
std::vector<int> SameNamed(Korbel& archive, int first) {
  std::vector<int> indices;
  for (int index = first; index >= 0;) {
    indices.push_back(index);
    const std::uint32_t next = archive.Entry(index)->nextSameName;
    index = next == 0xFFFFFFFFu ? -1 : static_cast<int>(next);
  }
  std::sort(indices.begin(), indices.end());
  return indices;
}

const char* MethodName(int method) {
  switch (method) {
    case korbel::kMethodStored: return "Stored";
    case korbel::kMethodDeflate: return "Deflate";
    case korbel::kMethodDeflate64: return "Deflate64";
    case korbel::kMethodBZip2: return "BZip2";
    case korbel::kMethodLzma: return "LZMA";
    case korbel::kMethodXz: return "XZ";
    case korbel::kMethodZstd: return "Zstd";
    case korbel::kMethodPpmd: return "PPMd";
    default: return "?";
  }
}

// The listing is formatted here and goes out in large pieces: a million
// entries would otherwise make millions of writes and formatting calls.
void AppendRight(std::string* out, unsigned long long value, std::size_t width) {
  char digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (count < width) out->append(width - count, ' ');
  while (count > 0) out->push_back(digits[--count]);
}

void AppendLeft(std::string* out, const char* text, std::size_t width) {
  const std::size_t length = std::strlen(text);
  out->append(text, length);
  if (length < width) out->append(width - length, ' ');
}

void AppendTwoDigits(std::string* out, int value) {
  out->push_back(static_cast<char>('0' + value / 10 % 10));
  out->push_back(static_cast<char>('0' + value % 10));
}

// "YYYY-MM-DD HH:MM:SS" in local time, or 19 blanks when there is none.
void AppendTime(std::string* out, std::int64_t modified) {
  std::tm local{};
  if (modified == platform::kNoTime || !platform::ToLocalTime(modified, &local) || local.tm_year + 1900 > 9999 ||
      local.tm_year + 1900 < 0) {
    out->append(19, ' ');
    return;
  }
  const int year = local.tm_year + 1900;
  AppendTwoDigits(out, year / 100);
  AppendTwoDigits(out, year % 100);
  out->push_back('-');
  AppendTwoDigits(out, local.tm_mon + 1);
  out->push_back('-');
  AppendTwoDigits(out, local.tm_mday);
  out->push_back(' ');
  AppendTwoDigits(out, local.tm_hour);
  out->push_back(':');
  AppendTwoDigits(out, local.tm_min);
  out->push_back(':');
  AppendTwoDigits(out, local.tm_sec);
}

int List(Korbel& archive) {
  constexpr std::size_t kFlushSize = 64 * 1024;
  std::string out;
  out.reserve(kFlushSize + 1024);
  auto flush = [&out] {
    if (!out.empty()) fs::ConsolePrint("%s", out.c_str());
    out.clear();
  };
  out += "        Size       Packed  Method    Modified            Name\n";
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const korbel::ZipEntry* entry = archive.Entry(i);
    const int method = korbel::DataMethodOf(*entry);
    AppendRight(&out, entry->uncompressedSize, 12);
    out.push_back(' ');
    AppendRight(&out, entry->compressedSize, 12);
    out += "  ";
    AppendLeft(&out, MethodName(method), 9);
    out.push_back(' ');
    AppendTime(&out, entry->modified);
    out.push_back(' ');
    out += Shown(entry->name.c_str());
    if (entry->externalAttributes & korbel::kEntryFolder) out.push_back('/');
    if (entry->flags & korbel::kFlagEncrypted) out += "  (encrypted)";
    // Another entry of the same name: extraction writes them in order.
    if (archive.FindEntry(entry->name.c_str()) != i || entry->nextSameName != 0xFFFFFFFFu) out += "  (duplicate)";
    out.push_back('\n');
    if (out.size() >= kFlushSize) flush();
  }
  flush();
  return 0;
}

int Test(Korbel& archive) {
  int failures = 0;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const int code = archive.TestEntry(i);
    if (code != korbel::kOk) {
      ++failures;
      ReportEntry(archive, i);
    }
  }
  fs::ConsolePrint("%i entries tested, %i failed\n", archive.EntryCount(), failures);
  return failures == 0 ? 0 : kExitFailure;
}

int Extract(Korbel& archive, const std::string& folder, const std::vector<const char*>& names) {
  std::string target = folder.empty() ? "." : folder;
  if (!fs::IsSeparator(target.back())) target += '/';
  int status = 0;
  if (names.empty()) {
    // Entry by entry, as ExtractAll goes, so that every failure is named.
    for (int index = 0; index < archive.EntryCount(); ++index) {
      const int entryStatus = archive.EntryStatus(index);
      if ((entryStatus & korbel::kStatusDeleted) || !(entryStatus & korbel::kStatusWritten)) continue;
      const int code = archive.ExtractEntry(index, target.c_str());
      if (code == korbel::kOk || code == korbel::kSkipped || code == korbel::kBadIndexOrMode) continue;
      status = ReportEntry(archive, index);
    }
    return status;
  }
  for (const char* name : names) {
    const int index = FindByShownName(archive, name);
    if (index < 0) {
      fs::ConsolePrint("%s: not in the archive\n", Shown(name).c_str());
      status = kExitFailure;
      continue;
    }
    for (const int same : SameNamed(archive, index)) {
      if (archive.ExtractEntry(same, target.c_str()) != korbel::kOk) status = ReportEntry(archive, same);
    }
  }
  return status;
}

// Adds a file under its own name, or a folder's tree under the folder's name.
int Add(Korbel& archive, const std::vector<const char*>& paths) {
  archive.Options(archive.Options(-2) | korbel::kRecurse);
  int status = 0;
  for (const char* path : paths) {
    std::string name(path);
    while (name.size() > 1 && fs::IsSeparator(name.back())) name.pop_back();
    const std::size_t cut = name.find_last_of("/\\");
    const std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
    const int kind = fs::GetPathKind(name.c_str());
    if (kind == fs::PathFile) {
      if (archive.AddFileByPath(name.c_str(), base.c_str()) != korbel::kOk) status = Report(archive);
    } else if (kind == fs::PathFolder) {
      if (archive.AddFiles(name.c_str(), "*", nullptr, base.c_str()) < 0) status = Report(archive);
    } else {
      fs::ConsolePrint("%s: not found\n", Shown(path).c_str());
      status = kExitFailure;
    }
  }
  return status;
}

int Delete(Korbel& archive, const std::vector<const char*>& names) {
  int status = 0;
  for (const char* name : names) {
    const int index = archive.FindEntry(name);
    if (index < 0) {
      fs::ConsolePrint("%s: not in the archive\n", Shown(name).c_str());
      status = kExitFailure;
      continue;
    }
    // From the last: a deletion may move the entries behind it.
    const std::vector<int> same = SameNamed(archive, index);
    for (auto at = same.rbegin(); at != same.rend(); ++at) {
      if (archive.DeleteEntry(*at) != korbel::kOk) status = Report(archive);
    }
  }
  return status;
}

// The command as the user gave it; the exit status.
int Run(int argc, char** argv) {
  if (argc < 3 || std::strlen(argv[1]) != 1) return Usage();
  const char command = argv[1][0];
  const char* path = argv[2];
  std::string folder = ".";
  const char* password = nullptr;
  std::vector<const char*> rest;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc && (command == 't' || command == 'x')) {
      password = argv[++i];
    } else if (std::strcmp(argv[i], "-d") == 0 && i + 1 < argc && command == 'x') {
      folder = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }

  Korbel archive;
  if (password != nullptr) archive.SetPassword(password);
  switch (command) {
    case 'l':
    case 't':
    case 'x': {
      if (archive.Open(path, korbel::kReadOnly, 0) != korbel::kOk) return Report(archive);
      const int status = command == 'l' ? List(archive) : command == 't' ? Test(archive) : Extract(archive, folder, rest);
      archive.Close();
      return status;
    }
    case 'a':
    case 'd': {
      if (rest.empty()) return Usage();
      const bool exists = fs::GetPathKind(path) == fs::PathFile;
      if (command == 'd' || exists) {
        if (archive.Open(path, korbel::kReadOnly, 0) != korbel::kOk) return Report(archive);
        if (archive.SwitchMode(korbel::kModify) != korbel::kOk) return Report(archive);
      } else if (archive.Open(path, korbel::kCreate, 0) != korbel::kOk) {
        return Report(archive);
      }
      int status = command == 'a' ? Add(archive, rest) : Delete(archive, rest);
      if (archive.Close() != korbel::kOk) status = Report(archive);
      return status;
    }
    default:
      return Usage();
  }
}

}  // namespace

int main(int argc, char** argv) { return platform::RunProgram(argc, argv, Run); }
