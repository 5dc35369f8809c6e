#include "db/dbf/Mdx.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <list>
#include <unordered_map>
#include <utility>

#include "base/Ascii.h"
#include "base/Bytes.h"
#include "db/dbf/Base.h"

namespace klv::dbf {
namespace {

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
uint32_t NoteCheck(const uint8_t* note) {
  uint32_t h = 2166136261u;
  for (int i = 4; i < kNoteSize; ++i) {
    if (i >= 12 && i < 16) continue;  // the check itself
    h = (h ^ note[i]) * 16777619u;
  }
  return h;
}

const uint8_t* Bytes(std::string_view s) {
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

void ZeroTail(uint8_t* d, int from) {
  if (from < int(kBlockSize)) std::memset(d + from, 0, kBlockSize - size_t(from));
}

}  // namespace

// ============================================================================

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
  std::list<Block>::iterator* Find(uint32_t page) {
    auto& r = recent[RecentSlot(page)];
    if (r.first == page && page != 0) return &r.second;
    auto found = cached.find(page);
    if (found == cached.end()) return nullptr;
    r = {page, found->second};
    return &r.second;
  }
  void Forget(uint32_t page) {
    auto& r = recent[RecentSlot(page)];
    if (r.first == page) r.first = 0;
    cached.erase(page);
  }

  // ---- errors
  [[noreturn]] void Corrupt(const std::string& what) const {
    Fail(ErrorCode::kCorruptIndex, "The index \"" + path + "\" is damaged: " + what);
  }
  [[noreturn]] void CorruptAt(uint32_t page, const std::string& what) const {
    Corrupt("page " + std::to_string(page) + ": " + what);
  }

  // ---- raw I/O
  void WriteRaw(uint32_t page, const uint8_t* data, size_t bytes) {
    uint64_t off = uint64_t(page) * kPageSize;
    file->WriteAt(off, data, bytes);
    file_size = std::max(file_size, off + bytes);
  }

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
  void MakeRoom() {
    if (cached.size() < cache_limit) return;
    for (auto it = lru.end(); it != lru.begin();) {
      --it;
      if (it->pins > 0) continue;
      if (it->dirty) {
        // Only inside a change, whose dirty stamp is already on disk.
        WriteRaw(it->page, it->data.data(), kBlockSize);
        it->dirty = false;
      }
      Forget(it->page);
      lru.erase(it);
      return;
    }
  }

  // The block at page, which the caller has checked with CheckNodePage (or
  // which is a tag header).
  BlockRef Get(uint32_t page) {
    if (auto* found = Find(page)) {
      lru.splice(lru.begin(), lru, *found);
      (*found)->used_in = change_gen;
      return BlockRef(&**found);
    }
    MakeRoom();
    lru.emplace_front();
    Block& b = lru.front();
    b.page = page;
    b.used_in = change_gen;
    size_t got = 0;
    try {
      got = file->ReadAt(uint64_t(page) * kPageSize, b.data.data(), kBlockSize);
    } catch (...) {
      lru.pop_front();
      throw;
    }
    if (got != kBlockSize) {
      lru.pop_front();
      CorruptAt(page, "the file ends inside this block (truncated)");
    }
    cached[page] = lru.begin();
    return BlockRef(&b);
  }

  // A zeroed, dirty block for page (reusing its cache slot if any).
  BlockRef Fresh(uint32_t page) {
    if (auto* found = Find(page)) {
      lru.splice(lru.begin(), lru, *found);
      Block& b = **found;
      b.data.fill(0);
      b.dirty = true;
      b.used_in = change_gen;
      return BlockRef(&b);
    }
    MakeRoom();
    lru.emplace_front();
    Block& b = lru.front();
    b.page = page;
    b.dirty = true;
    b.used_in = change_gen;
    cached[page] = lru.begin();
    return BlockRef(&b);
  }

  // Forgets page's cached content (it is about to be written directly, or
  // it is no longer part of any tree).
  void Discard(uint32_t page) {
    auto* found = Find(page);
    if (!found) return;
    if ((*found)->pins > 0) {
      (*found)->dirty = false;
      return;
    }
    lru.erase(*found);
    Forget(page);
  }

  void FlushDirty() {
    // Only blocks used in the current change can be dirty (a change ends
    // with this flush, an abandoned one drops the cache), and each use moves
    // a block to the front: the walk ends at the first block used before the
    // change instead of visiting the whole cache on every row's change.
    std::vector<Block*> dirty;
    for (Block& b : lru) {
      if (b.used_in != change_gen) break;
      if (b.dirty) dirty.push_back(&b);
    }
    if (dirty.size() == 1) {  // the common change: one leaf
      WriteRaw(dirty[0]->page, dirty[0]->data.data(), kBlockSize);
      dirty[0]->dirty = false;
      return;
    }
    std::sort(dirty.begin(), dirty.end(), [](Block* a, Block* b) { return a->page < b->page; });
    RunWriter w(*this);
    for (Block* b : dirty) w.Add(b->page, b->data.data());
    w.Flush();
    for (Block* b : dirty) b->dirty = false;
  }

  void DropCache() {
    cached.clear();
    recent.fill({});
    lru.clear();
  }

  // ---- validation
  bool IsHeaderPage(uint32_t page) const {
    return std::binary_search(header_pages.begin(), header_pages.end(), page);
  }

  bool PageInRange(uint32_t page) const {
    return page >= kFirstNodePage && pages_in_file >= kPagesPerBlock &&
           page <= pages_in_file - kPagesPerBlock;
  }

  // Called for every page a walk visits: the message is made only for a bad one.
  void CheckNodePage(uint32_t page, uint32_t from) const {
    auto origin = [from] {
      return from ? " (referenced from page " + std::to_string(from) + ")" : std::string();
    };
    if (!PageInRange(page)) {
      CorruptAt(page, "outside the file, which has " + std::to_string(pages_in_file) + " pages" +
                          origin());
    }
    if (IsHeaderPage(page)) CorruptAt(page, "a tag header used as a tree node" + origin());
  }

  int CountOf(const BlockRef& b, const TagState& t) const {
    uint32_t n = Get32(b.data());
    if (n > uint32_t(t.max_keys)) {
      CorruptAt(b.page(), "key count " + std::to_string(n) + " exceeds the maximum of " +
                              std::to_string(t.max_keys) + " for tag " + t.def.name);
    }
    return int(n);
  }

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
  void CheckReadable() const {
    CheckUsable();
    if (change_failed) {
      Fail(ErrorCode::kBadState,
           "The index \"" + path + "\" is in a failed change; abandon it first");
    }
  }
  void RequireChange() const {
    CheckReadable();
    if (!writable) Fail(ErrorCode::kReadOnly, "The index \"" + path + "\" is open read-only");
    if (!in_change)
      Fail(ErrorCode::kBadState, "The index \"" + path + "\" is changed outside BeginChange");
  }

  TagState& TagAt(int tag) {
    if (tag < 0 || tag >= int(tags.size())) {
      Fail(ErrorCode::kNoSuchTag,
           "The index \"" + path + "\" has no tag number " + std::to_string(tag));
    }
    return tags[size_t(tag)];
  }
  TagState& ReadTag(int tag) {
    CheckReadable();
    TagState& t = TagAt(tag);
    if (!t.damage.empty()) Fail(ErrorCode::kCorruptIndex, t.damage);
    if (t.building) Fail(ErrorCode::kBadState, "The tag " + t.def.name + " is being rebuilt");
    return t;
  }

  void CheckKey(const TagState& t, std::string_view key, bool exact) const {
    bool ok = exact || t.def.type != KeyType::kChar ? key.size() == size_t(t.def.key_length)
                                                    : key.size() <= size_t(t.def.key_length);
    if (!ok) {
      Fail(ErrorCode::kBadValue, "A key of " + std::to_string(key.size()) + " bytes for tag " +
                                     t.def.name + ", whose keys have " +
                                     std::to_string(t.def.key_length));
    }
  }

  // ---- header
  void LoadHeader() {
    static std::atomic<uint64_t> loads{0};
    generation = ++loads;  // unique across files, so a new MdxFile never repeats an old value
    held_dirty = false;
    tag_table_changed = false;
    tags.clear();
    header_pages.clear();
    free_loaded = false;
    free_list.clear();
    free_clean = 0;
    freed_headers.clear();
    pending_headers.clear();
    pending_released = false;
    file_size = file->Size();
    size_t got = file->ReadAt(0, header.data(), kHeaderSize);
    if (got != kHeaderSize) Corrupt("the file is shorter than its header");
    const uint8_t* h = header.data();
    if (Get16(h + kHdrPagesPerBlock) != kPagesPerBlock || Get16(h + kHdrBlockSize) != kBlockSize) {
      Corrupt("blocks of " + std::to_string(Get16(h + kHdrBlockSize)) + " bytes in " +
              std::to_string(Get16(h + kHdrPagesPerBlock)) + " pages are not supported");
    }
    if (h[kHdrTagEntrySize] != kTagEntrySize)
      Corrupt("tag entries of " + std::to_string(h[kHdrTagEntrySize]) + " bytes");
    int used = Get16(h + kHdrTagsInUse);
    if (used > kMaxTags) Corrupt(std::to_string(used) + " tags in use, more than fit");
    pages_in_file = Get32(h + kHdrPagesInFile);
    if (pages_in_file < kFirstNodePage)
      Corrupt("the header gives only " + std::to_string(pages_in_file) + " pages");
    if (uint64_t(pages_in_file) * kPageSize > file_size) {
      Corrupt("the header gives " + std::to_string(pages_in_file) + " pages but the file holds " +
              std::to_string(file_size / kPageSize) + " (truncated)");
    }
    stamp = MdxStamp{};
    if (std::memcmp(h + kStampOffset, kStampMagic, 4) == 0) {
      stamp.present = true;
      stamp.dirty = h[kStampOffset + 4] != 0;
      stamp.kept = h[kStampOffset + 4] == kDirtyKept;
      stamp.table_changes = Get24(h + kStampOffset + 5);
      stamp.record_count = Get32(h + kStampOffset + 8);
      stamp.change_counter = Get32(h + kStampOffset + 12);
    }
    if (stamp.dirty) {
      // A change that never finished may have written blocks past the
      // page count its header still gives; they are part of the file.
      uint64_t blocks = file_size / kBlockSize;
      pages_in_file = uint32_t(std::max<uint64_t>(
          pages_in_file, std::min<uint64_t>(blocks * kPagesPerBlock, UINT32_MAX - 1)));
    }

    for (int i = 0; i < used; ++i) {
      uint32_t hp = Get32(h + kTagTableOffset + i * kTagEntrySize);
      if (!PageInRange(hp))
        CorruptAt(hp, "tag header of tag " + std::to_string(i + 1) + " outside the file");
      if (IsHeaderPage(hp)) CorruptAt(hp, "shared by two tag headers");
      header_pages.insert(std::upper_bound(header_pages.begin(), header_pages.end(), hp), hp);
    }
    if (stamp.present) {
      // Only pages that are plainly unused; anything doubtful stays unused.
      int n = Get16(h + kPendingOffset);
      for (int i = 0; i < n && n <= kMaxTags; ++i) {
        uint32_t p = Get32(h + kPendingOffset + 4 + 4 * i);
        bool ok =
            PageInRange(p) && !IsHeaderPage(p) &&
            std::find(pending_headers.begin(), pending_headers.end(), p) == pending_headers.end();
        if (!ok) {
          pending_headers.clear();
          break;
        }
        pending_headers.push_back(p);
      }
    }
    for (int i = 0; i < used; ++i) {
      const uint8_t* e = h + kTagTableOffset + i * kTagEntrySize;
      TagState t;
      t.header_page = Get32(e);
      const char* name = reinterpret_cast<const char*>(e + 4);
      t.def.name = std::string(name, strnlen(name, 11));
      while (!t.def.name.empty() && t.def.name.back() == ' ') t.def.name.pop_back();
      if (t.def.name.empty())
        CorruptAt(t.header_page, "tag " + std::to_string(i + 1) + " has no name");
      for (const TagState& other : tags) {
        if (UpperAscii(other.def.name) == UpperAscii(t.def.name))
          Corrupt("two tags named " + t.def.name);
      }
      try {
        BlockRef b = Get(t.header_page);
        ParseTagHeader(t, b.data());
        CheckNodePage(t.root, t.header_page);
      } catch (const DbfError& e) {
        // An unfinished change may leave a tag unreadable; the index opens
        // (it is marked dirty and will be rebuilt) and only that tag fails.
        if (!stamp.dirty || e.code() != ErrorCode::kCorruptIndex) throw;
        t.damage = e.what();
        t.def.expression.clear();
        t.def.key_length = 0;
      }
      tags.push_back(std::move(t));
    }
    for (const TagState& t : tags) {
      if (std::find(pending_headers.begin(), pending_headers.end(), t.root) !=
          pending_headers.end()) {
        pending_headers.clear();  // not ours after all: leave those pages alone
      }
    }
  }

  void ParseTagHeader(TagState& t, const uint8_t* d) const {
    uint32_t page = t.header_page;
    t.root = Get32(d);
    t.size_pages = Get32(d + 4);
    t.disk_root = t.root;
    t.disk_size = t.size_pages;
    t.disk_has_keys = d[kTagHasKeys] != 0;
    uint8_t format = d[8];
    t.def.descending = (format & 0x08) != 0;
    t.def.unique = (format & 0x40) != 0 || d[23] != 0;
    char type = char(d[9]);
    int klen = Get16(d + 12);
    if (type == 'C') {
      t.def.type = KeyType::kChar;
      if (klen < 1 || klen > kNodeSpace / 3 - 4)
        CorruptAt(page, "character key of " + std::to_string(klen) + " bytes");
    } else if (type == 'N' || type == 'F') {
      t.def.type = KeyType::kNumeric;
      if (klen != kNumericKeyLength)
        CorruptAt(page, "numeric key of " + std::to_string(klen) + " bytes");
    } else if (type == 'D') {
      t.def.type = KeyType::kDate;
      if (klen != 8) CorruptAt(page, "date key of " + std::to_string(klen) + " bytes");
    } else {
      CorruptAt(page, "unknown key type " + std::to_string(int(d[9])));
    }
    t.def.key_length = klen;
    t.item_len = Get16(d + 18);
    if (t.item_len < klen + 4 || t.item_len > kNodeSpace / 3) {
      CorruptAt(page, "item length " + std::to_string(t.item_len) + " for a key of " +
                          std::to_string(klen));
    }
    t.max_keys = Get16(d + 14);
    if (t.max_keys < 3 || t.max_keys > kNodeSpace / t.item_len) {
      CorruptAt(page, "maximum of " + std::to_string(t.max_keys) + " keys per block");
    }
    const char* expr = reinterpret_cast<const char*>(d + kTagExprOffset);
    t.def.expression = std::string(expr, strnlen(expr, kMaxExpression));
  }

  void BuildHeader(uint8_t dirty) {
    uint8_t* h = header.data();
    Put16(h + kHdrPagesPerBlock, kPagesPerBlock);
    Put16(h + kHdrBlockSize, kBlockSize);
    h[kHdrProduction] = 1;
    h[kHdrMaxTags] = 48;
    h[kHdrTagEntrySize] = kTagEntrySize;
    Put16(h + kHdrTagsInUse, uint16_t(tags.size()));
    Put32(h + kHdrPagesInFile, pages_in_file);
    if (free_loaded) {
      Put32(h + kHdrFreeList, free_list.empty() ? 0 : free_list.back());
      Put32(h + kHdrFreeBlocks, uint32_t(free_list.size()));
    }
    std::memcpy(h + kStampOffset, kStampMagic, 4);
    h[kStampOffset + 4] = dirty;
    for (int i = 0; i < 3; ++i) h[kStampOffset + 5 + i] = uint8_t(stamp.table_changes >> (8 * i));
    Put32(h + kStampOffset + 8, stamp.record_count);
    Put32(h + kStampOffset + 12, stamp.change_counter);
    std::memset(h + kPendingOffset, 0, 4 + 4 * kMaxTags);
    Put16(h + kPendingOffset, uint16_t(pending_headers.size()));
    for (size_t i = 0; i < pending_headers.size(); ++i) {
      Put32(h + kPendingOffset + 4 + 4 * i, pending_headers[i]);
    }

    // Tag table, with the binary tree of names by 1-based tag number that
    // dBase keeps in bytes 16-18 (rebuilt whole: insertion in tag order).
    // Only a change of the tags writes it; our copy is the file's till then.
    if (!tag_table_changed) return;
    std::memset(h + kTagTableOffset, 0, kHeaderSize - kTagTableOffset);
    std::vector<std::array<uint8_t, 3>> links(tags.size(), {0, 0, 0});
    for (size_t i = 1; i < tags.size(); ++i) {
      size_t cur = 0;
      for (;;) {
        bool left = tags[i].def.name < tags[cur].def.name;
        uint8_t& next = links[cur][left ? 0 : 1];
        if (next == 0) {
          next = uint8_t(i + 1);
          links[i][2] = uint8_t(cur + 1);
          break;
        }
        cur = size_t(next - 1);
      }
    }
    for (size_t i = 0; i < tags.size(); ++i) {
      uint8_t* e = h + kTagTableOffset + i * kTagEntrySize;
      Put32(e, tags[i].header_page);
      std::memcpy(e + 4, tags[i].def.name.data(), std::min<size_t>(tags[i].def.name.size(), 10));
      e[15] = 0x10;
      e[16] = links[i][0];
      e[17] = links[i][1];
      e[18] = links[i][2];
      e[19] = 0x02;
      e[20] = uint8_t(tags[i].def.type);
    }
  }

  // dirty: 0, kDirtyInChange or kDirtyKept.
  void WriteHeader(uint8_t dirty) {
    BuildHeader(dirty);
    file->WriteStart(kHeaderSize, 0, header.data(),
                     tag_table_changed ? kHeaderSize : kTagTableOffset);
    tag_table_changed = false;
    file_size = std::max<uint64_t>(file_size, kHeaderSize);
  }

  // Writes n bytes of the header in place, outside a change, and in our copy
  // of it; our own write must not look like another copy's change to our
  // next Sync.
  void PatchHeader(int offset, const uint8_t* bytes, size_t n) {
    try {
      file->WriteStart(kHeaderSize, uint64_t(offset), bytes, n);
    } catch (...) {
      Abandon();  // what the bytes on disk hold is unknown now: read them again
      throw;
    }
    std::memcpy(header.data() + offset, bytes, n);
    if (mtime_known) NoteSeen();
  }

  void NoteSeen() {
    seen_counter = stamp.change_counter;
    seen_present = stamp.present;
    File::Status st = file->Stat();
    seen_mtime = st.modified_ns;
    seen_size = st.size;
    mtime_known = true;
  }

  // Writes a tag header for the tag's current tree, with the next serial
  // number (the block is flushed with the other dirty blocks).
  void WriteTagHeaderNow(TagState& t, bool has_keys) {
    BlockRef hb = Get(t.header_page);
    WriteTagHeader(t, hb);
    hb.data()[20] = uint8_t(hb.data()[20] + 1);  // serial number
    hb.data()[kTagHasKeys] = has_keys ? 1 : 0;
    t.touched = false;
    t.disk_root = t.root;
    t.disk_size = t.size_pages;
    t.disk_has_keys = has_keys;
  }

  bool HasKeys(const TagState& t) { return Get32(Get(t.root).data()) > 0; }

  void WriteTagHeader(const TagState& t, BlockRef& b) {
    uint8_t* d = b.data();
    Put32(d, t.root);
    Put32(d + 4, t.size_pages);
    d[8] = uint8_t(0x10 | (t.def.descending ? 0x08 : 0) | (t.def.unique ? 0x40 : 0));
    d[9] = uint8_t(t.def.type);
    Put16(d + 12, uint16_t(t.def.key_length));
    Put16(d + 14, uint16_t(t.max_keys));
    Put16(d + 16, t.def.type == KeyType::kDate ? 1 : 0);
    Put16(d + 18, uint16_t(t.item_len));
    d[23] = t.def.unique ? 1 : 0;
    Put32(d + 248, t.root);
    Put32(d + 252, t.root);
    b.MarkDirty();
  }

  // ---- free blocks
  void EnsureFreeList() {
    if (free_loaded) {
      if (!pending_released)
        free_list.insert(free_list.end(), pending_headers.begin(), pending_headers.end());
      pending_released = true;
      return;
    }
    std::vector<uint32_t> chain;
    std::vector<bool> seen(pages_in_file, false);
    for (uint32_t p = Get32(header.data() + kHdrFreeList); p != 0;) {
      if (!PageInRange(p) || IsHeaderPage(p))
        CorruptAt(p, "a free-list link that is not a free block");
      if (seen[p]) CorruptAt(p, "the free list runs in a loop");
      seen[p] = true;
      chain.push_back(p);
      BlockRef b = Get(p);
      p = Get32(b.data() + 4);
    }
    std::reverse(chain.begin(), chain.end());
    free_list = std::move(chain);
    free_clean = free_list.size();
    for (uint32_t p : pending_headers) {
      if (!seen[p]) free_list.push_back(p);  // their links are written at EndChange
    }
    pending_released = true;
    free_loaded = true;
  }

  // A block for a new node or tag header; the caller fills it.
  uint32_t AllocBlock() {
    EnsureFreeList();
    if (!free_list.empty()) {
      uint32_t p = free_list.back();
      free_list.pop_back();
      free_clean = std::min(free_clean, free_list.size());
      return p;
    }
    if (pages_in_file > UINT32_MAX - kPagesPerBlock) {
      Fail(ErrorCode::kDiskFull, "The index \"" + path + "\" has reached its largest size");
    }
    uint32_t p = pages_in_file;
    pages_in_file += kPagesPerBlock;
    return p;
  }

  void FreeBlock(uint32_t page) {
    EnsureFreeList();
    Discard(page);
    free_list.push_back(page);
  }

  // Writes the chain links of blocks freed in this change.
  void WriteFreeLinks() {
    if (!free_loaded) return;
    std::vector<std::pair<uint32_t, uint32_t>> links;
    for (size_t i = free_clean; i < free_list.size(); ++i) {
      links.emplace_back(free_list[i], i == 0 ? 0 : free_list[i - 1]);
    }
    std::sort(links.begin(), links.end());
    RunWriter w(*this);
    std::array<uint8_t, kBlockSize> block{};
    for (auto [page, next] : links) {
      Discard(page);
      Put32(block.data() + 4, next);
      w.Add(page, block.data());
    }
    w.Flush();
    free_clean = free_list.size();
  }

  // Pages of a tag's tree, for freeing. Reads interior levels only; the
  // tree must be well formed (each page once, leaves at one depth), or the
  // pages are left where they are rather than risk freeing a live block.
  std::optional<std::vector<uint32_t>> TreePages(const TagState& t) {
    try {
      std::vector<uint32_t> all;
      std::vector<bool> seen(pages_in_file, false);
      CheckNodePage(t.root, t.header_page);
      std::vector<uint32_t> level{t.root};
      seen[t.root] = true;
      for (int depth = 0; !level.empty(); ++depth) {
        if (depth > kMaxDepth) return std::nullopt;
        all.insert(all.end(), level.begin(), level.end());
        BlockRef first = Get(level[0]);
        if (IsLeaf(first.data(), t, CountOf(first, t))) break;
        std::vector<uint32_t> next;
        for (uint32_t p : level) {
          BlockRef b = Get(p);
          int n = CountOf(b, t);
          if (IsLeaf(b.data(), t, n)) return std::nullopt;
          for (int i = 0; i <= n; ++i) {
            uint32_t c = Get32(Item(b.data(), t, i));
            CheckNodePage(c, p);
            if (seen[c]) return std::nullopt;
            seen[c] = true;
            next.push_back(c);
          }
        }
        level = std::move(next);
      }
      return all;
    } catch (const DbfError& e) {
      if (e.code() != ErrorCode::kCorruptIndex) throw;
      return std::nullopt;
    }
  }

  // ---- comparisons
  int KeyCmp(const TagState& t, const uint8_t* a, size_t an, const uint8_t* b, size_t bn) const {
    std::string_view x(reinterpret_cast<const char*>(a), an);
    std::string_view y(reinterpret_cast<const char*>(b), bn);
    int c = CompareKeys(t.def.type, x, y);
    return t.def.descending ? -c : c;
  }
  int EntryCmp(const TagState& t, const uint8_t* a, size_t an, uint32_t ar, const uint8_t* b,
               size_t bn, uint32_t br) const {
    int c = KeyCmp(t, a, an, b, bn);
    if (c != 0) return c;
    return ar < br ? -1 : (ar > br ? 1 : 0);
  }
  // Whether a leaf item lies at or after the target position.
  bool Satisfies(const TagState& t, const uint8_t* item, const Target& x) const {
    int c = KeyCmp(t, item + 4, size_t(t.def.key_length), x.key, x.len);
    if (c != 0) return c > 0;
    uint32_t r = Get32(item);
    return x.strict ? r > x.recno : r >= x.recno;
  }

  // ---- descent
  void CheckNotOnPath(const Path& path, uint32_t page) const {
    if (int(path.size()) >= kMaxDepth)
      CorruptAt(page, "the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
    for (const Level& l : path) {
      if (l.block.page() == page) CorruptAt(page, "the tree runs in a loop");
    }
  }

  Level MakeLevel(const TagState& t, uint32_t page) {
    Level lv;
    lv.block = Get(page);
    lv.count = CountOf(lv.block, t);
    lv.leaf = IsLeaf(lv.block.data(), t, lv.count);
    return lv;
  }

  // Whether the last entry under child lies at or after the target.
  bool MaxSatisfies(const TagState& t, uint32_t child, uint32_t from, const Target& x,
                    const Path& path) {
    std::vector<uint32_t> probe;
    for (uint32_t p = child;;) {
      CheckNodePage(p, from);
      if (path.size() + probe.size() >= size_t(kMaxDepth)) CorruptAt(p, "the tree is too deep");
      for (const Level& l : path) {
        if (l.block.page() == p) CorruptAt(p, "the tree runs in a loop");
      }
      if (std::find(probe.begin(), probe.end(), p) != probe.end())
        CorruptAt(p, "the tree runs in a loop");
      probe.push_back(p);
      BlockRef b = Get(p);
      int n = CountOf(b, t);
      if (IsLeaf(b.data(), t, n)) return n > 0 && Satisfies(t, Item(b.data(), t, n - 1), x);
      from = p;
      p = Get32(Item(b.data(), t, n));
    }
  }

  // The child of an interior node under which the target position lies.
  // Interior keys are the largest key below each child but carry no record
  // number, so among children whose key equals the target key the right one
  // is found by a binary search on their last entries.
  int ChooseChild(const TagState& t, const Level& lv, const Target& x, const Path& path) {
    const uint8_t* d = lv.block.data();
    int n = lv.count;
    size_t klen = size_t(t.def.key_length);
    auto sep = [&](int i) { return Item(d, t, i) + 4; };
    int lo = 0, hi = n;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (KeyCmp(t, sep(mid), klen, x.key, x.len) >= 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    int first_eq = lo;
    hi = n;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (KeyCmp(t, sep(mid), klen, x.key, x.len) > 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    int end_eq = lo;
    lo = first_eq;
    hi = end_eq;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (MaxSatisfies(t, Get32(Item(d, t, mid)), lv.block.page(), x, path))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  int LeafLowerBound(const TagState& t, const Level& lv, const Target& x) const {
    int lo = 0, hi = lv.count;
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      if (Satisfies(t, Item(lv.block.data(), t, mid), x))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  Path Descend(const TagState& t, const Target& x) {
    Path path;
    path.reserve(8);  // deeper than any tree of a few million keys
    uint32_t page = t.root;
    uint32_t from = t.header_page;
    for (;;) {
      CheckNodePage(page, from);
      CheckNotOnPath(path, page);
      Level lv = MakeLevel(t, page);
      if (lv.leaf) {
        lv.idx = LeafLowerBound(t, lv, x);
        path.push_back(std::move(lv));
        return path;
      }
      lv.idx = ChooseChild(t, lv, x, path);
      from = page;
      page = Get32(Item(lv.block.data(), t, lv.idx));
      path.push_back(std::move(lv));
    }
  }

  // Follows the first (left) or last child down from path's last node.
  void DescendEdge(const TagState& t, Path& path, bool left) {
    for (;;) {
      Level& top = path.back();
      if (top.leaf) {
        top.idx = left ? 0 : std::max(0, top.count - 1);
        return;
      }
      uint32_t from = top.block.page();
      uint32_t child = Get32(Item(top.block.data(), t, top.idx));
      CheckNodePage(child, from);
      CheckNotOnPath(path, child);
      Level lv = MakeLevel(t, child);
      lv.idx = left ? 0 : lv.count;
      path.push_back(std::move(lv));
    }
  }

  Path EdgePath(const TagState& t, bool left) {
    CheckNodePage(t.root, t.header_page);
    Path path;
    Level lv = MakeLevel(t, t.root);
    lv.idx = left ? 0 : lv.count;
    path.push_back(std::move(lv));
    DescendEdge(t, path, left);
    return path;
  }

  // Moves to the first entry of the next non-empty leaf; false at the end.
  bool NextLeaf(const TagState& t, Path& path) {
    for (int skips = 0;; ++skips) {
      if (skips > kMaxEmptySkips) CorruptAt(path.back().block.page(), "too many empty leaves");
      path.pop_back();
      while (!path.empty() && path.back().idx >= path.back().count) path.pop_back();
      if (path.empty()) return false;
      ++path.back().idx;
      DescendEdge(t, path, true);
      if (path.back().count > 0) return true;
    }
  }

  // Moves to the last entry of the previous non-empty leaf; false at the start.
  bool PrevLeaf(const TagState& t, Path& path) {
    for (int skips = 0;; ++skips) {
      if (skips > kMaxEmptySkips) CorruptAt(path.back().block.page(), "too many empty leaves");
      path.pop_back();
      while (!path.empty() && path.back().idx <= 0) path.pop_back();
      if (path.empty()) return false;
      --path.back().idx;
      DescendEdge(t, path, false);
      if (path.back().count > 0) return true;
    }
  }

  // Makes the leaf position point at a real entry; false past the end.
  bool Settle(const TagState& t, Path& path) {
    if (path.back().idx < path.back().count) return true;
    return NextLeaf(t, path);
  }
  // Steps to the entry before the leaf position; false before the start.
  bool StepBack(const TagState& t, Path& path) {
    if (path.back().idx > 0) {
      --path.back().idx;
      return true;
    }
    return PrevLeaf(t, path);
  }

  // The sizes of an interior node's children (entries of a leaf, children
  // of an interior node), so that scroll positions account for thin nodes.
  // ancestors are the levels above lv on its path.
  std::vector<double> ChildWeights(const TagState& t, const Level& lv, const Path& path,
                                   size_t ancestors) {
    std::vector<double> w(size_t(lv.count) + 1, 0.0);
    for (int i = 0; i <= lv.count; ++i) {
      uint32_t c = Get32(Item(lv.block.data(), t, i));
      CheckNodePage(c, lv.block.page());
      bool loop = c == lv.block.page();
      for (size_t a = 0; a < ancestors; ++a) loop = loop || path[a].block.page() == c;
      if (loop) CorruptAt(c, "the tree runs in a loop");
      BlockRef b = Get(c);
      int n = CountOf(b, t);
      w[size_t(i)] = IsLeaf(b.data(), t, n) ? n : n + 1;
    }
    return w;
  }

  IndexEntry EntryAt(const TagState& t, const Level& leaf) const {
    const uint8_t* item = Item(leaf.block.data(), t, leaf.idx);
    IndexEntry e;
    e.key.assign(reinterpret_cast<const char*>(item + 4), size_t(t.def.key_length));
    e.recno = Get32(item);
    return e;
  }

  // ---- modification helpers
  void WriteItem(uint8_t* item, const TagState& t, uint32_t ptr, const uint8_t* key) const {
    Put32(item, ptr);
    std::memcpy(item + 4, key, size_t(t.def.key_length));
    std::memset(item + 4 + t.def.key_length, 0, size_t(t.item_len - 4 - t.def.key_length));
  }

  // After child c of an interior node (n keys) was split into itself (max
  // key left_max) and new_page, makes room for the new child right of it.
  // The buffer must have space for n + 1 keys.
  void InsertSplitChild(uint8_t* d, const TagState& t, int n, int c, const uint8_t* left_max,
                        uint32_t new_page) const {
    int item = t.item_len;
    std::memmove(Item(d, t, c + 1), Item(d, t, c), size_t((n - c) * item + 4));
    std::memcpy(Item(d, t, c) + 4, left_max, size_t(t.def.key_length));
    std::memset(Item(d, t, c) + 4 + t.def.key_length, 0, size_t(item - 4 - t.def.key_length));
    Put32(Item(d, t, c + 1), new_page);
    Put32(d, uint32_t(n + 1));
  }

  // Removes child c (and the key that bounds it) from an interior node of
  // n >= 1 keys.
  void RemoveChild(uint8_t* d, const TagState& t, int n, int c) const {
    if (c < n) std::memmove(Item(d, t, c), Item(d, t, c + 1), size_t((n - c - 1) * t.item_len + 4));
    Put32(d, uint32_t(n - 1));
    ZeroTail(d, kNodeHeader + (n - 1) * t.item_len + 4);
  }

  // Appends node b's content to node a (same level); mid is a's largest key,
  // needed between the two halves of an interior node.
  void MergeNodes(uint8_t* a, int na, const uint8_t* b, int nb, bool leaf, const uint8_t* mid,
                  const TagState& t) const {
    int item = t.item_len;
    if (leaf) {
      std::memcpy(Item(a, t, na), Item(b, t, 0), size_t(nb * item));
      Put32(a, uint32_t(na + nb));
      ZeroTail(a, kNodeHeader + (na + nb) * item);
    } else {
      std::memcpy(Item(a, t, na) + 4, mid, size_t(t.def.key_length));
      std::memcpy(Item(a, t, na + 1), Item(b, t, 0), size_t(nb * item + 4));
      Put32(a, uint32_t(na + nb + 1));
      ZeroTail(a, kNodeHeader + (na + nb + 1) * item + 4);
    }
  }

  // Merges the child at path level (lvl + 1) with a sibling when it is less
  // than half full and the two fit in one block.
  void TryMerge(TagState& t, Path& path, size_t lvl) {
    Level& p = path[lvl];
    Level& c = path[lvl + 1];
    if (c.count >= t.max_keys / 2) return;
    uint8_t* pd = p.block.data();
    auto fits = [&](int na, int nb, bool leaf) {
      return (leaf ? na + nb : na + nb + 1) <= t.max_keys;
    };
    auto sibling = [&](int i) {
      uint32_t sp = Get32(Item(pd, t, i));
      CheckNodePage(sp, p.block.page());
      for (const Level& l : path) {
        if (l.block.page() == sp) CorruptAt(sp, "the tree runs in a loop");
      }
      return MakeLevel(t, sp);
    };
    size_t klen = size_t(t.def.key_length);
    if (p.idx > 0) {
      Level s = sibling(p.idx - 1);
      if (s.leaf == c.leaf && fits(s.count, c.count, c.leaf)) {
        std::string mid(reinterpret_cast<const char*>(Item(pd, t, p.idx - 1) + 4), klen);
        MergeNodes(s.block.data(), s.count, c.block.data(), c.count, c.leaf, Bytes(mid), t);
        s.block.MarkDirty();
        uint32_t gone = c.block.page();
        RemoveChild(pd, t, p.count, p.idx - 1);
        Put32(Item(pd, t, p.idx - 1), s.block.page());
        FreeBlock(gone);
        t.size_pages -= kPagesPerBlock;
        --p.count;
        p.block.MarkDirty();
        return;
      }
    }
    if (p.idx < p.count) {
      Level s = sibling(p.idx + 1);
      if (s.leaf == c.leaf && fits(c.count, s.count, c.leaf)) {
        std::string mid(reinterpret_cast<const char*>(Item(pd, t, p.idx) + 4), klen);
        MergeNodes(c.block.data(), c.count, s.block.data(), s.count, c.leaf, Bytes(mid), t);
        c.block.MarkDirty();
        RemoveChild(pd, t, p.count, p.idx);
        Put32(Item(pd, t, p.idx), c.block.page());
        FreeBlock(s.block.page());
        t.size_pages -= kPagesPerBlock;
        --p.count;
        p.block.MarkDirty();
      }
    }
  }

  void InsertAt(TagState& t, Path& path, std::string_view key, uint32_t recno) {
    const int item = t.item_len;
    const size_t klen = size_t(t.def.key_length);
    bool rightmost = true;
    for (size_t i = 0; i + 1 < path.size(); ++i)
      rightmost = rightmost && path[i].idx == path[i].count;
    Level& leaf = path.back();
    uint8_t* d = leaf.block.data();
    int n = leaf.count;
    int pos = leaf.idx;
    rightmost = rightmost && pos == n;
    t.touched = true;
    if (n < t.max_keys) {
      std::memmove(Item(d, t, pos + 1), Item(d, t, pos), size_t((n - pos) * item));
      WriteItem(Item(d, t, pos), t, recno, Bytes(key));
      Put32(d, uint32_t(n + 1));
      ZeroTail(d, kNodeHeader + (n + 1) * item);
      leaf.block.MarkDirty();
      return;
    }
    std::array<uint8_t, 2 * kBlockSize> tmp{};
    std::memcpy(tmp.data(), d, kBlockSize);
    std::memmove(Item(tmp.data(), t, pos + 1), Item(tmp.data(), t, pos), size_t((n - pos) * item));
    WriteItem(Item(tmp.data(), t, pos), t, recno, Bytes(key));
    int total = n + 1;
    // Appends in key order fill leaves completely instead of leaving halves.
    int m = rightmost ? n : total / 2;
    uint32_t right = AllocBlock();
    BlockRef rb = Fresh(right);
    t.size_pages += kPagesPerBlock;
    std::memcpy(d + kNodeHeader, tmp.data() + kNodeHeader, size_t(m * item));
    Put32(d, uint32_t(m));
    ZeroTail(d, kNodeHeader + m * item);
    leaf.block.MarkDirty();
    std::memcpy(rb.data() + kNodeHeader, Item(tmp.data(), t, m), size_t((total - m) * item));
    Put32(rb.data(), uint32_t(total - m));
    std::string up(reinterpret_cast<const char*>(Item(tmp.data(), t, m - 1) + 4), klen);
    uint32_t up_page = right;

    for (size_t lvl = path.size() - 1; lvl-- > 0;) {
      Level& p = path[lvl];
      uint8_t* pd = p.block.data();
      int pn = p.count;
      int c = p.idx;
      p.block.MarkDirty();
      if (pn < t.max_keys) {
        InsertSplitChild(pd, t, pn, c, Bytes(up), up_page);
        ZeroTail(pd, kNodeHeader + (pn + 1) * item + 4);
        return;
      }
      tmp.fill(0);
      std::memcpy(tmp.data(), pd, kBlockSize);
      InsertSplitChild(tmp.data(), t, pn, c, Bytes(up), up_page);
      bool rm = c == pn;
      for (size_t i = 0; i < lvl; ++i) rm = rm && path[i].idx == path[i].count;
      int children = pn + 2;
      int left = rm ? children - 1 : children / 2;
      std::memset(pd, 0, kBlockSize);
      std::memcpy(pd + kNodeHeader, tmp.data() + kNodeHeader, size_t((left - 1) * item + 4));
      Put32(pd, uint32_t(left - 1));
      uint32_t np = AllocBlock();
      BlockRef nb = Fresh(np);
      t.size_pages += kPagesPerBlock;
      std::memcpy(nb.data() + kNodeHeader, Item(tmp.data(), t, left),
                  size_t((children - 1 - left) * item + 4));
      Put32(nb.data(), uint32_t(children - 1 - left));
      up.assign(reinterpret_cast<const char*>(Item(tmp.data(), t, left - 1) + 4), klen);
      up_page = np;
    }
    uint32_t nr = AllocBlock();
    BlockRef r = Fresh(nr);
    t.size_pages += kPagesPerBlock;
    Put32(r.data(), 1);
    WriteItem(Item(r.data(), t, 0), t, t.root, Bytes(up));
    Put32(Item(r.data(), t, 1), up_page);
    t.root = nr;
  }

  void RemoveAt(TagState& t, Path& path) {
    const int item = t.item_len;
    const size_t klen = size_t(t.def.key_length);
    t.touched = true;
    Level& leaf = path.back();
    uint8_t* d = leaf.block.data();
    int n = leaf.count;
    int pos = leaf.idx;
    std::memmove(Item(d, t, pos), Item(d, t, pos + 1), size_t((n - pos - 1) * item));
    --n;
    Put32(d, uint32_t(n));
    ZeroTail(d, kNodeHeader + n * item);
    leaf.block.MarkDirty();
    leaf.count = n;
    bool empty = n == 0;
    bool max_changed = !empty && pos == n;
    std::string new_max;
    if (max_changed) new_max.assign(reinterpret_cast<const char*>(Item(d, t, n - 1) + 4), klen);

    for (size_t lvl = path.size() - 1; lvl-- > 0;) {
      Level& p = path[lvl];
      uint8_t* pd = p.block.data();
      int c = p.idx;
      int pn = p.count;
      if (empty) {
        FreeBlock(path[lvl + 1].block.page());
        t.size_pages -= kPagesPerBlock;
        if (pn == 0) continue;  // p lost its only child: it goes too
        max_changed = c == pn;
        if (max_changed)
          new_max.assign(reinterpret_cast<const char*>(Item(pd, t, pn - 1) + 4), klen);
        RemoveChild(pd, t, pn, c);
        p.count = pn - 1;
        p.block.MarkDirty();
        empty = false;
        continue;
      }
      if (max_changed && c < pn) {
        std::memcpy(Item(pd, t, c) + 4, new_max.data(), klen);
        p.block.MarkDirty();
        max_changed = false;
      }
      TryMerge(t, path, lvl);
    }
    Level& root = path.front();
    if (empty) {
      std::memset(root.block.data(), 0, kBlockSize);  // the root becomes an empty leaf
      root.block.MarkDirty();
      return;
    }
    path.resize(1);
    for (int guard = 0; guard < kMaxDepth; ++guard) {
      Level& r = path.front();
      if (r.leaf || r.count > 0) break;
      uint32_t child = Get32(Item(r.block.data(), t, 0));
      CheckNodePage(child, r.block.page());
      if (child == r.block.page()) CorruptAt(child, "the tree runs in a loop");
      uint32_t old = r.block.page();
      path.front() = MakeLevel(t, child);
      FreeBlock(old);
      t.size_pages -= kPagesPerBlock;
      t.root = child;
    }
  }

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

  void Abandon() noexcept {
    DropCache();
    in_change = false;
    change_failed = false;
    unfinished_build = false;
    active_builders = 0;
    ++change_gen;
    try {
      file_size = file->Size();
      LoadHeader();
      NoteSeen();
    } catch (const DbfError& e) {
      broken_code = e.code();
      broken = e.what();
    } catch (const std::exception& e) {
      broken_code = ErrorCode::kIo;
      broken = e.what();
    }
  }
};

// ============================================================================

namespace {

class MdxBuilder final : public MdxFile::Builder {
 public:
  MdxBuilder(MdxFile::Impl& impl, int tag)
      : impl_(impl), tag_(tag), gen_(impl.change_gen), writer_(impl) {
    const TagState& t = impl_.tags[size_t(tag_)];
    item_ = t.item_len;
    max_ = t.max_keys;
    klen_ = size_t(t.def.key_length);
    levels_.reserve(kMaxDepth + 2);
    last_.resize(klen_);
  }

  ~MdxBuilder() override {
    if (!finished_ && impl_.change_gen == gen_) {
      impl_.tags[size_t(tag_)].building = false;
      --impl_.active_builders;
      impl_.unfinished_build = true;
    }
  }

  void Add(std::string_view key, uint32_t recno) override {
    TagState& t = Check();
    impl_.CheckKey(t, key, true);
    if (has_last_ &&
        impl_.EntryCmp(t, Bytes(key), klen_, recno, Bytes(last_), klen_, last_recno_) <= 0) {
      Fail(ErrorCode::kBadState, "Entries for tag " + t.def.name + " were given out of order");
    }
    MdxFile::Impl::ChangeGuard guard(impl_);
    std::memcpy(last_.data(), key.data(), klen_);
    last_recno_ = recno;
    has_last_ = true;
    // Not zeroed: WriteItem fills all item_len bytes, and this runs once per
    // entry of a rebuild.
    std::array<uint8_t, kBlockSize> item;
    impl_.WriteItem(item.data(), t, recno, Bytes(key));
    Push(0, item.data());
  }

  void Finish() override {
    TagState& t = Check();
    MdxFile::Impl::ChangeGuard guard(impl_);
    for (size_t lv = 0; lv < levels_.size(); ++lv) {
      LevelBuf& l = levels_[lv];
      if (!l.has_pend && lv + 1 == levels_.size()) {
        std::array<uint8_t, kBlockSize> block{};
        Fill(block.data(), lv == 0, l.cur.data(), l.cur_n);
        impl_.Discard(t.root);
        writer_.Add(t.root, block.data());
        break;
      }
      if (l.has_pend) {
        int cap = Capacity(lv);
        if (l.cur_n < cap / 2) {
          // The last node would be thin: share with the one before it.
          int total = l.pend_n + l.cur_n;
          int keep = (total + 1) / 2;
          int move = l.pend_n - keep;
          std::memmove(l.cur.data() + size_t(move * item_), l.cur.data(), size_t(l.cur_n * item_));
          std::memcpy(l.cur.data(), l.pend.data() + size_t(keep * item_), size_t(move * item_));
          l.pend_n = keep;
          l.cur_n += move;
        }
        Emit(lv, l.pend.data(), l.pend_n);
      }
      Emit(lv, levels_[lv].cur.data(), levels_[lv].cur_n);
    }
    writer_.Flush();
    t.building = false;
    t.touched = true;
    --impl_.active_builders;
    finished_ = true;
  }

 private:
  struct LevelBuf {
    std::vector<uint8_t> cur, pend;
    int cur_n = 0, pend_n = 0;
    bool has_pend = false;
  };

  TagState& Check() {
    if (finished_ || impl_.change_gen != gen_ || !impl_.in_change) {
      Fail(ErrorCode::kBadState, "The rebuild of an index tag is no longer in progress");
    }
    impl_.CheckReadable();
    return impl_.tags[size_t(tag_)];
  }

  int Capacity(size_t level) const { return level == 0 ? max_ : max_ + 1; }

  // Leaves hold n items; interior nodes n - 1 keys and n child pointers.
  void Fill(uint8_t* block, bool leaf, const uint8_t* items, int n) const {
    if (leaf) {
      Put32(block, uint32_t(n));
      std::memcpy(block + kNodeHeader, items, size_t(n * item_));
    } else {
      Put32(block, uint32_t(n - 1));
      std::memcpy(block + kNodeHeader, items, size_t((n - 1) * item_ + 4));
    }
  }

  void Push(size_t level, const uint8_t* item) {
    if (level == levels_.size()) {
      if (levels_.size() == levels_.capacity()) {
        Fail(ErrorCode::kBadState, "An index tree would grow too deep");
      }
      levels_.emplace_back();
      levels_.back().cur.resize(size_t(Capacity(level) * item_));
      levels_.back().pend.resize(size_t(Capacity(level) * item_));
    }
    LevelBuf& l = levels_[level];
    if (l.cur_n == Capacity(level)) {
      if (l.has_pend) Emit(level, l.pend.data(), l.pend_n);
      std::swap(l.cur, l.pend);
      l.pend_n = l.cur_n;
      l.has_pend = true;
      l.cur_n = 0;
    }
    std::memcpy(l.cur.data() + size_t(l.cur_n * item_), item, size_t(item_));
    ++l.cur_n;
  }

  void Emit(size_t level, const uint8_t* items, int n) {
    TagState& t = impl_.tags[size_t(tag_)];
    uint32_t page = impl_.AllocBlock();
    impl_.Discard(page);
    t.size_pages += kPagesPerBlock;
    std::array<uint8_t, kBlockSize> block{};
    Fill(block.data(), level == 0, items, n);
    writer_.Add(page, block.data());
    std::array<uint8_t, kBlockSize> up{};
    Put32(up.data(), page);
    std::memcpy(up.data() + 4, items + size_t((n - 1) * item_) + 4, size_t(item_ - 4));
    Push(level + 1, up.data());
  }

  MdxFile::Impl& impl_;
  int tag_;
  uint64_t gen_;
  MdxFile::Impl::RunWriter writer_;
  int item_ = 0;
  int max_ = 0;
  size_t klen_ = 0;
  std::vector<LevelBuf> levels_;
  std::string last_;
  uint32_t last_recno_ = 0;
  bool has_last_ = false;
  bool finished_ = false;
};

bool ValidTagName(std::string_view name) {
  if (name.empty() || name.size() > 10) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!alpha(name[0])) return false;
  for (char c : name) {
    if (!alpha(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

}  // namespace

// ============================================================================

MdxFile::MdxFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MdxFile::~MdxFile() = default;

std::unique_ptr<MdxFile> MdxFile::Open(Env& env, const std::string& path, bool writable) {
  auto impl = std::make_unique<Impl>(env, path);
  impl->writable = writable;
  impl->file = env.Open(path, writable ? OpenMode::kReadWrite : OpenMode::kReadOnly);
  impl->LoadHeader();
  impl->NoteSeen();
  return std::unique_ptr<MdxFile>(new MdxFile(std::move(impl)));
}

std::unique_ptr<MdxFile> MdxFile::Create(Env& env, const std::string& path,
                                         std::string_view table_name) {
  std::array<uint8_t, kHeaderSize> h{};
  h[kHdrVersion] = 2;
  TodayHeaderDate(h.data() + kHdrCreated);
  std::string name = UpperAscii(table_name.substr(0, 16));
  std::memcpy(h.data() + kHdrTableName, name.data(), name.size());
  Put16(h.data() + kHdrPagesPerBlock, kPagesPerBlock);
  Put16(h.data() + kHdrBlockSize, kBlockSize);
  h[kHdrProduction] = 1;
  h[kHdrMaxTags] = 48;
  h[kHdrTagEntrySize] = kTagEntrySize;
  Put32(h.data() + kHdrPagesInFile, kFirstNodePage);
  TodayHeaderDate(h.data() + kHdrUpdated);
  std::memcpy(h.data() + kStampOffset, kStampMagic, 4);

  std::string tmp = path + ".tmp";
  try {
    auto f = env.Open(tmp, OpenMode::kCreateTruncate);
    f->WriteAt(0, h.data(), kHeaderSize);
    f->Sync();
    f.reset();
    env.Rename(tmp, path);
  } catch (...) {
    try {
      env.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  env.SyncDir(path);
  return Open(env, path, true);
}

const std::string& MdxFile::path() const {
  return impl_->path;
}

void MdxFile::Sync() {
  Impl& m = *impl_;
  if (m.in_change) return;  // we hold the write lock: nobody else changed it
  if (m.broken.empty()) {
    uint8_t head[64];
    size_t got = m.file->ReadStart(kHeaderSize, 0, head, sizeof head);
    bool present = got == sizeof head && std::memcmp(head + kStampOffset, kStampMagic, 4) == 0;
    uint32_t counter = present ? Get32(head + kStampOffset + 12) : 0;
    // Changes of the table alone leave the counter as it is.
    if (present && m.stamp.present) m.stamp.table_changes = Get24(head + kStampOffset + 5);
    // Our own writers bump the counter; other software at least changes
    // the modification time or the size.
    if (present == m.seen_present && counter == m.seen_counter) {
      if (!m.mtime_known) return;  // nobody changed it since our own last change
      File::Status st = m.file->Stat();
      if (st.modified_ns == m.seen_mtime && st.size == m.seen_size) return;
    }
  }
  m.DropCache();
  try {
    m.LoadHeader();
    m.NoteSeen();
    m.broken.clear();
  } catch (const DbfError& e) {
    m.broken_code = e.code();
    m.broken = e.what();
    throw;
  }
}

MdxStamp MdxFile::Stamp() const {
  return impl_->stamp;
}

void MdxFile::BeginChange(bool just_synced) {
  Impl& m = *impl_;
  if (!m.writable) Fail(ErrorCode::kReadOnly, "The index \"" + m.path + "\" is open read-only");
  if (m.in_change) {
    Fail(ErrorCode::kBadState, "A change of \"" + m.path + "\" is already in progress");
  }
  if (!just_synced || !m.broken.empty()) Sync();  // also re-reads a file that could not be read
  m.CheckUsable();
  ++m.change_gen;
  m.stamp.present = true;
  m.stamp.dirty = true;
  m.stamp.kept = false;
  ++m.stamp.change_counter;
  m.in_change = true;
  m.change_failed = false;
  m.unfinished_build = false;
  m.pending_released = false;
  // A run of changes that keep the dirty mark wrote it with its first one,
  // and nobody has changed the file since (Sync would have dropped it).
  if (m.held_dirty) return;
  try {
    // The dirty mark must be on disk before any page of the change.
    m.WriteHeader(kDirtyInChange);
    if (m.sync_writes) m.file->Sync();
  } catch (...) {
    m.Abandon();
    throw;
  }
}

void MdxFile::EndChange(uint32_t record_count, bool keep_dirty) {
  Impl& m = *impl_;
  m.CheckUsable();
  if (!m.in_change) Fail(ErrorCode::kBadState, "No change of \"" + m.path + "\" is in progress");
  if (m.active_builders > 0) {
    Fail(ErrorCode::kBadState, "A tag of \"" + m.path + "\" is still being rebuilt");
  }
  if (m.change_failed || m.unfinished_build) {
    m.Abandon();
    Fail(ErrorCode::kBadState, "The change of \"" + m.path +
                                   "\" failed or was not completed; the index stays marked dirty");
  }
  try {
    std::vector<std::pair<size_t, bool>> touched;  // tag, has keys
    for (size_t i = 0; i < m.tags.size(); ++i) {
      if (m.tags[i].touched) touched.emplace_back(i, m.HasKeys(m.tags[i]));
    }
    if (!m.pending_headers.empty()) m.EnsureFreeList();  // pending tag headers are free from now on
    m.WriteFreeLinks();
    // Nodes first, tag headers after them: a tag header on disk never
    // points at a root that is not there yet.
    m.FlushDirty();
    for (auto [i, has_keys] : touched) {
      TagState& t = m.tags[i];
      // Inside a run only what readers need (the root, the size, whether
      // there are keys) forces the tag header out; its serial number is
      // bumped once when the run ends.
      bool moved =
          t.root != t.disk_root || t.size_pages != t.disk_size || has_keys != t.disk_has_keys;
      if (keep_dirty && !moved) continue;
      m.WriteTagHeaderNow(t, has_keys);
    }
    m.FlushDirty();
    // file_size follows every write of ours and every re-read of the header.
    uint64_t want = uint64_t(m.pages_in_file) * kPageSize;
    if (m.file_size < want) {
      m.file->Truncate(want);
      m.file_size = want;
    }
    if (m.sync_writes) m.file->Sync();
    m.pending_headers = std::move(m.freed_headers);
    m.freed_headers.clear();
    m.stamp.dirty = m.stamp.kept = keep_dirty;
    m.stamp.record_count = record_count;
    TodayHeaderDate(m.header.data() + kHdrUpdated);
    m.WriteHeader(keep_dirty ? kDirtyKept : 0);
    m.in_change = false;
    if (keep_dirty) {
      m.held_dirty = true;
      m.seen_counter = m.stamp.change_counter;
      m.seen_present = true;
      m.mtime_known = false;
    } else {
      m.NoteSeen();
    }
  } catch (...) {
    m.Abandon();
    throw;
  }
}

void MdxFile::AbandonChange() {
  if (!impl_->in_change) return;
  impl_->Abandon();
}

bool MdxFile::HoldsDirty() const {
  return impl_->held_dirty && !impl_->in_change;
}

void MdxFile::FinishRun(uint32_t record_count) {
  Impl& m = *impl_;
  if (!m.held_dirty || m.in_change) return;
  m.CheckUsable();
  try {
    for (TagState& t : m.tags) {
      if (t.touched) m.WriteTagHeaderNow(t, m.HasKeys(t));
    }
    m.FlushDirty();
    if (m.sync_writes) m.file->Sync();
    m.stamp.dirty = m.stamp.kept = false;
    m.stamp.record_count = record_count;
    m.WriteHeader(0);
    m.held_dirty = false;
    m.NoteSeen();
  } catch (...) {
    m.Abandon();
    throw;
  }
}

void MdxFile::NoteTableChange() {
  Impl& m = *impl_;
  if (!m.writable) Fail(ErrorCode::kReadOnly, "The index \"" + m.path + "\" is open read-only");
  if (m.in_change) {
    Fail(ErrorCode::kBadState, "A change of \"" + m.path + "\" is in progress");
  }
  m.CheckUsable();
  if (!m.stamp.present) return;  // written by other software: there is no stamp to bump
  uint32_t next = (m.stamp.table_changes + 1) & 0xFFFFFF;
  uint8_t bytes[3] = {uint8_t(next), uint8_t(next >> 8), uint8_t(next >> 16)};
  m.PatchHeader(kStampOffset + 5, bytes, sizeof bytes);
  m.stamp.table_changes = next;
}

std::optional<MdxTableNote> MdxFile::TableNote() const {
  const uint8_t* n = impl_->header.data() + kNoteOffset;
  if (!impl_->stamp.present || std::memcmp(n, kNoteMagic, 4) != 0) return std::nullopt;
  if (Get32(n + 12) != NoteCheck(n)) return std::nullopt;
  MdxTableNote note;
  note.deleted = Get32(n + 4);
  note.record_count = Get32(n + 8);
  note.table_size = Get64(n + 16);
  note.table_modified_ns = int64_t(Get64(n + 24));
  return note;
}

void MdxFile::WriteTableNote(const MdxTableNote& note) {
  Impl& m = *impl_;
  if (!m.writable || m.in_change || m.change_failed || !m.broken.empty() || !m.stamp.present)
    return;
  uint8_t n[kNoteSize] = {};
  std::memcpy(n, kNoteMagic, 4);
  Put32(n + 4, note.deleted);
  Put32(n + 8, note.record_count);
  Put64(n + 16, note.table_size);
  Put64(n + 24, uint64_t(note.table_modified_ns));
  Put32(n + 12, NoteCheck(n));
  if (std::memcmp(m.header.data() + kNoteOffset, n, kNoteSize) == 0) return;
  m.PatchHeader(kNoteOffset, n, kNoteSize);
}

uint64_t MdxFile::Generation() const {
  return impl_->generation;
}

int MdxFile::TagCount() const {
  return int(impl_->tags.size());
}

const TagDef& MdxFile::Tag(int tag) const {
  return impl_->TagAt(tag).def;
}

int MdxFile::FindTag(std::string_view name) const {
  std::string want = UpperAscii(name);
  for (size_t i = 0; i < impl_->tags.size(); ++i) {
    if (UpperAscii(impl_->tags[i].def.name) == want) return int(i);
  }
  return -1;
}

int MdxFile::AddTag(const TagDef& def) {
  Impl& m = *impl_;
  m.RequireChange();
  auto bad = [&](const std::string& why) {
    Fail(ErrorCode::kBadDefinition,
         "Cannot add tag \"" + def.name + "\" to \"" + m.path + "\": " + why);
  };
  if (!ValidTagName(def.name))
    bad("a tag name has 1 to 10 letters, digits or underscores, starting with a letter");
  if (FindTag(def.name) >= 0) bad("a tag of that name exists");
  if (int(m.tags.size()) >= kMaxTags)
    bad("the index holds " + std::to_string(kMaxTags) + " tags already");
  switch (def.type) {
    case KeyType::kChar:
      if (def.key_length < 1 || def.key_length > kMaxCharKey) {
        bad("a character key has 1 to " + std::to_string(kMaxCharKey) + " bytes");
      }
      break;
    case KeyType::kNumeric:
      if (def.key_length != kNumericKeyLength) bad("a numeric key has 12 bytes");
      break;
    case KeyType::kDate:
      if (def.key_length != 8) bad("a date key has 8 bytes");
      break;
    default:
      bad("unknown key type");
  }
  if (def.expression.empty() || def.expression.size() > size_t(kMaxExpression) ||
      def.expression.find('\0') != std::string::npos) {
    bad("the key expression must have 1 to " + std::to_string(kMaxExpression) + " characters");
  }
  m.EnsureFreeList();

  Impl::ChangeGuard guard(m);
  TagState t;
  t.def = def;
  t.def.name = UpperAscii(def.name);
  t.item_len = (def.key_length + 4 + 3) / 4 * 4;
  t.max_keys = kNodeSpace / t.item_len;
  t.header_page = m.AllocBlock();
  BlockRef hb = m.Fresh(t.header_page);
  t.root = m.AllocBlock();
  m.Fresh(t.root);  // an empty leaf
  t.size_pages = kPagesPerBlock;
  t.touched = true;
  m.WriteTagHeader(t, hb);
  std::memcpy(hb.data() + kTagExprOffset, def.expression.data(), def.expression.size());
  hb.data()[kTagHasFilter] = 0;
  m.header_pages.insert(
      std::upper_bound(m.header_pages.begin(), m.header_pages.end(), t.header_page), t.header_page);
  m.tags.push_back(std::move(t));
  m.tag_table_changed = true;
  return int(m.tags.size()) - 1;
}

void MdxFile::DeleteTag(int tag) {
  Impl& m = *impl_;
  m.RequireChange();
  m.TagAt(tag);
  if (m.active_builders > 0)
    Fail(ErrorCode::kBadState, "Tags cannot be deleted while one is being rebuilt");
  m.EnsureFreeList();
  std::optional<std::vector<uint32_t>> pages;
  if (m.tags[size_t(tag)].damage.empty()) pages = m.TreePages(m.tags[size_t(tag)]);
  Impl::ChangeGuard guard(m);
  TagState& t = m.tags[size_t(tag)];
  if (pages) {
    std::sort(pages->rbegin(), pages->rend());
    for (uint32_t p : *pages) m.FreeBlock(p);
  }
  m.header_pages.erase(std::find(m.header_pages.begin(), m.header_pages.end(), t.header_page));
  m.Discard(t.header_page);
  if (t.damage.empty()) m.freed_headers.push_back(t.header_page);
  m.tags.erase(m.tags.begin() + tag);
  m.tag_table_changed = true;
}

std::unique_ptr<MdxFile::Builder> MdxFile::Rebuild(int tag) {
  Impl& m = *impl_;
  m.RequireChange();
  TagState& t0 = m.ReadTag(tag);
  m.EnsureFreeList();
  auto pages = m.TreePages(t0);
  Impl::ChangeGuard guard(m);
  TagState& t = m.tags[size_t(tag)];
  bool root_ok = m.PageInRange(t.root) && !m.IsHeaderPage(t.root);
  if (pages) {
    // Descending pushes make later allocations come out in ascending order.
    std::sort(pages->rbegin(), pages->rend());
    for (uint32_t p : *pages) {
      if (p != t.root) m.FreeBlock(p);
    }
  }
  if (!pages || !root_ok) t.root = m.AllocBlock();  // never reuse a page of a damaged tree
  m.Fresh(t.root);                                  // empty until Finish writes the real root
  t.size_pages = kPagesPerBlock;
  t.touched = true;
  t.building = true;
  ++m.active_builders;
  return std::make_unique<MdxBuilder>(m, tag);
}

void MdxFile::Insert(int tag, std::string_view key, uint32_t recno) {
  Impl& m = *impl_;
  m.RequireChange();
  TagState& t = m.ReadTag(tag);
  m.CheckKey(t, key, true);
  Target x{Bytes(key), key.size(), recno, false};
  Path path = m.Descend(t, x);
  {
    // The entry at the insert position, if any, must not be this one.
    const Level& leaf = path.back();
    std::optional<Path> probe;
    const Level* at = &leaf;
    if (leaf.idx >= leaf.count) {
      probe.emplace(path);
      at = m.Settle(t, *probe) ? &probe->back() : nullptr;
    }
    if (at) {
      const uint8_t* item = Impl::Item(at->block.data(), t, at->idx);
      if (Get32(item) == recno && m.KeyCmp(t, item + 4, key.size(), Bytes(key), key.size()) == 0) {
        Fail(ErrorCode::kBadState,
             "Record " + std::to_string(recno) + " is already in tag " + t.def.name);
      }
    }
  }
  Impl::ChangeGuard guard(m);
  m.InsertAt(t, path, key, recno);
}

void MdxFile::Remove(int tag, std::string_view key, uint32_t recno) {
  Impl& m = *impl_;
  m.RequireChange();
  TagState& t = m.ReadTag(tag);
  m.CheckKey(t, key, true);
  Target x{Bytes(key), key.size(), recno, false};
  Path path = m.Descend(t, x);
  bool found = m.Settle(t, path);
  if (found) {
    const uint8_t* item = Impl::Item(path.back().block.data(), t, path.back().idx);
    found = Get32(item) == recno && m.KeyCmp(t, item + 4, key.size(), Bytes(key), key.size()) == 0;
  }
  if (!found) {
    Fail(ErrorCode::kKeyNotFound, "Record " + std::to_string(recno) + " is missing from tag " +
                                      t.def.name + " of \"" + m.path + "\"");
  }
  Impl::ChangeGuard guard(m);
  m.RemoveAt(t, path);
}

std::optional<IndexEntry> MdxFile::First(int tag) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  Path path = m.EdgePath(t, true);
  if (!m.Settle(t, path)) return std::nullopt;
  return m.EntryAt(t, path.back());
}

std::optional<IndexEntry> MdxFile::Last(int tag) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  Path path = m.EdgePath(t, false);
  if (path.back().count == 0 && !m.PrevLeaf(t, path)) return std::nullopt;
  return m.EntryAt(t, path.back());
}

// The entry at or after the position (key, recno) (past it when strict),
// or the one before that position when backwards.
std::optional<IndexEntry> MdxFile::Seek(int tag, std::string_view key, uint32_t recno, bool strict,
                                        bool backwards) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  m.CheckKey(t, key, false);
  Path path = m.Descend(t, Target{Bytes(key), key.size(), recno, strict});
  if (!(backwards ? m.StepBack(t, path) : m.Settle(t, path))) return std::nullopt;
  return m.EntryAt(t, path.back());
}

std::optional<IndexEntry> MdxFile::SeekGE(int tag, std::string_view key, uint32_t recno) {
  return Seek(tag, key, recno, false, false);
}

std::optional<IndexEntry> MdxFile::SeekGT(int tag, std::string_view key, uint32_t recno) {
  return Seek(tag, key, recno, true, false);
}

std::optional<IndexEntry> MdxFile::SeekLE(int tag, std::string_view key, uint32_t recno) {
  return Seek(tag, key, recno, true, true);
}

std::optional<IndexEntry> MdxFile::SeekLT(int tag, std::string_view key, uint32_t recno) {
  return Seek(tag, key, recno, false, true);
}

void MdxFile::Scan(int tag, bool backwards, const IndexEntry* from, bool inclusive, size_t max,
                   std::vector<IndexEntry>* out) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  if (max == 0) return;
  Path path;
  bool ok;
  if (!from) {
    path = m.EdgePath(t, !backwards);
    ok = backwards ? path.back().count > 0 || m.PrevLeaf(t, path) : m.Settle(t, path);
  } else {
    m.CheckKey(t, from->key, false);
    // Descend finds the first entry at or after (strict: past) the target;
    // a backward walk starts on the entry before that one.
    bool strict = backwards ? inclusive : !inclusive;
    path = m.Descend(t, Target{Bytes(from->key), from->key.size(), from->recno, strict});
    ok = backwards ? m.StepBack(t, path) : m.Settle(t, path);
  }
  while (ok) {
    out->push_back(m.EntryAt(t, path.back()));
    if (--max == 0) return;
    if (backwards) {
      ok = m.StepBack(t, path);
    } else {
      ++path.back().idx;
      ok = m.Settle(t, path);
    }
  }
}

double MdxFile::Fraction(int tag, std::string_view key, uint32_t recno) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  m.CheckKey(t, key, false);
  Path path = m.Descend(t, Target{Bytes(key), key.size(), recno, false});
  double f = 0;
  double scale = 1;
  for (size_t i = 0; i < path.size(); ++i) {
    const Level& l = path[i];
    if (l.leaf) {
      if (l.count > 0) f += scale * l.idx / l.count;
      break;
    }
    std::vector<double> w = m.ChildWeights(t, l, path, i);
    double total = 0;
    double before = 0;
    for (size_t c = 0; c < w.size(); ++c) {
      total += w[c];
      if (int(c) < l.idx) before += w[c];
    }
    if (total <= 0) break;
    f += scale * before / total;
    scale *= w[size_t(l.idx)] / total;
  }
  return std::clamp(f, 0.0, 1.0);
}

std::optional<IndexEntry> MdxFile::AtFraction(int tag, double fraction) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  double f = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
  Path path;
  uint32_t page = t.root;
  uint32_t from = t.header_page;
  for (;;) {
    m.CheckNodePage(page, from);
    m.CheckNotOnPath(path, page);
    Level lv = m.MakeLevel(t, page);
    if (lv.leaf) {
      lv.idx = std::min(lv.count > 0 ? lv.count - 1 : 0, int(f * lv.count));
    } else {
      std::vector<double> w = m.ChildWeights(t, lv, path, path.size());
      double total = 0;
      for (double x : w) total += x;
      double target = f * total;
      double before = 0;
      lv.idx = lv.count;
      for (int c = 0; c <= lv.count; ++c) {
        if (w[size_t(c)] > 0 && target < before + w[size_t(c)]) {
          lv.idx = c;
          break;
        }
        if (c < lv.count) before += w[size_t(c)];
      }
      double wi = w[size_t(lv.idx)];
      f = wi > 0 ? std::clamp((target - before) / wi, 0.0, 1.0) : 0.0;
    }
    bool leaf = lv.leaf;
    from = page;
    page = leaf ? 0 : Get32(Impl::Item(lv.block.data(), t, lv.idx));
    path.push_back(std::move(lv));
    if (leaf) break;
  }
  if (path.back().count == 0) {
    Path back = path;
    if (m.NextLeaf(t, path)) return m.EntryAt(t, path.back());
    if (m.PrevLeaf(t, back)) return m.EntryAt(t, back.back());
    return std::nullopt;
  }
  return m.EntryAt(t, path.back());
}

void MdxFile::Walk(int tag, const std::function<void(const IndexEntry&)>& visit) {
  Impl& m = *impl_;
  const TagState& t = m.ReadTag(tag);
  const size_t klen = size_t(t.def.key_length);
  std::vector<bool> seen(m.pages_in_file, false);
  int leaf_depth = -1;
  IndexEntry prev;
  bool has_prev = false;
  std::string lower;  // a separator the next entry must not sort below
  bool has_lower = false;

  std::function<void(uint32_t, uint32_t, int)> walk = [&](uint32_t page, uint32_t from, int depth) {
    m.CheckNodePage(page, from);
    if (depth >= kMaxDepth)
      m.CorruptAt(page, "the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
    if (seen[page]) m.CorruptAt(page, "reached twice in tag " + t.def.name);
    seen[page] = true;
    BlockRef b = m.Get(page);
    int n = m.CountOf(b, t);
    const uint8_t* d = b.data();
    if (Impl::IsLeaf(d, t, n)) {
      if (leaf_depth < 0) leaf_depth = depth;
      if (leaf_depth != depth) m.CorruptAt(page, "leaves at different depths in tag " + t.def.name);
      for (int i = 0; i < n; ++i) {
        const uint8_t* item = Impl::Item(d, t, i);
        const uint8_t* key = item + 4;
        uint32_t recno = Get32(item);
        if (has_prev && m.EntryCmp(t, key, klen, recno, Bytes(prev.key), klen, prev.recno) <= 0) {
          m.CorruptAt(page, "keys out of order in tag " + t.def.name);
        }
        if (has_lower && m.KeyCmp(t, key, klen, Bytes(lower), klen) < 0) {
          m.CorruptAt(page, "a key below its interior key in tag " + t.def.name);
        }
        has_lower = false;
        prev.key.assign(reinterpret_cast<const char*>(key), klen);
        prev.recno = recno;
        has_prev = true;
        visit(prev);
      }
      return;
    }
    for (int i = 0; i <= n; ++i) {
      walk(Get32(Impl::Item(d, t, i)), page, depth + 1);
      if (i == n) break;
      const uint8_t* sep = Impl::Item(d, t, i) + 4;
      if (has_prev && m.KeyCmp(t, Bytes(prev.key), klen, sep, klen) > 0) {
        m.CorruptAt(page, "an interior key below a key of its child in tag " + t.def.name);
      }
      lower.assign(reinterpret_cast<const char*>(sep), klen);
      has_lower = true;
    }
  };
  walk(t.root, t.header_page, 0);
}

void MdxFile::SetSyncWrites(bool sync) {
  impl_->sync_writes = sync;
}

void MdxFile::SetCacheLimit(size_t blocks) {
  impl_->cache_limit = std::max<size_t>(blocks, 1);
}

uint64_t MdxFile::KeyCount(int tag) {
  uint64_t n = 0;
  Walk(tag, [&](const IndexEntry&) { ++n; });
  return n;
}

}  // namespace klv::dbf
