// The bulk builder of a tag: leaves written as they fill, the levels above
// them made at the end.
#include "db/dbf/MdxImpl.h"

namespace klv::dbf {

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

}  // namespace

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

}  // namespace klv::dbf
