// MdxFile's public operations: open and create, sync, changes and runs of
// changes, the table's note, tags, and the lookups and walks (see
// MdxImpl.h for where each part of the work is done).
#include "db/dbf/Mdx.h"

#include <cmath>
#include <functional>

#include "db/dbf/MdxImpl.h"

namespace klv::dbf {
namespace {

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
    // Other copies saw the run's kept mark under the last change's counter;
    // the file's time and size alone may not move (a coarse clock, no new
    // pages), and a copy that kept the old mark would take the run's end
    // for a writer that stopped.
    ++m.stamp.change_counter;
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
