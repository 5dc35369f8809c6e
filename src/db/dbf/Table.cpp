#include "db/dbf/Table.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <numeric>
#include <set>

#include "base/Ascii.h"
#include "base/Bytes.h"
#include "db/dbf/Base.h"
#include "db/dbf/Expr.h"
#include "db/dbf/FieldText.h"
#include "db/dbf/Mdx.h"

namespace klv::dbf {
namespace {

using base::EqualNoCaseAscii;
using base::Get16;
using base::Get32;
using base::Put16;
using base::Put32;
using base::UpperAscii;

// Lock bytes on the .DBF, far past any real end of file. Every open holds
// kOpenLock (shared, or exclusive for an exclusive open); changes to the
// header, the records' order and the index hold kWriteLock exclusively and
// lookups in the index hold it shared; a row in edit holds its own byte.
// A copy that keeps the index's dirty mark on disk across a run of its own
// posts holds kRunLock exclusively for the run: a dirty mark while nobody
// holds kRunLock is left by a change that never finished.
constexpr uint64_t kOpenLock = 0x7FFFFFFF00000000ULL;
constexpr uint64_t kWriteLock = kOpenLock + 1;
constexpr uint64_t kRunLock = kOpenLock + 2;
constexpr uint64_t kRecordLockBase = kOpenLock + 16;

constexpr size_t kHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
// Bytes of the table header (see the format notes).
constexpr size_t kVersionByte = 0;
constexpr size_t kLastUpdate = 1;  // year - 1900, month, day
constexpr size_t kRecordCount = 4;
constexpr size_t kHeaderLength = 8;
constexpr size_t kRecordLength = 10;
constexpr size_t kIndexFlag = 28;  // 1: a production index exists
constexpr size_t kLanguageDriver = 29;
// Bytes of a field descriptor.
constexpr size_t kFieldType = 11;
constexpr size_t kFieldLength = 16;
constexpr size_t kFieldDecimals = 17;
// The end-of-file mark after the last record.
constexpr uint8_t kEndMark = 0x1A;
constexpr uint32_t kMaxRecords = 0xFFFFFFF0u;
constexpr size_t kScanChunk = 1 << 20;

bool Supported(char type) {
  return type == 'C' || type == 'N' || type == 'F' || type == 'D' || type == 'L';
}

std::string TempPathFor(const std::string& path) {
  return DirOf(path) + "." + BaseOf(path) + ".tmp" + std::to_string(::getpid());
}

// Removes what a rewrite of path killed before its rename left behind. Only
// with the table opened alone: nobody else can be rewriting it then.
void RemoveLeftoverTemps(Env& env, const std::string& path) {
  const std::string prefix = "." + BaseOf(path) + ".tmp";
  for (const std::string& f : FilesStartingWith(DirOf(path), prefix)) {
    // The process number, and ".tmp" where a new index was still being
    // written under that name.
    std::string_view pid = std::string_view(f).substr(DirOf(path).size() + prefix.size());
    if (pid.ends_with(".tmp")) pid.remove_suffix(4);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string_view::npos) continue;
    try {
      env.Remove(f);
    } catch (const DbfError&) {
      // Left for the next time; it is no part of the table.
    }
  }
}

// Reads records from..to (1-based, inclusive) in large sequential chunks and
// hands each chunk to visit(first_recno, bytes, count). Every whole-table
// pass goes through here.
// With lock_each, each chunk is read under the table's read lock, so that
// a pass that does not hold it throughout never sees a torn row.
template <typename Visit>
void ScanChunks(File& dbf, uint32_t header_len, uint32_t record_len, uint32_t from, uint32_t to,
                Visit&& visit, bool lock_each = false) {
  std::vector<uint8_t> chunk;
  uint32_t per = static_cast<uint32_t>(std::max<size_t>(1, kScanChunk / record_len));
  for (uint32_t r = from; r <= to && r != 0;) {
    uint32_t n = std::min(per, to - r + 1);
    chunk.resize(static_cast<size_t>(n) * record_len);
    uint64_t off = header_len + static_cast<uint64_t>(r - 1) * record_len;
    if (lock_each) dbf.Lock(kWriteLock, 1, false);
    size_t got = 0;
    try {
      got = dbf.ReadAt(off, chunk.data(), chunk.size());
    } catch (...) {
      if (lock_each) dbf.Unlock(kWriteLock, 1);
      throw;
    }
    if (lock_each) dbf.Unlock(kWriteLock, 1);
    if (got != chunk.size())
      Fail(ErrorCode::kCorruptTable, "The table \"" + dbf.path() + "\" is truncated");
    visit(r, static_cast<const uint8_t*>(chunk.data()), n);
    r += n;
  }
}

// The same, one record at a time: visit(recno, record).
template <typename Visit>
void ScanRecords(File& dbf, uint32_t header_len, uint32_t record_len, uint32_t from, uint32_t to,
                 Visit&& visit, bool lock_each = false) {
  ScanChunks(
      dbf, header_len, record_len, from, to,
      [&](uint32_t first, const uint8_t* bytes, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i)
          visit(first + i, bytes + static_cast<size_t>(i) * record_len);
      },
      lock_each);
}

struct TagState {
  std::string name;
  TagDef def;
  Expression expr;
};

}  // namespace

struct Table::Impl {
  std::unique_ptr<File> dbf;
  std::unique_ptr<MdxFile> mdx;
  std::string dbf_path, mdx_path;
  uint32_t header_len = 0;
  uint32_t record_len = 0;
  uint8_t header[kHeaderSize] = {};
  std::vector<ExprField> expr_fields;
  std::vector<TagState> tags;
  int active = -1;             // index into tags, -1 = record order
  std::string key;             // key of the current row in the active order
  bool index_broken = false;   // a change failed half way: the index cannot be trusted
  uint32_t edit_lock = 0;      // record whose lock we hold
  uint32_t insert_return = 0;  // where Cancel of an insert goes back to
  uint64_t tags_gen = 0;       // the index generation the tags were loaded from
  // A run of posts that keep the index's dirty mark on disk (kRunLock held),
  // and the record count its last post left.
  bool run = false;
  uint32_t run_count = 0;
  uint32_t seen_table_changes =
      0;  // the index stamp's count of others' deletes, as of our last post
  // Deleted rows counted among records 1..scanned; valid while the file is
  // as we last saw it (our own writes note the new modification stamp).
  uint64_t deleted = 0;
  uint32_t scanned = 0;
  int64_t seen_mtime = 0;
  std::vector<uint8_t> out;  // appended records and the end-of-file mark

  // The rows a walk has read ahead (see Table.h): candidates in walk order,
  // each with its key in the active order, and where the next batch starts.
  struct Batch {
    bool live = false;
    int dir = +1;
    uint32_t at = 0;  // the row the cursor stood on when it last took a row from here
    size_t next = 0;  // the next candidate
    std::vector<uint32_t> recnos;
    std::vector<std::string> keys;
    std::vector<uint8_t> bytes;
    uint32_t size = 0;  // rows in the next fill; grows from batch to batch
    // Start of the next fill: the table's edge, or from_key/from_recno
    // (record order: from_recno alone), taken along when inclusive.
    bool edge = true;
    bool inclusive = false;
    std::string from_key;
    uint32_t from_recno = 0;
  } batch;
  std::vector<IndexEntry> entries;  // scratch of FillBatch

  // The queue of a batched append.
  bool batching = false;
  Table::AppendBatchOptions batch_options;
  std::vector<uint8_t> queue;           // records, back to back
  std::vector<std::string> queue_keys;  // per row, one per tag
  uint32_t queued = 0;
  uint64_t queue_tags_gen = 0;
  std::chrono::steady_clock::time_point queue_since;
};

namespace {

// Called under the write lock before a change of ours: when another process
// changed the file since we last looked, the deleted rows counted so far may
// be wrong, and the modification stamp our own write leaves would hide that.
void ForgetCountsIfChanged(Table::Impl& im) {
  if (im.dbf->ModifiedNs() != im.seen_mtime) im.scanned = 0, im.deleted = 0;
}

// Holds the table's write lock (exclusive) or read lock (shared) for a scope.
class LockGuard {
 public:
  LockGuard(File& file, bool exclusive) : file_(file) { file_.Lock(kWriteLock, 1, exclusive); }
  ~LockGuard() {
    try {
      file_.Unlock(kWriteLock, 1);
    } catch (...) {
    }
  }

 private:
  File& file_;
};

}  // namespace

Table::Table(Env& env) : env_(env), impl_(std::make_unique<Impl>()) {}

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

void Table::Require(bool ok, ErrorCode code, const char* what) const {
  if (!ok) Fail(code, what);
}

void Table::RequireOpen() const {
  Require(IsOpen(), ErrorCode::kBadState, "The table is not open");
}

Date Table::LastUpdate() const {
  const uint8_t* h = impl_->header;
  return Date{1900 + h[kLastUpdate], h[kLastUpdate + 1], h[kLastUpdate + 2]};
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

}  // namespace

void Table::Open() {
  if (IsOpen()) return;
  Impl& im = *impl_;
  im = Impl{};
  std::string want = name_;
  if (want.find('.') == std::string::npos) want += ".DBF";
  std::string path = FindFileNoCase(dir_, want);
  if (path.empty()) Fail(ErrorCode::kNotFound, "The table \"" + dir_ + want + "\" does not exist");
  im.dbf_path = path;

  auto file = env_.Open(path, read_only_ ? OpenMode::kReadOnly : OpenMode::kReadWrite);
  // An exclusive open wants a write lock, which needs a writable descriptor.
  bool lock_exclusive = exclusive_ && !read_only_;
  if (!file->TryLock(kOpenLock, 1, lock_exclusive)) {
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
    im.seen_mtime = im.dbf->ModifiedNs();

    if (im.header[kIndexFlag] != 0) {
      im.mdx_path = MdxPath();
      if (!env_.Exists(im.mdx_path)) {
        Fail(ErrorCode::kNotFound,
             "The production index \"" + im.mdx_path + "\" of the table is missing");
      }
      im.mdx = MdxFile::Open(env_, im.mdx_path, !read_only_);
      im.mdx->Sync();
      LoadTags();
      VerifyIndexStamp();
      AdoptDeletedCount(File::Status{size, im.seen_mtime});
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
      RebuildIndexFile(im.mdx->TagCount() ? TagDefsOf(*im.mdx) : std::vector<TagDef>{}, {}, true);
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
    ReleaseEditLock();
  }
  // A failure to write the clean stamp leaves the index marked dirty, and
  // the run lock goes with the descriptor: the next open rebuilds it. The
  // error is reported once the table is closed.
  std::exception_ptr failed;
  try {
    EndRun();
  } catch (...) {
    failed = std::current_exception();
  }
  im.mdx.reset();
  im.dbf.reset();  // closing the descriptor releases every lock it holds
  im = Impl{};
  fields_.clear();
  buf_.clear();
  state_ = State::kClosed;
  recno_ = 0;
  eof_ = bof_ = true;
  count_ = 0;
  index_name_.clear();
  Notify();
  if (failed) std::rethrow_exception(failed);
}

std::vector<TagDef> Table::TagDefsOf(MdxFile& mdx) {
  std::vector<TagDef> defs;
  // A tag whose definition was lost to damage cannot be rebuilt; it is dropped.
  for (int i = 0; i < mdx.TagCount(); ++i)
    if (mdx.Tag(i).key_length > 0) defs.push_back(mdx.Tag(i));
  return defs;
}

void Table::LoadTags() {
  Impl& im = *impl_;
  std::string active_name = im.active >= 0 ? im.tags[im.active].name : std::string();
  im.tags.clear();
  im.active = -1;
  if (!im.mdx) return;
  im.tags_gen = im.mdx->Generation();
  for (int i = 0; i < im.mdx->TagCount(); ++i) {
    const TagDef& def = im.mdx->Tag(i);
    if (def.key_length == 0) {
      Fail(ErrorCode::kCorruptIndex,
           "The index tag " + def.name + " of \"" + im.mdx_path + "\" has lost its definition");
    }
    Expression expr = Expression::Parse(def.expression, im.expr_fields, *cp_);
    char want = static_cast<char>(def.type);
    if (expr.ResultType() != want) {
      Fail(ErrorCode::kCorruptIndex, "The index tag " + def.name + " of \"" + im.mdx_path +
                                         "\" has key type " + std::string(1, want) +
                                         " but its expression \"" + def.expression +
                                         "\" gives type " + std::string(1, expr.ResultType()));
    }
    im.tags.push_back(TagState{def.name, def, std::move(expr)});
    if (!active_name.empty() && EqualNoCaseAscii(def.name, active_name))
      im.active = static_cast<int>(im.tags.size()) - 1;
  }
  if (!active_name.empty() && im.active < 0) index_name_.clear();
}

void Table::VerifyIndexStamp() {
  Impl& im = *impl_;
  MdxStamp st = im.mdx->Stamp();
  auto mismatch = [&](const std::string& why) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path + "\" does not match its table (" +
                                        why + "); its indexes must be regenerated");
  };
  if (st.present) {
    if (st.dirty && !DirtyMarkIsLive()) mismatch("a change to it was not finished");
    if (st.record_count != count_) {
      mismatch("it was written for " + std::to_string(st.record_count) +
               " records, the table has " + std::to_string(count_));
    }
    return;
  }
  // Written by other software: no stamp, so count the keys of every tag.
  for (int i = 0; i < im.mdx->TagCount(); ++i) {
    uint64_t keys = im.mdx->KeyCount(i);
    if (keys != count_) {
      mismatch("tag " + im.mdx->Tag(i).name + " holds " + std::to_string(keys) + " keys for " +
               std::to_string(count_) + " records");
    }
  }
}

namespace {

// The key of record for a tag, key_length bytes at out. Character keys that
// the expression yields at exactly the key's width are made straight from
// the record bytes; the others go through the general evaluator.
void WriteKey(const TagDef& def, const Expression& expr, const uint8_t* record, char* out) {
  const size_t len = static_cast<size_t>(def.key_length);
  if (def.type == KeyType::kChar && expr.ResultType() == 'C' &&
      static_cast<size_t>(expr.ResultLength()) == len) {
    expr.EvaluateText(record, out);
    return;
  }
  ExprValue v = expr.Evaluate(record);
  std::string k = def.type == KeyType::kNumeric ? EncodeNumericKey(v.number)
                  : def.type == KeyType::kDate  ? EncodeDateKey(v.number)
                                                : std::move(v.text);
  k.resize(len, ' ');
  k.copy(out, len);
}

}  // namespace

std::string Table::KeyOf(int tag, const uint8_t* record) const {
  const TagState& t = impl_->tags[static_cast<size_t>(tag)];
  std::string k(static_cast<size_t>(t.def.key_length), ' ');
  WriteKey(t.def, t.expr, record, k.data());
  return k;
}

// ---------------------------------------------------------------------------
// Reading records

void Table::ReadFromDisk(uint32_t recno, uint8_t* out) {
  Impl& im = *impl_;
  uint64_t off = im.header_len + static_cast<uint64_t>(recno - 1) * im.record_len;
  if (im.dbf->ReadAt(off, out, im.record_len) != im.record_len) {
    Fail(ErrorCode::kCorruptTable,
         "The table \"" + im.dbf_path + "\" is truncated at record " + std::to_string(recno));
  }
}

// Whether a row shows: not deleted and, with the filter on, accepted. The
// candidate is loaded into the record buffer so the filter sees its fields.
bool Table::Accept(const uint8_t* record) {
  if (record[0] == '*' && !show_deleted_) return false;
  if (!filtered_ || !filter_) return true;
  std::memcpy(buf_.data(), record, buf_.size());
  return filter_(*this);
}

void Table::Land(uint32_t recno, const uint8_t* record, const std::string* key) {
  if (record != buf_.data()) std::memcpy(buf_.data(), record, buf_.size());
  recno_ = recno;
  eof_ = bof_ = false;
  if (impl_->active >= 0) impl_->key = key ? *key : KeyOf(impl_->active, buf_.data());
}

namespace {

// A walk's first batch is small, for the lookup that wants one row or a
// screen; each further one doubles, up to a bound in rows and in bytes.
constexpr uint32_t kFirstBatchRows = 16;
constexpr uint32_t kMaxBatchRows = 512;
constexpr size_t kMaxBatchBytes = 256 << 10;
constexpr size_t kAppendCacheBlocks = 16384;

}  // namespace

void Table::DropBatch() {
  Impl::Batch& b = impl_->batch;
  b.live = false;
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
}

bool Table::SeekNatural(uint32_t from, int dir) {
  Impl::Batch& b = impl_->batch;
  DropBatch();
  if (from == 0) return false;
  b.live = true;
  b.dir = dir;
  b.edge = false;
  b.inclusive = true;
  b.from_recno = from;
  b.size = kFirstBatchRows;
  b.at = recno_;
  return Step(dir);
}

bool Table::SeekIndexed(Seek mode, std::string key, uint32_t recno) {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  DropBatch();
  b.live = true;
  b.dir = mode == Seek::kFirst || mode == Seek::kGE || mode == Seek::kGT ? +1 : -1;
  b.edge = mode == Seek::kFirst || mode == Seek::kLast;
  b.inclusive = mode == Seek::kGE || mode == Seek::kLE;
  b.from_key = std::move(key);
  b.from_recno = recno;
  b.size = kFirstBatchRows;
  b.at = recno_;
  return Step(b.dir);
}

bool Table::Step(int dir) {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  if (!b.live || b.dir != dir || b.at != recno_) {
    // A walk from the cursor, as the last move left it.
    DropBatch();
    b.live = true;
    b.dir = dir;
    b.edge = false;
    b.inclusive = false;
    b.from_key = im.key;
    b.from_recno = recno_;
    b.size = kFirstBatchRows;
  }
  const size_t len = im.record_len;
  for (;;) {
    if (b.next == b.recnos.size() && !FillBatch()) {
      DropBatch();
      return false;
    }
    size_t i = b.next++;
    const uint8_t* rec = b.bytes.data() + i * len;
    if (Accept(rec)) {
      Land(b.recnos[i], rec, im.active >= 0 ? &b.keys[i] : nullptr);
      b.at = recno_;
      return true;
    }
  }
}

// Reads the walk's next batch of candidates: one hold of the read lock, one
// look at the index's and the table's headers, then the rows. What another
// copy changed shows from here on; within a batch every row and key is as
// the table held them together.
bool Table::FillBatch() {
  Impl& im = *impl_;
  Impl::Batch& b = im.batch;
  const size_t len = im.record_len;
  uint32_t want = std::max<uint32_t>(
      1, std::min<uint32_t>(b.size ? b.size : kFirstBatchRows, kMaxBatchBytes / len));
  b.size = std::min(want * 2, kMaxBatchRows);
  b.recnos.clear();
  b.keys.clear();
  b.next = 0;
  if (im.active >= 0) {
    if (im.index_broken) {
      Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path +
                                          "\" no longer matches its table after a failed change; "
                                          "its indexes must be regenerated");
    }
    LockGuard lock(*im.dbf, false);
    SyncActiveTag();
    im.entries.clear();
    IndexEntry from{b.from_key, b.from_recno};
    im.mdx->Scan(im.active, b.dir < 0, b.edge ? nullptr : &from, b.inclusive, want, &im.entries);
    if (im.entries.empty()) return false;
    bool reloaded = false;
    b.bytes.resize(im.entries.size() * len);
    for (size_t i = 0; i < im.entries.size(); ++i) {
      uint32_t r = im.entries[i].recno;
      if ((r == 0 || r > count_) && !reloaded) {
        ReloadHeader();  // another copy may have appended since we looked
        reloaded = true;
      }
      if (r == 0 || r > count_) {
        Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path + "\" points at record " +
                                            std::to_string(r) + " beyond the table's " +
                                            std::to_string(count_) +
                                            " records; its indexes must be regenerated");
      }
      ReadFromDisk(r, b.bytes.data() + i * len);
      b.recnos.push_back(r);
      b.keys.push_back(std::move(im.entries[i].key));
    }
    b.from_key = b.keys.back();
    b.from_recno = b.recnos.back();
  } else {
    LockGuard lock(*im.dbf, false);
    ReloadHeader();  // rows other copies appended show from this batch on
    uint32_t first, last;
    if (b.dir > 0) {
      first = b.edge ? 1 : b.from_recno + (b.inclusive ? 0 : 1);
      if (first == 0 || first > count_) return false;
      last = first + std::min(want, count_ - first + 1) - 1;
    } else {
      if (!b.edge && b.from_recno <= (b.inclusive ? 0u : 1u)) return false;
      last = b.edge ? count_ : std::min<uint32_t>(b.from_recno - (b.inclusive ? 0 : 1), count_);
      if (last == 0) return false;
      first = last - std::min(want, last) + 1;
    }
    uint32_t n = last - first + 1;
    b.bytes.resize(static_cast<size_t>(n) * len);
    uint64_t off = im.header_len + static_cast<uint64_t>(first - 1) * len;
    if (im.dbf->ReadAt(off, b.bytes.data(), b.bytes.size()) != b.bytes.size()) {
      Fail(ErrorCode::kCorruptTable,
           "The table \"" + im.dbf_path + "\" is truncated at record " + std::to_string(first));
    }
    if (b.dir < 0) {
      // Backwards, the rows are taken from the end of the chunk.
      for (uint32_t i = 0; i < n / 2; ++i)
        std::swap_ranges(b.bytes.begin() + static_cast<ptrdiff_t>(i * len),
                         b.bytes.begin() + static_cast<ptrdiff_t>((i + 1) * len),
                         b.bytes.begin() + static_cast<ptrdiff_t>((n - 1 - i) * len));
      for (uint32_t i = 0; i < n; ++i) b.recnos.push_back(last - i);
    } else {
      for (uint32_t i = 0; i < n; ++i) b.recnos.push_back(first + i);
    }
    b.from_recno = b.recnos.back();
  }
  b.edge = false;
  b.inclusive = false;
  return true;
}

void Table::ReloadHeader() {
  Impl& im = *impl_;
  uint8_t h[kHeaderSize];
  if (im.dbf->ReadStart(kHeaderSize, 0, h, kHeaderSize) != kHeaderSize)
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path + "\" lost its header");
  uint32_t count = Get32(h + kRecordCount);
  // The count as we last knew it was checked then, or written by us after
  // its records: only a new count needs a look at the file's size.
  if (count != count_ &&
      (count > kMaxRecords ||
       im.header_len + static_cast<uint64_t>(count) * im.record_len > im.dbf->Size())) {
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path +
                                       "\" is damaged: its header counts " + std::to_string(count) +
                                       " records, more than the file holds");
  }
  std::memcpy(im.header, h, kHeaderSize);
  if (count < count_) im.scanned = std::min(im.scanned, count);
  count_ = count;
}

void Table::WriteHeader() {
  Impl& im = *impl_;
  TodayHeaderDate(im.header + kLastUpdate);
  Put32(im.header + 4, count_);
  // The date and the count, which lie side by side.
  im.dbf->WriteStart(kHeaderSize, kLastUpdate, im.header + kLastUpdate,
                     kRecordCount + 4 - kLastUpdate);
}

// After a write of ours, under the write lock: the file as we left it, and
// the deleted rows we know of noted in the index for the next open.
void Table::NoteOwnWrite() {
  Impl& im = *impl_;
  File::Status st = im.dbf->Stat();
  im.seen_mtime = st.modified_ns;
  NoteDeletedCount(st);
}

// The note is a shortcut for the next open, not part of the table: when it
// cannot be written the next open counts the rows itself.
void Table::NoteDeletedCount(const File::Status& st) {
  Impl& im = *impl_;
  if (!im.mdx || read_only_ || im.scanned != count_) return;
  try {
    im.mdx->WriteTableNote(
        MdxTableNote{static_cast<uint32_t>(im.deleted), count_, st.size, st.modified_ns});
  } catch (const DbfError&) {
  }
}

// Takes the count of deleted rows from the index's note when the table file
// is exactly as it was when the note was written.
void Table::AdoptDeletedCount(const File::Status& st) {
  Impl& im = *impl_;
  if (!im.mdx || im.scanned == count_) return;
  std::optional<MdxTableNote> note = im.mdx->TableNote();
  if (!note || note->record_count != count_ || note->deleted > count_ ||
      note->table_size != st.size || note->table_modified_ns != st.modified_ns)
    return;
  im.deleted = note->deleted;
  im.scanned = count_;
}

void Table::SyncIndex() {
  Impl& im = *impl_;
  im.mdx->Sync();
  if (im.mdx->Generation() != im.tags_gen) LoadTags();
  // Another copy changed the index since our run's last post: the dirty
  // mark on disk is no longer ours to hold.
  if (im.run && !im.mdx->HoldsDirty()) DropRun();
  MdxStamp st = im.mdx->Stamp();
  if (st.present && st.dirty && !im.mdx->HoldsDirty() && !DirtyMarkIsLive()) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path +
                                        "\" was left half changed by a program that stopped; "
                                        "its indexes must be regenerated");
  }
}

void Table::SyncActiveTag() {
  SyncIndex();
  if (impl_->active < 0) Fail(ErrorCode::kNoSuchTag, "The active index tag was deleted");
}

// Whether the dirty mark of the index belongs to a live copy in a run of
// posts. Such a copy leaves the index complete whenever it lets go of the
// write lock, so whoever holds that lock may trust it. Called under the
// write lock, by a copy that holds no run itself.
bool Table::DirtyMarkIsLive() {
  Impl& im = *impl_;
  if (im.run) return im.mdx && im.mdx->HoldsDirty();
  // A change under way marks the index 1, which nobody sees but after the
  // writer stopped or failed; only the mark a run keeps between changes
  // can be a live writer's.
  if (!im.mdx || !im.mdx->Stamp().kept) return false;
  if (!im.dbf->TryLock(kRunLock, 1, false)) return true;
  im.dbf->Unlock(kRunLock, 1);
  return false;
}

void Table::OpenIndexCreatedElsewhere() {
  Impl& im = *impl_;
  im.mdx_path = MdxPath();
  if (env_.Exists(im.mdx_path)) im.mdx = MdxFile::Open(env_, im.mdx_path, !read_only_);
}

// Ends a run of posts: the index gets its clean stamp. Never called with the
// write lock held.
void Table::EndRun() {
  Impl& im = *impl_;
  FlushAppends();
  if (!im.run) return;
  struct Release {
    Table& t;
    ~Release() { t.DropRun(); }
  } release{*this};
  if (!im.mdx) return;
  LockGuard lock(*im.dbf, true);
  im.mdx->Sync();
  if (!im.mdx->HoldsDirty()) {
    // Another copy changed the table during the run, perhaps deleting rows
    // this one counted.
    im.scanned = 0, im.deleted = 0;
    return;
  }
  // The count our own last post left, not the header's now: should anything
  // have added rows behind our back, the index must not claim them.
  im.mdx->FinishRun(im.run_count);
  if (im.mdx->Stamp().table_changes == im.seen_table_changes)
    NoteOwnWrite();
  else
    im.scanned = 0, im.deleted = 0;
}

void Table::DropRun() noexcept {
  Impl& im = *impl_;
  if (!im.run) return;
  im.run = false;
  // Unlocking a range of a descriptor we hold open does not fail; should it,
  // the lock goes with the descriptor at the latest.
  try {
    if (im.dbf) im.dbf->Unlock(kRunLock, 1);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Cursor

void Table::First() {
  GoToEnd(false);
}

void Table::Last() {
  GoToEnd(true);
}

void Table::GoToEnd(bool last) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  bool found = impl_->active >= 0 ? SeekIndexed(last ? Seek::kLast : Seek::kFirst, {}, 0)
                                  : SeekNatural(last ? kMaxRecords : 1, last ? -1 : +1);
  if (!found) ClearPosition();
  (last ? eof_ : bof_) = true;
  Notify();
}

void Table::ClearPosition() {
  recno_ = 0;
  eof_ = bof_ = true;
  std::fill(buf_.begin(), buf_.end(), ' ');
}

void Table::Next() {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  if (recno_ == 0) return First();
  std::vector<uint8_t> keep = buf_;
  bool found = Step(+1);
  if (!found) {
    buf_ = std::move(keep);  // stay on the last row, as dBase cursors do
    eof_ = true;
  }
  Notify();
}

void Table::Prior() {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  if (recno_ == 0) return Last();
  std::vector<uint8_t> keep = buf_;
  bool found = Step(-1);
  if (!found) {
    buf_ = std::move(keep);
    bof_ = true;
  }
  Notify();
}

int64_t Table::MoveBy(int64_t n) {
  int64_t moved = 0;
  DisableControls();
  try {
    while (n > 0 && !eof_) {
      Next();
      if (!eof_) ++moved, --n;
    }
    while (n < 0 && !bof_) {
      Prior();
      if (!bof_) ++moved, ++n;
    }
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  return moved;
}

bool Table::IsEmpty() {
  RequireOpen();
  return recno_ == 0 && eof_ && bof_;
}

bool Table::GoTo(uint32_t recno) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  DropBatch();
  std::vector<uint8_t> rec(impl_->record_len);
  {
    LockGuard lock(*impl_->dbf, false);
    if (recno == 0 || recno > count_) ReloadHeader();
    if (recno == 0 || recno > count_) return false;
    ReadFromDisk(recno, rec.data());
  }
  std::vector<uint8_t> keep = buf_;
  if (!Accept(rec.data())) {
    buf_ = std::move(keep);
    return false;
  }
  Land(recno, rec.data());
  Notify();
  return true;
}

void Table::ScanDeleted() {
  Impl& im = *impl_;
  if (im.scanned > count_) im.scanned = 0, im.deleted = 0;
  if (im.scanned == count_) return;
  ScanRecords(*im.dbf, im.header_len, im.record_len, im.scanned + 1, count_,
              [&](uint32_t, const uint8_t* rec) {
                if (rec[0] == '*') ++im.deleted;
              });
  im.scanned = count_;
  // Noted for the next open, unless someone is writing (the count may then
  // be out of date already) or the file changed since we last looked.
  if (!im.mdx || read_only_ || !im.dbf->TryLock(kWriteLock, 1, true)) return;
  try {
    File::Status st = im.dbf->Stat();
    if (st.modified_ns == im.seen_mtime) NoteDeletedCount(st);
  } catch (const DbfError&) {
  }
  im.dbf->Unlock(kWriteLock, 1);
}

uint64_t Table::RecordCount() {
  RequireOpen();
  Impl& im = *impl_;
  EndRun();
  if (!filtered_ || !filter_) {
    if (show_deleted_) return count_;
    ScanDeleted();
    return count_ - im.deleted;
  }
  std::vector<uint8_t> keep = buf_;
  uint64_t accepted = 0;
  try {
    ScanRecords(
        *im.dbf, im.header_len, im.record_len, 1, count_,
        [&](uint32_t, const uint8_t* rec) {
          if (Accept(rec)) ++accepted;
        },
        true);
  } catch (...) {
    buf_ = std::move(keep);
    throw;
  }
  buf_ = std::move(keep);
  return accepted;
}

Bookmark Table::GetBookmark() const {
  return Bookmark{recno_, impl_->active >= 0 ? impl_->key : std::string()};
}

void Table::GotoBookmark(const Bookmark& bookmark) {
  if (!GoTo(bookmark.recno)) {
    Fail(ErrorCode::kKeyNotFound, "Record " + std::to_string(bookmark.recno) + " no longer exists");
  }
}

double Table::Fraction() {
  RequireOpen();
  if (recno_ == 0) return 0;
  Impl& im = *impl_;
  if (im.active >= 0) {
    EndRun();
    LockGuard lock(*im.dbf, false);
    SyncIndex();
    if (im.active < 0) return 0;
    return im.mdx->Fraction(im.active, im.key, recno_);
  }
  return count_ <= 1 ? 0 : static_cast<double>(recno_ - 1) / (count_ - 1);
}

void Table::GoToFraction(double fraction) {
  RequireOpen();
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  fraction = std::clamp(fraction, 0.0, 1.0);
  Impl& im = *impl_;
  bool found = false;
  if (im.active >= 0) {
    std::optional<IndexEntry> e;
    {
      LockGuard lock(*im.dbf, false);
      SyncActiveTag();
      e = im.mdx->AtFraction(im.active, fraction);
    }
    if (e)
      found = SeekIndexed(Seek::kGE, e->key, e->recno) || SeekIndexed(Seek::kLT, e->key, e->recno);
  } else if (count_ > 0) {
    auto r = static_cast<uint32_t>(1 + fraction * (count_ - 1));
    found = SeekNatural(r, +1) || SeekNatural(r, -1);
  }
  if (!found) ClearPosition();
  Notify();
}

// ---------------------------------------------------------------------------
// Fields

Field& Table::Fields(int index) {
  RequireOpen();
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
  RequireOpen();
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
// Changes

void Table::RequireWritable() const {
  RequireOpen();
  Require(!read_only_, ErrorCode::kReadOnly, "The table is open read-only");
  Require(writable_types_, ErrorCode::kUnsupported,
          "This table holds field types that cannot be written");
}

void Table::ReleaseEditLock() {
  Impl& im = *impl_;
  if (im.edit_lock && im.dbf) {
    try {
      im.dbf->Unlock(kRecordLockBase + im.edit_lock, 1);
    } catch (...) {
    }
  }
  im.edit_lock = 0;
}

void Table::Append() {
  RequireWritable();
  if (state_ != State::kBrowse) Cancel();
  impl_->insert_return = recno_;
  std::fill(buf_.begin(), buf_.end(), ' ');
  state_ = State::kInsert;
  Notify();
}

void Table::Insert() {
  Append();
}

void Table::Edit() {
  RequireWritable();
  if (state_ == State::kEdit || state_ == State::kInsert) return;
  if (recno_ == 0) Fail(ErrorCode::kBadState, "There is no record to edit");
  Impl& im = *impl_;
  EndRun();
  if (!im.dbf->TryLock(kRecordLockBase + recno_, 1, true)) {
    Fail(ErrorCode::kRecordLocked,
         "Record " + std::to_string(recno_) + " is locked by another user.");
  }
  im.edit_lock = recno_;
  try {
    // Start from the row as stored now, not as this cursor last saw it.
    std::vector<uint8_t> rec(im.record_len);
    ReadFromDisk(recno_, rec.data());
    if (rec[0] == '*') {
      Fail(ErrorCode::kKeyNotFound,
           "Record " + std::to_string(recno_) + " has been deleted by another user.");
    }
    std::memcpy(buf_.data(), rec.data(), rec.size());
  } catch (...) {
    ReleaseEditLock();
    throw;
  }
  state_ = State::kEdit;
  Notify();
}

// Posts keep the index's dirty mark on disk from one to the next while
// nobody else changes the table (a run, ended by the next operation that is
// not a post, or by Close): each post then writes the record, the index
// pages it changed, the index header (counter and record count) and the
// table header, and the index is complete whenever the write lock is free.
// Other copies trust the dirty mark only while kRunLock shows its holder
// alive; a process killed in a run leaves an index that is rebuilt.
void Table::Post() {
  RequireOpen();
  if (state_ == State::kBrowse) return;
  Impl& im = *impl_;
  buf_[0] = ' ';
  if (state_ == State::kInsert && im.batching) return QueueAppend();
  if (state_ == State::kEdit) FlushAppends();
  LockGuard write_lock(*im.dbf, true);
  bool continuing = PrepareWrite();
  // Keys first: a bad expression or value fails before anything is written.
  std::vector<std::string> new_keys;
  for (size_t t = 0; t < im.tags.size(); ++t)
    new_keys.push_back(KeyOf(static_cast<int>(t), buf_.data()));

  if (state_ == State::kInsert) {
    bool counted = false;
    try {
      WriteAppends(buf_.data(), 1, new_keys, continuing, &counted);
    } catch (const DbfError&) {
      if (counted) {
        state_ = State::kBrowse;
        Land(count_, buf_.data());
      }
      throw;
    }
    state_ = State::kBrowse;
    Land(count_, buf_.data());
    Notify();
    return;
  }

  // Edit: replace the stored row, then move its keys where they changed.
  uint32_t r = recno_;
  std::vector<uint8_t> old(im.record_len);
  ReadFromDisk(r, old.data());
  std::vector<std::string> old_keys;
  bool keys_change = false;
  for (size_t t = 0; t < im.tags.size(); ++t) {
    old_keys.push_back(KeyOf(static_cast<int>(t), old.data()));
    if (old_keys.back() != new_keys[t]) keys_change = true;
  }
  bool began = false, stored = false;
  try {
    if (im.mdx && keys_change) {
      BeginIndexChange();
      began = true;
    }
    im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, buf_.data(),
                    buf_.size());
    stored = true;
    for (size_t t = 0; t < im.tags.size() && began; ++t) {
      if (old_keys[t] == new_keys[t]) continue;
      im.mdx->Remove(static_cast<int>(t), old_keys[t], r);
      im.mdx->Insert(static_cast<int>(t), new_keys[t], r);
    }
    WriteHeader();
    if (began) im.mdx->EndChange(count_, im.run);
  } catch (const DbfError& e) {
    if (began) FailedIndexChange();
    if (!stored) throw;  // nothing written: the edit stays open for a retry
    ReleaseEditLock();
    state_ = State::kBrowse;
    Land(r, buf_.data());
    NoteOwnWrite();
    DropBatch();
    Fail(ErrorCode::kIndexMismatch,
         std::string("The record was saved, but its index could not be updated (") + e.what() +
             "); the indexes must be regenerated");
  }
  if (im.run)
    im.run_count = count_;
  else
    NoteOwnWrite();
  DropBatch();
  ReleaseEditLock();
  state_ = State::kBrowse;
  Land(r, buf_.data());
  Notify();
}

// Under the write lock, before a change: the index synced, the header as
// it is now (unless this copy's run shows nobody else wrote since its last
// post), counts of deleted rows dropped when others changed the file.
// Returns whether the run continues.
bool Table::PrepareWrite() {
  Impl& im = *impl_;
  if (im.mdx) SyncIndex();
  // Within a run the index's counter shows any change by another copy: every
  // copy that appends maintains the index (one that opened before the index
  // existed opens it at its next post, below), so while the counter is ours
  // the header's count is still the one our last post wrote.
  bool continuing =
      im.run && im.mdx && im.mdx->HoldsDirty() && count_ == im.run_count && !im.index_broken;
  if (!continuing) {
    ReloadHeader();
    if (!im.mdx && im.header[kIndexFlag] != 0) {
      OpenIndexCreatedElsewhere();
      if (!im.mdx) {
        Fail(ErrorCode::kNotFound,
             "The production index \"" + im.mdx_path + "\" of the table is missing");
      }
      SyncIndex();
    }
  }
  uint32_t table_changes = im.mdx ? im.mdx->Stamp().table_changes : 0;
  if (!continuing)
    ForgetCountsIfChanged(im);
  else if (table_changes != im.seen_table_changes)
    im.scanned = 0, im.deleted = 0;  // another copy deleted rows
  im.seen_table_changes = table_changes;
  if (im.index_broken) {
    Fail(ErrorCode::kIndexMismatch, "The index \"" + im.mdx_path +
                                        "\" no longer matches its table; its indexes must be "
                                        "regenerated before records can be saved");
  }
  return continuing;
}

// The run lock is taken before the dirty mark of the run's first change
// reaches the disk. Another copy's run keeps this one to plain changes.
void Table::BeginIndexChange() {
  Impl& im = *impl_;
  if (!im.run) im.run = im.dbf->TryLock(kRunLock, 1, true);
  im.mdx->BeginChange(true);
}

void Table::FailedIndexChange() {
  Impl& im = *impl_;
  im.mdx->AbandonChange();
  im.index_broken = true;
  DropRun();
}

// Appends n records (back to back) with their keys (n * tags, row by row)
// under the write lock, after PrepareWrite. The order of the writes keeps
// every reader, those that go by the header's count and those that read up
// to the end mark, from taking a row that is not complete and counted: the
// rows go after the end mark that closes the counted rows, all of them but
// the first one's flag byte, which stays the end mark; then the index, the
// header count, and last the first row's flag. Killed before the count, the
// file holds an unfinished tail behind the end mark, which the next writer
// cuts; killed after it, the index is still marked in a change, and the
// rebuild that follows completes the flag (RepairRows). *counted tells,
// when this throws, whether the rows made it into the header's count.
void Table::WriteAppends(const uint8_t* records, uint32_t n, const std::vector<std::string>& keys,
                         bool continuing, bool* counted) {
  Impl& im = *impl_;
  *counted = false;
  if (n == 0) return;
  if (count_ > kMaxRecords - n) Fail(ErrorCode::kBadState, "The table cannot hold more records");
  if (!continuing) CutTail();
  const size_t len = im.record_len;
  const uint32_t first = count_ + 1;
  const uint64_t off = im.header_len + static_cast<uint64_t>(count_) * len;
  std::vector<uint8_t>& out = im.out;
  out.assign(records + 1, records + static_cast<size_t>(n) * len);
  out.push_back(kEndMark);
  im.dbf->WriteAt(off + 1, out.data(), out.size());
  try {
    if (im.mdx) {
      BeginIndexChange();
      const size_t tags = im.tags.size();
      // In each tag's order, so that one insert after another finds its
      // path through the tree where the last one left it.
      std::vector<uint32_t> order(n);
      for (size_t t = 0; t < tags; ++t) {
        std::iota(order.begin(), order.end(), 0u);
        if (n > 1) {
          const TagDef& def = im.tags[t].def;
          std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            const std::string& ka = keys[a * tags + t];
            const std::string& kb = keys[b * tags + t];
            int c = def.type == KeyType::kChar ? ka.compare(kb) : CompareKeys(def.type, ka, kb);
            return def.descending ? c > 0 : c < 0;
          });
        }
        for (uint32_t i : order) im.mdx->Insert(static_cast<int>(t), keys[i * tags + t], first + i);
      }
    }
    count_ = first + n - 1;
    WriteHeader();
    *counted = true;
    im.dbf->WriteAt(off, records, 1);
    if (im.mdx) im.mdx->EndChange(count_, im.run);
  } catch (const DbfError& e) {
    if (im.mdx) FailedIndexChange();
    DropBatch();
    if (!*counted) {
      count_ = first - 1;
      // The rows written behind the end mark are cut again where the disk
      // still lets us; else the next writer does it.
      try {
        CutTail();
      } catch (const DbfError&) {
      }
      throw;
    }
    NoteOwnWrite();
    Fail(ErrorCode::kIndexMismatch,
         std::string(n == 1 ? "The record was saved" : "The records were saved") +
             ", but the index could not be updated (" + e.what() +
             "); the indexes must be regenerated");
  }
  if (im.scanned == first - 1) im.scanned = count_;
  // In a run the file's stamp is noted when the run ends.
  if (im.run)
    im.run_count = count_;
  else
    NoteOwnWrite();
  DropBatch();
}

// Under the write lock, before rows are added behind the counted ones:
// bytes there are what an append that never finished left, and the end
// mark must close the counted rows before new ones are written after it.
// The mark is written before the cut, so that a reader going by end marks
// never meets an unfinished row on the way.
void Table::CutTail() {
  Impl& im = *impl_;
  const uint64_t end = im.header_len + static_cast<uint64_t>(count_) * im.record_len;
  const uint64_t size = im.dbf->Size();
  uint8_t mark = 0;
  if (size > end) im.dbf->ReadAt(end, &mark, 1);
  if (mark != kEndMark) {
    mark = kEndMark;
    im.dbf->WriteAt(end, &mark, 1);
  }
  if (size > end + 1) im.dbf->Truncate(end + 1);
}

// For a rebuild, with the table to ourselves or under the write lock: cuts
// an unfinished tail and completes rows that an append stopped before their
// flag byte (still the end mark, see WriteAppends); the rows themselves
// were complete before the header counted them.
void Table::RepairRows() {
  Impl& im = *impl_;
  ReloadHeader();
  CutTail();
  std::vector<uint32_t> unfinished;
  ScanRecords(*im.dbf, im.header_len, im.record_len, 1, count_,
              [&](uint32_t recno, const uint8_t* rec) {
                if (rec[0] == kEndMark) unfinished.push_back(recno);
              });
  const uint8_t live = ' ';
  for (uint32_t r : unfinished)
    im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &live, 1);
  if (!unfinished.empty()) DropBatch();
}

void Table::QueueAppend() {
  Impl& im = *impl_;
  for (size_t t = 0; t < im.tags.size(); ++t)
    im.queue_keys.push_back(KeyOf(static_cast<int>(t), buf_.data()));
  auto now = std::chrono::steady_clock::now();
  if (im.queued == 0) {
    im.queue_since = now;
    im.queue_tags_gen = im.tags_gen;
  }
  im.queue.insert(im.queue.end(), buf_.begin(), buf_.end());
  ++im.queued;
  // The row has no number until its batch is written.
  state_ = State::kBrowse;
  recno_ = 0;
  eof_ = bof_ = false;
  Notify();
  if (im.queued >= im.batch_options.rows ||
      now - im.queue_since >= std::chrono::milliseconds(im.batch_options.milliseconds))
    FlushAppends();
}

void Table::FlushAppends() {
  Impl& im = *impl_;
  if (im.queued == 0) return;
  bool counted = false;
  {
    LockGuard write_lock(*im.dbf, true);
    bool continuing = PrepareWrite();
    if (im.tags_gen != im.queue_tags_gen) {
      // Another copy changed the tags since the rows were queued.
      im.queue_keys.clear();
      for (uint32_t i = 0; i < im.queued; ++i)
        for (size_t t = 0; t < im.tags.size(); ++t)
          im.queue_keys.push_back(
              KeyOf(static_cast<int>(t), im.queue.data() + static_cast<size_t>(i) * im.record_len));
      im.queue_tags_gen = im.tags_gen;
    }
    try {
      WriteAppends(im.queue.data(), im.queued, im.queue_keys, continuing, &counted);
    } catch (const DbfError&) {
      if (counted) {
        im.queue.clear();
        im.queue_keys.clear();
        im.queued = 0;
      }
      throw;
    }
  }
  if (state_ == State::kBrowse)
    Land(count_, im.queue.data() + static_cast<size_t>(im.queued - 1) * im.record_len);
  im.queue.clear();
  im.queue_keys.clear();
  im.queued = 0;
}

void Table::BeginAppendBatch(const AppendBatchOptions& options) {
  RequireWritable();
  Impl& im = *impl_;
  im.batching = true;
  im.batch_options = options;
  im.batch_options.rows = std::max<size_t>(1, options.rows);
  im.batch_options.milliseconds = std::max<int64_t>(0, options.milliseconds);
  // Many rows land in leaves all over each tree: a larger cache keeps the
  // leaves of a table of a few hundred thousand rows from being written
  // and read again for each batch.
  if (im.mdx) im.mdx->SetCacheLimit(kAppendCacheBlocks);
}

void Table::EndAppendBatch() {
  RequireOpen();
  FlushAppends();
  impl_->batching = false;
}

void Table::DropAppendBatch() {
  Impl& im = *impl_;
  im.queue.clear();
  im.queue_keys.clear();
  im.queued = 0;
  im.batching = false;
}

bool Table::InAppendBatch() const {
  return impl_->batching;
}

size_t Table::QueuedRows() const {
  return impl_->queued;
}

void Table::Cancel() {
  RequireOpen();
  Impl& im = *impl_;
  if (state_ == State::kEdit) {
    ReleaseEditLock();
    state_ = State::kBrowse;
    ReadFromDisk(recno_, buf_.data());
    if (im.active >= 0) im.key = KeyOf(im.active, buf_.data());
  } else if (state_ == State::kInsert) {
    state_ = State::kBrowse;
    uint32_t back = im.insert_return;
    if (!back || !GoTo(back)) {
      if (recno_ == 0) {
        First();
        return;
      }
      ReadFromDisk(recno_, buf_.data());
    }
  }
  Notify();
}

void Table::Delete() {
  RequireWritable();
  if (state_ == State::kInsert) return Cancel();
  if (state_ == State::kEdit) Cancel();
  if (recno_ == 0) Fail(ErrorCode::kBadState, "There is no record to delete");
  Impl& im = *impl_;
  EndRun();
  uint32_t r = recno_;
  if (!im.dbf->TryLock(kRecordLockBase + r, 1, true)) {
    Fail(ErrorCode::kRecordLocked, "Record " + std::to_string(r) + " is locked by another user.");
  }
  try {
    LockGuard write_lock(*im.dbf, true);
    // The header is rewritten below: it must carry the count as it is now,
    // with other processes' appends, not as this open last saw it.
    ReloadHeader();
    ForgetCountsIfChanged(im);
    uint8_t flag = 0;
    im.dbf->ReadAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
    if (flag != '*') {
      if (im.mdx) {
        // Copies in a run learn of others' changes from the index's counter
        // alone; bumped first, so that a failure leaves the row as it was.
        im.mdx->Sync();
        im.mdx->NoteTableChange();
      }
      flag = '*';
      im.dbf->WriteAt(im.header_len + static_cast<uint64_t>(r - 1) * im.record_len, &flag, 1);
      WriteHeader();
      if (r <= im.scanned) ++im.deleted;
      NoteOwnWrite();
    }
  } catch (...) {
    im.dbf->Unlock(kRecordLockBase + r, 1);
    throw;
  }
  im.dbf->Unlock(kRecordLockBase + r, 1);
  DropBatch();
  buf_[0] = '*';
  // Go to the next row, or the one before when the deleted row was last.
  std::string key = im.key;
  bool found = im.active >= 0 ? SeekIndexed(Seek::kGT, key, r) : SeekNatural(r + 1, +1);
  if (!found) found = im.active >= 0 ? SeekIndexed(Seek::kLT, key, r) : SeekNatural(r - 1, -1);
  if (!found) ClearPosition();
  Notify();
}

// ---------------------------------------------------------------------------
// Display guard and observers

void Table::DisableControls() {
  ++disable_count_;
}

void Table::EnableControls() {
  if (disable_count_ > 0 && --disable_count_ == 0 && pending_notice_) {
    pending_notice_ = false;
    Notify();
  }
}

void Table::AddObserver(TableObserver* observer) {
  observers_.push_back(observer);
}

void Table::RemoveObserver(TableObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void Table::Notify() {
  if (disable_count_ > 0) {
    pending_notice_ = true;
    return;
  }
  auto copy = observers_;
  for (TableObserver* o : copy) o->TableChanged(*this);
}

// ---------------------------------------------------------------------------
// Filter

void Table::SetOnFilterRecord(std::function<bool(Table&)> filter) {
  DropBatch();
  filter_ = std::move(filter);
  if (filtered_ && IsOpen() && state_ == State::kBrowse) First();
}

void Table::SetShowDeleted(bool show) {
  DropBatch();
  if (show_deleted_ == show) return;
  show_deleted_ = show;
  if (IsOpen() && state_ == State::kBrowse) First();
}

void Table::SetFiltered(bool filtered) {
  DropBatch();
  if (filtered_ == filtered) return;
  filtered_ = filtered;
  if (IsOpen() && state_ == State::kBrowse) First();
}

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

// Fills one tag from every record (deleted ones too: dBase keeps them in the
// index) with keys sorted in memory and streamed to the tree builder.
static void BuildTag(File& dbf, uint32_t header_len, uint32_t record_len, uint32_t count,
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
  RequireWritable();
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

  EndRun();
  LockGuard write_lock(*im.dbf, true);
  ReloadHeader();
  if (!im.mdx && im.header[kIndexFlag] != 0) OpenIndexCreatedElsewhere();
  if (!im.mdx) {
    im.mdx_path = MdxPath();
    std::string base = BaseOf(im.dbf_path);
    base = base.substr(0, base.find('.'));
    im.mdx = MdxFile::Create(env_, im.mdx_path, UpperAscii(base));
    if (im.header[kIndexFlag] != 1) {
      im.header[kIndexFlag] = 1;
      im.dbf->WriteAt(kIndexFlag, &im.header[kIndexFlag], 1);
    }
  }
  SyncIndex();
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
  LoadTags();
  if (!active_name.empty()) SetIndexName(active_name);
}

void Table::DeleteIndex(std::string_view name) {
  RequireWritable();
  Impl& im = *impl_;
  if (!im.mdx) Fail(ErrorCode::kNoSuchTag, "The table has no index tag " + UpperAscii(name));
  EndRun();
  LockGuard write_lock(*im.dbf, true);
  ReloadHeader();
  SyncIndex();
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
  LoadTags();
}

void Table::SetIndexName(std::string_view name) {
  RequireOpen();
  DropBatch();
  Impl& im = *impl_;
  if (name.empty()) {
    im.active = -1;
    index_name_.clear();
    Notify();
    return;
  }
  int found = -1;
  for (size_t i = 0; i < im.tags.size(); ++i)
    if (EqualNoCaseAscii(im.tags[i].name, name)) found = static_cast<int>(i);
  if (found < 0) Fail(ErrorCode::kNoSuchTag, "The table has no index tag " + UpperAscii(name));
  im.active = found;
  index_name_ = im.tags[static_cast<size_t>(found)].name;
  if (recno_) im.key = KeyOf(found, buf_.data());
  Notify();
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
  RequireOpen();
  Impl& im = *impl_;
  if (im.active < 0) Fail(ErrorCode::kNoSuchTag, "No index is active for a key search");
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  const TagDef& def = im.tags[static_cast<size_t>(im.active)].def;
  auto [k, match] = LookupKey(def, *cp_, text_format_, key);
  std::vector<uint8_t> keep_buf = buf_;
  uint32_t keep_recno = recno_;
  std::string keep_key = im.key;
  bool keep_eof = eof_, keep_bof = bof_;
  bool found =
      !def.descending && SeekIndexed(Seek::kGE, k, 0) && im.key.compare(0, match, k, 0, match) == 0;
  if (def.descending) {
    // Descending trees hold larger keys first: scan from the top for equality.
    found = SeekIndexed(Seek::kFirst, {}, 0);
    while (found && im.key.compare(0, match, k, 0, match) != 0) {
      found = SeekIndexed(Seek::kGT, im.key, recno_);
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
  Notify();
  return true;
}

void Table::FindNearest(std::string_view key) {
  RequireOpen();
  Impl& im = *impl_;
  if (im.active < 0) Fail(ErrorCode::kNoSuchTag, "No index is active for a key search");
  if (state_ != State::kBrowse) Cancel();
  EndRun();
  const TagDef& def = im.tags[static_cast<size_t>(im.active)].def;
  auto k = LookupKey(def, *cp_, text_format_, key).first;
  if (!SeekIndexed(Seek::kGE, k, 0)) {
    Last();
    eof_ = true;
    return;
  }
  Notify();
}

// ---------------------------------------------------------------------------
// Whole-table operations

void Table::RebuildIndexFile(const std::vector<TagDef>& defs,
                             const std::function<void(double)>& progress, bool repair_rows) {
  Impl& im = *impl_;
  // Nobody else may hold the old index open while it is replaced.
  if (!exclusive_ && !im.dbf->TryLock(kOpenLock, 1, true)) {
    Fail(ErrorCode::kInUse, "The table \"" + im.dbf_path +
                                "\" is in use by another user or program; rebuilding its "
                                "indexes needs it alone");
  }
  struct Downgrade {
    Table& t;
    ~Downgrade() {
      try {
        if (!t.exclusive_ && t.impl_->dbf) t.impl_->dbf->Lock(kOpenLock, 1, false);
      } catch (...) {
      }
    }
  } downgrade{*this};
  // A rebuild follows a change that did not finish: the rows it left
  // unfinished are mended first, so that the keys are built over them.
  if (repair_rows && !read_only_) RepairRows();

  if (im.mdx_path.empty()) im.mdx_path = MdxPath();
  RemoveLeftoverTemps(env_, im.mdx_path);
  std::string tmp = TempPathFor(im.mdx_path);
  std::string base = BaseOf(im.dbf_path);
  base = base.substr(0, base.find('.'));
  try {
    auto fresh = MdxFile::Create(env_, tmp, UpperAscii(base));
    fresh->BeginChange();
    for (size_t i = 0; i < defs.size(); ++i) {
      int tag = fresh->AddTag(defs[i]);
      Expression expr = Expression::Parse(defs[i].expression, im.expr_fields, *cp_);
      double span = 1.0 / static_cast<double>(defs.size());
      BuildTag(*im.dbf, im.header_len, im.record_len, count_, *fresh, tag, expr, progress,
               span * static_cast<double>(i), span);
    }
    fresh->EndChange(count_);
    fresh.reset();
    im.mdx.reset();
    env_.Rename(tmp, im.mdx_path);
    env_.SyncDir(im.mdx_path);
  } catch (...) {
    try {
      env_.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  im.mdx = MdxFile::Open(env_, im.mdx_path, true);
  im.mdx->Sync();
  im.index_broken = false;
  if (im.header[kIndexFlag] != 1) {
    im.header[kIndexFlag] = 1;
    im.dbf->WriteAt(kIndexFlag, &im.header[kIndexFlag], 1);
  }
  LoadTags();
  NoteOwnWrite();
}

void Table::RegenerateIndexes(const std::function<void(double)>& progress) {
  RequireWritable();
  if (state_ != State::kBrowse) Cancel();
  Impl& im = *impl_;
  EndRun();
  if (!im.mdx) {
    // No index to rebuild; the rows are mended all the same.
    LockGuard write_lock(*im.dbf, true);
    RepairRows();
    return;
  }
  std::vector<TagDef> defs = TagDefsOf(*im.mdx);
  std::string active_name = index_name_;
  {
    LockGuard write_lock(*im.dbf, true);
    ReloadHeader();
    RebuildIndexFile(defs, progress, true);
  }
  if (!active_name.empty() && im.mdx->FindTag(active_name) >= 0) SetIndexName(active_name);
  Refresh();
}

void Table::Pack(const std::function<void(double)>& progress) {
  RequireWritable();
  if (!exclusive_) {
    Fail(ErrorCode::kInUse,
         "Packing the table \"" + impl_->dbf_path + "\" needs it opened for exclusive use");
  }
  if (state_ != State::kBrowse) Cancel();
  Impl& im = *impl_;
  EndRun();
  // The old descriptor goes away once the packed file replaces it, so its
  // write lock is held by a guard that ends first.
  std::optional<LockGuard> write_lock;
  write_lock.emplace(*im.dbf, true);
  ReloadHeader();
  std::vector<uint8_t> head(im.header_len);
  if (im.dbf->ReadAt(0, head.data(), head.size()) != head.size())
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path + "\" is truncated in its header");

  RemoveLeftoverTemps(env_, im.dbf_path);
  std::string tmp = TempPathFor(im.dbf_path);
  std::unique_ptr<File> out;
  uint32_t kept = 0;
  try {
    out = env_.Open(tmp, OpenMode::kCreateTruncate);
    // The new file carries our exclusive lock before it takes the table's name.
    if (!out->TryLock(kOpenLock, 1, true))
      Fail(ErrorCode::kInUse, "The packed copy of the table is in use");
    uint64_t pos = im.header_len;
    std::vector<uint8_t> kept_bytes;
    ScanChunks(*im.dbf, im.header_len, im.record_len, 1, count_,
               [&](uint32_t first, const uint8_t* bytes, uint32_t n) {
                 kept_bytes.clear();
                 for (uint32_t i = 0; i < n; ++i) {
                   const uint8_t* rec = bytes + static_cast<size_t>(i) * im.record_len;
                   if (rec[0] == '*') continue;
                   kept_bytes.insert(kept_bytes.end(), rec, rec + im.record_len);
                   // A row whose append stopped before its flag (see
                   // WriteAppends) is a live row.
                   kept_bytes[kept_bytes.size() - im.record_len] = ' ';
                   ++kept;
                 }
                 out->WriteAt(pos, kept_bytes.data(), kept_bytes.size());
                 pos += kept_bytes.size();
                 if (progress) progress(0.5 * (first + n - 1) / std::max<uint32_t>(count_, 1));
               });
    uint8_t eof = kEndMark;
    out->WriteAt(pos, &eof, 1);
    TodayHeaderDate(head.data() + kLastUpdate);
    Put32(head.data() + kRecordCount, kept);
    out->WriteAt(0, head.data(), head.size());
    out->Sync();
    env_.Rename(tmp, im.dbf_path);
    env_.SyncDir(im.dbf_path);
  } catch (...) {
    out.reset();
    try {
      env_.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  // From here the packed file is the table; our locks live on its descriptor.
  write_lock.reset();
  out->Lock(kWriteLock, 1, true);
  std::memcpy(im.header, head.data(), kHeaderSize);
  im.dbf = std::move(out);
  count_ = kept;
  im.deleted = 0;
  im.scanned = kept;
  DropBatch();
  NoteOwnWrite();
  std::string active_name = index_name_;
  bool had_index = im.mdx != nullptr;
  if (had_index) {
    std::vector<TagDef> defs = TagDefsOf(*im.mdx);
    RebuildIndexFile(defs, [&](double f) {
      if (progress) progress(0.5 + 0.5 * f);
    });
  }
  im.dbf->Unlock(kWriteLock, 1);
  if (had_index && !active_name.empty() && im.mdx->FindTag(active_name) >= 0)
    SetIndexName(active_name);
  if (progress) progress(1.0);
  First();
}

std::vector<std::string> Table::Check() {
  RequireOpen();
  Impl& im = *impl_;
  std::vector<std::string> problems;
  EndRun();
  LockGuard lock(*im.dbf, false);
  ReloadHeader();
  {
    // Past the counted rows only the end mark may follow (or nothing, as
    // some software writes it); anything more is an append that stopped.
    const uint64_t end = im.header_len + static_cast<uint64_t>(count_) * im.record_len;
    const uint64_t size = im.dbf->Size();
    uint8_t mark = 0;
    if (size > end) im.dbf->ReadAt(end, &mark, 1);
    uint64_t tail = size > end ? size - end - (mark == kEndMark ? 1 : 0) : 0;
    if (tail > 0) {
      problems.push_back("the file holds " + std::to_string(tail) +
                         " bytes past its last counted record" +
                         (mark == kEndMark ? "" : ", with no end mark before them") +
                         ", left by an append that did not finish");
    }
  }
  try {
    ScanRecords(
        *im.dbf, im.header_len, im.record_len, 1, count_, [&](uint32_t recno, const uint8_t* rec) {
          if (problems.size() >= 100) return;
          if (rec[0] == kEndMark) {
            problems.push_back("record " + std::to_string(recno) +
                               " was counted before its append finished (its flag is the end "
                               "mark)");
          } else if (rec[0] != ' ' && rec[0] != '*') {
            problems.push_back("record " + std::to_string(recno) + " has an invalid deletion flag");
          }
          for (const ExprField& f : im.expr_fields) {
            std::string_view v(reinterpret_cast<const char*>(rec) + f.offset,
                               static_cast<size_t>(f.length));
            if (v.find_first_not_of(' ') == std::string_view::npos) continue;
            bool ok = true;
            if (f.type == 'N' || f.type == 'F') ok = ParseStoredNumber(v).has_value();
            if (f.type == 'D') ok = ParseStoredDate(v).has_value();
            if (!ok) {
              problems.push_back("record " + std::to_string(recno) + ", field " + f.name +
                                 ": invalid value \"" + std::string(v) + "\"");
            }
          }
        });
  } catch (const DbfError& e) {
    problems.push_back(e.what());
  }
  if (!im.mdx) return problems;
  im.mdx->Sync();
  MdxStamp st = im.mdx->Stamp();
  if (st.present && st.dirty && !DirtyMarkIsLive())
    problems.push_back("the index was left half-changed by a process that stopped");
  if (st.present && st.record_count != count_) {
    problems.push_back("the index was written for " + std::to_string(st.record_count) +
                       " records, the table has " + std::to_string(count_));
  }
  std::vector<uint8_t> rec(im.record_len);
  for (int t = 0; t < im.mdx->TagCount(); ++t) {
    const TagDef& def = im.mdx->Tag(t);
    std::vector<bool> seen(count_ + 1u, false);
    uint64_t entries = 0, wrong = 0;
    try {
      if (t >= static_cast<int>(im.tags.size())) LoadTags();
      im.mdx->Walk(t, [&](const IndexEntry& e) {
        ++entries;
        if (e.recno == 0 || e.recno > count_) {
          if (wrong++ < 5)
            problems.push_back("tag " + def.name + " points at record " + std::to_string(e.recno) +
                               ", beyond the table");
          return;
        }
        if (seen[e.recno]) {
          if (wrong++ < 5)
            problems.push_back("tag " + def.name + " holds record " + std::to_string(e.recno) +
                               " twice");
          return;
        }
        seen[e.recno] = true;
        ReadFromDisk(e.recno, rec.data());
        if (KeyOf(t, rec.data()) != e.key && wrong++ < 5) {
          problems.push_back("tag " + def.name + " has a wrong key for record " +
                             std::to_string(e.recno));
        }
      });
    } catch (const DbfError& e) {
      problems.push_back("tag " + def.name + ": " + e.what());
      continue;
    }
    if (entries != count_) {
      problems.push_back("tag " + def.name + " holds " + std::to_string(entries) + " keys for " +
                         std::to_string(count_) + " records");
    }
    if (wrong > 5)
      problems.push_back("tag " + def.name + ": " + std::to_string(wrong - 5) + " more wrong keys");
  }
  return problems;
}

void Table::Refresh() {
  RequireOpen();
  if (state_ != State::kBrowse) return;
  Impl& im = *impl_;
  EndRun();
  DropBatch();
  {
    LockGuard lock(*im.dbf, false);
    ReloadHeader();
    File::Status st = im.dbf->Stat();
    if (st.modified_ns != im.seen_mtime) {
      im.scanned = 0;
      im.deleted = 0;
      im.seen_mtime = st.modified_ns;
    }
    DropBatch();
    // Another copy may have created the production index since we opened.
    if (!im.mdx && im.header[kIndexFlag] != 0) OpenIndexCreatedElsewhere();
    if (im.mdx) {
      SyncIndex();
      AdoptDeletedCount(st);
    }
  }
  if (recno_ == 0) return First();
  uint32_t r = recno_;
  std::string key = im.key;
  std::vector<uint8_t> rec(im.record_len);
  ReadFromDisk(r, rec.data());
  std::vector<uint8_t> keep = buf_;
  if (Accept(rec.data())) {
    Land(r, rec.data());
  } else {
    buf_ = std::move(keep);
    bool found = im.active >= 0 ? SeekIndexed(Seek::kGT, key, r) : SeekNatural(r + 1, +1);
    if (!found) found = im.active >= 0 ? SeekIndexed(Seek::kLT, key, r) : SeekNatural(r - 1, -1);
    if (!found) ClearPosition();
  }
  Notify();
}

// ---------------------------------------------------------------------------
// The index flag of a table whose index is gone

bool Table::RemoveIndexFlag(Env& env, const std::string& path) {
  std::unique_ptr<File> file;
  try {
    file = env.Open(path, OpenMode::kReadWrite);
  } catch (const DbfError&) {
    return false;  // nothing to clear that we may touch
  }
  // Another open of the table holds its header as read; an exclusive one
  // does not expect it to change at all.
  if (!file->TryLock(kOpenLock, 1, false)) return false;
  LockGuard write_lock(*file, true);
  uint8_t h[kHeaderSize];
  if (file->ReadAt(0, h, sizeof h) != sizeof h) return false;
  // Any file may carry a .DBF name: byte 28 is a flag only in a dBase
  // header (a known version, at least one field descriptor and its
  // terminator, records of at least the flag and one byte), and anything
  // else must stay as it is for the open that follows to report it.
  const int version = h[0] & 0x07;
  if (version < 3 || version > 5 || Get16(h + kHeaderLength) < kHeaderSize + kDescriptorSize + 1 ||
      Get16(h + kRecordLength) < 2 || h[kIndexFlag] == 0)
    return false;
  const uint8_t none = 0;
  file->WriteAt(kIndexFlag, &none, 1);
  return true;
}

// ---------------------------------------------------------------------------
// Creating a table

void Table::CreateTable(Env& env, const std::string& path, const std::vector<FieldDef>& fields) {
  auto bad = [&](const std::string& why) {
    Fail(ErrorCode::kBadDefinition, "Cannot create the table \"" + path + "\": " + why);
  };
  if (fields.empty()) bad("it has no fields");
  if (fields.size() > 255) bad("it has more than 255 fields");
  std::set<std::string> names;
  std::vector<uint8_t> head(kHeaderSize + kDescriptorSize * fields.size() + 1, 0);
  uint32_t record_len = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldDef f = fields[i];
    std::string name = UpperAscii(f.name);
    bool ok = !name.empty() && name.size() <= 10 && name[0] >= 'A' && name[0] <= 'Z';
    for (char c : name) ok = ok && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    if (!ok) bad("\"" + f.name + "\" is not a valid field name");
    if (!names.insert(name).second) bad("the field name " + name + " appears twice");
    char type = static_cast<char>(f.type >= 'a' && f.type <= 'z' ? f.type - 'a' + 'A' : f.type);
    int len = f.length, dec = f.decimals;
    switch (type) {
      case 'C':
        if (len == 0) len = 10;
        if (len < 1 || len > 254) bad("character field " + name + " must be 1 to 254 long");
        dec = 0;
        break;
      case 'N':
      case 'F':
        if (len == 0) len = type == 'N' ? (dec ? 20 : 11) : 20;
        if (len < 1 || len > 20 || dec < 0 || dec > 15 || (dec > 0 && dec > len - 2))
          bad("numeric field " + name + " has an impossible size");
        break;
      case 'D':
        if (len != 0 && len != 8) bad("date field " + name + " must be 8 long");
        len = 8;
        dec = 0;
        break;
      case 'L':
        if (len != 0 && len != 1) bad("logical field " + name + " must be 1 long");
        len = 1;
        dec = 0;
        break;
      default:
        Fail(ErrorCode::kUnsupported, "Cannot create the table \"" + path + "\": field " + name +
                                          " has type " + std::string(1, type) +
                                          ", which this program does not write");
    }
    uint8_t* d = head.data() + kHeaderSize + kDescriptorSize * i;
    std::memcpy(d, name.data(), name.size());
    d[kFieldType] = static_cast<uint8_t>(type);
    d[kFieldLength] = static_cast<uint8_t>(len);
    d[kFieldDecimals] = static_cast<uint8_t>(dec);
    record_len += static_cast<uint32_t>(len);
  }
  if (record_len > 65535) bad("its records would be longer than 65535 bytes");
  head[kVersionByte] = 0x03;
  TodayHeaderDate(head.data() + kLastUpdate);
  Put16(head.data() + kHeaderLength, static_cast<uint16_t>(head.size()));
  Put16(head.data() + kRecordLength, static_cast<uint16_t>(record_len));
  head[kLanguageDriver] = CodePage::Cp1252().driver();
  head.back() = 0x0D;
  head.push_back(kEndMark);

  std::string tmp = TempPathFor(path);
  try {
    auto out = env.Open(tmp, OpenMode::kCreateTruncate);
    out->WriteAt(0, head.data(), head.size());
    out->Sync();
    out.reset();
    env.Rename(tmp, path);
    env.SyncDir(path);
  } catch (...) {
    try {
      env.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
}

}  // namespace klv::dbf
