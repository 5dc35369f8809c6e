// The protocol between running copies of the program that share a table
// (see TableShare.h for the contract).
#include "db/dbf/TableShare.h"

#include "db/dbf/TableImpl.h"

namespace klv::dbf::tbl {

bool SharedTableProtocol::TryLockRecord(uint32_t recno) {
  return im_.dbf->TryLock(kRecordLockBase + recno, 1, true);
}

void SharedTableProtocol::UnlockRecord(uint32_t recno) {
  im_.dbf->Unlock(kRecordLockBase + recno, 1);
}

void SharedTableProtocol::Reset() noexcept {
  run_ = false;
  run_count_ = 0;
  seen_table_changes_ = 0;
  seen_mtime_ = 0;
}

void SharedTableProtocol::ForgetCountsIfChanged() {
  if (im_.dbf->ModifiedNs() != seen_mtime_) im_.scanned = 0, im_.deleted = 0;
}

void SharedTableProtocol::Refreshed(const File::Status& st) {
  if (st.modified_ns == seen_mtime_) return;
  im_.scanned = 0;
  im_.deleted = 0;
  seen_mtime_ = st.modified_ns;
}

void SharedTableProtocol::ReloadHeader() {
  uint8_t h[kHeaderSize];
  if (im_.dbf->ReadStart(kHeaderSize, 0, h, kHeaderSize) != kHeaderSize)
    Fail(ErrorCode::kCorruptTable, "The im_.table \"" + im_.dbf_path + "\" lost its im_.header");
  uint32_t count = Get32(h + kRecordCount);
  // The count as we last knew it was checked then, or written by us after
  // its records: only a new count needs a look at the file's size.
  if (count != im_.count() &&
      (count > kMaxRecords ||
       im_.header_len + static_cast<uint64_t>(count) * im_.record_len > im_.dbf->Size())) {
    Fail(ErrorCode::kCorruptTable,
         "The im_.table \"" + im_.dbf_path + "\" is damaged: its im_.header counts " +
             std::to_string(count) + " records, more than the file holds");
  }
  std::memcpy(im_.header, h, kHeaderSize);
  if (count < im_.count()) im_.scanned = std::min(im_.scanned, count);
  im_.count() = count;
}

void SharedTableProtocol::WriteHeader() {
  TodayHeaderDate(im_.header + kLastUpdate);
  Put32(im_.header + 4, im_.count());
  // The date and the count, which lie side by side.
  im_.dbf->WriteStart(kHeaderSize, kLastUpdate, im_.header + kLastUpdate,
                      kRecordCount + 4 - kLastUpdate);
}

// After a write of ours, under the write lock: the file as we left it, and
// the deleted rows we know of noted in the index for the next open.
void SharedTableProtocol::NoteOwnWrite() {
  File::Status st = im_.dbf->Stat();
  seen_mtime_ = st.modified_ns;
  NoteDeletedCount(st);
}

// The note is a shortcut for the next open, not part of the table: when it
// cannot be written the next open counts the rows itself.
void SharedTableProtocol::NoteDeletedCount(const File::Status& st) {
  if (!im_.mdx || im_.table.read_only() || im_.scanned != im_.count()) return;
  try {
    im_.mdx->WriteTableNote(
        MdxTableNote{static_cast<uint32_t>(im_.deleted), im_.count(), st.size, st.modified_ns});
  } catch (const DbfError&) {
  }
}

// Takes the count of deleted rows from the index's note when the table file
// is exactly as it was when the note was written.
void SharedTableProtocol::AdoptDeletedCount(const File::Status& st) {
  if (!im_.mdx || im_.scanned == im_.count()) return;
  std::optional<MdxTableNote> note = im_.mdx->TableNote();
  if (!note || note->record_count != im_.count() || note->deleted > im_.count() ||
      note->table_size != st.size || note->table_modified_ns != st.modified_ns)
    return;
  im_.deleted = note->deleted;
  im_.scanned = im_.count();
}

void SharedTableProtocol::NoteCountedRows() {
  if (!im_.mdx || im_.table.read_only() || !TryLockTableAlone(*im_.dbf)) return;
  try {
    File::Status st = im_.dbf->Stat();
    if (st.modified_ns == seen_mtime_) NoteDeletedCount(st);
  } catch (const DbfError&) {
  }
  UnlockTable(*im_.dbf);
}

bool SharedTableProtocol::RunContinues() const {
  return run_ && im_.mdx && im_.mdx->HoldsDirty() && im_.count() == run_count_;
}

void SharedTableProtocol::TryBeginRun() {
  if (!run_) run_ = im_.dbf->TryLock(kRunLock, 1, true);
}

void SharedTableProtocol::CheckChangeCounter(bool continuing) {
  uint32_t table_changes = im_.mdx ? im_.mdx->Stamp().table_changes : 0;
  if (!continuing)
    ForgetCountsIfChanged();
  else if (table_changes != seen_table_changes_)
    im_.scanned = 0, im_.deleted = 0;  // another copy deleted rows
  seen_table_changes_ = table_changes;
}

void SharedTableProtocol::AfterOwnChange() {
  if (run_)
    run_count_ = im_.count();
  else
    NoteOwnWrite();
}

void SharedTableProtocol::SyncIndex() {
  im_.mdx->Sync();
  if (im_.mdx->Generation() != im_.tags_gen) im_.LoadTags();
  // Another copy changed the index since our run's last post: the dirty
  // mark on disk is no longer ours to hold.
  if (run_ && !im_.mdx->HoldsDirty()) DropRun();
  MdxStamp st = im_.mdx->Stamp();
  if (st.present && st.dirty && !im_.mdx->HoldsDirty() && !DirtyMarkIsLive()) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + im_.mdx_path +
                                        "\" was left half changed by a program that stopped; "
                                        "its indexes must be regenerated");
  }
}

void SharedTableProtocol::SyncActiveTag() {
  SyncIndex();
  if (im_.active < 0) Fail(ErrorCode::kNoSuchTag, "The im_.active index tag was im_.deleted");
}

// Whether the dirty mark of the index belongs to a live copy in a run of
// posts. Such a copy leaves the index complete whenever it lets go of the
// write lock, so whoever holds that lock may trust it. Called under the
// write lock, by a copy that holds no run itself.
bool SharedTableProtocol::DirtyMarkIsLive() {
  if (run_) return im_.mdx && im_.mdx->HoldsDirty();
  // A change under way marks the index 1, which nobody sees but after the
  // writer stopped or failed; only the mark a run keeps between changes
  // can be a live writer's.
  if (!im_.mdx || !im_.mdx->Stamp().kept) return false;
  if (!im_.dbf->TryLock(kRunLock, 1, false)) return true;
  im_.dbf->Unlock(kRunLock, 1);
  return false;
}

void SharedTableProtocol::OpenIndexCreatedElsewhere() {
  im_.mdx_path = im_.table.MdxPath();
  if (im_.env.Exists(im_.mdx_path))
    im_.mdx = MdxFile::Open(im_.env, im_.mdx_path, !im_.table.read_only());
}

void SharedTableProtocol::EndRun() {
  if (!run_) return;
  struct Release {
    SharedTableProtocol& share;
    ~Release() { share.DropRun(); }
  } release{*this};
  if (!im_.mdx) return;
  LockGuard lock(*im_.dbf, true);
  im_.mdx->Sync();
  if (!im_.mdx->HoldsDirty()) {
    // Another copy changed the table during the run, perhaps deleting rows
    // this one counted.
    im_.scanned = 0, im_.deleted = 0;
    return;
  }
  // The count our own last post left, not the header's now: should anything
  // have added rows behind our back, the index must not claim them.
  im_.mdx->FinishRun(run_count_);
  if (im_.mdx->Stamp().table_changes == seen_table_changes_)
    NoteOwnWrite();
  else
    im_.scanned = 0, im_.deleted = 0;
}

void SharedTableProtocol::DropRun() noexcept {
  if (!run_) return;
  run_ = false;
  // Unlocking a range of a descriptor we hold open does not fail; should it,
  // the lock goes with the descriptor at the latest.
  try {
    if (im_.dbf) im_.dbf->Unlock(kRunLock, 1);
  } catch (...) {
  }
}

}  // namespace klv::dbf::tbl
