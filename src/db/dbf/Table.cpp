// The table's face: binding, opening and closing, the tags as loaded, the
// fields, the observers and the filter settings.
#include "db/dbf/TableImpl.h"

#include <algorithm>
#include <exception>
#include <set>

#include "db/dbf/FieldText.h"

namespace klv::dbf {

Table::Table(Env& env) : impl_(std::make_unique<Impl>(*this, env)) {}

Table::~Table() {
  try {
    Close();
  } catch (...) {
  }
}

void Table::SetDirectory(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  dir_ = std::move(dir);
}

void Table::SetTableName(std::string name) {
  name_ = std::move(name);
}

std::string Table::DbfPath() const {
  if (!impl_->dbf_path.empty()) return impl_->dbf_path;
  std::string n = name_;
  if (n.find('.') == std::string::npos) n += ".DBF";
  return dir_ + n;
}

std::string Table::MdxPath() const {
  std::string base = BaseOf(DbfPath());
  auto dot = base.find('.');
  if (dot != std::string::npos) base.resize(dot);
  std::string want = base + ".MDX";
  std::string found = FindFileNoCase(DirOf(DbfPath()), want);
  return found.empty() ? DirOf(DbfPath()) + want : found;
}

void Table::Impl::Require(bool ok, ErrorCode code, const char* what) const {
  if (!ok) Fail(code, what);
}

void Table::Impl::RequireOpen() const {
  Require(table.IsOpen(), ErrorCode::kBadState, "The table is not open");
}

Date Table::LastUpdate() const {
  const uint8_t* h = impl_->header;
  // Years since 1900, as dBase writes them; some writers count from 2000
  // instead, which no table from before 1980 could be mistaken for.
  const int y = h[kLastUpdate];
  return Date{y < 80 ? 2000 + y : 1900 + y, h[kLastUpdate + 1], h[kLastUpdate + 2]};
}

// ---------------------------------------------------------------------------
// Opening and closing

namespace {

void ParseFields(const std::string& path, const std::vector<uint8_t>& hdr, uint32_t header_len,
                 uint32_t record_len, std::vector<FieldDef>* defs, std::vector<int>* offsets) {
  auto corrupt = [&](const std::string& why) {
    Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" is damaged: " + why);
  };
  std::set<std::string> names;
  uint32_t offset = 1;
  size_t pos = kHeaderSize;
  while (true) {
    if (pos >= header_len) corrupt("its field list has no end marker");
    if (hdr[pos] == 0x0D) break;
    if (pos + kDescriptorSize > header_len) corrupt("its field list runs past the header");
    const uint8_t* d = &hdr[pos];
    size_t nlen = 0;
    while (nlen < 11 && d[nlen] != 0) ++nlen;
    std::string name(reinterpret_cast<const char*>(d), nlen);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) corrupt("field " + std::to_string(defs->size() + 1) + " has no name");
    for (char c : name) {
      if (static_cast<unsigned char>(c) < 0x20) corrupt("a field name holds control characters");
    }
    FieldDef def;
    def.name = UpperAscii(name);
    def.type = static_cast<char>(d[kFieldType]);
    def.length = d[kFieldLength];
    def.decimals = d[kFieldDecimals];
    if (!names.insert(def.name).second) corrupt("the field name " + def.name + " appears twice");
    if (def.length == 0) corrupt("field " + def.name + " has length 0");
    switch (def.type) {
      case 'C':
        break;
      case 'N':
      case 'F':
        if (def.length > 32 || def.decimals >= def.length + (def.decimals == 0 ? 1 : 0))
          corrupt("field " + def.name + " has an impossible size");
        break;
      case 'D':
        if (def.length != 8) corrupt("date field " + def.name + " is not 8 bytes long");
        break;
      case 'L':
        if (def.length != 1) corrupt("logical field " + def.name + " is not 1 byte long");
        break;
      default:
        if (def.type < 0x20 || def.type > 0x7E) corrupt("field " + def.name + " has no valid type");
    }
    offsets->push_back(static_cast<int>(offset));
    offset += static_cast<uint32_t>(def.length);
    defs->push_back(std::move(def));
    pos += kDescriptorSize;
    if (defs->size() > 255) corrupt("it has more than 255 fields");
  }
  if (defs->empty()) corrupt("it has no fields");
  if (offset != record_len) {
    corrupt("its record length (" + std::to_string(record_len) +
            ") is not the sum of its field lengths plus one (" + std::to_string(offset) + ")");
  }
}

// The page of a table that records none: its character fields' bytes,
// read in large pieces, decide (CodePage::ForUnmarkedText).
const CodePage& UnmarkedCodePage(base::File& file, uint32_t header_len, uint32_t record_len,
                                 uint32_t count, const std::vector<FieldDef>& defs,
                                 const std::vector<int>& offsets) {
  CodePage::UnmarkedScan scan;
  const uint32_t per_read = std::max<uint32_t>(1, (1u << 20) / record_len);
  std::vector<uint8_t> buf;
  for (uint32_t first = 0; first < count; first += per_read) {
    const uint32_t rows = std::min(per_read, count - first);
    buf.resize(static_cast<size_t>(rows) * record_len);
    const size_t got =
        file.ReadAt(header_len + static_cast<uint64_t>(first) * record_len, buf.data(), buf.size());
    for (size_t row = 0; row + record_len <= got; row += record_len) {
      for (size_t i = 0; i < defs.size(); ++i) {
        if (defs[i].type != 'C') continue;
        scan.Add(std::string_view(
            reinterpret_cast<const char*>(buf.data()) + row + static_cast<size_t>(offsets[i]),
            static_cast<size_t>(defs[i].length)));
      }
    }
  }
  return scan.Result();
}

}  // namespace

void Table::Open() {
  if (IsOpen()) return;
  Impl& im = *impl_;
  im.ForgetOpenState();
  std::string want = name_;
  if (want.find('.') == std::string::npos) want += ".DBF";
  std::string path = FindFileNoCase(dir_, want);
  if (path.empty()) Fail(ErrorCode::kNotFound, "The table \"" + dir_ + want + "\" does not exist");
  im.dbf_path = path;

  auto file = im.env.Open(path, read_only_ ? OpenMode::kReadOnly : OpenMode::kReadWrite);
  // An exclusive open wants a write lock, which needs a writable descriptor.
  bool lock_exclusive = exclusive_ && !read_only_;
  if (!SharedTableProtocol::TryOpenLock(*file, lock_exclusive)) {
    Fail(ErrorCode::kInUse, "The table \"" + path + "\" is in use by another user or program" +
                                (exclusive_ ? " and cannot be opened for exclusive use"
                                            : ", which holds it exclusively"));
  }
  try {
    LockGuard read_lock(*file, false);
    uint64_t size = file->Size();
    if (size < kHeaderSize + 1)
      Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" is too short to be a dBase file");
    file->ReadAt(0, im.header, kHeaderSize);
    uint8_t v = im.header[kVersionByte];
    if ((v & 0x07) != 0x03 && v != 0x30 && v != 0x31 && v != 0xF5 && v != 0x43 && v != 0xCB &&
        v != 0x04 && v != 0x05) {
      Fail(ErrorCode::kCorruptTable,
           "\"" + path + "\" is not a dBase table (version byte " + std::to_string(v) + ")");
    }
    im.header_len = Get16(im.header + kHeaderLength);
    im.record_len = Get16(im.header + kRecordLength);
    uint32_t count = Get32(im.header + kRecordCount);
    if (im.header_len < kHeaderSize + kDescriptorSize + 1 || im.header_len > size)
      Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" has an impossible header length");
    if (im.record_len < 2)
      Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" has an impossible record length");
    if (count > kMaxRecords ||
        im.header_len + static_cast<uint64_t>(count) * im.record_len > size) {
      Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" is damaged: its header counts " +
                                         std::to_string(count) +
                                         " records, more than the file holds");
    }
    std::vector<uint8_t> hdr(im.header_len);
    if (file->ReadAt(0, hdr.data(), hdr.size()) != hdr.size())
      Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" is truncated in its header");
    std::vector<FieldDef> defs;
    std::vector<int> offsets;
    ParseFields(path, hdr, im.header_len, im.record_len, &defs, &offsets);

    version_ = v;
    count_ = count;
    cp_ = &CodePage::ForDriver(im.header[kLanguageDriver]);
    if (im.header[kLanguageDriver] == 0)
      cp_ = &UnmarkedCodePage(*file, im.header_len, im.record_len, count, defs, offsets);
    fields_.clear();
    im.expr_fields.clear();
    writable_types_ = true;
    for (size_t i = 0; i < defs.size(); ++i) {
      if (!Supported(defs[i].type)) writable_types_ = false;
      im.expr_fields.push_back(
          ExprField{defs[i].name, defs[i].type, offsets[i], defs[i].length, defs[i].decimals});
      fields_.push_back(Field(*this, defs[i], static_cast<int>(i), offsets[i]));
    }
    if (!writable_types_ && !read_only_) {
      Fail(ErrorCode::kUnsupported, "The table \"" + path +
                                        "\" holds field types (such as memo fields) that this "
                                        "program does not write; it can only be opened read-only");
    }
    buf_.assign(im.record_len, ' ');
    im.dbf = std::move(file);
    const int64_t modified_ns = im.dbf->ModifiedNs();
    im.share.SeeFile(modified_ns);

    if (im.header[kIndexFlag] != 0) {
      im.mdx_path = MdxPath();
      if (im.env.Exists(im.mdx_path)) {
        im.mdx = MdxFile::Open(im.env, im.mdx_path, !read_only_);
        im.mdx->Sync();
        im.LoadTags();
        im.VerifyIndexStamp();
        im.share.AdoptDeletedCount(File::Status{size, modified_ns});
      } else if (!(index_optional_ && read_only_)) {
        Fail(ErrorCode::kNotFound,
             "The production index \"" + im.mdx_path + "\" of the table is missing");
      }
    }
  } catch (const DbfError& e) {
    bool repairable = e.code() == ErrorCode::kIndexMismatch || e.code() == ErrorCode::kCorruptIndex;
    if (!(repair_index_ && repairable && im.dbf && im.mdx && !read_only_)) {
      // Closing the descriptors releases their locks.
      im.mdx.reset();
      im.dbf.reset();
      throw;
    }
    state_ = State::kBrowse;
    try {
      im.RebuildIndexFile(im.mdx->TagCount() ? TagDefsOf(*im.mdx) : std::vector<TagDef>{}, {},
                          true);
    } catch (...) {
      state_ = State::kClosed;
      im.mdx.reset();
      im.dbf.reset();
      throw;
    }
  }
  state_ = State::kBrowse;
  index_name_.clear();
  im.active = -1;
  First();
}

void Table::Close() {
  if (!IsOpen()) return;
  Impl& im = *impl_;
  if (state_ == State::kEdit || state_ == State::kInsert) {
    // Unposted changes are dropped, as a cancel would.
    im.ReleaseEditLock();
  }
  // A failure to write the clean stamp leaves the index marked dirty, and
  // the run lock goes with the descriptor: the next open rebuilds it. The
  // error is reported once the table is closed.
  std::exception_ptr failed;
  try {
    im.EndRun();
  } catch (...) {
    failed = std::current_exception();
  }
  im.mdx.reset();
  im.dbf.reset();  // closing the descriptor releases every lock it holds
  im.ForgetOpenState();
  fields_.clear();
  buf_.clear();
  state_ = State::kClosed;
  recno_ = 0;
  eof_ = bof_ = true;
  count_ = 0;
  index_name_.clear();
  im.Notify();
  if (failed) std::rethrow_exception(failed);
}

std::vector<TagDef> tbl::TagDefsOf(MdxFile& mdx) {
  std::vector<TagDef> defs;
  // A tag whose definition was lost to damage cannot be rebuilt; it is dropped.
  for (int i = 0; i < mdx.TagCount(); ++i)
    if (mdx.Tag(i).key_length > 0) defs.push_back(mdx.Tag(i));
  return defs;
}

void Table::Impl::LoadTags() {
  std::string active_name = active >= 0 ? tags[active].name : std::string();
  tags.clear();
  active = -1;
  if (!mdx) return;
  tags_gen = mdx->Generation();
  for (int i = 0; i < mdx->TagCount(); ++i) {
    const TagDef& def = mdx->Tag(i);
    if (def.key_length == 0) {
      Fail(ErrorCode::kCorruptIndex,
           "The index tag " + def.name + " of \"" + mdx_path + "\" has lost its definition");
    }
    Expression expr = Expression::Parse(def.expression, expr_fields, *table.cp_);
    char want = static_cast<char>(def.type);
    if (expr.ResultType() != want) {
      Fail(ErrorCode::kCorruptIndex, "The index tag " + def.name + " of \"" + mdx_path +
                                         "\" has key type " + std::string(1, want) +
                                         " but its expression \"" + def.expression +
                                         "\" gives type " + std::string(1, expr.ResultType()));
    }
    tags.push_back(TagState{def.name, def, std::move(expr)});
    if (!active_name.empty() && EqualNoCaseAscii(def.name, active_name))
      active = static_cast<int>(tags.size()) - 1;
  }
  if (!active_name.empty() && active < 0) table.index_name_.clear();
}

void Table::Impl::VerifyIndexStamp() {
  MdxStamp st = mdx->Stamp();
  auto mismatch = [&](const std::string& why) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + mdx_path + "\" does not match its table (" +
                                        why + "); its indexes must be regenerated");
  };
  if (st.present) {
    if (st.dirty && !share.DirtyMarkIsLive()) mismatch("a change to it was not finished");
    if (st.record_count != table.count_) {
      mismatch("it was written for " + std::to_string(st.record_count) +
               " records, the table has " + std::to_string(table.count_));
    }
    return;
  }
  // Written by other software: no stamp, so count the keys of every tag.
  for (int i = 0; i < mdx->TagCount(); ++i) {
    uint64_t keys = mdx->KeyCount(i);
    if (keys != table.count_) {
      mismatch("tag " + mdx->Tag(i).name + " holds " + std::to_string(keys) + " keys for " +
               std::to_string(table.count_) + " records");
    }
  }
}

std::string Table::Impl::KeyOf(int tag, const uint8_t* record) const {
  const TagState& t = tags[static_cast<size_t>(tag)];
  std::string k(static_cast<size_t>(t.def.key_length), ' ');
  WriteKey(t.def, t.expr, record, k.data());
  return k;
}

// ---------------------------------------------------------------------------
// Fields

Field& Table::Fields(int index) {
  impl_->RequireOpen();
  if (index < 0 || index >= FieldCount())
    Fail(ErrorCode::kNoSuchField, "There is no field number " + std::to_string(index + 1));
  return fields_[static_cast<size_t>(index)];
}

Field* Table::FindField(std::string_view name) {
  for (Field& f : fields_)
    if (EqualNoCaseAscii(f.name(), name)) return &f;
  return nullptr;
}

Field& Table::FieldByName(std::string_view name) {
  impl_->RequireOpen();
  Field* f = FindField(name);
  if (!f) Fail(ErrorCode::kNoSuchField, "Field \"" + std::string(name) + "\" not found");
  return *f;
}

std::vector<FieldDef> Table::FieldDefs() const {
  std::vector<FieldDef> defs;
  for (const Field& f : fields_) defs.push_back(f.def());
  return defs;
}

// ---------------------------------------------------------------------------
// Display guard and observers

void Table::DisableControls() {
  ++disable_count_;
}

void Table::EnableControls() {
  if (disable_count_ > 0 && --disable_count_ == 0 && impl_->pending_notice) {
    impl_->pending_notice = false;
    impl_->Notify();
  }
}

void Table::AddObserver(TableObserver* observer) {
  impl_->observers.push_back(observer);
}

void Table::RemoveObserver(TableObserver* observer) {
  impl_->observers.erase(std::remove(impl_->observers.begin(), impl_->observers.end(), observer),
                         impl_->observers.end());
}

void Table::Impl::Notify() {
  if (table.disable_count_ > 0) {
    pending_notice = true;
    return;
  }
  auto copy = observers;
  for (TableObserver* o : copy) o->TableChanged(table);
}

// ---------------------------------------------------------------------------
// Filter

void Table::SetAfterPostEdit(std::function<void(Table&)> callback) {
  impl_->after_post_edit = std::move(callback);
}

void Table::SetOnFilterRecord(std::function<bool(Table&)> filter) {
  impl_->DropBatch();
  impl_->filter = std::move(filter);
  if (filtered_ && IsOpen() && state_ == State::kBrowse) First();
}

void Table::SetShowDeleted(bool show) {
  impl_->DropBatch();
  if (impl_->show_deleted == show) return;
  impl_->show_deleted = show;
  if (IsOpen() && state_ == State::kBrowse) First();
}

void Table::SetFiltered(bool filtered) {
  impl_->DropBatch();
  if (filtered_ == filtered) return;
  filtered_ = filtered;
  if (IsOpen() && state_ == State::kBrowse) First();
}

}  // namespace klv::dbf
