#include "zip/archive_base.h"

#include <cstring>
#include <new>

#include "fs/path_strings.h"

namespace korbel {

std::int64_t QueueFromSourcePath(void* /*context*/, void* /*buffer*/, std::size_t /*length*/) {
  // Never called for data: its address tells AddEntry to queue the entry.
  return -1;
}

ArchiveBase::ArchiveBase() : reporter_(this) {}

ArchiveBase::~ArchiveBase() = default;

int ArchiveBase::SetPassword(const char* text) {
  if (text == nullptr) {
    password_.reset();
    return 1;
  }
  try {
    password_ = std::make_unique<std::string>(text);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

std::int64_t ArchiveBase::EntryMode(int index) const {
  if (index < 0 || index >= EntryCount()) return -1;
  std::int64_t mode = IsReadOnly(index) ? 0x80000124 : 0x800001A4;
  if (IsFolder(index)) mode += 0x4000;
  return mode;
}

// What the base does not implement answers "not supported".
int ArchiveBase::AddFolderEntry(const char*) { return Fail(kUnsupported); }
int ArchiveBase::AddEntry(const char*, void*, ReadFunction, const EntrySource*) { return Fail(kUnsupported); }
int ArchiveBase::TestEntry(int) { return Fail(kUnsupported); }
int ArchiveBase::ReadEntry(int, void*, SinkFunction, fs::FileInfo*) { return Fail(kUnsupported); }
int ArchiveBase::SwitchMode(int) { return Fail(kUnsupported); }
int ArchiveBase::Commit() { return Fail(kUnsupported); }
int ArchiveBase::Close() { return Fail(kUnsupported); }
int ArchiveBase::EntryCount() const { return 0; }
void ArchiveBase::Discard() {}
int ArchiveBase::EntryStatus(int) const { return 0; }
const char* ArchiveBase::EntryName(int) const { return nullptr; }
const char* ArchiveBase::EntryNameAndLength(int, int* length) const {
  if (length != nullptr) *length = 0;
  return nullptr;
}
int ArchiveBase::SortEntries(int) { return Fail(kUnsupported); }
int ArchiveBase::SetFaulty(int, int) { return -1; }
int ArchiveBase::IsReadOnly(int) const { return 0; }
int ArchiveBase::IsFaulty(int) const { return -1; }
int ArchiveBase::IsDeleted(int) const { return 0; }
int ArchiveBase::IsFolder(int) const { return 0; }
int ArchiveBase::ProcessingState(int) const { return 0; }
std::uint64_t ArchiveBase::EntrySize(int, bool) const { return 0; }
int ArchiveBase::DeleteEntry(int) { return Fail(kUnsupported); }
int ArchiveBase::FindEntry(const char*) const { return -1; }
std::int64_t ArchiveBase::EntryTimeOf(int, int) const { return platform::kNoTime; }
std::int64_t ArchiveBase::EntryTime(int) const { return platform::kNoTime; }
std::uint64_t ArchiveBase::ProgressPosition(std::uint64_t* total) const {
  if (total != nullptr) *total = 0;
  return 0;
}
void* ArchiveBase::EntryUserData(int) const { return nullptr; }
int ArchiveBase::SetEntryUserData(int, void*) { return -1; }
int ArchiveBase::ProgressRun(int) { return 0; }
int ArchiveBase::SetProcessingState(int, int) { return -1; }
int ArchiveBase::LoadDirectory(int) { return Fail(kUnsupported); }

const char* ArchiveBase::ErrorText() {
  if (lastError_ != kOk && lastError_ != kUserAbort && !errorText_) {
    errorText_ = std::make_unique<char[]>(kErrorTextCapacity);
  }
  const char* detail = lastError_ == failedCode_ ? failedDetail_.c_str() : detailText_.c_str();
  if (detail != nullptr && detail[0] == '\0') detail = nullptr;
  return ComposeErrorText(lastError_, fullPath_, detail, errorText_.get());
}

int ArchiveBase::SetCallback(std::uintptr_t userData, ProgressCallback callback) {
  return reporter_.Install(userData, callback) ? 1 : 0;
}

std::uint32_t ArchiveBase::EnableEvents(std::uint32_t value, bool wholeMask) {
  return reporter_.Enable(value, wholeMask);
}

std::uint32_t ArchiveBase::DisableEvents(std::uint32_t value, bool wholeMask) {
  return reporter_.Disable(value, wholeMask);
}

std::uint32_t ArchiveBase::SetRawEvents(std::uint32_t value, int mode) {
  return reporter_.SetRawMask(value, mode);
}

int ArchiveBase::Report(int event, int entryIndex) {
  if (!reporter_.Wants(event)) return 0;
  if (event == kEventError) return reporter_.Report(event, entryIndex, ErrorText());
  const char* name = entryIndex >= 0 ? EntryName(entryIndex) : fullPath_;
  return reporter_.Report(event, entryIndex, name);
}

int ArchiveBase::Fail(int code, int entryIndex) {
  lastError_ = code;
  failedCode_ = code;
  failedDetail_ = detailText_;
  Report(kEventError, entryIndex);
  return code;
}

void ArchiveBase::SetFullPath(const char* path) {
  fs::CopyBounded(fullPath_, path != nullptr ? path : "", static_cast<int>(sizeof fullPath_));
  namePart_ = fullPath_[0] != '\0'
                  ? fs::GetNamePart(static_cast<int>(std::strlen(fullPath_)), fullPath_, nullptr)
                  : nullptr;
}

}  // namespace korbel
