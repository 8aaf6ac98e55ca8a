// The one interface between the program and the operating system.
//
// Every call mirrors the Windows operation it is named after: same arguments
// in spirit, same results, same error codes (read with LastError()). The Win32
// backend calls the real API; the POSIX backend produces the same answers from
// POSIX calls (see platform/README.md for the mapping). Nothing outside this
// folder includes an operating-system header.
#ifndef PAKKARO_PLATFORM_PLATFORM_H
#define PAKKARO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// UTF-16 text for the wide forms; on Windows this is the native wide type.
using WideChar = char16_t;

// Error codes, with the values Windows uses, so that both backends report alike.
enum : std::uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorNoMoreFiles = 18,
  kErrorSharingViolation = 32,
  kErrorHandleEof = 38,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorAlreadyExists = 183,
  kErrorMoreData = 234,
  kErrorNoMoreItems = 259,
  kErrorDirectory = 267,
  kErrorBadPathname = 161,
  kErrorRegistryCorrupt = 1015,  // the registry's store cannot be read as one
  kErrorGeneric = 31,
};

// The error of the last failed call on this thread.
std::uint32_t LastError();
void SetLastError(std::uint32_t code);

// File attribute bits, as the file system reports them.
enum : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kAttrDevice = 0x40,         // neither a file nor a folder: a pipe, socket or device
  kAttrReparsePoint = 0x400,  // a symbolic link or junction
  kInvalidAttributes = 0xFFFFFFFFu,
};

// A file time: 100-nanosecond units since 1601-01-01 UTC; 0 = unknown.
using FileTime = std::uint64_t;

struct FileData {
  std::uint32_t attributes;
  std::uint64_t size;
  FileTime created;
  FileTime accessed;
  FileTime modified;
};

// ---- Files -----------------------------------------------------------------

using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

enum Access : std::uint32_t { kAccessRead = 1, kAccessWrite = 2, kAccessReadWrite = 3 };
// kShareDelete lets another open rename or delete the file, as
// FILE_SHARE_DELETE does.
enum Share : std::uint32_t { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };
enum Disposition : std::uint32_t {
  kOpenExisting,  // fail when missing
  kCreateAlways,  // create, or empty an existing file
  kOpenAlways,    // open, or create when missing
  kCreateNew,     // fail when it exists
};
enum SeekOrigin : std::uint32_t { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Opens or creates a file; kInvalidHandle on failure. `sequential` is a hint.
Handle OpenFile(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t disposition,
                bool sequential = false);
// Opens an existing file to read its data into an archive, shared for
// reading. Never waits (a pipe without a writer, a device) and refuses
// anything that is not a regular file with kErrorAccessDenied, also when the
// path was swapped for one between the walk and the open. The path may be
// longer than MAX_PATH.
Handle OpenSourceFile(const char* path);
// Bytes read (0 at the end of the file), or -1.
std::int64_t ReadFile(Handle file, void* buffer, std::size_t size);
// Bytes written, or -1. A short count means the device is full.
std::int64_t WriteFile(Handle file, const void* buffer, std::size_t size);
// New position, or -1.
std::int64_t SeekFile(Handle file, std::int64_t offset, std::uint32_t origin);
std::int64_t FileSize(Handle file);
// Ends the file at the current position.
bool TruncateFile(Handle file);
bool CloseFile(Handle file);
// Null pointers leave that time unchanged.
bool SetFileTimes(Handle file, const FileTime* created, const FileTime* accessed, const FileTime* modified);

// Closes a file handle at the end of a scope.
class FileCloser {
 public:
  explicit FileCloser(Handle file = kInvalidHandle) : file_(file) {}
  ~FileCloser() { Reset(); }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  Handle Get() const { return file_; }
  Handle Release() {
    Handle file = file_;
    file_ = kInvalidHandle;
    return file;
  }
  void Reset(Handle file = kInvalidHandle) {
    if (file_ != kInvalidHandle) CloseFile(file_);
    file_ = file;
  }

 private:
  Handle file_;
};

// A read-write mapping of a whole file, used to move data inside an archive.
class FileMapping {
 public:
  FileMapping() = default;
  ~FileMapping() { Unmap(); }
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  // Maps the first `size` bytes of the file for reading and writing.
  bool Map(Handle file, std::uint64_t size);
  void Unmap();
  unsigned char* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  std::uint64_t size_ = 0;
  std::intptr_t mapping_ = 0;  // the section object on Windows
};

// ---- Replacing a file safely -------------------------------------------------

// Makes the file's data and size durable (fsync; FlushFileBuffers). Counted
// as a kFlushFile call by the fault injection.
bool FlushFile(Handle file);
// Makes a rename or creation in the folder holding `path` durable (fsync of
// the folder); the Win32 build renames with write-through and has nothing to
// do here.
bool FlushFolderOf(const char* path);
// Copies `length` bytes from offset `fromOffset` of `from` to offset
// `toOffset` of `to`, with the cheapest copy the system offers (a reflink or
// copy_file_range where it can; plain reads and writes otherwise). The file
// positions are left where they were. Counted as a kWriteFile call.
bool CopyFileData(Handle from, std::int64_t fromOffset, Handle to, std::int64_t toOffset,
                  std::uint64_t length);
// Gives `to` the permission bits, and where this process may set them the
// owner and group, of `from`, so that a file written to replace another keeps
// what others may do with it. The Win32 build leaves the rights the folder
// gives a new file.
bool CopyFileIdentity(Handle from, Handle to);
// How many names the file has (hard links); 0 when unknown.
std::uint32_t LinkCount(Handle file);
// Takes the one writer's lock of a file, waiting up to `waitMilliseconds`
// while another process holds it; readers are never blocked by it. The lock
// goes with the handle's close. False with kErrorSharingViolation when it
// stayed taken.
bool LockForWriting(Handle file, std::uint32_t waitMilliseconds);
// Gives the file `from` the name `to` only when no file has that name
// (kErrorFileExists otherwise). Counted as a kDeleteFile call.
bool MoveFileNew(const char* from, const char* to);
// Fills `buffer` with unpredictable bytes from the system.
bool RandomBytes(void* buffer, std::size_t size);

// ---- Interruption ----------------------------------------------------------------

// From now on Ctrl-C, Ctrl-Break, closing the console (and on POSIX SIGINT,
// SIGTERM and SIGHUP) only raise the flag that InterruptRequested() reads,
// and a file that grows past a size limit fails its write instead of ending
// the process (SIGXFSZ). A second interruption while the first is still
// being handled ends the process at once, after removing the files named by
// RemoveOnInterrupt.
void InstallInterruptHandling();
bool InterruptRequested();
// Names the file that a forced end removes (at most one, empty for none);
// the caller removes it itself on every ordinary way out.
void RemoveOnInterrupt(const char* path);

// ---- Paths and folders (narrow text in UTF-8, wide in UTF-16) -------------

std::uint32_t GetAttributes(const char* path);  // kInvalidAttributes on failure
std::uint32_t GetAttributes(const WideChar* path);
bool GetAttributesEx(const char* path, FileData* data);
bool GetAttributesEx(const WideChar* path, FileData* data);
bool SetAttributes(const char* path, std::uint32_t attributes);
bool SetAttributes(const WideChar* path, std::uint32_t attributes);
bool DeleteFile(const char* path);
bool DeleteFile(const WideChar* path);
// Gives the file `from` the name `to`, replacing a file of that name, as
// MoveFileEx with MOVEFILE_REPLACE_EXISTING: refused while either is open
// or when `to` is read-only. Counted as a kDeleteFile call by the fault
// injection.
bool MoveFileOver(const char* from, const char* to);
// Whether `path` names the file that `file` has open (the same file, not
// the same name).
bool IsSameFile(const char* path, Handle file);
bool CreateDirectory(const char* path);
bool CreateDirectory(const WideChar* path);
// The full form of a path, as GetFullPathName: the length written without the
// terminator; when the buffer is too small, the capacity needed including the
// terminator (and the buffer untouched); 0 on failure.
std::uint32_t GetFullPath(const char* path, char* buffer, std::uint32_t capacity);
std::uint32_t GetFullPath(const WideChar* path, WideChar* buffer, std::uint32_t capacity);
// Bit n set: drive letter 'A' + n is present. The POSIX build has no drives.
std::uint32_t LogicalDrives();
// Full file name of the running program; length, or 0 on failure.
std::uint32_t ModulePath(char* buffer, std::uint32_t capacity);
std::uint32_t ModulePath(WideChar* buffer, std::uint32_t capacity);

// ---- Directory search --------------------------------------------------------

// A folder entry's name is at most 259 UTF-16 units; as narrow text (UTF-8)
// each unit takes up to three bytes.
template <typename Char>
constexpr std::size_t kFoundNameCapacity = sizeof(Char) == 1 ? 3 * 260 : 260;
template <typename Char>
constexpr std::size_t kFoundShortNameCapacity = sizeof(Char) == 1 ? 3 * 14 : 14;

template <typename Char>
struct FindData {
  FileData data;
  Char name[kFoundNameCapacity<Char>];            // the long name
  Char shortName[kFoundShortNameCapacity<Char>];  // the 8.3 alias, empty when the file has none
};

using SearchHandle = std::intptr_t;
constexpr SearchHandle kInvalidSearch = -1;

// The pattern is a folder path followed by a name that may hold '*' and '?'.
SearchHandle FindFirst(const char* pattern, FindData<char>* found);
SearchHandle FindFirst(const WideChar* pattern, FindData<WideChar>* found);
bool FindNext(SearchHandle search, FindData<char>* found);
bool FindNext(SearchHandle search, FindData<WideChar>* found);
bool FindClose(SearchHandle search);

// ---- Temporary files -------------------------------------------------------

// The system's temporary folder with a trailing separator; length, 0 on failure.
std::uint32_t TempFolder(char* buffer, std::uint32_t capacity);
// Creates an empty file with a unique name "<prefix>XXXX.tmp" in `folder` and
// writes its path to `buffer` (260 characters); false on failure.
bool TempFileName(const char* folder, const char* prefix, char* buffer);

// ---- Extraction targets --------------------------------------------------------

// A folder reached from a base folder one component at a time, never through a
// link or reparse point, and held open while files are made in it: nothing can
// swap a folder on the way for a link to elsewhere in between. Names given to
// the operations are single components inside the folder.
class TargetFolder {
 public:
  enum OpenResult { kOpened, kLinkInTheWay, kFailed };

  TargetFolder();
  ~TargetFolder();
  TargetFolder(const TargetFolder&) = delete;
  TargetFolder& operator=(const TargetFolder&) = delete;

  // `base` is an existing folder, taken as it is (links in its own path are
  // the caller's). Each component of `relative` ('/' or '\' between them,
  // empty for the base itself) is opened below it, and created when missing
  // and `create` is set; `created` (optional) tells whether the last one was
  // made by this call. LastError() tells why kFailed.
  OpenResult Open(const char* base, const char* relative, bool create, bool* created = nullptr);
  // The attributes of a name in the folder without following a link (a link
  // or reparse point shows kAttrReparsePoint); kInvalidAttributes when missing.
  std::uint32_t Attributes(const char* name) const;
  // A new empty file with a fresh name in the folder, opened for reading and
  // writing and shared with nobody; the name goes to `tempName`.
  Handle CreateTemporary(std::string* tempName);
  // A new empty file `name` in the folder, opened like CreateTemporary's;
  // kInvalidHandle with kErrorFileExists when anything has the name already,
  // a link or reparse point included, which is never followed.
  Handle CreateNew(const char* name);
  // Renames `from` to `to` in the folder, replacing a file there (a read-only
  // one too); the replacement is atomic where the system offers it.
  bool Replace(const char* from, const char* to);
  bool Remove(const char* name);
  // Whether the folder held open is still the one its path names, so that
  // it may serve again without opening every component anew; false when
  // nothing is open.
  bool Unmoved() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether the file system changes or refuses names by the Windows rules
// (trailing dots and spaces dropped, device names, ':' for streams): true
// on Windows, where extraction must refuse such names.
bool NamesFollowWindowsRules();

// ---- Console -----------------------------------------------------------------

Handle StandardOutput();
Handle StandardError();
// Whether standard input, output or error (0, 1, 2) is a console or terminal
// rather than a file or pipe.
bool StandardIsConsole(int stream);
// Columns of the console behind standard error; 80 when unknown.
int ConsoleWidth();
// Shows `prompt` (UTF-8) on the terminal itself and reads one line typed
// there, without echo when `echo` is false (a password); the line comes back
// as UTF-8 without its line end. False when there is no terminal or the
// input ended.
bool AskConsole(const std::string& prompt, bool echo, std::string* answer);
// While it lives, a console behind standard output shows Windows-1252 bytes
// as such (Win32: output code page 1252, the previous one restored at the
// end); POSIX terminals take UTF-8 and nothing changes there.
class MessageCodePage {
 public:
  MessageCodePage();
  ~MessageCodePage();
  MessageCodePage(const MessageCodePage&) = delete;
  MessageCodePage& operator=(const MessageCodePage&) = delete;

 private:
  [[maybe_unused]] unsigned previous_ = 0;  // 0: nothing to restore; only the Win32 backend keeps one
};
// Writes UTF-8 text to the console behind standard error as it is shown
// (the wide console call on Windows); nothing when it is not a console.
void WriteConsoleError(const std::string& text);
// Lets a write to a pipe whose reader is gone fail (and the program go on)
// instead of ending the process; the Windows build has nothing to do.
void IgnoreBrokenPipe();

// ---- Time ----------------------------------------------------------------------

// Seconds since 1970-01-01 UTC.
std::int64_t CurrentTime();
// Broken-down local time; false when the time cannot be represented.
bool ToLocalTime(std::int64_t seconds, std::tm* out);
// Seconds since 1970 from a local broken-down time (mktime), -1 on failure.
std::int64_t FromLocalTime(std::tm* local);

// ---- Code pages ------------------------------------------------------------------

// Narrow text is UTF-8 on every build (true); the Windows backend converts
// it to UTF-16 at every call, so that no name outside the ANSI code page is
// lost.
bool NarrowIsUtf8();
// Converts text in code page 850, the OEM code page of the names in zip
// files, to narrow text; returns the length written (at most capacity - 1,
// always terminated when capacity > 0; a character never cut).
std::size_t OemToNarrow(const char* text, std::size_t length, char* buffer, std::size_t capacity);
// Narrow text to code page 850: false when a character has no place there.
// Between narrow text and UTF-8: the text as it is.
bool NarrowToOem(const std::string& narrow, std::string* oem);
bool NarrowToUtf8(const std::string& narrow, std::string* utf8);
// Text in Windows-1252 (the program's own messages) as UTF-8.
std::string Windows1252ToUtf8(const std::string& text);
bool Utf8ToNarrow(const std::string& utf8, std::string* narrow);

// ---- Command line and console text -------------------------------------------

// The program's arguments as narrow text, its own name first. The Windows
// build reads the wide command line (GetCommandLineW, CommandLineToArgvW):
// the C runtime's argv would hold a character outside the ANSI code page as
// '?' or as a look-alike letter, naming another file. POSIX: argv itself.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// What both programs do first: a write to a closed pipe fails instead of
// ending the process, interruptions are handled (InstallInterruptHandling),
// and `run` gets the arguments of ProgramArguments; answers its status.
int RunProgram(int argc, char** argv, int (*run)(int argc, char** argv));

// Narrow text (a path, an entry name) as it goes to the console beside the
// program's own messages, which are Windows-1252 bytes: on Windows the text
// in Windows-1252, a character without a place there shown as '?'; on POSIX
// the text as it is.
std::string ConsoleText(const std::string& narrow);
// A text of the program's own (Windows-1252 bytes) as the console shows it:
// on Windows the bytes as they are, beside the names ConsoleText gives; on
// POSIX the text in UTF-8, as a terminal there expects.
std::string MessageText(const std::string& windows1252);

// ---- Synchronisation -----------------------------------------------------------

// A counting semaphore shared by the whole process.
class Semaphore {
 public:
  explicit Semaphore(long initialCount);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  void Wait();
  void Release();

 private:
  struct State;
  State* state_;
};

}  // namespace platform

#endif  // PAKKARO_PLATFORM_PLATFORM_H
