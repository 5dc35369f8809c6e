// The table's insides, shared by the files that implement it (Table*.cpp)
// and by nothing else: the header offsets, the open state and the helpers
// of the operations (Table::Impl), the scans every whole-table pass goes
// through, and the key of a record for a tag. What copies sharing a table
// keep in step, and the lock bytes, are TableShare.h's.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Ascii.h"
#include "base/Bytes.h"
#include "db/dbf/Base.h"
#include "db/dbf/Expr.h"
#include "db/dbf/Mdx.h"
#include "db/dbf/Table.h"
#include "db/dbf/TableShare.h"

namespace klv::dbf {
namespace tbl {

using base::EqualNoCaseAscii;
using base::Get16;
using base::Get32;
using base::Put16;
using base::Put32;
using base::UpperAscii;

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

inline bool Supported(char type) {
  return type == 'C' || type == 'N' || type == 'F' || type == 'D' || type == 'L';
}

inline std::string TempPathFor(const std::string& path) {
  return DirOf(path) + "." + BaseOf(path) + ".tmp" + std::to_string(::getpid());
}

// Removes what a rewrite of path killed before its rename left behind. Only
// with the table opened alone: nobody else can be rewriting it then.
inline void RemoveLeftoverTemps(Env& env, const std::string& path) {
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
    if (lock_each) SharedTableProtocol::LockTable(dbf, false);
    size_t got = 0;
    try {
      got = dbf.ReadAt(off, chunk.data(), chunk.size());
    } catch (...) {
      if (lock_each) SharedTableProtocol::UnlockTable(dbf);
      throw;
    }
    if (lock_each) SharedTableProtocol::UnlockTable(dbf);
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

// The definitions of the tags an index file holds.
std::vector<TagDef> TagDefsOf(MdxFile& mdx);

}  // namespace tbl

using namespace tbl;

namespace tbl {

// What a table knows while it is open, forgotten at Close.
struct OpenState {
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
  // Deleted rows counted among records 1..scanned; valid while the file is
  // as we last saw it (our own writes note the new modification stamp).
  uint64_t deleted = 0;
  uint32_t scanned = 0;
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

}  // namespace tbl

// The insides of a Table: its open state and the helpers of its
// operations. One per Table, for the Table's whole life; it reaches the
// cursor state the public header keeps inline (the record buffer, the
// count, Eof/Bof) through table. Close forgets the open state and keeps
// the settings (environment, filter, observers).
struct Table::Impl : tbl::OpenState {
  Impl(Table& owner, Env& environment) : table(owner), env(environment) {}

  void Require(bool ok, ErrorCode code, const char* what) const;
  void RequireOpen() const;
  void RequireWritable() const;
  void Notify();
  // The cursor and the index.
  void LoadTags();
  void VerifyIndexStamp();
  void RebuildIndexFile(const std::vector<TagDef>& defs,
                        const std::function<void(double)>& progress, bool repair_rows = false);
  std::string KeyOf(int tag, const uint8_t* record) const;
  void ReadFromDisk(uint32_t recno, uint8_t* out);
  bool Accept(const uint8_t* record);
  bool SeekNatural(uint32_t from, int dir);
  enum class Seek { kFirst, kLast, kGE, kGT, kLE, kLT };
  bool SeekIndexed(Seek mode, std::string key, uint32_t recno);
  // Walks (see Table.h): Step moves to the next visible row in direction
  // dir (+1, -1) through the batch read ahead, FillBatch reads the next
  // batch under the read lock.
  bool Step(int dir);
  bool FillBatch();
  void DropBatch();
  // Our own post changed recno to record: the walk's copy follows.
  void PatchBatch(uint32_t recno, const uint8_t* record);
  void Land(uint32_t recno, const uint8_t* record, const std::string* key = nullptr);
  void ScanDeleted();
  void GoToEnd(bool last);
  void ClearPosition();
  // Appends: records (n rows, back to back) with their keys (n * tags),
  // written under the write lock the caller holds; FlushAppends writes the
  // queue of a batched append.
  bool PrepareWrite();
  void BeginIndexChange();
  void FailedIndexChange();
  void WriteAppends(const uint8_t* records, uint32_t n, const std::vector<std::string>& keys,
                    bool continuing, bool* counted);
  void QueueAppend();
  void FlushAppends();
  void CutTail();
  void RepairRows();
  void ReleaseEditLock();
  // Writes the queue of a batched append, then ends the run of posts.
  void EndRun();

  // The header's record count as the table keeps it, for the helpers
  // outside Table::Impl (the sharing protocol).
  uint32_t& count() { return table.count_; }

  void ForgetOpenState() {
    static_cast<tbl::OpenState&>(*this) = tbl::OpenState{};
    share.Reset();
  }

  Table& table;
  Env& env;
  std::function<bool(Table&)> filter;
  std::function<void(Table&)> after_post_edit;
  bool show_deleted = false;
  bool pending_notice = false;
  std::vector<TableObserver*> observers;
  // Keeps this open in step with other copies sharing the table.
  SharedTableProtocol share{*this};
};

namespace tbl {

// A walk's first batch is small, for the lookup that wants one row or a
// screen; each further one doubles, up to a bound in rows and in bytes.
constexpr uint32_t kFirstBatchRows = 16;
constexpr uint32_t kMaxBatchRows = 512;
constexpr size_t kMaxBatchBytes = 256 << 10;
constexpr size_t kAppendCacheBlocks = 16384;

}  // namespace tbl

namespace tbl {

// The key of record for a tag, key_length bytes at out. Character keys that
// the expression yields at exactly the key's width are made straight from
// the record bytes; the others go through the general evaluator.
inline void WriteKey(const TagDef& def, const Expression& expr, const uint8_t* record, char* out) {
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

}  // namespace tbl

namespace tbl {

// Fills one tag from every record (deleted ones too: dBase keeps them in the
// index) with keys sorted in memory and streamed to the tree builder;
// progress goes from base to base + span.
void BuildTag(File& dbf, uint32_t header_len, uint32_t record_len, uint32_t count, MdxFile& mdx,
              int tag, const Expression& expr, const std::function<void(double)>& progress,
              double base, double span);

}  // namespace tbl

}  // namespace klv::dbf
