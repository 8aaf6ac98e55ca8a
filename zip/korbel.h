// Korbel: the zip archive object. One instance stands for one archive from
// Open to Close. It keeps the public operations and hands the work to its
// collaborators, each a class with its own state and file: the entry table,
// the archive's tail, the replacement a change is written to, the entry
// writer and the packing of queued files, the entry reader with its
// read-ahead, the loaded directory kept for a change. The members below are
// grouped by the file that holds them.
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
  // ---- zip/korbel.cpp: opening, settings, changes and closing ----------------
  Korbel();
  ~Korbel() override;
  // mode word: low 4 bits the mode (1 read, 2 modify, 3 create), the rest
  // becomes the option word.
  int Open(const char* name, std::uint32_t modeWord, int loaderArgument);
  int OpenResource(platform::ResourceId name, platform::ResourceId type, std::uint32_t options);
  // block 1 asks for a growable block; usedSize -1: the whole block is archive.
  int OpenMemory(void* block, std::int64_t capacity, std::int64_t usedSize, std::uint32_t options);
  // value -2 only queries.
  std::uint32_t Options(std::int64_t value);
  int SetLevel(int value);
  int SetMethod(int value);
  void SetArchiveComment(const char* comment);
  const char* ArchiveComment() const { return comment_.Text(); }
  int SwitchMode(int mode) override;
  int Commit() override;
  int Close() override;
  void Discard() override;
  std::uint64_t ProgressPosition(std::uint64_t* total) const override;
  int ProgressRun(int kind) override;

  // Read access for tools and tests.
  const EntryTable& Table() const { return table_; }
  std::int64_t DirectoryStart() const { return tail_.DirectoryStart(); }
  // File entries in the directory that the last Close wrote.
  int WrittenFileCount() const { return writtenFiles_; }
  // The file a change is written to before it replaces the archive, empty
  // when none.
  const std::string& ReplacementPath() const { return replacement_.Path(); }

  // ---- zip/adding.cpp -------------------------------------------------------
  int AddFiles(const char* folder, const char* include, const char* exclude, const char* prefix);
  int AddFileByPath(const char* diskPath, const char* storedName);
  int AddFromMemory(const char* storedName, const void* data, std::size_t size, const EntrySource* source);
  int AddFolderEntry(const char* name) override;
  int AddEntry(const char* name, void* sourceContext, ReadFunction read, const EntrySource* source) override;

  // ---- zip/extraction.cpp ---------------------------------------------------
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
  int TestEntry(int index) override;
  int ReadEntry(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info) override;

  // ---- zip/korbel_entries.cpp: the operations that answer from the table ----
  int EntryCount() const override { return table_.Count(); }
  int EntryStatus(int index) const override;
  const char* EntryName(int index) const override;
  const char* EntryNameAndLength(int index, int* length) const override;
  int FindEntry(const char* name) const override;
  int SortEntries(int key) override;
  int DeleteEntry(int index) override;
  int SetFaulty(int index, int faulty) override;
  int IsReadOnly(int index) const override;
  int IsFaulty(int index) const override;
  int IsDeleted(int index) const override;
  int IsFolder(int index) const override;
  int ProcessingState(int index) const override;
  int SetProcessingState(int index, int state) override;
  std::uint64_t EntrySize(int index, bool compressed) const override;
  std::int64_t EntryTimeOf(int index, int kind) const override;
  std::int64_t EntryTime(int index) const override;
  void* EntryUserData(int index) const override;
  int SetEntryUserData(int index, void* data) override;

  // ---- zip/directory_reader.cpp ---------------------------------------------
  int LoadDirectory(int loaderArgument) override;

 private:
  // zip/korbel.cpp
  int OpenPrepared(std::uint32_t modeWord, int loaderArgument);
  // Notes the opened store's state and loads its directory.
  int Begin(int mode, std::uint32_t modeWord, int loaderArgument);
  int RefuseOpen(int code);
  // Called before the first write of a change (see ArchiveReplacement::Begin).
  void PrepareToWrite(bool copyArchive = true);
  void CommitOrThrow();
  // Writes the directory of a change and makes the change the archive's.
  int FinishChange(bool closing);
  // The two ways of SwitchMode.
  int SwitchToModify();
  int SwitchToReadOnly();

  // zip/adding.cpp
  // Adds one file the walk found, queued or at once; the entry's result code.
  int AddWalkedFile(const std::string& name, const std::string& sourcePath, const fs::FileInfo& info);
  int WriteEntryNow(int index, void* sourceContext, ReadFunction read, int method, int level);
  // The queued entries, through packingWriter_.
  void WritePendingEntries();

  // zip/extraction.cpp
  int ReadEntryInto(int index, void* sinkContext, SinkFunction sink, fs::FileInfo* info, bool testing);
  int WriteExtractedFile(int index, const std::string& leaf);

  // zip/korbel_entries.cpp
  // Empties the table and forgets what was kept of the loaded directory.
  void ClearTable();

  // zip/directory_reader.cpp, zip/directory_writer.cpp, zip/compaction.cpp
  void LoadDirectoryOrThrow();
  void WriteDirectory();
  void CompactDeletedSpace();

  // ---- The state, each part written through its own class ----------------
  EntryTable table_;
  ArchiveTail tail_;
  CommentField comment_;
  KeptDirectory keptDirectory_;
  ArchiveReplacement replacement_{&store_, sizeof fullPath_};
  // The codec that entries are written and read through on this thread.
  CodecSelection codec_;
  EntryWriter entryWriter_{store_, tail_, codec_};
  EntryReader reader_{&store_, &codec_};
  // The folder of the last extracted file, held for the next ones.
  HeldFolder heldFolder_;
  RunProgress progress_;
  int writtenFiles_ = 0;

 protected:
  // Writes the queued entries at a commit (zip/packing_writer.cpp); tests
  // move its piece bounds so that small files are cut into pieces.
  PackingWriter packingWriter_{store_, tail_, table_, entryWriter_};
};

}  // namespace korbel

#endif  // PAKKARO_ZIP_KORBEL_H
