#include "app/project_run.h"

#include <cstring>
#include <string>

#include "app/explorer_registration.h"
#include "app/messages.h"
#include "app/pack_progress.h"
#include "fs/console.h"
#include "fs/exclusion_lists.h"
#include "fs/module_path.h"
#include "fs/path_kind.h"
#include "fs/path_strings.h"
#include "fs/pattern_list.h"
#include "platform/platform.h"
#include "zip/korbel.h"

namespace pakkaro {
namespace {

constexpr int kExclusionCapacity = 1024;

bool IsRegisterOption(const char* argument) {
  return (argument[0] == '-') && (argument[1] == 'c' || argument[1] == 'C') && argument[2] == '\0';
}

int RegisterWithExplorer() {
  char programPath[fs::MaxPath];
  fs::GetModulePath(programPath, fs::MaxPath);
  for (const char* type : kProjectTypes) {
    // A type that cannot be registered does not keep the others from it.
    RegisterFileTypeVerb(type, programPath, kMenuText, nullptr);
  }
  return kExitRegistered;
}

int PrintUsage() {
  for (const char* line : kUsageLines) fs::ConsolePrint(line);
  return kExitFailed;
}

bool FitsPathBuffer(std::size_t length) { return length < static_cast<std::size_t>(fs::MaxPath); }

// A message that names a path: the path as the console shows it beside the
// message's own Windows-1252 text.
void PrintWithPath(const char* message, const char* path) {
  fs::ConsolePrint(message, platform::ConsoleText(path).c_str());
}

// Puts a bare archive name into the project folder (which ends in a
// separator) and gives it the ".zip" extension; false, with the message
// printed, when the result would not fit its buffer.
bool CompleteArchiveName(const char* projectPath, char* archiveName) {
  if (std::strchr(archiveName, '\\') == nullptr && std::strchr(archiveName, '/') == nullptr) {
    if (!FitsPathBuffer(std::strlen(projectPath) + std::strlen(archiveName))) {
      const std::string whole = std::string(projectPath) + archiveName;
      PrintWithPath(kArchiveNotCreated, whole.c_str());
      return false;
    }
    char joined[fs::MaxPath];
    fs::CopyBounded(joined, projectPath, fs::MaxPath);
    fs::AppendBounded(joined, archiveName, fs::MaxPath);
    fs::CopyBounded(archiveName, joined, fs::MaxPath);
  }
  const int nameLength = static_cast<int>(std::strlen(archiveName));
  const int extensioned = fs::ReplaceExtension(nameLength, archiveName, archiveName, "zip", fs::MaxPath);
  // A name without room for its ".zip" would make an archive of another name.
  if (extensioned < 4 || std::strcmp(archiveName + extensioned - 4, ".zip") != 0) {
    PrintWithPath(kArchiveNotCreated, archiveName);
    return false;
  }
  return true;
}

// Creates the archive, adds the project's files to it and closes it.
int WriteArchive(korbel::Korbel& archive, const char* archiveName, const char* projectPath,
                 const char* exclusions) {
  PackProgress progress;
  if (archive.Open(archiveName, korbel::kCreate, 9) != korbel::kOk) {
    PrintWithPath(kArchiveNotCreated, archiveName);
    return kExitFailed;
  }
  archive.Options(archive.Options(-2) | korbel::kRecurse);
  const int queued = archive.AddFiles(projectPath, "*", exclusions, nullptr);
  if (queued < 0) {
    fs::ConsolePrint(kAddFailed);
    return kExitFailed;
  }
  // The queued files are read, compressed and written at close.
  progress.Follow(archive);
  const int closed = archive.Close();
  progress.Clear();
  // Files that could not be read at close were dropped there: the count the
  // user sees is what the archive really holds.
  if (closed != korbel::kOk) {
    fs::ConsolePrint(kAddFailed);
    return kExitFailed;
  }
  fs::ConsolePrint(kPacked, archive.WrittenFileCount());
  return kExitPacked;
}

// Packs the project named by `projectArgument` into `archiveArgument`, or into
// an archive named after the project inside its folder. A path that does not
// fit its buffer is never cut (a cut path names another file or folder): the
// run ends with the add-failed message instead.
int PackProject(korbel::Korbel& archive, const char* projectArgument, const char* archiveArgument) {
  char projectPath[fs::MaxPath];
  char archiveName[fs::MaxPath];
  char exclusions[kExclusionCapacity];

  fs::CopyBounded(projectPath, projectArgument, fs::MaxPath);
  const int kind = fs::GetPathKind(projectPath);
  if (kind != fs::PathFile && kind != fs::PathFolder) {
    PrintWithPath(kPathNotFound, projectPath);
    return kExitFailed;
  }
  // The full path first: a bare file name ("App.dsp") then has the current
  // folder as its folder, not an empty one that would become the root.
  const std::uint32_t fullLength = platform::GetFullPath(projectArgument, projectPath, fs::MaxPath);
  if (!FitsPathBuffer(std::strlen(projectArgument)) || fullLength == 0 || !FitsPathBuffer(fullLength)) {
    fs::ConsolePrint(kAddFailed);
    return kExitFailed;
  }
  fs::StripSeparator(projectPath, -1);

  if (archiveArgument != nullptr) {
    if (!FitsPathBuffer(std::strlen(archiveArgument))) {
      PrintWithPath(kArchiveNotCreated, archiveArgument);
      return kExitFailed;
    }
    fs::CopyBounded(archiveName, archiveArgument, fs::MaxPath);
  } else {
    fs::CopyNamePart(archiveName, static_cast<int>(std::strlen(projectPath)), projectPath, fs::MaxPath);
  }
  if (kind == fs::PathFile) fs::CutToFolder(static_cast<int>(std::strlen(projectPath)), projectPath);
  fs::StripSeparator(projectPath, -1);

  // Archives named after the project folder, such as the one an earlier run
  // left there, stay out; other zip files of the project go in.
  fs::CopyNamePart(exclusions, static_cast<int>(std::strlen(projectPath)), projectPath, kExclusionCapacity);
  fs::AppendBounded(exclusions, "*.zip;", kExclusionCapacity);
  // The separator needs a place of its own in the buffer.
  if (!FitsPathBuffer(std::strlen(projectPath) + 1)) {
    fs::ConsolePrint(kAddFailed);
    return kExitFailed;
  }
  fs::AppendSeparator(projectPath, -1);

  const bool keepsLibraries = fs::ExtensionInList(projectArgument, kMicroVisionTypes,
                                                  static_cast<int>(std::strlen(projectArgument))) != 0;
  fs::AppendBounded(exclusions, keepsLibraries ? fs::kMicroVisionExclusions : fs::kGeneralExclusions,
                    kExclusionCapacity);

  if (!CompleteArchiveName(projectPath, archiveName)) return kExitFailed;
  return WriteArchive(archive, archiveName, projectPath, exclusions);
}

}  // namespace

int RunProject(int argc, char** argv) {
  // One archive object for the whole run; every way out destroys it, and its
  // destructor finishes an archive that is still open.
  korbel::Korbel archive;
  if (argc < 2) return PrintUsage();
  for (int i = 1; i < argc; ++i) {
    if (IsRegisterOption(argv[i])) return RegisterWithExplorer();
  }
  return PackProject(archive, argv[1], argc > 2 ? argv[2] : nullptr);
}

}  // namespace pakkaro
