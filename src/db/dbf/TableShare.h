// The protocol by which running copies of the program share one table, and
// the one definition of the lock bytes it uses. Internal to the engine.
//
// The lock bytes, on the .DBF far past any real end of file (other copies
// rely on these offsets; see the format notes):
// - kOpenLock: every open holds it, shared, or exclusive for an exclusive
//   open; holding it exclusively proves nobody else has the table open.
// - kWriteLock: held exclusively for changes to the header, the records'
//   order and the index; shared for lookups in the index and for reads
//   that must not see a torn row (the table's read lock).
// - kRunLock: held exclusively by a copy that keeps the index's dirty mark
//   on disk across a run of its own posts. A dirty mark while nobody holds
//   it was left by a change that never finished.
// - kRecordLockBase + recno: held exclusively while that row is in edit.
//
// What copies keep in step, under those locks (SharedTableProtocol):
// - The header: re-read under the lock before anything depends on the
//   count (ReloadHeader), written after the records it counts.
// - The index: synced after taking a lock (SyncIndex), which re-reads it
//   when another copy changed it and refuses one left half changed.
// - A run of posts keeps the index's dirty mark on disk from one post to
//   the next while kRunLock is held; others trust such a mark only while
//   its holder lives (DirtyMarkIsLive), and EndRun writes the clean stamp.
//   Within a run the index's change counter tells whether another copy
//   deleted rows since our last post (CheckChangeCounter).
// - The deleted-row note in the index header lets an open skip counting
//   deleted rows while the table file is exactly as the note describes.
//   The counts of deleted rows are dropped whenever the file changed
//   behind our back (ForgetCountsIfChanged, Refreshed).
#pragma once

#include <cstdint>

#include "db/dbf/Base.h"
#include "db/dbf/Table.h"

namespace klv::dbf {
namespace tbl {

constexpr uint64_t kOpenLock = 0x7FFFFFFF00000000ULL;
constexpr uint64_t kWriteLock = kOpenLock + 1;
constexpr uint64_t kRunLock = kOpenLock + 2;
constexpr uint64_t kRecordLockBase = kOpenLock + 16;

// The protocol as one table's open follows it. Owned by the table's Impl,
// whose file, index and counts it works on; it keeps the state of the run
// and what it last saw of the file and the index.
class SharedTableProtocol {
 public:
  explicit SharedTableProtocol(Table::Impl& im) : im_(im) {}
  SharedTableProtocol(const SharedTableProtocol&) = delete;
  SharedTableProtocol& operator=(const SharedTableProtocol&) = delete;

  // The lock bytes of any descriptor of a table file.
  static bool TryOpenLock(File& dbf, bool exclusive) {
    return dbf.TryLock(kOpenLock, 1, exclusive);
  }
  // Back to a shared open after TryOpenLock(dbf, true); waits.
  static void ShareOpenLock(File& dbf) { dbf.Lock(kOpenLock, 1, false); }
  static void LockTable(File& dbf, bool exclusive) { dbf.Lock(kWriteLock, 1, exclusive); }
  static bool TryLockTableAlone(File& dbf) { return dbf.TryLock(kWriteLock, 1, true); }
  static void UnlockTable(File& dbf) { dbf.Unlock(kWriteLock, 1); }
  bool TryLockRecord(uint32_t recno);
  void UnlockRecord(uint32_t recno);

  // Forgets the run and what was seen, at close (the locks go with the
  // descriptor).
  void Reset() noexcept;
  // The table file as opened.
  void SeeFile(int64_t modified_ns) { seen_mtime_ = modified_ns; }
  // Under the write lock before a change of ours: when another process
  // changed the file since we last looked, the deleted rows counted so far
  // may be wrong, and the modification stamp our own write leaves would
  // hide that.
  void ForgetCountsIfChanged();
  // At a refresh, under the read lock: the file as it is now.
  void Refreshed(const File::Status& st);

  void ReloadHeader();
  void WriteHeader();
  // The index under the write lock: synced, tags reloaded when it was
  // re-read, and refused when another copy left a change unfinished.
  void SyncIndex();
  // SyncIndex for a lookup in the active tag, which another copy may have deleted.
  void SyncActiveTag();
  bool DirtyMarkIsLive();
  void OpenIndexCreatedElsewhere();

  // The deleted-row note (see the top of this file).
  void NoteOwnWrite();
  void NoteDeletedCount(const File::Status& st);
  void AdoptDeletedCount(const File::Status& st);
  // After counting the deleted rows of the whole table: noted unless
  // someone is writing or the file changed since we last looked.
  void NoteCountedRows();

  // Runs of posts that keep the index's dirty mark (see Post).
  bool InRun() const { return run_; }
  // Whether this copy's run goes on from its last post with nobody else
  // having written since: then the header's count is still ours.
  bool RunContinues() const;
  // Takes the run lock before the dirty mark of a run's first change
  // reaches the disk; another copy's run keeps this one to plain changes.
  void TryBeginRun();
  // Under the write lock before a change (after PrepareWrite's syncs): the
  // counts of deleted rows dropped when others deleted rows or changed the
  // file since we last saw it.
  void CheckChangeCounter(bool continuing);
  // After a change of ours that added or rewrote rows: in a run, the count
  // it left (the file is noted when the run ends); else the file noted.
  void AfterOwnChange();
  // Ends a run: the index gets its clean stamp. Never called with the
  // write lock held.
  void EndRun();
  void DropRun() noexcept;

 private:
  Table::Impl& im_;
  bool run_ = false;
  uint32_t run_count_ = 0;  // the record count the run's last post left
  // The index stamp's count of others' deletes, as of our last post.
  uint32_t seen_table_changes_ = 0;
  int64_t seen_mtime_ = 0;  // the file's stamp as we last saw or left it
};

// Holds the table's write lock (exclusive) or read lock (shared) for a scope.
class LockGuard {
 public:
  LockGuard(File& file, bool exclusive) : file_(file) {
    SharedTableProtocol::LockTable(file_, exclusive);
  }
  ~LockGuard() {
    try {
      SharedTableProtocol::UnlockTable(file_);
    } catch (...) {
    }
  }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  File& file_;
};

}  // namespace tbl
}  // namespace klv::dbf
