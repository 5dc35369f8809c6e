// Whole-table operations: rebuilding the index, pack, check, refresh,
// clearing the index flag of a table whose index is gone, and creating a
// table.
#include "db/dbf/TableImpl.h"

#include <exception>
#include <optional>
#include <set>

#include "db/dbf/FieldText.h"

namespace klv::dbf {

// ---------------------------------------------------------------------------
// Whole-table operations

void Table::Impl::RebuildIndexFile(const std::vector<TagDef>& defs,
                                   const std::function<void(double)>& progress, bool repair_rows) {
  // Nobody else may hold the old index open while it is replaced.
  if (!table.exclusive_ && !SharedTableProtocol::TryOpenLock(*dbf, true)) {
    Fail(ErrorCode::kInUse, "The table \"" + dbf_path +
                                "\" is in use by another user or program; rebuilding its "
                                "indexes needs it alone");
  }
  struct Downgrade {
    Impl& im;
    ~Downgrade() {
      try {
        if (!im.table.exclusive_ && im.dbf) SharedTableProtocol::ShareOpenLock(*im.dbf);
      } catch (...) {
      }
    }
  } downgrade{*this};
  // A rebuild follows a change that did not finish: the rows it left
  // unfinished are mended first, so that the keys are built over them.
  if (repair_rows && !table.read_only_) RepairRows();

  if (mdx_path.empty()) mdx_path = table.MdxPath();
  RemoveLeftoverTemps(env, mdx_path);
  std::string tmp = TempPathFor(mdx_path);
  std::string base = BaseOf(dbf_path);
  base = base.substr(0, base.find('.'));
  try {
    auto fresh = MdxFile::Create(env, tmp, UpperAscii(base));
    fresh->BeginChange();
    for (size_t i = 0; i < defs.size(); ++i) {
      int tag = fresh->AddTag(defs[i]);
      Expression expr = Expression::Parse(defs[i].expression, expr_fields, *table.cp_);
      double span = 1.0 / static_cast<double>(defs.size());
      BuildTag(*dbf, header_len, record_len, table.count_, *fresh, tag, expr, progress,
               span * static_cast<double>(i), span);
    }
    fresh->EndChange(table.count_);
    fresh.reset();
    mdx.reset();
    env.Rename(tmp, mdx_path);
    env.SyncDir(mdx_path);
  } catch (...) {
    try {
      env.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  mdx = MdxFile::Open(env, mdx_path, true);
  mdx->Sync();
  index_broken = false;
  if (header[kIndexFlag] != 1) {
    header[kIndexFlag] = 1;
    dbf->WriteAt(kIndexFlag, &header[kIndexFlag], 1);
  }
  LoadTags();
  share.NoteOwnWrite();
}

void Table::RegenerateIndexes(const std::function<void(double)>& progress) {
  impl_->RequireWritable();
  if (state_ != State::kBrowse) Cancel();
  Impl& im = *impl_;
  im.EndRun();
  if (!im.mdx) {
    // No index to rebuild; the rows are mended all the same.
    LockGuard write_lock(*im.dbf, true);
    im.RepairRows();
    return;
  }
  std::vector<TagDef> defs = TagDefsOf(*im.mdx);
  std::string active_name = index_name_;
  {
    LockGuard write_lock(*im.dbf, true);
    im.share.ReloadHeader();
    im.RebuildIndexFile(defs, progress, true);
  }
  if (!active_name.empty() && im.mdx->FindTag(active_name) >= 0) SetIndexName(active_name);
  Refresh();
}

void Table::Pack(const std::function<void(double)>& progress) {
  impl_->RequireWritable();
  if (!exclusive_) {
    Fail(ErrorCode::kInUse,
         "Packing the table \"" + impl_->dbf_path + "\" needs it opened for exclusive use");
  }
  if (state_ != State::kBrowse) Cancel();
  Impl& im = *impl_;
  im.EndRun();
  // The old descriptor goes away once the packed file replaces it, so its
  // write lock is held by a guard that ends first.
  std::optional<LockGuard> write_lock;
  write_lock.emplace(*im.dbf, true);
  im.share.ReloadHeader();
  std::vector<uint8_t> head(im.header_len);
  if (im.dbf->ReadAt(0, head.data(), head.size()) != head.size())
    Fail(ErrorCode::kCorruptTable, "The table \"" + im.dbf_path + "\" is truncated in its header");

  RemoveLeftoverTemps(im.env, im.dbf_path);
  std::string tmp = TempPathFor(im.dbf_path);
  std::unique_ptr<File> out;
  uint32_t kept = 0;
  try {
    out = im.env.Open(tmp, OpenMode::kCreateTruncate);
    // The new file carries our exclusive lock before it takes the table's name.
    if (!SharedTableProtocol::TryOpenLock(*out, true))
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
    im.env.Rename(tmp, im.dbf_path);
    im.env.SyncDir(im.dbf_path);
  } catch (...) {
    out.reset();
    try {
      im.env.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  // From here the packed file is the table; our locks live on its descriptor.
  write_lock.reset();
  SharedTableProtocol::LockTable(*out, true);
  std::memcpy(im.header, head.data(), kHeaderSize);
  im.dbf = std::move(out);
  count_ = kept;
  im.deleted = 0;
  im.scanned = kept;
  im.DropBatch();
  im.share.NoteOwnWrite();
  std::string active_name = index_name_;
  bool had_index = im.mdx != nullptr;
  if (had_index) {
    std::vector<TagDef> defs = TagDefsOf(*im.mdx);
    im.RebuildIndexFile(defs, [&](double f) {
      if (progress) progress(0.5 + 0.5 * f);
    });
  }
  SharedTableProtocol::UnlockTable(*im.dbf);
  if (had_index && !active_name.empty() && im.mdx->FindTag(active_name) >= 0)
    SetIndexName(active_name);
  if (progress) progress(1.0);
  First();
}

std::vector<std::string> Table::Check() {
  impl_->RequireOpen();
  Impl& im = *impl_;
  std::vector<std::string> problems;
  im.EndRun();
  LockGuard lock(*im.dbf, false);
  im.share.ReloadHeader();
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
  if (st.present && st.dirty && !im.share.DirtyMarkIsLive())
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
      if (t >= static_cast<int>(im.tags.size())) im.LoadTags();
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
        im.ReadFromDisk(e.recno, rec.data());
        if (im.KeyOf(t, rec.data()) != e.key && wrong++ < 5) {
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
  impl_->RequireOpen();
  if (state_ != State::kBrowse) return;
  Impl& im = *impl_;
  im.EndRun();
  im.DropBatch();
  {
    LockGuard lock(*im.dbf, false);
    im.share.ReloadHeader();
    File::Status st = im.dbf->Stat();
    im.share.Refreshed(st);
    im.DropBatch();
    // Another copy may have created the production index since we opened.
    if (!im.mdx && im.header[kIndexFlag] != 0) im.share.OpenIndexCreatedElsewhere();
    if (im.mdx) {
      im.share.SyncIndex();
      im.share.AdoptDeletedCount(st);
    }
  }
  if (recno_ == 0) return First();
  uint32_t r = recno_;
  std::string key = im.key;
  std::vector<uint8_t> rec(im.record_len);
  im.ReadFromDisk(r, rec.data());
  std::vector<uint8_t> keep = buf_;
  if (im.Accept(rec.data())) {
    im.Land(r, rec.data());
  } else {
    buf_ = std::move(keep);
    bool found =
        im.active >= 0 ? im.SeekIndexed(Impl::Seek::kGT, key, r) : im.SeekNatural(r + 1, +1);
    if (!found)
      found = im.active >= 0 ? im.SeekIndexed(Impl::Seek::kLT, key, r) : im.SeekNatural(r - 1, -1);
    if (!found) im.ClearPosition();
  }
  im.Notify();
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
  if (!SharedTableProtocol::TryOpenLock(*file, false)) return false;
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
