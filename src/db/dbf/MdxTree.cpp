// The B-trees of the tags: key order, descents to a position, moves from
// leaf to leaf, and inserts and removals with their splits and merges.
#include "db/dbf/MdxImpl.h"

namespace klv::dbf {

int MdxFile::Impl::KeyCmp(const TagState& t, const uint8_t* a, size_t an, const uint8_t* b,
                          size_t bn) const {
  std::string_view x(reinterpret_cast<const char*>(a), an);
  std::string_view y(reinterpret_cast<const char*>(b), bn);
  int c = CompareKeys(t.def.type, x, y);
  return t.def.descending ? -c : c;
}

int MdxFile::Impl::EntryCmp(const TagState& t, const uint8_t* a, size_t an, uint32_t ar,
                            const uint8_t* b, size_t bn, uint32_t br) const {
  int c = KeyCmp(t, a, an, b, bn);
  if (c != 0) return c;
  return ar < br ? -1 : (ar > br ? 1 : 0);
}

bool MdxFile::Impl::Satisfies(const TagState& t, const uint8_t* item, const Target& x) const {
  int c = KeyCmp(t, item + 4, size_t(t.def.key_length), x.key, x.len);
  if (c != 0) return c > 0;
  uint32_t r = Get32(item);
  return x.strict ? r > x.recno : r >= x.recno;
}

void MdxFile::Impl::CheckNotOnPath(const Path& path, uint32_t page) const {
  if (int(path.size()) >= kMaxDepth)
    CorruptAt(page, "the tree is deeper than " + std::to_string(kMaxDepth) + " levels");
  for (const Level& l : path) {
    if (l.block.page() == page) CorruptAt(page, "the tree runs in a loop");
  }
}

Level MdxFile::Impl::MakeLevel(const TagState& t, uint32_t page) {
  Level lv;
  lv.block = Get(page);
  lv.count = CountOf(lv.block, t);
  lv.leaf = IsLeaf(lv.block.data(), t, lv.count);
  return lv;
}

bool MdxFile::Impl::MaxSatisfies(const TagState& t, uint32_t child, uint32_t from, const Target& x,
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

int MdxFile::Impl::ChooseChild(const TagState& t, const Level& lv, const Target& x,
                               const Path& path) {
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

int MdxFile::Impl::LeafLowerBound(const TagState& t, const Level& lv, const Target& x) const {
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

Path MdxFile::Impl::Descend(const TagState& t, const Target& x) {
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

void MdxFile::Impl::DescendEdge(const TagState& t, Path& path, bool left) {
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

Path MdxFile::Impl::EdgePath(const TagState& t, bool left) {
  CheckNodePage(t.root, t.header_page);
  Path path;
  Level lv = MakeLevel(t, t.root);
  lv.idx = left ? 0 : lv.count;
  path.push_back(std::move(lv));
  DescendEdge(t, path, left);
  return path;
}

bool MdxFile::Impl::NextLeaf(const TagState& t, Path& path) {
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

bool MdxFile::Impl::PrevLeaf(const TagState& t, Path& path) {
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

bool MdxFile::Impl::StepBack(const TagState& t, Path& path) {
  if (path.back().idx > 0) {
    --path.back().idx;
    return true;
  }
  return PrevLeaf(t, path);
}

std::vector<double> MdxFile::Impl::ChildWeights(const TagState& t, const Level& lv,
                                                const Path& path, size_t ancestors) {
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

IndexEntry MdxFile::Impl::EntryAt(const TagState& t, const Level& leaf) const {
  const uint8_t* item = Item(leaf.block.data(), t, leaf.idx);
  IndexEntry e;
  e.key.assign(reinterpret_cast<const char*>(item + 4), size_t(t.def.key_length));
  e.recno = Get32(item);
  return e;
}

void MdxFile::Impl::WriteItem(uint8_t* item, const TagState& t, uint32_t ptr,
                              const uint8_t* key) const {
  Put32(item, ptr);
  std::memcpy(item + 4, key, size_t(t.def.key_length));
  std::memset(item + 4 + t.def.key_length, 0, size_t(t.item_len - 4 - t.def.key_length));
}

void MdxFile::Impl::InsertSplitChild(uint8_t* d, const TagState& t, int n, int c,
                                     const uint8_t* left_max, uint32_t new_page) const {
  int item = t.item_len;
  std::memmove(Item(d, t, c + 1), Item(d, t, c), size_t((n - c) * item + 4));
  std::memcpy(Item(d, t, c) + 4, left_max, size_t(t.def.key_length));
  std::memset(Item(d, t, c) + 4 + t.def.key_length, 0, size_t(item - 4 - t.def.key_length));
  Put32(Item(d, t, c + 1), new_page);
  Put32(d, uint32_t(n + 1));
}

void MdxFile::Impl::RemoveChild(uint8_t* d, const TagState& t, int n, int c) const {
  if (c < n) std::memmove(Item(d, t, c), Item(d, t, c + 1), size_t((n - c - 1) * t.item_len + 4));
  Put32(d, uint32_t(n - 1));
  ZeroTail(d, kNodeHeader + (n - 1) * t.item_len + 4);
}

void MdxFile::Impl::MergeNodes(uint8_t* a, int na, const uint8_t* b, int nb, bool leaf,
                               const uint8_t* mid, const TagState& t) const {
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

void MdxFile::Impl::TryMerge(TagState& t, Path& path, size_t lvl) {
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

void MdxFile::Impl::InsertAt(TagState& t, Path& path, std::string_view key, uint32_t recno) {
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

void MdxFile::Impl::RemoveAt(TagState& t, Path& path) {
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
      if (max_changed) new_max.assign(reinterpret_cast<const char*>(Item(pd, t, pn - 1) + 4), klen);
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

}  // namespace klv::dbf
