// ArchiveBase: the state every archive kind shares, and the operations every
// kind offers, in the order of their slots. Korbel is the zip kind.
#ifndef PAKKARO_ZIP_ARCHIVE_BASE_H
#define PAKKARO_ZIP_ARCHIVE_BASE_H

#include <cstdint>
#include <memory>
#include <string>

#include "fs/file_info.h"
#include "zip/error_codes.h"
#include "zip/error_texts.h"
#include "zip/format/zip_entry.h"
#include "zip/io/archive_store.h"
#include "zip/io/data_stream.h"
#include "zip/progress_reporter.h"
#include "zip/table/sort_key.h"

namespace korbel {

// Progress events.
enum ProgressEvent : int {
  kEventOpen = 0,
  kEventFound = 1,
  kEventRemove = 2,
  kEventClose = 4,
  kEventAdded = 6,
  kEventCompress = 7,
  kEventExtract = 8,
  kEventWriteBack = 9,
  kEventError = 10,
  kEventExtracted = 11,
  kEventTest = 12,
  kEventSort = 13,
  kEventCompressed = 14,
  kEventSkip = 15,
};

// Bits of the option word.
enum OptionBits : std::uint32_t {
  kModeBits = 0x000F,  // in Open's mode word only
  kSkipNameCheck = 0x0010,
  kTolerant = 0x0020,
  kKeepExisting = 0x0040,
  kKeepDrive = 0x0080,
  kSortKeyBits = 0x0300,
  kKeepSorted = 0x0400,
  kFullPathNames = 0x0800,
  kRecurse = 0x1000,
  kFreshen = 0x2000,
  kAutomaticMethod = 0x4000,
  kStoredMethod = 0x8000,
};

enum OpenMode : int { kClosed = 0, kReadOnly = 1, kModify = 2, kCreate = 3 };

// A file to add: its FileInfo and, for a queued entry, the source path at
// its full length (a cut path would open another file, or none).
struct EntrySource {
  fs::FileInfo info;
  std::string path;
};

// Passed as AddEntry's read function: queue the entry, its data comes from
// the source path at close.
std::int64_t QueueFromSourcePath(void* context, void* buffer, std::size_t length);

// Receives the bytes of an entry being read: the count taken; a short or
// negative count is a write failure. The last call has no data and count 0.
using SinkFunction = std::int64_t (*)(void* context, const void* data, std::size_t length);

class ArchiveBase {
 public:
  ArchiveBase();
  virtual ~ArchiveBase();
  ArchiveBase(const ArchiveBase&) = delete;
  ArchiveBase& operator=(const ArchiveBase&) = delete;

  // Slot 1: copies the password, or removes it with null; 1, or 0 when the
  // copy cannot be made.
  virtual int SetPassword(const char* text);
  virtual int AddFolderEntry(const char* name);
  virtual int AddEntry(const char* name, void* sourceContext, ReadFunction read, const EntrySource* source);
  virtual int TestEntry(int index);
  virtual int ReadEntry(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info);
  virtual int SwitchMode(int mode);
  virtual int Commit();
  virtual int Close();
  virtual int EntryCount() const;
  virtual void Discard();
  virtual int EntryStatus(int index) const;
  virtual const char* EntryName(int index) const;
  virtual const char* EntryNameAndLength(int index, int* length) const;
  // key: sort bits, or -1 for the option word's.
  virtual int SortEntries(int key);
  virtual int SetFaulty(int index, int faulty);
  virtual int IsReadOnly(int index) const;
  virtual int IsFaulty(int index) const;
  virtual int IsDeleted(int index) const;
  virtual int IsFolder(int index) const;
  virtual int ProcessingState(int index) const;
  virtual std::uint64_t EntrySize(int index, bool compressed) const;
  virtual int DeleteEntry(int index);
  virtual int FindEntry(const char* name) const;
  // Seconds since 1970 (negative before); kind 0 modified, 1 created,
  // 2 accessed. platform::kNoTime for none and for a bad index or kind.
  virtual std::int64_t EntryTimeOf(int index, int kind) const;
  virtual std::int64_t EntryTime(int index) const;
  virtual std::uint64_t ProgressPosition(std::uint64_t* total) const;
  // Permission-style value; -1 for a bad index.
  virtual std::int64_t EntryMode(int index) const;
  virtual void* EntryUserData(int index) const;
  virtual int SetEntryUserData(int index, void* data);
  virtual int ProgressRun(int kind);
  virtual int SetProcessingState(int index, int state);
  virtual int LoadDirectory(int loaderArgument);

  // The error state and the progress callback.
  int LastError() const { return lastError_; }
  const char* ErrorText();
  int SetCallback(std::uintptr_t userData, ProgressCallback callback);
  std::uint32_t EnableEvents(std::uint32_t value, bool wholeMask);
  std::uint32_t DisableEvents(std::uint32_t value, bool wholeMask);
  std::uint32_t SetRawEvents(std::uint32_t value, int mode);
  const std::uint32_t* PartLengths() const { return reporter_.partLengths(); }

  const char* FullPath() const { return fullPath_; }
  int Mode() const { return openMode_; }
  ArchiveStore& Store() { return store_; }

 protected:
  // Reports an event when a callback is installed and the event is enabled;
  // the callback's answer, 0 otherwise.
  int Report(int event, int entryIndex);
  bool EventEnabled(int event) const { return reporter_.Wants(event); }
  // Stores a failure, reports event 10 and answers the code.
  int Fail(int code, int entryIndex = -1);
  void SetFullPath(const char* path);
  // Stores the code of the last operation and answers it.
  int SetLastError(int code) { return lastError_ = code; }
  // The name of the entry being added, which event callbacks ask for by the
  // index one past the last entry; null when none is.
  void SetPendingName(const std::string& name) {
    pendingNameStore_ = name;
    pendingName_ = pendingNameStore_.c_str();
  }
  void ClearPendingName() { pendingName_ = nullptr; }
  const char* PendingName() const { return pendingName_; }

  ArchiveStore store_;
  std::int64_t sourceSize_ = 0;
  int openMode_ = kClosed;
  std::uint32_t options_ = 0;
  int method_ = -1;
  int level_ = 9;
  bool storeOnGrowthRetry_ = false;
  bool queuedAdding_ = false;
  bool writingAllowed_ = true;
  ProgressReporter reporter_;
  char fullPath_[256] = {};
  const char* namePart_ = nullptr;
  std::unique_ptr<char[]> errorText_;
  // A copy: the entry or file it names may be gone by the time it is shown.
  std::string detailText_ = "???";
  // The detail as it stood when the last code was raised through Fail: a
  // text asked for later names the file that failed, not the one after it.
  int failedCode_ = kOk;
  std::string failedDetail_;
  std::unique_ptr<std::string> password_;

 private:
  int lastError_ = kOk;
  std::string pendingNameStore_;
  const char* pendingName_ = nullptr;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_ARCHIVE_BASE_H
