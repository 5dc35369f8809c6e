// What copies of the program that share a table keep in step, under the
// table's locks (see TableImpl.h for the lock bytes):
// - The header: re-read under the lock before anything depends on the
//   count (ReloadHeader), written after the records it counts.
// - The index: synced after taking a lock (SyncIndex), which re-reads it
//   when another copy changed it and refuses one left half changed.
// - A run of posts keeps the index's dirty mark on disk from one post to
//   the next while kRunLock is held; others trust such a mark only while
//   its holder lives (DirtyMarkIsLive), and EndRun writes the clean stamp.
// - The deleted-row note in the index header lets an open skip counting
//   deleted rows while the table file is exactly as the note describes.
#include "db/dbf/TableImpl.h"

namespace klv::dbf {

void Table::ReloadHeader() {
  Impl& im = *impl_;
  uint8_t h[kHeaderSize];
  if (im.dbf->ReadStart(kHeaderSize, 0, h, kHeaderSize) != kHeaderSize)
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path + "\" lost its header");
  uint32_t count = Get32(h + kRecordCount);
  // The count as we last knew it was checked then, or written by us after
  // its records: only a new count needs a look at the file's size.
  if (count != count_ &&
      (count > kMaxRecords ||
       im.header_len + static_cast<uint64_t>(count) * im.record_len > im.dbf->Size())) {
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path +
                                       "\" is damaged: its header counts " + std::to_string(count) +
                                       " records, more than the file holds");
  }
  std::memcpy(im.header, h, kHeaderSize);
  if (count < count_) im.scanned = std::min(im.scanned, count);
  count_ = count;
}

void Table::WriteHeader() {
  Impl& im = *impl_;
  TodayHeaderDate(im.header + kLastUpdate);
  Put32(im.header + 4, count_);
  // The date and the count, which lie side by side.
  im.dbf->WriteStart(kHeaderSize, kLastUpdate, im.header + kLastUpdate,
                     kRecordCount + 4 - kLastUpdate);
}

// After a write of ours, under the write lock: the file as we left it, and
// the deleted rows we know of noted in the index for the next open.
void Table::NoteOwnWrite() {
  Impl& im = *impl_;
  File::Status st = im.dbf->Stat();
  im.seen_mtime = st.modified_ns;
  NoteDeletedCount(st);
}

// The note is a shortcut for the next open, not part of the table: when it
// cannot be written the next open counts the rows itself.
void Table::NoteDeletedCount(const File::Status& st) {
  Impl& im = *impl_;
  if (!im.mdx || read_only_ || im.scanned != count_) return;
  try {
    im.mdx->WriteTableNote(
        MdxTableNote{static_cast<uint32_t>(im.deleted), count_, st.size, st.modified_ns});
  } catch (const DbfError&) {
  }
}

// Takes the count of deleted rows from the index's note when the table file
// is exactly as it was when the note was written.
void Table::AdoptDeletedCount(const File::Status& st) {
  Impl& im = *impl_;
  if (!im.mdx || im.scanned == count_) return;
  std::optional<MdxTableNote> note = im.mdx->TableNote();
  if (!note || note->record_count != count_ || note->deleted > count_ ||
      note->table_size != st.size || note->table_modified_ns != st.modified_ns)
    return;
  im.deleted = note->deleted;
  im.scanned = count_;
}

void Table::SyncIndex() {
  Impl& im = *impl_;
  im.mdx->Sync();
  if (im.mdx->Generation() != im.tags_gen) LoadTags();
  // Another copy changed the index since our run's last post: the dirty
  // mark on disk is no longer ours to hold.
  if (im.run && !im.mdx->HoldsDirty()) DropRun();
  MdxStamp st = im.mdx->Stamp();
  if (st.present && st.dirty && !im.mdx->HoldsDirty() && !DirtyMarkIsLive()) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path +
                                        "\" was left half changed by a program that stopped; "
                                        "its indexes must be regenerated");
  }
}

void Table::SyncActiveTag() {
  SyncIndex();
  if (impl_->active < 0) Fail(ErrorCode::kNoSuchTag, "The active index tag was deleted");
}

// Whether the dirty mark of the index belongs to a live copy in a run of
// posts. Such a copy leaves the index complete whenever it lets go of the
// write lock, so whoever holds that lock may trust it. Called under the
// write lock, by a copy that holds no run itself.
bool Table::DirtyMarkIsLive() {
  Impl& im = *impl_;
  if (im.run) return im.mdx && im.mdx->HoldsDirty();
  // A change under way marks the index 1, which nobody sees but after the
  // writer stopped or failed; only the mark a run keeps between changes
  // can be a live writer's.
  if (!im.mdx || !im.mdx->Stamp().kept) return false;
  if (!im.dbf->TryLock(kRunLock, 1, false)) return true;
  im.dbf->Unlock(kRunLock, 1);
  return false;
}

void Table::OpenIndexCreatedElsewhere() {
  Impl& im = *impl_;
  im.mdx_path = MdxPath();
  if (env_.Exists(im.mdx_path)) im.mdx = MdxFile::Open(env_, im.mdx_path, !read_only_);
}

// Ends a run of posts: the index gets its clean stamp. Never called with the
// write lock held.
void Table::EndRun() {
  Impl& im = *impl_;
  FlushAppends();
  if (!im.run) return;
  struct Release {
    Table& t;
    ~Release() { t.DropRun(); }
  } release{*this};
  if (!im.mdx) return;
  LockGuard lock(*im.dbf, true);
  im.mdx->Sync();
  if (!im.mdx->HoldsDirty()) {
    // Another copy changed the table during the run, perhaps deleting rows
    // this one counted.
    im.scanned = 0, im.deleted = 0;
    return;
  }
  // The count our own last post left, not the header's now: should anything
  // have added rows behind our back, the index must not claim them.
  im.mdx->FinishRun(im.run_count);
  if (im.mdx->Stamp().table_changes == im.seen_table_changes)
    NoteOwnWrite();
  else
    im.scanned = 0, im.deleted = 0;
}

void Table::DropRun() noexcept {
  Impl& im = *impl_;
  if (!im.run) return;
  im.run = false;
  // Unlocking a range of a descriptor we hold open does not fail; should it,
  // the lock goes with the descriptor at the latest.
  try {
    if (im.dbf) im.dbf->Unlock(kRunLock, 1);
  } catch (...) {
  }
}

}  // namespace klv::dbf
