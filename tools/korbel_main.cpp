// korbel: a small command-line program over the zip engine.
//
//   korbel l ARCHIVE [NAME...]            list the entries
//   korbel t ARCHIVE [-p PASSWORD] [NAME...]
//                                         test the entries
//   korbel x ARCHIVE [-d FOLDER] [-o | -n] [-p PASSWORD] [NAME...]
//                                         extract all or the selected entries
//   korbel a ARCHIVE PATH...              add files or folders (created when missing)
//   korbel d ARCHIVE NAME...              delete entries; the space is reclaimed
//
// A NAME is an entry, a folder (everything below it) or a pattern with * and
// ?. Exit status 0 when everything succeeded, 1 when an operation failed or
// an existing file was kept without being asked, 2 for a wrong command line.
// The texts are German like the engine's. A name the archive holds more
// than once names every entry of it, in archive order (the last one
// extracted wins); `l` marks them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "fs/char_rules.h"
#include "fs/console.h"
#include "fs/path_kind.h"
#include "platform/platform.h"
#include "tools/korbel/entry_selection.h"
#include "tools/korbel/overwrite_choice.h"
#include "tools/korbel/password_source.h"
#include "tools/korbel/tool_texts.h"
#include "zip/error_texts.h"
#include "zip/format/zip_constants.h"
#include "zip/korbel.h"

namespace {

using korbel::Korbel;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A text of korbel's own or of the engine as the console shows it.
std::string Say(const char* windows1252) { return platform::MessageText(windows1252); }

int Usage(int status) {
  fs::ConsolePrint("%s", Say(korbel_tool::kUsageText).c_str());
  return status;
}

// A name from an archive as it may be shown on a terminal: control bytes
// (C0, DEL and the C1 controls in their UTF-8 form) and the backslash are
// escaped, so that a name cannot forge lines or send escape sequences. An
// engine text keeps its own line breaks and the separators of its paths.
void AppendPrintable(std::string* printed, const char* text, bool keepNewlines = false) {
  std::string& out = *printed;
  // Most bytes need no escape: a run of them goes out in one piece.
  const auto plain = [](unsigned char c) { return c >= 0x20 && c != 0x7F && c != '\\' && c != 0xC2; };
  for (const char* p = text; *p != '\0'; ++p) {
    const char* run = p;
    while (plain(static_cast<unsigned char>(*p))) ++p;
    out.append(run, static_cast<std::size_t>(p - run));
    if (*p == '\0') break;
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
// A path of the user's, whose backslashes are separators.
std::string ShownPath(const char* path) { return platform::ConsoleText(Printable(path, true)); }

// The engine's text may carry an entry name as its detail.
int Report(Korbel& archive) {
  fs::ConsolePrint("%s\n", korbel_tool::EngineText(Printable(archive.ErrorText(), true)).c_str());
  return kExitFailure;
}

// A name with one of korbel's texts behind it, on one line.
int ReportName(const char* name, const char* text) {
  fs::ConsolePrint("%s%s\n", Shown(name).c_str(), Say(text).c_str());
  return kExitFailure;
}

// One failing entry on one line: its name once, then the text of the code
// without its line break and without the detail slot's colon.
int ReportEntry(Korbel& archive, int index) {
  bool takesDetail = false;
  std::string text = korbel::ErrorMessage(archive.LastError(), &takesDetail);
  while (!text.empty() && text.front() == '\n') text.erase(0, 1);
  while (!text.empty() && (text.back() == ' ' || text.back() == ':')) text.pop_back();
  fs::ConsolePrint("%s: %s\n", Shown(archive.EntryName(index)).c_str(), Say(text.c_str()).c_str());
  return kExitFailure;
}

// Every name of the selection that took no entry is reported.
int ReportUnused(const korbel_tool::EntrySelection& selection) {
  int status = 0;
  for (const std::string& name : selection.Unused())
    status = ReportName(name.c_str(), korbel_tool::kNotInArchive);
  return status;
}

bool AskOnTerminal(const std::string& question, bool echo, std::string* answer) {
  return platform::StandardIsConsole(0) && platform::AskConsole(question, echo, answer);
}

// The password of -p, or one asked for on the terminal at the first encrypted entry.
korbel_tool::PasswordSource PasswordFor(Korbel& archive, const char* given) {
  return korbel_tool::PasswordSource(
      given,
      [](const std::string& question, std::string* answer) { return AskOnTerminal(question, false, answer); },
      [&archive](const std::string& password) { archive.SetPassword(password.c_str()); });
}

// Whether the entry can be read: not encrypted, or a password is there.
bool PasswordReady(Korbel& archive, int index, korbel_tool::PasswordSource* passwords,
                   const char* archivePath) {
  const korbel::ZipEntry* entry = archive.Table().At(index);
  if (entry == nullptr || !(entry->flags & korbel::kFlagEncrypted)) return true;
  if (passwords->Ready(Printable(archivePath, true))) return true;
  ReportName(entry->name.c_str(), korbel_tool::kNoPassword);
  return false;
}

// Every entry an archive holds under the name of the entry at `first`, in
// archive order: an archive may hold one name several times, and each is
// handled, so the last one written wins as in a full extraction.
std::vector<int> SameNamed(Korbel& archive, int first) {
  std::vector<int> indices;
  for (int index = first; index >= 0;) {
    indices.push_back(index);
    const std::uint32_t next = archive.Table().At(index)->nextSameName;
    index = next == 0xFFFFFFFFu ? -1 : static_cast<int>(next);
  }
  std::sort(indices.begin(), indices.end());
  return indices;
}

const char* MethodName(int method) {
  switch (method) {
    case korbel::kMethodStored:
      return "Stored";
    case korbel::kMethodDeflate:
      return "Deflate";
    case korbel::kMethodDeflate64:
      return "Deflate64";
    case korbel::kMethodBZip2:
      return "BZip2";
    case korbel::kMethodLzma:
      return "LZMA";
    case korbel::kMethodXz:
      return "XZ";
    case korbel::kMethodZstd:
      return "Zstd";
    case korbel::kMethodPpmd:
      return "PPMd";
    default:
      return "?";
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
void FormatTime(std::string* out, std::int64_t modified) {
  std::tm local{};
  if (modified == platform::kNoTime || !platform::ToLocalTime(modified, &local) ||
      local.tm_year + 1900 > 9999 || local.tm_year + 1900 < 0) {
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

// Which entries share their name with another: the first lookup by name
// links the entries of one name (ZipEntry::nextSameName), so an entry has a
// namesake when it links on or another links to it. One pass over the links
// costs far less than a lookup per entry.
std::vector<bool> Namesakes(Korbel& archive) {
  const int count = archive.EntryCount();
  std::vector<bool> shared(static_cast<std::size_t>(count), false);
  if (count == 0) return shared;
  archive.FindEntry(archive.Table().At(0)->name.c_str());
  for (int i = 0; i < count; ++i) {
    const std::uint32_t next = archive.Table().At(i)->nextSameName;
    if (next == 0xFFFFFFFFu) continue;
    shared[static_cast<std::size_t>(i)] = true;
    shared[next] = true;
  }
  return shared;
}

// The time of the entry before, as shown: entries packed together mostly
// share their time, and it is converted once for all of them.
struct ShownTime {
  std::int64_t time = platform::kNoTime;
  std::string text;
};

void AppendTime(std::string* out, std::int64_t modified, ShownTime* last) {
  if (last->text.empty() || last->time != modified) {
    last->text.clear();
    FormatTime(&last->text, modified);
    last->time = modified;
  }
  out->append(last->text);
}

int List(Korbel& archive, const char* path, korbel_tool::EntrySelection& selection) {
  constexpr std::size_t kFlushSize = 64 * 1024;
  std::string out;
  out.reserve(kFlushSize + 1024);
  auto flush = [&out] {
    if (!out.empty()) fs::ConsolePrint("%s", out.c_str());
    out.clear();
  };
  out += Say(korbel_tool::kArchiveHead) + ShownPath(path) + '\n';
  const char* comment = archive.ArchiveComment();
  if (comment != nullptr && *comment != '\0') out += platform::ConsoleText(Printable(comment, true)) + '\n';
  out += Say(korbel_tool::kListHead);
  const std::string encrypted = Say(korbel_tool::kEncryptedMark);
  const std::string duplicate = Say(korbel_tool::kDuplicateMark);
  unsigned long long totalSize = 0;
  unsigned long long totalPacked = 0;
  long long listed = 0;
  const std::vector<bool> namesakes = Namesakes(archive);
  ShownTime shownTime;
  std::string name;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    const korbel::ZipEntry* entry = archive.Table().At(i);
    if (!selection.Takes(entry->name.c_str())) continue;
    totalSize += entry->uncompressedSize;
    totalPacked += entry->compressedSize;
    ++listed;
    const int method = korbel::DataMethodOf(*entry);
    AppendRight(&out, entry->uncompressedSize, 12);
    out.push_back(' ');
    AppendRight(&out, entry->compressedSize, 12);
    out += "  ";
    AppendLeft(&out, MethodName(method), 9);
    out.push_back(' ');
    AppendTime(&out, entry->modified, &shownTime);
    out.push_back(' ');
    name.clear();
    AppendPrintable(&name, entry->name.c_str());
    out += platform::ConsoleText(name);
    if (entry->externalAttributes & korbel::kEntryFolder) out.push_back('/');
    if (entry->flags & korbel::kFlagEncrypted) out += encrypted;
    // Another entry of the same name: extraction writes them in order.
    if (namesakes[static_cast<std::size_t>(i)]) out += duplicate;
    out.push_back('\n');
    if (out.size() >= kFlushSize) flush();
  }
  out += Say(korbel_tool::kListRule);
  AppendRight(&out, totalSize, 12);
  out.push_back(' ');
  AppendRight(&out, totalPacked, 12);
  out.append(32, ' ');
  out += Say(korbel_tool::Entries(listed).c_str()) + '\n';
  flush();
  return ReportUnused(selection);
}

int Test(Korbel& archive, const char* path, korbel_tool::EntrySelection& selection,
         korbel_tool::PasswordSource* passwords) {
  long long tested = 0;
  long long failures = 0;
  std::vector<int> selected;
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (selection.Takes(archive.EntryName(i))) selected.push_back(i);
  }
  archive.PlanReads(std::move(selected), true);
  for (int i = 0; i < archive.EntryCount(); ++i) {
    if (!selection.Takes(archive.EntryName(i))) continue;
    ++tested;
    if (!PasswordReady(archive, i, passwords, path)) {
      ++failures;
    } else if (archive.TestEntry(i) != korbel::kOk) {
      ++failures;
      ReportEntry(archive, i);
    }
  }
  fs::ConsolePrint("%s\n", Say(korbel_tool::TestSummary(tested, failures).c_str()).c_str());
  const int unused = ReportUnused(selection);
  return failures == 0 && unused == 0 ? 0 : kExitFailure;
}

// Where an entry goes, a file is there already: whether the entry is
// written. A file that holds the entry already is left alone; any other is
// replaced only as the overwrite choice says.
bool MayWriteOver(Korbel& archive, int index, const std::string& targetPath,
                  korbel_tool::OverwriteChoice* choice, int* status) {
  const korbel::ZipEntry* entry = archive.Table().At(index);
  const std::uint32_t attributes = platform::GetAttributes(targetPath.c_str());
  if (attributes == platform::kInvalidAttributes || (attributes & platform::kAttrDirectory)) return true;
  if (korbel_tool::FileHoldsEntry(targetPath.c_str(), entry->uncompressedSize, entry->crc32)) return false;
  switch (choice->Decide(Printable(entry->name.c_str()))) {
    case korbel_tool::OverwriteChoice::Decision::kReplace:
      return true;
    case korbel_tool::OverwriteChoice::Decision::kKeep:
      return false;
    case korbel_tool::OverwriteChoice::Decision::kKeepUnasked:
      *status = ReportName(entry->name.c_str(), korbel_tool::kKeptExisting);
      return false;
  }
  return false;
}

int Extract(Korbel& archive, const char* path, const std::string& folder,
            korbel_tool::EntrySelection& selection, korbel_tool::PasswordSource* passwords,
            korbel_tool::OverwriteRule rule) {
  std::string target = folder.empty() ? "." : folder;
  if (!fs::IsSeparator(target.back())) target += '/';
  korbel_tool::OverwriteChoice choice(rule, [](const std::string& question, std::string* answer) {
    return AskOnTerminal(question, true, answer);
  });
  int status = 0;
  std::unordered_set<std::string> writtenHere;
  // The files are decoded ahead in this order while earlier ones are written.
  std::vector<int> files;
  for (int index = 0; index < archive.EntryCount(); ++index) {
    const int entryStatus = archive.EntryStatus(index);
    if ((entryStatus & (korbel::kStatusDeleted | korbel::kStatusFolder)) ||
        !(entryStatus & korbel::kStatusWritten)) {
      continue;
    }
    if (selection.Takes(archive.EntryName(index))) files.push_back(index);
  }
  archive.PlanReads(std::move(files), false);
  // Entry by entry, in the archive's order, so that every failure is named.
  for (int index = 0; index < archive.EntryCount(); ++index) {
    const int entryStatus = archive.EntryStatus(index);
    if ((entryStatus & korbel::kStatusDeleted) || !(entryStatus & korbel::kStatusWritten)) continue;
    if (!selection.Takes(archive.EntryName(index))) continue;
    std::string targetPath;
    const bool placed = archive.ExtractTargetPath(index, target.c_str(), &targetPath) == korbel::kOk;
    const bool folderEntry = (entryStatus & korbel::kStatusFolder) != 0;
    // A file this run wrote is no one's work yet: a later entry of the same
    // name takes its place unasked (the last one wins).
    const bool ownFile = placed && writtenHere.count(targetPath) != 0;
    if (placed && !folderEntry && !ownFile && !MayWriteOver(archive, index, targetPath, &choice, &status))
      continue;
    if (!folderEntry && !PasswordReady(archive, index, passwords, path)) {
      status = kExitFailure;
      continue;
    }
    const int code = archive.ExtractEntry(index, target.c_str());
    if (code == korbel::kOk) {
      if (placed && !folderEntry) writtenHere.insert(targetPath);
      // The file keeps the read-only mark the archive stores.
      if (placed && !folderEntry && (entryStatus & korbel::kStatusReadOnly)) {
        platform::SetAttributes(targetPath.c_str(), platform::kAttrReadOnly);
      }
      continue;
    }
    if (code == korbel::kSkipped || code == korbel::kBadIndexOrMode) continue;
    status = ReportEntry(archive, index);
    if (code == korbel::kUserAbort) return status;
  }
  return ReportUnused(selection) != 0 ? kExitFailure : status;
}

// The name an added path gets: a relative path as given (without leading
// "./" and "../"), as zip and 7zz store it; an absolute one by its last
// component.
std::string StoredNameFor(const std::string& path) {
  std::string name(path);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const bool absolute = (!name.empty() && name[0] == '/') || (name.size() > 1 && name[1] == ':');
  if (absolute) {
    const std::size_t cut = name.find_last_of('/');
    return cut == std::string::npos ? name.substr(2) : name.substr(cut + 1);
  }
  for (;;) {
    if (name.compare(0, 2, "./") == 0) {
      name.erase(0, 2);
    } else if (name.compare(0, 3, "../") == 0) {
      name.erase(0, 3);
    } else {
      break;
    }
  }
  return name == "." || name == ".." ? std::string() : name;
}

// Adds a file, or a folder's tree, under the path as given.
int Add(Korbel& archive, const std::vector<const char*>& paths) {
  archive.Options(archive.Options(-2) | korbel::kRecurse);
  int status = 0;
  for (const char* path : paths) {
    std::string name(path);
    while (name.size() > 1 && fs::IsSeparator(name.back())) name.pop_back();
    const std::string stored = StoredNameFor(name);
    const int kind = fs::GetPathKind(name.c_str());
    if (kind == fs::PathFile && !stored.empty()) {
      if (archive.AddFileByPath(name.c_str(), stored.c_str()) != korbel::kOk) status = Report(archive);
    } else if (kind == fs::PathFolder) {
      const char* prefix = stored.empty() ? nullptr : stored.c_str();
      if (archive.AddFiles(name.c_str(), "*", nullptr, prefix) < 0) status = Report(archive);
    } else {
      fs::ConsolePrint("%s%s\n", ShownPath(path).c_str(), Say(korbel_tool::kNotFound).c_str());
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
      status = ReportName(name, korbel_tool::kNotInArchive);
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
  // korbel's texts and the engine's are Windows-1252 bytes: a Windows
  // console shows them so while korbel runs.
  platform::MessageCodePage messages;
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) return Usage(0);
  if (argc < 3 || std::strlen(argv[1]) != 1) return Usage(kExitUsage);
  const char command = argv[1][0];
  const char* path = argv[2];
  std::string folder = ".";
  const char* password = nullptr;
  korbel_tool::OverwriteRule rule = korbel_tool::OverwriteRule::kAsk;
  std::vector<const char*> rest;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "-p") == 0 && i + 1 < argc && (command == 't' || command == 'x')) {
      password = argv[++i];
    } else if (std::strcmp(argv[i], "-d") == 0 && i + 1 < argc && command == 'x') {
      folder = argv[++i];
    } else if ((std::strcmp(argv[i], "-o") == 0 || std::strcmp(argv[i], "-n") == 0) && command == 'x') {
      const auto wanted =
          argv[i][1] == 'o' ? korbel_tool::OverwriteRule::kAlways : korbel_tool::OverwriteRule::kNever;
      if (rule != korbel_tool::OverwriteRule::kAsk && rule != wanted) return Usage(kExitUsage);
      rule = wanted;
    } else {
      rest.push_back(argv[i]);
    }
  }

  Korbel archive;
  switch (command) {
    case 'l':
    case 't':
    case 'x': {
      if (archive.Open(path, korbel::kReadOnly, 0) != korbel::kOk) return Report(archive);
      korbel_tool::EntrySelection selection(rest);
      korbel_tool::PasswordSource passwords = PasswordFor(archive, password);
      int status = 0;
      if (command == 'l') {
        status = List(archive, path, selection);
      } else if (command == 't') {
        status = Test(archive, path, selection, &passwords);
      } else {
        status = Extract(archive, path, folder, selection, &passwords, rule);
      }
      archive.Close();
      return status;
    }
    case 'a':
    case 'd': {
      if (rest.empty()) return Usage(kExitUsage);
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
      return Usage(kExitUsage);
  }
}

}  // namespace

int main(int argc, char** argv) { return platform::RunProgram(argc, argv, Run); }
