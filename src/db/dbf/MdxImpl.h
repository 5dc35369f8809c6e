// The index file's insides, shared by the files that implement it (Mdx*.cpp)
// and by nothing else: the file's geometry and header offsets, the cached
// blocks, the paths through a tree, and the open state (MdxFile::Impl) with
// its parts, each implemented in its own file:
//   MdxCache.cpp     raw I/O and the block cache
//   MdxHeader.cpp    the file header, our stamp and notes, the tag table
//   MdxFreeList.cpp  free blocks
//   MdxTree.cpp      comparisons, descents and changes of the B-trees
//   MdxBuild.cpp     the bulk builder of a tag
//   MdxKeys.cpp      numeric and date keys
//   Mdx.cpp          MdxFile's public operations
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Ascii.h"
#include "base/Bytes.h"
#include "db/dbf/Base.h"
#include "db/dbf/Mdx.h"

namespace klv::dbf {
namespace mdx {

using base::Get16;
using base::Get24;
using base::Get32;
using base::Get64;
using base::Put16;
using base::Put32;
using base::Put64;
using base::UpperAscii;

// File geometry. Every pointer in the file is a 512-byte page number; nodes
// and tag headers occupy one 1024-byte block (two pages).
constexpr uint32_t kPageSize = 512;
constexpr uint32_t kBlockSize = 1024;
constexpr uint32_t kPagesPerBlock = 2;
constexpr uint32_t kHeaderSize = 2048;  // pages 0-3
constexpr uint32_t kFirstNodePage = kHeaderSize / kPageSize;
constexpr int kNodeHeader = 8;                            // key count, free-list link
constexpr int kNodeSpace = kBlockSize - kNodeHeader - 4;  // 1012: items plus the last pointer

// Bytes of the file header (see the format notes).
constexpr int kHdrVersion = 0;
constexpr int kHdrCreated = 1;  // year - 1900, month, day
constexpr int kHdrTableName = 4;
constexpr int kHdrPagesPerBlock = 20;
constexpr int kHdrBlockSize = 22;
constexpr int kHdrProduction = 24;
constexpr int kHdrMaxTags = 25;
constexpr int kHdrTagEntrySize = 26;
constexpr int kHdrTagsInUse = 28;
constexpr int kHdrPagesInFile = 32;
constexpr int kHdrFreeList = 36;
constexpr int kHdrFreeBlocks = 40;
constexpr int kHdrUpdated = 44;
constexpr int kTagTableOffset = 544;
constexpr int kTagEntrySize = 32;
constexpr int kMaxTags = (kHeaderSize - kTagTableOffset) / kTagEntrySize;  // 47

// Tag header block offsets.
constexpr int kTagExprOffset = 24;
constexpr int kMaxExpression = 220;
constexpr int kTagHasFilter = 245;
constexpr int kTagHasKeys = 246;

constexpr int kMaxCharKey = 100;  // what dBase IV accepts for a new tag
constexpr int kMaxDepth = 32;     // no sane tree gets near this
constexpr int kMaxEmptySkips = 1000;
constexpr size_t kCacheBlocks = 4096;
constexpr int kWriteRunBlocks = 64;

// Our stamp, in header bytes the format leaves unused (before the tag table):
// magic, dirty flag, a 24-bit count of table changes that leave the index
// alone (deleted rows), record count, change counter. The dirty flag is 1
// while a change is under way and 2 when a run of changes keeps it set
// between changes that were each finished. After it, the
// tag header pages of tags deleted by the last change (count, then pages):
// the tag table of a crashed later change may still name them, so they join
// the free list only in a later change.
constexpr int kStampOffset = 48;
constexpr char kStampMagic[4] = {'K', 'L', 'V', '1'};
constexpr int kPendingOffset = 64;
// The table's note (MdxTableNote), after the pending pages: magic, deleted
// rows, record count, a check of the rest, table size, table stamp.
constexpr int kNoteOffset = 264;
constexpr int kNoteSize = 32;
constexpr char kNoteMagic[4] = {'K', 'L', 'V', 'N'};
constexpr uint8_t kDirtyInChange = 1;
constexpr uint8_t kDirtyKept = 2;

// FNV-1a over the note's fields, so that a torn write reads as no note.
inline uint32_t NoteCheck(const uint8_t* note) {
  uint32_t h = 2166136261u;
  for (int i = 4; i < kNoteSize; ++i) {
    if (i >= 12 && i < 16) continue;  // the check itself
    h = (h ^ note[i]) * 16777619u;
  }
  return h;
}

inline const uint8_t* Bytes(std::string_view s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

// ---- Block cache ----------------------------------------------------------

struct Block {
  uint32_t page = 0;
  int pins = 0;
  bool dirty = false;
  uint64_t used_in = 0;  // the change_gen of the last change (or lookup after it) that used it
  std::array<uint8_t, kBlockSize> data{};
};

// A pinned block: the cache never evicts a block while a reference to it lives.
class BlockRef {
 public:
  BlockRef() = default;
  explicit BlockRef(Block* b) : b_(b) {
    if (b_) ++b_->pins;
  }
  BlockRef(const BlockRef& o) : BlockRef(o.b_) {}
  BlockRef(BlockRef&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  BlockRef& operator=(BlockRef o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }
  ~BlockRef() {
    if (b_) --b_->pins;
  }
  uint8_t* data() const { return b_->data.data(); }
  uint32_t page() const { return b_->page; }
  void MarkDirty() const { b_->dirty = true; }

 private:
  Block* b_ = nullptr;
};

// One step of a root-to-leaf path. In a leaf, idx is an entry position
// (count = one past the last entry); in an interior node it is a child
// index, 0..count, where count is the node's key count.
struct Level {
  BlockRef block;
  int idx = 0;
  int count = 0;
  bool leaf = false;
};
using Path = std::vector<Level>;

// A position in a tag: the first entry e with e > (key, recno) when strict,
// else e >= (key, recno).
struct Target {
  const uint8_t* key;
  size_t len;
  uint32_t recno;
  bool strict;
};

struct TagState {
  TagDef def;
  uint32_t header_page = 0;
  uint32_t root = 0;
  int item_len = 0;
  int max_keys = 0;
  uint32_t size_pages = 0;
  bool touched = false;   // changed, and its tag header not yet written for it
  bool building = false;  // a Builder owns it
  // The tag header as last read or written: a change that keeps the dirty
  // mark rewrites it only when one of these moved.
  uint32_t disk_root = 0;
  uint32_t disk_size = 0;
  bool disk_has_keys = false;
  std::string damage;  // set when the tag header of a dirty index could not be read
};

inline void ZeroTail(uint8_t* d, int from) {
  if (from < int(kBlockSize)) std::memset(d + from, 0, kBlockSize - size_t(from));
}

}  // namespace mdx

using namespace mdx;

struct MdxFile::Impl {
  Impl(Env& e, std::string p) : env(e), path(std::move(p)) {}

  Env& env;
  std::string path;
  std::unique_ptr<File> file;
  bool writable = false;
  bool sync_writes = false;

  std::array<uint8_t, kHeaderSize> header{};
  uint32_t pages_in_file = 0;
  uint64_t file_size = 0;
  MdxStamp stamp;
  std::vector<TagState> tags;
  std::vector<uint32_t> header_pages;  // sorted: tag header blocks, never tree nodes

  // What Sync compares against to notice other writers.
  uint32_t seen_counter = 0;
  bool seen_present = false;
  int64_t seen_mtime = 0;
  uint64_t seen_size = 0;
  // False after a change that kept the dirty mark: the file's stamp is then
  // our own last write, and the counter alone tells another copy's change.
  bool mtime_known = true;
  // The dirty mark on disk is ours, left by EndChange(keep_dirty) with the
  // file otherwise complete; cleared by any re-read of the header.
  bool held_dirty = false;
  uint64_t generation = 0;  // bumped by every load of the header
  // Tags were added or removed since the header was last read or written
  // whole; until then the tag table on disk is current and a header write
  // stops before it.
  bool tag_table_changed = false;

  bool in_change = false;
  bool change_failed = false;
  bool unfinished_build = false;
  int active_builders = 0;
  uint64_t change_gen = 0;
  ErrorCode broken_code = ErrorCode::kIo;
  std::string broken;  // set when the file could not be re-read after a failure

  // Free blocks, back() = head of the on-disk chain. The bottom
  // free_clean entries already carry correct links on disk.
  bool free_loaded = false;
  std::vector<uint32_t> free_list;
  size_t free_clean = 0;
  // Tag headers of tags deleted in this change: the tag table on disk still
  // points at them until the change ends, so they are not reused before.
  std::vector<uint32_t> freed_headers;
  // Those of the last finished change, as the header on disk lists them;
  // released onto the free list once in each change.
  std::vector<uint32_t> pending_headers;
  bool pending_released = false;

  size_t cache_limit = kCacheBlocks;
  std::list<Block> lru;  // front = most recently used
  std::unordered_map<uint32_t, std::list<Block>::iterator> cached;
  // The blocks found last, by page, in front of the map: a slot for each
  // block the cache holds, so that while the file has no more blocks than
  // that every cached block is found without hashing. Page 0 (the file
  // header) marks an empty slot.
  static constexpr size_t kRecent = kCacheBlocks;
  std::array<std::pair<uint32_t, std::list<Block>::iterator>, kRecent> recent{};

  static size_t RecentSlot(uint32_t page) { return (page / kPagesPerBlock) % kRecent; }
  std::list<Block>::iterator* Find(uint32_t page);
  void Forget(uint32_t page);

  // ---- errors
  [[noreturn]] void Corrupt(const std::string& what) const {
    Fail(ErrorCode::kCorruptIndex, "The index \"" + path + "\" is damaged: " + what);
  }
  [[noreturn]] void CorruptAt(uint32_t page, const std::string& what) const {
    Corrupt("page " + std::to_string(page) + ": " + what);
  }

  // ---- raw I/O
  void WriteRaw(uint32_t page, const uint8_t* data, size_t bytes);

  // Collects blocks for consecutive pages into one write.
  class RunWriter {
   public:
    explicit RunWriter(Impl& impl) : impl_(impl) {}
    void Add(uint32_t page, const uint8_t* block) {
      if (n_ > 0 && (page != first_ + kPagesPerBlock * uint32_t(n_) || n_ == kWriteRunBlocks))
        Flush();
      if (n_ == 0) first_ = page;
      // Grown on demand: a change of one row writes a block or two, and
      // zeroing a whole run's buffer for it cost more than the write.
      if (buf_.size() < size_t(n_ + 1) * kBlockSize) buf_.resize(size_t(n_ + 1) * kBlockSize);
      std::memcpy(buf_.data() + size_t(n_) * kBlockSize, block, kBlockSize);
      ++n_;
    }
    void Flush() {
      if (n_ == 0) return;
      int n = std::exchange(n_, 0);
      impl_.WriteRaw(first_, buf_.data(), size_t(n) * kBlockSize);
    }

   private:
    Impl& impl_;
    std::vector<uint8_t> buf_;
    uint32_t first_ = 0;
    int n_ = 0;
  };

  // ---- cache
  void MakeRoom();

  // The block at page, which the caller has checked with CheckNodePage (or
  // which is a tag header).
  BlockRef Get(uint32_t page);

  // A zeroed, dirty block for page (reusing its cache slot if any).
  BlockRef Fresh(uint32_t page);

  // Forgets page's cached content (it is about to be written directly, or
  // it is no longer part of any tree).
  void Discard(uint32_t page);

  void FlushDirty();

  void DropCache();

  // ---- validation
  bool IsHeaderPage(uint32_t page) const {
    return std::binary_search(header_pages.begin(), header_pages.end(), page);
  }

  bool PageInRange(uint32_t page) const {
    return page >= kFirstNodePage && pages_in_file >= kPagesPerBlock &&
           page <= pages_in_file - kPagesPerBlock;
  }

  // Called for every page a walk visits: the message is made only for a bad one.
  void CheckNodePage(uint32_t page, uint32_t from) const;

  int CountOf(const BlockRef& b, const TagState& t) const;

  static bool IsLeaf(const uint8_t* d, const TagState& t, int n) {
    return Get32(d + kNodeHeader + n * t.item_len) == 0;
  }
  static uint8_t* Item(uint8_t* d, const TagState& t, int i) {
    return d + kNodeHeader + i * t.item_len;
  }
  static const uint8_t* Item(const uint8_t* d, const TagState& t, int i) {
    return d + kNodeHeader + i * t.item_len;
  }

  void CheckUsable() const {
    if (!broken.empty()) Fail(broken_code, broken);
  }
  void CheckReadable() const;
  void RequireChange() const;

  TagState& TagAt(int tag);
  TagState& ReadTag(int tag);

  void CheckKey(const TagState& t, std::string_view key, bool exact) const;

  // ---- header
  void LoadHeader();

  void ParseTagHeader(TagState& t, const uint8_t* d) const;

  void BuildHeader(uint8_t dirty);

  // dirty: 0, kDirtyInChange or kDirtyKept.
  void WriteHeader(uint8_t dirty);

  // Writes n bytes of the header in place, outside a change, and in our copy
  // of it; our own write must not look like another copy's change to our
  // next Sync.
  void PatchHeader(int offset, const uint8_t* bytes, size_t n);

  void NoteSeen();

  // Writes a tag header for the tag's current tree, with the next serial
  // number (the block is flushed with the other dirty blocks).
  void WriteTagHeaderNow(TagState& t, bool has_keys);

  bool HasKeys(const TagState& t) { return Get32(Get(t.root).data()) > 0; }

  void WriteTagHeader(const TagState& t, BlockRef& b);

  // ---- free blocks
  void EnsureFreeList();

  // A block for a new node or tag header; the caller fills it.
  uint32_t AllocBlock();

  void FreeBlock(uint32_t page);

  // Writes the chain links of blocks freed in this change.
  void WriteFreeLinks();

  // Pages of a tag's tree, for freeing. Reads interior levels only; the
  // tree must be well formed (each page once, leaves at one depth), or the
  // pages are left where they are rather than risk freeing a live block.
  std::optional<std::vector<uint32_t>> TreePages(const TagState& t);

  // ---- comparisons
  int KeyCmp(const TagState& t, const uint8_t* a, size_t an, const uint8_t* b, size_t bn) const;
  int EntryCmp(const TagState& t, const uint8_t* a, size_t an, uint32_t ar, const uint8_t* b,
               size_t bn, uint32_t br) const;
  // Whether a leaf item lies at or after the target position.
  bool Satisfies(const TagState& t, const uint8_t* item, const Target& x) const;

  // ---- descent
  void CheckNotOnPath(const Path& path, uint32_t page) const;

  Level MakeLevel(const TagState& t, uint32_t page);

  // Whether the last entry under child lies at or after the target.
  bool MaxSatisfies(const TagState& t, uint32_t child, uint32_t from, const Target& x,
                    const Path& path);

  // The child of an interior node under which the target position lies.
  // Interior keys are the largest key below each child but carry no record
  // number, so among children whose key equals the target key the right one
  // is found by a binary search on their last entries.
  int ChooseChild(const TagState& t, const Level& lv, const Target& x, const Path& path);

  int LeafLowerBound(const TagState& t, const Level& lv, const Target& x) const;

  Path Descend(const TagState& t, const Target& x);

  // Follows the first (left) or last child down from path's last node.
  void DescendEdge(const TagState& t, Path& path, bool left);

  Path EdgePath(const TagState& t, bool left);

  // Moves to the first entry of the next non-empty leaf; false at the end.
  bool NextLeaf(const TagState& t, Path& path);

  // Moves to the last entry of the previous non-empty leaf; false at the start.
  bool PrevLeaf(const TagState& t, Path& path);

  // Makes the leaf position point at a real entry; false past the end.
  bool Settle(const TagState& t, Path& path) {
    if (path.back().idx < path.back().count) return true;
    return NextLeaf(t, path);
  }
  // Steps to the entry before the leaf position; false before the start.
  bool StepBack(const TagState& t, Path& path);

  // The sizes of an interior node's children (entries of a leaf, children
  // of an interior node), so that scroll positions account for thin nodes.
  // ancestors are the levels above lv on its path.
  std::vector<double> ChildWeights(const TagState& t, const Level& lv, const Path& path,
                                   size_t ancestors);

  IndexEntry EntryAt(const TagState& t, const Level& leaf) const;

  // ---- modification helpers
  void WriteItem(uint8_t* item, const TagState& t, uint32_t ptr, const uint8_t* key) const;

  // After child c of an interior node (n keys) was split into itself (max
  // key left_max) and new_page, makes room for the new child right of it.
  // The buffer must have space for n + 1 keys.
  void InsertSplitChild(uint8_t* d, const TagState& t, int n, int c, const uint8_t* left_max,
                        uint32_t new_page) const;

  // Removes child c (and the key that bounds it) from an interior node of
  // n >= 1 keys.
  void RemoveChild(uint8_t* d, const TagState& t, int n, int c) const;

  // Appends node b's content to node a (same level); mid is a's largest key,
  // needed between the two halves of an interior node.
  void MergeNodes(uint8_t* a, int na, const uint8_t* b, int nb, bool leaf, const uint8_t* mid,
                  const TagState& t) const;

  // Merges the child at path level (lvl + 1) with a sibling when it is less
  // than half full and the two fit in one block.
  void TryMerge(TagState& t, Path& path, size_t lvl);

  void InsertAt(TagState& t, Path& path, std::string_view key, uint32_t recno);

  void RemoveAt(TagState& t, Path& path);

  // Marks the change failed when the guarded code throws: the cached blocks
  // may then be half modified.
  class ChangeGuard {
   public:
    explicit ChangeGuard(Impl& impl) : impl_(impl), exceptions_(std::uncaught_exceptions()) {}
    ~ChangeGuard() {
      if (std::uncaught_exceptions() > exceptions_) impl_.change_failed = true;
    }
    ChangeGuard(const ChangeGuard&) = delete;
    ChangeGuard& operator=(const ChangeGuard&) = delete;

   private:
    Impl& impl_;
    int exceptions_;
  };

  void Abandon() noexcept;
};

}  // namespace klv::dbf
