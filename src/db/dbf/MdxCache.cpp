// Raw reads and writes of blocks, and the cache of blocks in front of them.
#include "db/dbf/MdxImpl.h"

namespace klv::dbf {

std::list<Block>::iterator* MdxFile::Impl::Find(uint32_t page) {
  auto& r = recent[RecentSlot(page)];
  if (r.first == page && page != 0) return &r.second;
  auto found = cached.find(page);
  if (found == cached.end()) return nullptr;
  r = {page, found->second};
  return &r.second;
}

void MdxFile::Impl::Forget(uint32_t page) {
  auto& r = recent[RecentSlot(page)];
  if (r.first == page) r.first = 0;
  cached.erase(page);
}

void MdxFile::Impl::WriteRaw(uint32_t page, const uint8_t* data, size_t bytes) {
  uint64_t off = uint64_t(page) * kPageSize;
  file->WriteAt(off, data, bytes);
  file_size = std::max(file_size, off + bytes);
}

void MdxFile::Impl::MakeRoom() {
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

BlockRef MdxFile::Impl::Get(uint32_t page) {
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

BlockRef MdxFile::Impl::Fresh(uint32_t page) {
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

void MdxFile::Impl::Discard(uint32_t page) {
  auto* found = Find(page);
  if (!found) return;
  if ((*found)->pins > 0) {
    (*found)->dirty = false;
    return;
  }
  lru.erase(*found);
  Forget(page);
}

void MdxFile::Impl::FlushDirty() {
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

void MdxFile::Impl::DropCache() {
  cached.clear();
  recent.fill({});
  lru.clear();
}

}  // namespace klv::dbf
