// Free blocks: the chain on disk, taking blocks from it and giving them back.
#include "db/dbf/MdxImpl.h"

namespace klv::dbf {

void MdxFile::Impl::EnsureFreeList() {
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

uint32_t MdxFile::Impl::AllocBlock() {
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

void MdxFile::Impl::FreeBlock(uint32_t page) {
  EnsureFreeList();
  Discard(page);
  free_list.push_back(page);
}

void MdxFile::Impl::WriteFreeLinks() {
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

std::optional<std::vector<uint32_t>> MdxFile::Impl::TreePages(const TagState& t) {
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

}  // namespace klv::dbf
