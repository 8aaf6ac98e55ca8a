// Korbel: the zip archive object. One instance stands for one archive from
// Open to Close; it owns the store, the entry table and the current codec.
#ifndef PAKKARO_ZIP_KORBEL_H
#define PAKKARO_ZIP_KORBEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/file_finder.h"
#include "platform/platform.h"
#include "platform/resources.h"
#include "zip/archive_base.h"
#include "zip/archive_replacement.h"
#include "zip/archive_tail.h"
#include "zip/codec/codec_selection.h"
#include "zip/comment_field.h"
#include "zip/entry_decoder.h"
#include "zip/entry_reader.h"
#include "zip/entry_writer.h"
#include "zip/format/zip_entry.h"
#include "zip/held_folder.h"
#include "zip/kept_directory.h"
#include "zip/packing_writer.h"
#include "zip/run_progress.h"
#include "zip/table/entry_table.h"

namespace korbel {

struct ExtractPlace;

class Korbel : public ArchiveBase {
 public:
  Korbel();
  ~Korbel() override;

  // Opening and settings.
  // mode word: low 4 bits the mode (1 read, 2 modify, 3 create), the rest
  // becomes the option word.
  int Open(const char* name, std::uint32_t modeWord, int loaderArgument);
  // value -2 only queries.
  std::uint32_t Options(std::int64_t value);
  int SetLevel(int value);
  int SetMethod(int value);
  int OpenResource(platform::ResourceId name, platform::ResourceId type, std::uint32_t options);
  // block 1 asks for a growable block; usedSize -1: the whole block is archive.
  int OpenMemory(void* block, std::int64_t capacity, std::int64_t usedSize, std::uint32_t options);
  void SetArchiveComment(const char* comment);
  const char* ArchiveComment() const { return comment_.Text(); }

  // Adding.
  int AddFiles(const char* folder, const char* include, const char* exclude, const char* prefix);
  int AddFileByPath(const char* diskPath, const char* storedName);
  int AddFromMemory(const char* storedName, const void* data, std::size_t size, const EntrySource* source);

  // Extraction.
  int ExtractEntry(int index, const char* target);
  // The path ExtractEntry(index, target) would write, so that a caller can
  // look at a file already there before deciding; the placement's code
  // (kOk, or why the entry would be refused). Changes nothing.
  int ExtractTargetPath(int index, const char* target, std::string* path);
  int ExtractAll(const char* folder, int* errorCount);
  // The entries the caller reads next (ReadEntry, ExtractEntry, or
  // TestEntry when `testing`), in this order: they are decoded ahead on
  // worker threads of a read-only archive. The caller may leave entries of
  // the list out; one asked for out of its order is read as without the
  // list. An empty list ends the read-ahead; so do Close and SortEntries.
  void PlanReads(std::vector<int> indices, bool testing);

  // The slots.
  int AddFolderEntry(const char* name) override;
  int AddEntry(const char* name, void* sourceContext, ReadFunction read, const EntrySource* source) override;
  int TestEntry(int index) override;
  int ReadEntry(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info) override;
  int SwitchMode(int mode) override;
  int Commit() override;
  int Close() override;
  int EntryCount() const override { return table_.Count(); }
  void Discard() override;
  int EntryStatus(int index) const override;
  const char* EntryName(int index) const override;
  const char* EntryNameAndLength(int index, int* length) const override;
  int SortEntries(int key) override;
  int SetFaulty(int index, int faulty) override;
  int IsReadOnly(int index) const override;
  int IsFaulty(int index) const override;
  int IsDeleted(int index) const override;
  int IsFolder(int index) const override;
  int ProcessingState(int index) const override;
  std::uint64_t EntrySize(int index, bool compressed) const override;
  int DeleteEntry(int index) override;
  int FindEntry(const char* name) const override;
  std::int64_t EntryTimeOf(int index, int kind) const override;
  std::int64_t EntryTime(int index) const override;
  std::uint64_t ProgressPosition(std::uint64_t* total) const override;
  void* EntryUserData(int index) const override;
  int SetEntryUserData(int index, void* data) override;
  int ProgressRun(int kind) override;
  int SetProcessingState(int index, int state) override;
  int LoadDirectory(int loaderArgument) override;

  // Read access for tools and tests.
  const EntryTable& Table() const { return table_; }
  std::int64_t DirectoryStart() const { return tail_.DirectoryStart(); }
  // File entries in the directory that the last Close wrote.
  int WrittenFileCount() const { return writtenFiles_; }
  // The file a change is written to before it replaces the archive, empty
  // when none.
  const std::string& ReplacementPath() const { return replacement_.Path(); }

 protected:
  // Writes the queued entries at a commit (zip/packing_writer.cpp); tests
  // move its piece bounds so that small files are cut into pieces.
  PackingWriter packingWriter_{store_, tail_, table_, entryWriter_};

 private:
  // Empties the table and forgets what was kept of the loaded directory.
  void ClearTable();

  // The directory.
  void LoadDirectoryOrThrow();
  void WriteDirectory();
  void CompactDeletedSpace();
  void CommitOrThrow();
  void WritePendingEntries();

  // Opening.
  int OpenPrepared(std::uint32_t modeWord, int loaderArgument);
  // Notes the opened store's state and loads its directory.
  int Begin(int mode, std::uint32_t modeWord, int loaderArgument);
  int RefuseOpen(int code);
  // Called before the first write of a change (see ArchiveReplacement::Begin).
  void PrepareToWrite(bool copyArchive = true);
  // Writes the directory of a change and makes the change the archive's.
  int FinishChange(bool closing);
  // The two ways of SwitchMode.
  int SwitchToModify();
  int SwitchToReadOnly();
  ArchiveReplacement replacement_{&store_, sizeof fullPath_};

  // Adding.
  void SetPendingName(const std::string& name);
  // Adds one file the walk found, queued or at once; the entry's result code.
  int AddWalkedFile(const std::string& name, const std::string& sourcePath, const fs::FileInfo& info);
  int WriteEntryNow(int index, void* sourceContext, ReadFunction read, int method, int level);
  // Writes each entry's header and data, for the immediate and the queued
  // path (zip/entry_writer.cpp).
  EntryWriter entryWriter_{store_, tail_, codec_};

  // Reading.
  int ReadEntryInto(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info, bool testing);
  CodecSelection codec_;
  EntryReader reader_{&store_, &codec_};

  // Extraction.
  int WriteExtractedFile(int index, const std::string& leaf);

  HeldFolder heldFolder_;

  ArchiveTail tail_;
  EntryTable table_;
  KeptDirectory keptDirectory_;
  int writtenFiles_ = 0;
  CommentField comment_;
  RunProgress progress_;
  std::string pendingNameStore_;
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_KORBEL_H
