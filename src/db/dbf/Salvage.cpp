#include "db/dbf/Salvage.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <set>

#include "db/dbf/Mdx.h"
#include "db/dbf/Table.h"
#include "db/dbf/TableShare.h"

namespace klv::dbf {
namespace {

constexpr size_t kHeaderSize = 32;
constexpr size_t kDescriptorSize = 32;
constexpr size_t kMaxFields = 255;
constexpr size_t kMaxHeader = 65535;  // the header length is a 16-bit field
constexpr size_t kChunk = 1 << 20;
// Row positions looked at when the header and the descriptors disagree on
// where rows start or how long they are.
constexpr uint64_t kProbeRows = 64;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  Fail(ErrorCode::kCorruptTable, "The table \"" + path + "\" cannot be repaired: " + why);
}

// The version bytes the engine opens.
bool KnownVersion(uint8_t v) {
  return (v & 0x07) == 0x03 || v == 0x30 || v == 0x31 || v == 0xF5 || v == 0x43 || v == 0xCB ||
         v == 0x04 || v == 0x05;
}

bool GoodFlag(uint8_t b) {
  return b == ' ' || b == '*';
}

struct Descriptor {
  std::string name;
  char type = 'C';
  int length = 0;  // 0 while it cannot be told
  int decimals = 0;
  size_t at = 0;  // offset of its 32 bytes in the header
};

// A descriptor as the engine would read it, or nothing when its bytes are
// no field descriptor at all (no name, control characters, no type letter).
// Its length is left to the caller to judge.
std::optional<Descriptor> ReadDescriptor(const uint8_t* d, size_t at) {
  size_t nlen = 0;
  while (nlen < 11 && d[nlen] != 0) ++nlen;
  std::string name(reinterpret_cast<const char*>(d), nlen);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return std::nullopt;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return std::nullopt;
  }
  char type = static_cast<char>(d[11]);
  if (!((type >= 'A' && type <= 'Z') || type == '@' || type == '+' || type == '0'))
    return std::nullopt;
  Descriptor f;
  f.name = Upper(name);
  f.type = type;
  f.length = d[16];
  f.decimals = d[17];
  f.at = at;
  return f;
}

bool Supported(char type) {
  return type == 'C' || type == 'N' || type == 'F' || type == 'D' || type == 'L';
}

// Whether a field of its type can have its length; N and F as the engine
// opens them.
bool PossibleLength(const Descriptor& f) {
  switch (f.type) {
    case 'C':
      return f.length > 0;
    case 'N':
    case 'F':
      return f.length > 0 && f.length <= 32 && (f.decimals == 0 || f.decimals < f.length);
    case 'D':
      return f.length == 8;
    case 'L':
      return f.length == 1;
    default:
      return f.length > 0;
  }
}

// How the rows of a damaged file lie, as far as it can be told.
struct Layout {
  std::vector<Descriptor> fields;
  uint32_t header_len = 0;  // where the rows start in the original
  uint32_t record_len = 0;
  std::vector<uint8_t> header;  // the new file's header, its counts still to fill in
};

class Salvager {
 public:
  Salvager(Env& env, std::string path) : env_(env), path_(std::move(path)) {}
  SalvageResult Run();

 private:
  void OpenAlone();
  Layout ReadLayout();
  std::vector<Descriptor> ReadDescriptors(size_t* terminator);
  // Valid deletion flags among the first `rows` row positions.
  uint64_t Score(uint64_t header_len, uint64_t record_len, uint64_t rows);
  uint64_t ProbeRows(uint64_t header_len, uint64_t record_len) const;
  std::vector<TagDef> ReadTags();
  void WriteTable(const Layout& layout, const std::string& tmp);
  void PutAside(const std::string& tmp);
  void RebuildIndex(const std::vector<TagDef>& tags);
  void DropIndex();
  void Note(std::string text) { result_.notes.push_back(std::move(text)); }

  Env& env_;
  std::string path_, mdx_;
  std::unique_ptr<File> in_;
  uint64_t size_ = 0;
  std::vector<uint8_t> head_;  // the original's first bytes, up to the largest header
  SalvageResult result_;
};

void Salvager::OpenAlone() {
  bool writable = true;
  try {
    in_ = env_.Open(path_, OpenMode::kReadWrite);
  } catch (const DbfError& e) {
    if (e.code() == ErrorCode::kNotFound) throw;
    // A file we may not write can still be read and replaced: the
    // directory decides. Only a shared lock can be had then.
    in_ = env_.Open(path_, OpenMode::kReadOnly);
    writable = false;
  }
  // Holding the open lock exclusively proves that no copy of the program
  // has the table open.
  if (!tbl::SharedTableProtocol::TryOpenLock(*in_, writable)) {
    Fail(ErrorCode::kInUse, "The table \"" + path_ +
                                "\" is in use by another user or program; repairing it needs "
                                "it alone");
  }
  size_ = in_->Size();
  head_.resize(static_cast<size_t>(std::min<uint64_t>(size_, kMaxHeader)));
  head_.resize(in_->ReadAt(0, head_.data(), head_.size()));
  size_ = std::max<uint64_t>(size_, head_.size());
}

std::vector<Descriptor> Salvager::ReadDescriptors(size_t* terminator) {
  std::vector<Descriptor> out;
  *terminator = 0;
  for (size_t pos = kHeaderSize; out.size() < kMaxFields; pos += kDescriptorSize) {
    if (pos >= head_.size()) break;
    if (head_[pos] == 0x0D) {
      *terminator = pos;
      break;
    }
    if (pos + kDescriptorSize > head_.size()) break;
    auto f = ReadDescriptor(&head_[pos], pos);
    if (!f) break;
    out.push_back(std::move(*f));
  }
  if (*terminator == 0) {
    size_t pos = kHeaderSize + kDescriptorSize * out.size();
    if (pos < head_.size() && head_[pos] == 0x0D) *terminator = pos;
  }
  return out;
}

uint64_t Salvager::ProbeRows(uint64_t header_len, uint64_t record_len) const {
  if (header_len >= size_ || record_len == 0) return 0;
  return std::min(kProbeRows, (size_ - header_len) / record_len);
}

uint64_t Salvager::Score(uint64_t header_len, uint64_t record_len, uint64_t rows) {
  uint64_t good = 0;
  for (uint64_t r = 0; r < rows; ++r) {
    uint8_t flag = 0;
    if (in_->ReadAt(header_len + r * record_len, &flag, 1) == 1 && GoodFlag(flag)) ++good;
  }
  return good;
}

Layout Salvager::ReadLayout() {
  if (head_.size() < kHeaderSize) {
    Refuse(path_,
           "it holds " + std::to_string(head_.size()) + " bytes, too few for a dBase header");
  }
  if (!KnownVersion(head_[0])) {
    Fail(ErrorCode::kCorruptTable,
         "\"" + path_ + "\" is not a dBase table (version byte " + std::to_string(head_[0]) + ")");
  }
  const uint32_t stored_hl = U16(&head_[8]);
  const uint32_t stored_rl = U16(&head_[10]);

  size_t terminator = 0;
  std::vector<Descriptor> read = ReadDescriptors(&terminator);
  size_t n = 0;
  if (terminator != 0) {
    n = (terminator - kHeaderSize) / kDescriptorSize;
  } else {
    // Without its end mark the list ends where the header length says, or
    // else where the fields fill the record length.
    if (stored_hl > kHeaderSize && (stored_hl - kHeaderSize - 1) % kDescriptorSize == 0 &&
        (stored_hl - kHeaderSize - 1) / kDescriptorSize <= read.size()) {
      n = (stored_hl - kHeaderSize - 1) / kDescriptorSize;
    } else {
      uint32_t sum = 1;
      for (size_t k = 0; k < read.size() && n == 0; ++k) {
        const Descriptor& f = read[k];
        sum += f.type == 'D' ? 8 : f.type == 'L' ? 1 : static_cast<uint32_t>(f.length);
        if (sum == stored_rl) n = k + 1;
      }
    }
    if (n == 0) {
      size_t at = kHeaderSize + kDescriptorSize * read.size();
      if (at + kDescriptorSize > head_.size()) Refuse(path_, "its field descriptors are cut short");
      Refuse(path_, "field descriptor " + std::to_string(read.size() + 1) +
                        " cannot be read and nothing tells where the field list ends");
    }
    Note("its field list had no end mark; it was taken to hold " + std::to_string(n) + " fields");
  }
  if (n == 0) Refuse(path_, "it has no fields");

  Layout lay;
  lay.fields.assign(read.begin(), read.begin() + static_cast<std::ptrdiff_t>(n));
  std::set<std::string> names;
  for (const Descriptor& f : lay.fields) {
    if (!names.insert(f.name).second) Refuse(path_, "the field name " + f.name + " appears twice");
    if (!Supported(f.type)) {
      Fail(ErrorCode::kUnsupported, "The table \"" + path_ +
                                        "\" holds field types (such as memo fields) that this "
                                        "program does not write; it cannot be repaired here");
    }
  }

  // Field lengths: fixed by the type, or left over from the record length
  // for one field alone.
  Descriptor* unknown = nullptr;
  uint32_t known_sum = 1;
  for (Descriptor& f : lay.fields) {
    if (PossibleLength(f)) {
      known_sum += static_cast<uint32_t>(f.length);
      continue;
    }
    int fixed = f.type == 'D' ? 8 : f.type == 'L' ? 1 : 0;
    if (fixed != 0) {
      Note("field " + f.name + " had length " + std::to_string(f.length) + "; its type gives " +
           std::to_string(fixed));
      f.length = fixed;
      known_sum += static_cast<uint32_t>(fixed);
      continue;
    }
    if (unknown != nullptr) {
      Refuse(path_, "fields " + unknown->name + " and " + f.name + " both have impossible lengths");
    }
    unknown = &f;
  }
  if (unknown != nullptr) {
    int was = unknown->length;
    unknown->length = stored_rl > known_sum ? static_cast<int>(stored_rl - known_sum) : 0;
    if (unknown->length > 255 || !PossibleLength(*unknown)) {
      Refuse(path_, "field " + unknown->name + " has an impossible size (length " +
                        std::to_string(was) + ", " + std::to_string(unknown->decimals) +
                        " decimals)");
    }
    Note("field " + unknown->name + " had length " + std::to_string(was) +
         "; the record length gives " + std::to_string(unknown->length));
    known_sum = stored_rl;
  }
  if (known_sum > 65535) Refuse(path_, "its fields add up to more than 65535 bytes");

  const uint32_t derived_hl = static_cast<uint32_t>(kHeaderSize + kDescriptorSize * n + 1);
  const uint32_t derived_rl = known_sum;

  // The header length may rightly exceed the descriptors (some writers keep
  // more there); it is kept when rows start there more plainly than right
  // after the descriptors.
  lay.header_len = derived_hl;
  if (stored_hl > derived_hl && stored_hl <= size_) {
    uint64_t rows = ProbeRows(stored_hl, derived_rl);
    if (Score(stored_hl, derived_rl, rows) > Score(derived_hl, derived_rl, rows))
      lay.header_len = stored_hl;
  }
  if (lay.header_len != stored_hl) {
    Note("its header length (" + std::to_string(stored_hl) + ") was mended to " +
         std::to_string(lay.header_len));
  }
  lay.record_len = derived_rl;
  if (stored_rl != derived_rl) {
    uint64_t rows = ProbeRows(lay.header_len, std::max(stored_rl, derived_rl));
    if (stored_rl > 1 &&
        Score(lay.header_len, stored_rl, rows) > Score(lay.header_len, derived_rl, rows)) {
      Refuse(path_, "its rows are " + std::to_string(stored_rl) +
                        " bytes long but its fields add up to " + std::to_string(derived_rl) +
                        ": a field's length is damaged");
    }
    Note("its record length (" + std::to_string(stored_rl) + ") was mended to " +
         std::to_string(derived_rl));
  }

  lay.header.assign(head_.begin(), head_.begin() + std::min<size_t>(head_.size(), lay.header_len));
  lay.header.resize(lay.header_len, 0);
  for (const Descriptor& f : lay.fields) lay.header[f.at + 16] = static_cast<uint8_t>(f.length);
  lay.header[derived_hl - 1] = 0x0D;
  PutU16(&lay.header[8], static_cast<uint16_t>(lay.header_len));
  PutU16(&lay.header[10], static_cast<uint16_t>(lay.record_len));
  // The new table has no index until one is built for it.
  lay.header[28] = 0;
  return lay;
}

std::vector<TagDef> Salvager::ReadTags() {
  std::string base = BaseOf(path_);
  base = base.substr(0, base.find('.'));
  mdx_ = FindFileNoCase(DirOf(path_), base + ".MDX");
  std::vector<TagDef> tags;
  if (mdx_.empty()) {
    if (head_[28] != 0) {
      result_.index_complete = false;
      Note("its production index was missing: no index tags were rebuilt");
    }
    return tags;
  }
  try {
    auto mdx = MdxFile::Open(env_, mdx_, false);
    for (int i = 0; i < mdx->TagCount(); ++i) {
      const TagDef& def = mdx->Tag(i);
      if (def.key_length == 0 || def.expression.empty()) {
        result_.index_complete = false;
        Note("the definition of index tag " + def.name + " was lost: it was not rebuilt");
        continue;
      }
      tags.push_back(def);
    }
  } catch (const DbfError& e) {
    result_.index_complete = false;
    Note("its index could not be read (" + std::string(e.what()) + "): no index tags were rebuilt");
    tags.clear();
  }
  return tags;
}

void Salvager::WriteTable(const Layout& lay, const std::string& tmp) {
  const uint64_t hl = lay.header_len, rl = lay.record_len;
  const uint32_t count = U32(&head_[4]);
  const uint64_t whole = size_ > hl ? (size_ - hl) / rl : 0;
  const uint64_t rows = std::min<uint64_t>(count, whole);
  uint64_t damaged = 0;

  auto out = env_.Open(tmp, OpenMode::kCreateTruncate);
  uint64_t pos = hl;
  std::vector<uint8_t> chunk, kept;
  const uint64_t per = std::max<uint64_t>(1, kChunk / rl);
  for (uint64_t r = 0; r < rows;) {
    uint64_t n = std::min(per, rows - r);
    chunk.resize(static_cast<size_t>(n * rl));
    if (in_->ReadAt(hl + r * rl, chunk.data(), chunk.size()) != chunk.size())
      Fail(ErrorCode::kIo, "The table \"" + path_ + "\" changed while it was being repaired");
    kept.clear();
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t* rec = chunk.data() + i * rl;
      if (!GoodFlag(rec[0])) {
        ++damaged;
        continue;
      }
      if (rec[0] == '*') ++result_.deleted_kept;
      kept.insert(kept.end(), rec, rec + rl);
    }
    out->WriteAt(pos, kept.data(), kept.size());
    pos += kept.size();
    r += n;
  }
  result_.rows_kept = static_cast<uint32_t>(rows - damaged);
  const uint8_t eof = 0x1A;
  out->WriteAt(pos, &eof, 1);
  std::vector<uint8_t> header = lay.header;
  TodayHeaderDate(&header[1]);
  PutU32(&header[4], result_.rows_kept);
  out->WriteAt(0, header.data(), header.size());
  out->Sync();

  // What the original holds past the rows looked at: the end mark, a part
  // row, an append that never finished, or anything else.
  const uint64_t rows_end = hl + rows * rl;
  const uint64_t tail = size_ > rows_end ? size_ - rows_end : 0;
  uint8_t first = 0;
  if (tail > 0) in_->ReadAt(rows_end, &first, 1);
  const bool end_mark = tail > 0 && first == 0x1A && (count <= whole || tail == 1);
  result_.rows_lost = damaged + (count > whole ? count - whole : 0);
  result_.bytes_dropped = damaged * rl + tail - (end_mark ? 1 : 0);

  if (count > whole) {
    Note("its header counts " + std::to_string(count) + " rows; the file holds " +
         std::to_string(whole) + " whole rows");
  }
  if (damaged > 0) {
    Note(std::to_string(damaged) + (damaged == 1 ? " row had" : " rows had") +
         " a damaged deletion flag and " + (damaged == 1 ? "was" : "were") + " not kept");
  }
  uint64_t after = tail - (end_mark ? 1 : 0);
  if (after > 0 && count <= whole) {
    if (!end_mark && tail >= rl) {
      Note(std::to_string(after) +
           " bytes after the counted rows, an append that never finished, were not kept");
    } else {
      Note(std::to_string(after) + " bytes after the end of the rows were not kept");
    }
  } else if (after > 0) {
    Note("the " + std::to_string(after) + " bytes of a row cut short were not kept");
  }
}

// Moves the originals aside and the new table into place; on failure puts
// everything back as it was before throwing.
void Salvager::PutAside(const std::string& tmp) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  for (int k = 1;; ++k) {
    std::string suffix = std::string(".damaged-") + stamp + (k > 1 ? "-" + std::to_string(k) : "");
    result_.kept_dbf = path_ + suffix;
    result_.kept_mdx = mdx_.empty() ? "" : mdx_ + suffix;
    if (!env_.Exists(result_.kept_dbf) && (mdx_.empty() || !env_.Exists(result_.kept_mdx))) break;
  }
  int moved = 0;
  try {
    env_.Rename(path_, result_.kept_dbf);
    ++moved;
    if (!mdx_.empty()) {
      env_.Rename(mdx_, result_.kept_mdx);
      ++moved;
    }
    env_.Rename(tmp, path_);
  } catch (const DbfError& e) {
    std::string where;
    try {
      if (moved == 2) env_.Rename(result_.kept_mdx, mdx_);
    } catch (const DbfError&) {
      where += "; its index is now \"" + result_.kept_mdx + "\"";
    }
    try {
      if (moved >= 1) env_.Rename(result_.kept_dbf, path_);
    } catch (const DbfError&) {
      where = "; the original table is now \"" + result_.kept_dbf + "\"" + where;
    }
    try {
      env_.Remove(tmp);
    } catch (const DbfError&) {
    }
    if (where.empty()) throw;
    Fail(e.code(), e.what() + where);
  }
  try {
    env_.SyncDir(path_);
  } catch (const DbfError& e) {
    Note("the new table is in place, but its directory could not be flushed to the disk (" +
         std::string(e.what()) + ")");
  }
}

void Salvager::RebuildIndex(const std::vector<TagDef>& tags) {
  try {
    Table t(env_);
    t.SetDirectory(DirOf(path_));
    t.SetTableName(BaseOf(path_));
    t.SetExclusive(true);
    t.Open();
    for (const TagDef& def : tags) {
      try {
        t.AddIndex(def.name, def.expression, IndexOptions{def.descending, def.unique});
        result_.tags_rebuilt.push_back(def.name);
      } catch (const DbfError& e) {
        // A definition the fields no longer fit changes nothing; any other
        // failure may have left the index half built.
        if (e.code() != ErrorCode::kBadExpression && e.code() != ErrorCode::kBadDefinition &&
            e.code() != ErrorCode::kNoSuchField) {
          throw;
        }
        result_.index_complete = false;
        Note("index tag " + def.name + " could not be rebuilt: " + e.what());
      }
    }
    t.Close();
  } catch (const DbfError& e) {
    result_.index_complete = false;
    result_.tags_rebuilt.clear();
    Note("building the index failed (" + std::string(e.what()) +
         "); the table was left without an index");
    DropIndex();
  }
}

// Leaves the new table without an index after a failed build, so that it
// opens without one instead of with one that does not match.
void Salvager::DropIndex() {
  try {
    auto f = env_.Open(path_, OpenMode::kReadWrite);
    const uint8_t none = 0;
    f->WriteAt(28, &none, 1);
    f->Sync();
    f.reset();
    std::string base = BaseOf(path_);
    base = base.substr(0, base.find('.'));
    std::string mdx = FindFileNoCase(DirOf(path_), base + ".MDX");
    if (!mdx.empty()) env_.Remove(mdx);
  } catch (const DbfError& e) {
    Note("removing the unfinished index failed too (" + std::string(e.what()) +
         "); the table rebuilds it when next opened with index repair");
  }
}

SalvageResult Salvager::Run() {
  OpenAlone();
  Layout lay = ReadLayout();
  std::vector<TagDef> tags = ReadTags();
  std::string tmp = DirOf(path_) + "." + BaseOf(path_) + ".tmp" + std::to_string(::getpid());
  try {
    WriteTable(lay, tmp);
  } catch (...) {
    try {
      env_.Remove(tmp);
    } catch (const DbfError&) {
    }
    throw;
  }
  PutAside(tmp);
  // The original keeps its lock until the new table has its name.
  in_.reset();
  if (!tags.empty()) RebuildIndex(tags);
  return result_;
}

}  // namespace

SalvageResult Salvage(Env& env, const std::string& dbf_path) {
  return Salvager(env, dbf_path).Run();
}

}  // namespace klv::dbf
