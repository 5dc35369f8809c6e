// A dBase IV production index (.MDX): a file of 512-byte pages grouped in
// 1024-byte blocks, holding up to 47 tags, each a B-tree of (key, record
// number) entries. The layout is described in doc/dbase-format.md.
//
// Entries are totally ordered by (key, record number): duplicates of one key
// sit in record-number order. Descending tags reverse the key order (record
// numbers stay ascending within one key).
//
// The file is shared between processes. MdxFile itself takes no locks: its
// owner (the table) holds the table's write lock around every change and its
// read lock around every lookup, and calls Sync() after taking either, which
// drops cached pages when another process has changed the file since.
//
// Every read of a page checks it: a page number outside the file, a key count
// that does not fit a block, keys out of order or a walk that revisits a page
// throws DbfError kCorruptIndex naming the file and the page. No read goes
// outside a buffer whatever the bytes hold.
//
// Every change (Insert, Remove, AddTag, DeleteTag, Rebuild) must lie between
// BeginChange and EndChange (else kBadState; kReadOnly when opened read-only).
// An error that strikes while pages are half changed (I/O, damage met during
// an update) fails the change: every further call then throws kBadState
// until AbandonChange. Errors found before anything changed (kBadValue,
// kKeyNotFound, a duplicate entry) leave the change usable.
//
// Keys given to Insert, Remove and Builder::Add have exactly the tag's
// key_length bytes (else kBadValue). Seek keys of character tags may be
// shorter: they compare as prefixes, so SeekGE("AB", 0) finds the first key
// starting with "AB" on an ascending tag. The unique flag is stored, not
// enforced: keeping one record per key is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/dbf/Base.h"

namespace klv::dbf {

enum class KeyType : char { kChar = 'C', kNumeric = 'N', kDate = 'D' };

struct TagDef {
  std::string name;        // upper case, at most 10 characters
  std::string expression;  // as stored in the tag header (at most 220 bytes)
  KeyType type = KeyType::kChar;
  int key_length = 0;  // bytes: char width, 12 for numeric, 8 for date
  bool descending = false;
  bool unique = false;
};

struct IndexEntry {
  std::string key;  // key_length bytes as stored
  uint32_t recno = 0;
};

// dBase IV stores numeric keys as 12-byte BCD and date keys as an 8-byte
// little-endian double holding the Julian day number.
constexpr int kNumericKeyLength = 12;
std::string EncodeNumericKey(double value);
double DecodeNumericKey(std::string_view key);
std::string EncodeDateKey(double julian_day);
double DecodeDateKey(std::string_view key);
// <0, 0, >0 as a sorts before, equal to or after b in ascending key order.
int CompareKeys(KeyType type, std::string_view a, std::string_view b);

// Our own bookkeeping, kept in bytes of the file header that the format
// leaves unused (other readers ignore them): it ties the index to the state
// of its table so that a stale or half-written index is detected, never
// trusted.
struct MdxStamp {
  bool present = false;  // false for an index last written by other software
  bool dirty = false;    // a change was begun and not finished
  // dirty, but left so by EndChange(keep_dirty) at the end of a finished
  // change: trustworthy while its writer lives (the owner's business).
  bool kept = false;
  uint32_t table_changes = 0;   // 24 bits, bumped by NoteTableChange
  uint32_t record_count = 0;    // the table's record count when last finished
  uint32_t change_counter = 0;  // bumped by every change: lets other copies drop caches
};

// What the table last knew of its deleted rows, kept in the index header so
// that an open need not read every record to count them. It speaks of the
// table file only while that file still has the size and modification
// stamp noted with it; the table checks that before trusting it.
struct MdxTableNote {
  uint32_t deleted = 0;
  uint32_t record_count = 0;
  uint64_t table_size = 0;
  int64_t table_modified_ns = 0;
};

class MdxFile {
 public:
  // Opens an existing index; throws kNotFound, kIo or kCorruptIndex. An index
  // whose stamp is dirty still opens when its header can be read: a tag whose
  // own header block was lost then shows key_length 0 and an empty
  // expression, and every use of it except DeleteTag throws kCorruptIndex.
  static std::unique_ptr<MdxFile> Open(Env& env, const std::string& path, bool writable);
  // Writes a new index with no tags at path (through a temporary file renamed
  // into place) and opens it for writing. table_name is the .DBF base name.
  static std::unique_ptr<MdxFile> Create(Env& env, const std::string& path,
                                         std::string_view table_name);
  ~MdxFile();

  const std::string& path() const;

  // Re-reads the file header; when another process changed the file since
  // the last call, drops every cached page and re-reads the tag table (which
  // invalidates references returned by Tag()). Does nothing inside a change.
  void Sync();

  MdxStamp Stamp() const;
  // Marks the start of a change (syncs, sets dirty, bumps the counter, writes
  // the header and flushes it to the disk); EndChange writes every modified
  // page, flushes, then clears dirty and records the table's record count. A
  // process killed in between leaves dirty set, so the next open knows the
  // index cannot be trusted. When EndChange throws, the change is already
  // abandoned; it throws kBadState while a Builder is unfinished, and after
  // a failed or unfinished step (the index then stays dirty).
  //
  // just_synced: the caller called Sync() after taking the lock it still
  // holds, so the header need not be read again.
  //
  // keep_dirty: the change is finished (every page, tag root and the header
  // with the counter and record count are written) but the dirty mark stays
  // on disk, so that a run of changes by this copy writes it once instead of
  // twice per change. While HoldsDirty(), BeginChange writes no header. The
  // owner must make a held mark known to other copies as "taken by a live
  // writer" (the table does it with a lock) and end the run with FinishRun;
  // a process killed in the run leaves the mark set, as for any change.
  void BeginChange(bool just_synced = false);
  void EndChange(uint32_t record_count, bool keep_dirty = false);
  // Drops unwritten page changes after a failure inside a change (the
  // stamp stays dirty on disk, so the index will be rebuilt).
  void AbandonChange();
  // Whether the dirty mark on disk is this copy's, left by a kept-dirty
  // EndChange with nobody changing the file since (as far as the last Sync
  // saw).
  bool HoldsDirty() const;
  // Ends a run of kept-dirty changes: writes the tag headers still due and
  // the clean stamp with record_count. Call under the owner's write lock
  // after Sync(); does nothing unless HoldsDirty() (another copy's later
  // change then stands).
  void FinishRun(uint32_t record_count);
  // Bumps the stamp's count of table changes on disk, so that other copies
  // notice a change of the table that leaves the index as it is (a deleted
  // row): Sync() reads it without dropping any cached page. Outside a
  // change, under the owner's write lock, after Sync().
  void NoteTableChange();
  // The note as the header last read or written holds it; none when the
  // index was written by other software, never noted, or the note is torn.
  std::optional<MdxTableNote> TableNote() const;
  // Writes the note into the header, under the owner's write lock after
  // Sync(), outside a change. Does nothing for an index we cannot or should
  // not write (read-only, other software's, failed); throws kIo when the
  // write fails (the note is then unreadable, never wrong).
  void WriteTableNote(const MdxTableNote& note);
  // Changes whenever the header and the tags were re-read (by Sync or after
  // a failure): references from Tag() and cached tag numbers are then stale.
  uint64_t Generation() const;

  int TagCount() const;
  const TagDef& Tag(int tag) const;
  int FindTag(std::string_view name) const;  // case-insensitive; -1 when absent

  // Adds an empty tag and returns its number; kBadDefinition when the name
  // exists, the table of tags is full, or the key is longer than 100 bytes.
  int AddTag(const TagDef& def);
  // Removes the tag and frees its pages for reuse (its header block only
  // from the next change on). Tag numbers above it move down by one.
  void DeleteTag(int tag);

  // Replaces the contents of a tag by entries given in ascending order, one
  // Add call each; leaves are written as they fill, so memory stays small.
  // Entries must come strictly in the tag's order (descending tags: keys
  // descending, record numbers ascending), else Add throws kBadState. The tag
  // is empty from Rebuild on and unusable (kBadState) until Finish; a Builder
  // dropped unfinished makes EndChange fail. It must not outlive its MdxFile.
  class Builder {
   public:
    virtual ~Builder() = default;
    virtual void Add(std::string_view key, uint32_t recno) = 0;
    virtual void Finish() = 0;
  };
  std::unique_ptr<Builder> Rebuild(int tag);

  // Incremental maintenance. Remove throws kKeyNotFound when the entry is
  // absent, Insert kBadState when the same (key, recno) is already there.
  void Insert(int tag, std::string_view key, uint32_t recno);
  void Remove(int tag, std::string_view key, uint32_t recno);

  // Positioning, all O(tree depth).
  std::optional<IndexEntry> First(int tag);
  std::optional<IndexEntry> Last(int tag);
  // First entry not before (key, recno), resp. strictly after it.
  std::optional<IndexEntry> SeekGE(int tag, std::string_view key, uint32_t recno);
  std::optional<IndexEntry> SeekGT(int tag, std::string_view key, uint32_t recno);
  // Last entry not after (key, recno), resp. strictly before it.
  std::optional<IndexEntry> SeekLE(int tag, std::string_view key, uint32_t recno);
  std::optional<IndexEntry> SeekLT(int tag, std::string_view key, uint32_t recno);

  // Up to max entries appended to out, in the tag's order or (backwards)
  // against it, starting at from (included when inclusive, else the entry
  // next to it in the walk's direction), or at the first (last) entry when
  // from is null. One descent for the lot: a walk reads a batch of entries
  // per lookup instead of one.
  void Scan(int tag, bool backwards, const IndexEntry* from, bool inclusive, size_t max,
            std::vector<IndexEntry>* out);

  // Approximate position in [0, 1] of an entry, and an entry near a position,
  // from the positions taken at each tree level (for scroll bars).
  double Fraction(int tag, std::string_view key, uint32_t recno);
  std::optional<IndexEntry> AtFraction(int tag, double fraction);

  // Walks every entry in order, checking the whole tree (order, links, page
  // bounds, loops); calls visit for each entry. Throws kCorruptIndex.
  void Walk(int tag, const std::function<void(const IndexEntry&)>& visit);
  uint64_t KeyCount(int tag);

  // Bounds the block cache (default 4096 blocks of 1 KiB). Blocks in use by
  // the operation at hand are kept even beyond it; tiny limits are for tests
  // that need the eviction path.
  void SetCacheLimit(size_t blocks);

  // Whether each change is flushed to the device (fsync) at its two ordering
  // points. Off by default: the write order alone already keeps the index
  // right or marked dirty when a process is killed, and a sync per row would
  // make appends a hundred times slower. Turn it on to survive power loss.
  void SetSyncWrites(bool sync);

  struct Impl;

 private:
  explicit MdxFile(std::unique_ptr<Impl> impl);
  std::optional<IndexEntry> Seek(int tag, std::string_view key, uint32_t recno, bool strict,
                                 bool backwards);
  std::unique_ptr<Impl> impl_;
};

}  // namespace klv::dbf
