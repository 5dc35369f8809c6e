// The file header: reading and checking it with the tag table and the tag
// headers, writing it with our stamp and notes, re-reading it after a
// failed change; and the checks of pages, tags and keys that every read
// makes.
#include "db/dbf/MdxImpl.h"

namespace klv::dbf {

void MdxFile::Impl::CheckNodePage(uint32_t page, uint32_t from) const {
  auto origin = [from] {
    return from ? " (referenced from page " + std::to_string(from) + ")" : std::string();
  };
  if (!PageInRange(page)) {
    CorruptAt(page,
              "outside the file, which has " + std::to_string(pages_in_file) + " pages" + origin());
  }
  if (IsHeaderPage(page)) CorruptAt(page, "a tag header used as a tree node" + origin());
}

int MdxFile::Impl::CountOf(const BlockRef& b, const TagState& t) const {
  uint32_t n = Get32(b.data());
  if (n > uint32_t(t.max_keys)) {
    CorruptAt(b.page(), "key count " + std::to_string(n) + " exceeds the maximum of " +
                            std::to_string(t.max_keys) + " for tag " + t.def.name);
  }
  return int(n);
}

void MdxFile::Impl::CheckReadable() const {
  CheckUsable();
  if (change_failed) {
    Fail(ErrorCode::kBadState,
         "The index \"" + path + "\" is in a failed change; abandon it first");
  }
}

void MdxFile::Impl::RequireChange() const {
  CheckReadable();
  if (!writable) Fail(ErrorCode::kReadOnly, "The index \"" + path + "\" is open read-only");
  if (!in_change)
    Fail(ErrorCode::kBadState, "The index \"" + path + "\" is changed outside BeginChange");
}

TagState& MdxFile::Impl::TagAt(int tag) {
  if (tag < 0 || tag >= int(tags.size())) {
    Fail(ErrorCode::kNoSuchTag,
         "The index \"" + path + "\" has no tag number " + std::to_string(tag));
  }
  return tags[size_t(tag)];
}

TagState& MdxFile::Impl::ReadTag(int tag) {
  CheckReadable();
  TagState& t = TagAt(tag);
  if (!t.damage.empty()) Fail(ErrorCode::kCorruptIndex, t.damage);
  if (t.building) Fail(ErrorCode::kBadState, "The tag " + t.def.name + " is being rebuilt");
  return t;
}

void MdxFile::Impl::CheckKey(const TagState& t, std::string_view key, bool exact) const {
  bool ok = exact || t.def.type != KeyType::kChar ? key.size() == size_t(t.def.key_length)
                                                  : key.size() <= size_t(t.def.key_length);
  if (!ok) {
    Fail(ErrorCode::kBadValue, "A key of " + std::to_string(key.size()) + " bytes for tag " +
                                   t.def.name + ", whose keys have " +
                                   std::to_string(t.def.key_length));
  }
}

void MdxFile::Impl::LoadHeader() {
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

void MdxFile::Impl::ParseTagHeader(TagState& t, const uint8_t* d) const {
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

void MdxFile::Impl::BuildHeader(uint8_t dirty) {
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

void MdxFile::Impl::WriteHeader(uint8_t dirty) {
  BuildHeader(dirty);
  file->WriteStart(kHeaderSize, 0, header.data(),
                   tag_table_changed ? kHeaderSize : kTagTableOffset);
  tag_table_changed = false;
  file_size = std::max<uint64_t>(file_size, kHeaderSize);
}

void MdxFile::Impl::PatchHeader(int offset, const uint8_t* bytes, size_t n) {
  try {
    file->WriteStart(kHeaderSize, uint64_t(offset), bytes, n);
  } catch (...) {
    Abandon();  // what the bytes on disk hold is unknown now: read them again
    throw;
  }
  std::memcpy(header.data() + offset, bytes, n);
  if (mtime_known) NoteSeen();
}

void MdxFile::Impl::NoteSeen() {
  seen_counter = stamp.change_counter;
  seen_present = stamp.present;
  File::Status st = file->Stat();
  seen_mtime = st.modified_ns;
  seen_size = st.size;
  mtime_known = true;
}

void MdxFile::Impl::WriteTagHeaderNow(TagState& t, bool has_keys) {
  BlockRef hb = Get(t.header_page);
  WriteTagHeader(t, hb);
  hb.data()[20] = uint8_t(hb.data()[20] + 1);  // serial number
  hb.data()[kTagHasKeys] = has_keys ? 1 : 0;
  t.touched = false;
  t.disk_root = t.root;
  t.disk_size = t.size_pages;
  t.disk_has_keys = has_keys;
}

void MdxFile::Impl::WriteTagHeader(const TagState& t, BlockRef& b) {
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

void MdxFile::Impl::Abandon() noexcept {
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

}  // namespace klv::dbf
