// Index tags: adding, building, deleting and choosing them, and key lookups
// on the active tag.
#include "db/dbf/TableImpl.h"

#include <numeric>

namespace klv::dbf {

// ---------------------------------------------------------------------------
// Index tags

namespace {

std::string CheckTagName(std::string_view name) {
  std::string up = UpperAscii(name);
  bool ok = !up.empty() && up.size() <= 10 && up[0] >= 'A' && up[0] <= 'Z';
  for (char c : up) ok = ok && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
  if (!ok) {
    Fail(ErrorCode::kBadDefinition, "\"" + std::string(name) +
                                        "\" is not a valid index tag name (up to 10 letters, "
                                        "digits or '_', beginning with a letter)");
  }
  return up;
}

// Orders the entries (key, record number) of one tag as the tag keeps them.
struct EntryOrder {
  const std::vector<char>* keys;
  size_t key_len;
  KeyType type;
  bool descending;
  const std::vector<uint32_t>* recnos;
  bool operator()(uint32_t a, uint32_t b) const {
    std::string_view ka(keys->data() + a * key_len, key_len);
    std::string_view kb(keys->data() + b * key_len, key_len);
    int c = type == KeyType::kChar ? ka.compare(kb) : CompareKeys(type, ka, kb);
    if (descending) c = -c;
    if (c != 0) return c < 0;
    return (*recnos)[a] < (*recnos)[b];
  }
};

}  // namespace

void tbl::BuildTag(File& dbf, uint32_t header_len, uint32_t record_len, uint32_t count,
                   MdxFile& mdx, int tag, const Expression& expr,
                   const std::function<void(double)>& progress, double base, double span) {
  const TagDef& def = mdx.Tag(tag);
  size_t key_len = static_cast<size_t>(def.key_length);
  std::vector<char> keys(static_cast<size_t>(count) * key_len);
  std::vector<uint32_t> recnos(count);
  uint32_t reported = 0;
  ScanRecords(dbf, header_len, record_len, 1, count, [&](uint32_t recno, const uint8_t* rec) {
    size_t at = static_cast<size_t>(recno - 1);
    recnos[at] = recno;
    WriteKey(def, expr, rec, keys.data() + at * key_len);
    if (progress && recno - reported >= 65536) {
      reported = recno;
      progress(base + span * 0.5 * recno / count);
    }
  });
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  if (def.type == KeyType::kChar && !def.descending) {
    // Slot i holds record i + 1, so slots order duplicates as record numbers do.
    const char* k = keys.data();
    std::sort(order.begin(), order.end(), [k, key_len](uint32_t a, uint32_t b) {
      int c = std::memcmp(k + a * key_len, k + b * key_len, key_len);
      return c != 0 ? c < 0 : a < b;
    });
  } else {
    std::sort(order.begin(), order.end(),
              EntryOrder{&keys, key_len, def.type, def.descending, &recnos});
  }
  auto builder = mdx.Rebuild(tag);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t at = order[i];
    builder->Add(std::string_view(keys.data() + static_cast<size_t>(at) * key_len, key_len),
                 recnos[at]);
  }
  builder->Finish();
  if (progress) progress(base + span);
}

std::vector<TagInfo> Table::Tags() const {
  std::vector<TagInfo> out;
  for (const TagState& t : impl_->tags) {
    out.push_back(TagInfo{t.def.name, t.def.expression, static_cast<char>(t.def.type),
                          t.def.key_length, t.def.descending, t.def.unique});
  }
  return out;
}

void Table::AddIndex(std::string_view name, std::string_view expression,
                     const IndexOptions& options) {
  impl_->RequireWritable();
  if (state_ != State::kBrowse) Cancel();
  Impl& im = *impl_;
  std::string tag_name = CheckTagName(name);
  Expression expr = Expression::Parse(expression, im.expr_fields, *cp_);
  TagDef def;
  def.name = tag_name;
  def.expression = std::string(expression);
  def.type = static_cast<KeyType>(expr.ResultType());
  def.key_length = expr.ResultType() == 'C'   ? expr.ResultLength()
                   : expr.ResultType() == 'N' ? 12
                                              : 8;
  def.descending = options.descending;
  def.unique = options.unique;
  if (def.key_length < 1 || def.key_length > 100) {
    Fail(ErrorCode::kBadExpression, "The index expression \"" + def.expression +
                                        "\" gives keys of " + std::to_string(def.key_length) +
                                        " characters; an index key holds 1 to 100");
  }

  im.EndRun();
  LockGuard write_lock(*im.dbf, true);
  im.share.ReloadHeader();
  if (!im.mdx && im.header[kIndexFlag] != 0) im.share.OpenIndexCreatedElsewhere();
  if (!im.mdx) {
    im.mdx_path = MdxPath();
    std::string base = BaseOf(im.dbf_path);
    base = base.substr(0, base.find('.'));
    im.mdx = MdxFile::Create(im.env, im.mdx_path, UpperAscii(base));
    if (im.header[kIndexFlag] != 1) {
      im.header[kIndexFlag] = 1;
      im.dbf->WriteAt(kIndexFlag, &im.header[kIndexFlag], 1);
    }
  }
  im.share.SyncIndex();
  if (im.index_broken) {
    Fail(ErrorCode::kIndexMismatch,
         "The index \"" + im.mdx_path + "\" does not match its table; regenerate it first");
  }
  std::string active_name = im.active >= 0 ? im.tags[im.active].name : std::string();
  im.mdx->BeginChange();
  try {
    int existing = im.mdx->FindTag(tag_name);
    if (existing >= 0) im.mdx->DeleteTag(existing);
    int tag = im.mdx->AddTag(def);
    BuildTag(*im.dbf, im.header_len, im.record_len, count_, *im.mdx, tag, expr, {}, 0, 1);
    im.mdx->EndChange(count_);
  } catch (...) {
    im.mdx->AbandonChange();
    im.index_broken = true;
    throw;
  }
  im.LoadTags();
  if (!active_name.empty()) SetIndexName(active_name);
}

void Table::DeleteIndex(std::string_view name) {
  impl_->RequireWritable();
  Impl& im = *impl_;
  if (!im.mdx) Fail(ErrorCode::kNoSuchTag, "The table has no index tag " + UpperAscii(name));
  im.EndRun();
  LockGuard write_lock(*im.dbf, true);
  im.share.ReloadHeader();
  im.share.SyncIndex();
  int tag = im.mdx->FindTag(UpperAscii(name));
  if (tag < 0) Fail(ErrorCode::kNoSuchTag, "The table has no index tag " + UpperAscii(name));
  bool was_active = im.active >= 0 && EqualNoCaseAscii(im.tags[im.active].name, name);
  im.mdx->BeginChange();
  try {
    im.mdx->DeleteTag(tag);
    im.mdx->EndChange(count_);
  } catch (...) {
    im.mdx->AbandonChange();
    im.index_broken = true;
    throw;
  }
  if (was_active) {
    im.active = -1;
    index_name_.clear();
  }
  im.LoadTags();
}

void Table::SetIndexName(std::string_view name) {
  impl_->RequireOpen();
  impl_->DropBatch();
  Impl& im = *impl_;
  if (name.empty()) {
    im.active = -1;
    index_name_.clear();
    im.Notify();
    return;
  }
  int found = -1;
  for (size_t i = 0; i < im.tags.size(); ++i)
    if (EqualNoCaseAscii(im.tags[i].name, name)) found = static_cast<int>(i);
  if (found < 0) Fail(ErrorCode::kNoSuchTag, "The table has no index tag " + UpperAscii(name));
  im.active = found;
  index_name_ = im.tags[static_cast<size_t>(found)].name;
  if (recno_) im.key = im.KeyOf(found, buf_.data());
  im.Notify();
}

namespace {

// The search key for a lookup given as text, and how many of its leading
// bytes must match.
std::pair<std::string, size_t> LookupKey(const TagDef& def, const CodePage& cp,
                                         const TextFormat& format, std::string_view text) {
  switch (def.type) {
    case KeyType::kNumeric: {
      auto v = ParseNumberText(text, format);
      if (!v) Fail(ErrorCode::kBadValue, "\"" + std::string(text) + "\" is not a number");
      return {EncodeNumericKey(*v), 12};
    }
    case KeyType::kDate: {
      auto d = ParseDateText(text, format);
      if (!d) Fail(ErrorCode::kBadValue, "\"" + std::string(text) + "\" is not a date");
      return {EncodeDateKey(static_cast<double>(JulianDay(d->year, d->month, d->day))), 8};
    }
    default: {
      std::string bad;
      auto bytes = cp.Encode(text, &bad);
      if (!bytes) {
        Fail(ErrorCode::kCodePage,
             "The character \"" + bad + "\" cannot occur in a key of this table");
      }
      std::string k = *bytes;
      size_t len = std::min(k.size(), static_cast<size_t>(def.key_length));
      k.resize(len);
      // Pad with the lowest byte so the seek lands before every key with this prefix.
      k.resize(static_cast<size_t>(def.key_length), '\0');
      return {k, len};
    }
  }
}

}  // namespace

bool Table::FindKey(std::string_view key) {
  impl_->RequireOpen();
  Impl& im = *impl_;
  if (im.active < 0) Fail(ErrorCode::kNoSuchTag, "No index is active for a key search");
  if (state_ != State::kBrowse) Cancel();
  im.EndRun();
  const TagDef& def = im.tags[static_cast<size_t>(im.active)].def;
  auto [k, match] = LookupKey(def, *cp_, text_format_, key);
  std::vector<uint8_t> keep_buf = buf_;
  uint32_t keep_recno = recno_;
  std::string keep_key = im.key;
  bool keep_eof = eof_, keep_bof = bof_;
  bool found = !def.descending && im.SeekIndexed(Impl::Seek::kGE, k, 0) &&
               im.key.compare(0, match, k, 0, match) == 0;
  if (def.descending) {
    // Descending trees hold larger keys first: scan from the top for equality.
    found = im.SeekIndexed(Impl::Seek::kFirst, {}, 0);
    while (found && im.key.compare(0, match, k, 0, match) != 0) {
      found = im.SeekIndexed(Impl::Seek::kGT, im.key, recno_);
    }
  }
  if (!found) {
    buf_ = std::move(keep_buf);
    recno_ = keep_recno;
    im.key = keep_key;
    eof_ = keep_eof;
    bof_ = keep_bof;
    return false;
  }
  im.Notify();
  return true;
}

void Table::FindNearest(std::string_view key) {
  impl_->RequireOpen();
  Impl& im = *impl_;
  if (im.active < 0) Fail(ErrorCode::kNoSuchTag, "No index is active for a key search");
  if (state_ != State::kBrowse) Cancel();
  im.EndRun();
  const TagDef& def = im.tags[static_cast<size_t>(im.active)].def;
  auto k = LookupKey(def, *cp_, text_format_, key).first;
  if (!im.SeekIndexed(Impl::Seek::kGE, k, 0)) {
    Last();
    eof_ = true;
    return;
  }
  im.Notify();
}

}  // namespace klv::dbf
