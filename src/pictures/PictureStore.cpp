#include "pictures/PictureStore.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include <sys/stat.h>

#include "base/Ascii.h"
#include "db/dbf/Table.h"
#include "pictures/PicturesTexts.h"

namespace klv::pictures {

using base::Env;
using base::ErrorCode;
using base::File;
using base::OpenMode;
namespace fs = std::filesystem;

namespace {

constexpr char kIndexName[] = "PICTURES.DBF";
constexpr char kNewIndexName[] = "PICTNEW.DBF";
constexpr char kLockName[] = "PICTURES.LCK";
constexpr char kTempSuffix[] = ".tmp";
constexpr char kThumbsFolder[] = "thumbs/";

// The fields that name a coin, as the coin table calls them.
constexpr std::string_view kIdentityFields[] = {"Country",  "FaceValue",  "Year",
                                                "MintMark", "Descriptio", "PurchDate"};

std::string Arg(std::string_view text, const std::string& value) {
  std::string out(text);
  auto at = out.find("%1");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

[[noreturn]] void Refuse(std::string_view text, const std::string& value) {
  base::Fail(ErrorCode::kBadValue, Arg(text, value));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IsPictureName(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = Lower(name.substr(dot + 1));
  return ext == "jpg" || ext == "jpeg" || ext == "png" || ext == "webp";
}

std::string ReadAll(Env& env, const std::string& path) {
  auto f = env.Open(path, OpenMode::kReadOnly);
  std::string bytes(f->Size(), '\0');
  if (f->ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
    base::Fail(ErrorCode::kIo, "Cannot read \"" + path + "\"");
  return bytes;
}

// Writes bytes to path through a synced temporary file renamed into place.
void WriteWhole(Env& env, const std::string& path, std::string_view bytes) {
  std::string tmp = path + kTempSuffix;
  try {
    auto f = env.Open(tmp, OpenMode::kCreateTruncate);
    f->WriteAt(0, bytes.data(), bytes.size());
    f->Sync();
    f.reset();
    env.Rename(tmp, path);
  } catch (...) {
    try {
      if (env.Exists(tmp)) env.Remove(tmp);
    } catch (...) {
    }
    throw;
  }
  env.SyncDir(path);
}

uint32_t Be32(std::string_view b, size_t at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
         (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}
uint32_t Le32(std::string_view b, size_t at) {
  return uint32_t(uint8_t(b[at])) | (uint32_t(uint8_t(b[at + 1])) << 8) |
         (uint32_t(uint8_t(b[at + 2])) << 16) | (uint32_t(uint8_t(b[at + 3])) << 24);
}

// Whether a JPEG runs from its start marker through a scan to its end marker.
bool WholeJpeg(std::string_view b) {
  size_t pos = 2;
  bool scanned = false;
  while (pos + 1 < b.size()) {
    if (uint8_t(b[pos]) != 0xFF) return false;
    uint8_t marker = uint8_t(b[pos + 1]);
    pos += 2;
    if (marker == 0xFF) {
      --pos;  // fill byte
      continue;
    }
    if (marker == 0xD9) return scanned;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (pos + 2 > b.size()) return false;
    size_t len = (size_t(uint8_t(b[pos])) << 8) | uint8_t(b[pos + 1]);
    if (len < 2 || pos + len > b.size()) return false;
    pos += len;
    if (marker != 0xDA) continue;
    // Entropy-coded data: up to the next marker that is not a stuffed byte
    // or a restart.
    scanned = true;
    while (pos + 1 < b.size()) {
      if (uint8_t(b[pos]) == 0xFF) {
        uint8_t next = uint8_t(b[pos + 1]);
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7) && next != 0xFF) break;
      }
      ++pos;
    }
  }
  return false;
}

// Whether a PNG's chunks run whole from its header to its end chunk.
bool WholePng(std::string_view b) {
  size_t pos = 8;
  bool first = true;
  while (pos + 12 <= b.size()) {
    uint32_t len = Be32(b, pos);
    std::string_view type = b.substr(pos + 4, 4);
    if (first && type != "IHDR") return false;
    first = false;
    if (len > b.size() - pos - 12) return false;
    if (type == "IEND") return true;
    pos += 12 + size_t(len);
  }
  return false;
}

// Whether a WebP's RIFF container is whole and holds an image chunk.
bool WholeWebp(std::string_view b) {
  uint64_t riff = uint64_t(Le32(b, 4)) + 8;
  if (riff > b.size() || riff < 20) return false;
  size_t pos = 12;
  bool image = false;
  while (pos + 8 <= riff) {
    std::string_view type = b.substr(pos, 4);
    uint64_t len = Le32(b, pos + 4);
    if (pos + 8 + len > riff) return false;
    if (type == "VP8 " || type == "VP8L" || type == "VP8X") image = true;
    pos += 8 + size_t(len) + (len & 1);
  }
  return image;
}

}  // namespace

std::string_view SideName(Side side) {
  return side == Side::kObverse ? texts::kObverse : texts::kReverse;
}

std::optional<Side> ParseSide(std::string_view name) {
  if (base::EqualNoCaseAscii(Trim(name), texts::kObverse)) return Side::kObverse;
  if (base::EqualNoCaseAscii(Trim(name), texts::kReverse)) return Side::kReverse;
  return std::nullopt;
}

std::string FolderOf(const std::string& dbf_path) {
  std::string dir = base::DirOf(dbf_path), name = base::BaseOf(dbf_path);
  auto dot = name.find('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  std::string stem = name.substr(0, dot);
  bool lower = !ext.empty() && Lower(ext) == ext;
  std::string folder = stem + (lower ? ".pic" : ".PIC");
  // An existing folder of the name in another letter case is the table's.
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir.empty() ? "." : dir, ec)) {
    std::string candidate = e.path().filename().string();
    if (base::EqualNoCaseAscii(candidate, folder) && e.is_directory(ec)) {
      folder = candidate;
      break;
    }
  }
  return dir + folder + "/";
}

std::string Fingerprint(dbf::Table& table) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](std::string_view s) {
    for (char c : s) {
      h ^= uint8_t(c);
      h *= 1099511628211ull;
    }
    h ^= 0x1F;
    h *= 1099511628211ull;
  };
  for (std::string_view name : kIdentityFields) {
    dbf::Field* f = table.FindField(name);
    if (!f || f->IsNull()) {
      mix("");
      continue;
    }
    char type = f->def().type;
    if (type == 'N' || type == 'F') {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, f->AsFloat());
      mix(std::string_view(buf, size_t(r.ptr - buf)));
    } else {
      mix(Trim(f->Raw()));
    }
  }
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return out;
}

std::string_view ExtensionOf(PictureKind kind) {
  switch (kind) {
    case PictureKind::kJpeg:
      return "jpg";
    case PictureKind::kPng:
      return "png";
    case PictureKind::kWebp:
      return "webp";
  }
  return "";
}

PictureKind CheckPicture(std::string_view b, const std::string& name) {
  if (b.size() >= 3 && uint8_t(b[0]) == 0xFF && uint8_t(b[1]) == 0xD8 && uint8_t(b[2]) == 0xFF) {
    if (!WholeJpeg(b)) Refuse(texts::kIncomplete, name);
    return PictureKind::kJpeg;
  }
  if (b.size() >= 8 && b.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8)) {
    if (!WholePng(b)) Refuse(texts::kIncomplete, name);
    return PictureKind::kPng;
  }
  if (b.size() >= 12 && b.substr(0, 4) == "RIFF" && b.substr(8, 4) == "WEBP") {
    if (!WholeWebp(b)) Refuse(texts::kIncomplete, name);
    return PictureKind::kWebp;
  }
  Refuse(texts::kNotAPicture, name);
}

// One row of the index as read or about to be written.
struct PictureStore::Entry {
  Picture picture;
  uint32_t stored_recno = 0;  // as the index has it, also while unattached
  // While a pack runs: the row's number after it, and the table's row
  // counts before and after.
  uint32_t pack_recno = 0, pack_from = 0, pack_to = 0;
};

// The folder's write lock, held while the index is read, changed and
// written.
class PictureStore::FolderLock {
 public:
  FolderLock(Env& env, const std::string& folder) {
    file_ =
        env.Open(folder + kLockName,
                 env.Exists(folder + kLockName) ? OpenMode::kReadWrite : OpenMode::kCreateTruncate);
    for (int i = 0; !file_->TryLock(0, 1, true); ++i) {
      if (i == 200) base::Fail(ErrorCode::kInUse, texts::kBusy);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  }
  ~FolderLock() {
    if (file_) file_->Unlock(0, 1);
  }

 private:
  std::unique_ptr<File> file_;
};

PictureStore::PictureStore(std::string dbf_path, Env& env)
    : env_(env), dbf_path_(std::move(dbf_path)), folder_(FolderOf(dbf_path_)) {}

namespace {

std::vector<dbf::FieldDef> IndexFields() {
  return {{"RECNO", 'N', 10, 0},    {"SIDE", 'C', 7, 0},       {"PICTURE", 'C', 40, 0},
          {"FINGERPR", 'C', 16, 0}, {"PACKRECNO", 'N', 10, 0}, {"PACKFROM", 'N', 10, 0},
          {"PACKTO", 'N', 10, 0}};
}

uint32_t Whole(dbf::Table& t, std::string_view field) {
  int64_t v = t.FieldByName(field).AsInteger();
  return v < 0 || v > int64_t(UINT32_MAX) ? 0 : uint32_t(v);
}

bool FolderExists(const std::string& folder) {
  std::error_code ec;
  return fs::is_directory(folder, ec);
}

// The names of the files in folder (not its subfolders).
std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.is_regular_file(ec)) names.push_back(e.path().filename().string());
  return names;
}

void OpenTableOf(dbf::Table& t, const std::string& path) {
  t.SetDirectory(base::DirOf(path));
  t.SetTableName(base::BaseOf(path));
}

// Opens a table for reading its rows, shared and read-only. Its production
// index is not needed for that, so a copy of only the .DBF (its .MDX left
// behind) opens too, and is left as it is.
void OpenRowsOf(dbf::Table& t, const std::string& path) {
  OpenTableOf(t, path);
  t.SetReadOnly(true);
  t.SetIndexOptional(true);
  t.Open();
}

}  // namespace

std::vector<PictureStore::Entry> PictureStore::ReadIndex() {
  std::vector<Entry> entries;
  if (!FolderExists(folder_)) return entries;
  std::set<std::string> named;
  std::string index = base::FindFileNoCase(folder_, kIndexName);
  if (!index.empty()) {
    dbf::Table t(env_);
    OpenRowsOf(t, index);
    for (t.First(); !t.Eof(); t.Next()) {
      Entry e;
      e.stored_recno = Whole(t, "RECNO");
      e.picture.recno = e.stored_recno;
      e.picture.side = ParseSide(t.FieldByName("SIDE").AsString()).value_or(Side::kObverse);
      e.picture.file = t.FieldByName("PICTURE").AsString();
      e.picture.fingerprint = t.FieldByName("FINGERPR").AsString();
      e.pack_recno = Whole(t, "PACKRECNO");
      e.pack_from = Whole(t, "PACKFROM");
      e.pack_to = Whole(t, "PACKTO");
      // A picture whose file has gone (taken away by hand) is not listed.
      if (e.picture.file.empty() || !env_.Exists(folder_ + e.picture.file)) continue;
      if (!named.insert(e.picture.file).second) continue;
      entries.push_back(std::move(e));
    }
  }
  // Pictures that the index does not name: copied in by an attach killed
  // before its index was written, or put there by hand.
  std::vector<std::string> strays;
  for (const std::string& name : FilesIn(folder_))
    if (IsPictureName(name) && !named.count(name)) strays.push_back(name);
  std::sort(strays.begin(), strays.end());
  for (const std::string& name : strays) {
    Entry e;
    e.picture.file = name;
    entries.push_back(std::move(e));
  }
  return entries;
}

void PictureStore::WriteIndex(const std::vector<Entry>& entries) {
  std::string tmp = folder_ + kNewIndexName;
  if (env_.Exists(tmp)) env_.Remove(tmp);
  dbf::Table::CreateTable(env_, tmp, IndexFields());
  {
    dbf::Table t(env_);
    OpenTableOf(t, tmp);
    t.SetExclusive(true);
    t.Open();
    t.BeginAppendBatch();
    for (const Entry& e : entries) {
      t.Append();
      t.FieldByName("RECNO").SetAsInteger(e.picture.attached() ? e.picture.recno : e.stored_recno);
      t.FieldByName("SIDE").SetAsString(SideName(e.picture.side));
      t.FieldByName("PICTURE").SetAsString(e.picture.file);
      t.FieldByName("FINGERPR").SetAsString(e.picture.fingerprint);
      t.FieldByName("PACKRECNO").SetAsInteger(e.pack_recno);
      t.FieldByName("PACKFROM").SetAsInteger(e.pack_from);
      t.FieldByName("PACKTO").SetAsInteger(e.pack_to);
      t.Post();
    }
    t.EndAppendBatch();
    t.Close();
  }
  env_.Open(tmp, OpenMode::kReadWrite)->Sync();
  env_.Rename(tmp, folder_ + kIndexName);
  env_.SyncDir(folder_ + kIndexName);
}

void PictureStore::Match(dbf::Table& table, std::vector<Entry>& entries, bool* moved) {
  // Every row counts, whatever a search of the caller's shows: a picture
  // whose row is only hidden must not go to a twin that is shown.
  const std::string order = table.IndexName();
  const uint32_t row = table.RecNo();
  const bool filtered = table.Filtered();
  table.SetFiltered(false);
  table.SetIndexName("");
  table.SetShowDeleted(true);
  uint32_t count = table.PhysicalCount();
  std::set<std::pair<uint32_t, Side>> claimed;
  std::vector<Entry*> lost;
  for (Entry& e : entries) {
    // A pack that stopped after the table was packed but before the index
    // took the new numbers: the numbers it prepared hold.
    if (e.pack_to != 0) {
      if (count == e.pack_to && e.pack_to != e.pack_from) e.stored_recno = e.pack_recno;
      e.pack_recno = e.pack_from = e.pack_to = 0;
      *moved = true;
    }
    e.picture.recno = 0;
    if (e.stored_recno == 0 || e.picture.fingerprint.empty()) continue;
    if (!claimed.count({e.stored_recno, e.picture.side}) && table.GoTo(e.stored_recno) &&
        Fingerprint(table) == e.picture.fingerprint) {
      e.picture.recno = e.stored_recno;
      claimed.insert({e.stored_recno, e.picture.side});
    } else {
      lost.push_back(&e);
    }
  }
  if (!lost.empty()) {
    // The rows have moved (the table rewritten by other software): each
    // picture goes to the nearest row of its coin that has none of its side.
    std::map<std::string, std::vector<uint32_t>> rows;
    for (table.First(); !table.Eof(); table.Next())
      rows[Fingerprint(table)].push_back(table.RecNo());
    for (Entry* e : lost) {
      auto it = rows.find(e->picture.fingerprint);
      if (it == rows.end()) continue;
      uint32_t best = 0;
      for (uint32_t r : it->second) {
        if (claimed.count({r, e->picture.side})) continue;
        auto distance = [&](uint32_t x) {
          return x > e->stored_recno ? x - e->stored_recno : e->stored_recno - x;
        };
        if (best == 0 || distance(r) < distance(best)) best = r;
      }
      if (best == 0) continue;
      e->picture.recno = e->stored_recno = best;
      claimed.insert({best, e->picture.side});
      *moved = true;
    }
  }
  table.SetShowDeleted(false);
  table.SetIndexName(order);
  table.SetFiltered(filtered);
  if (row == 0 || !table.GoTo(row)) table.First();
}

void PictureStore::Publish(const std::vector<Entry>& entries) {
  pictures_.clear();
  for (const Entry& e : entries) pictures_.push_back(e.picture);
  std::stable_sort(pictures_.begin(), pictures_.end(), [](const Picture& a, const Picture& b) {
    if (a.attached() != b.attached()) return a.attached();
    if (a.recno != b.recno) return a.recno < b.recno;
    return a.side < b.side;
  });
}

void PictureStore::Load() {
  pictures_.clear();
  if (!FolderExists(folder_)) return;
  dbf::Table table(env_);
  OpenRowsOf(table, dbf_path_);
  Load(table);
}

void PictureStore::Load(dbf::Table& table) {
  pictures_.clear();
  if (!FolderExists(folder_)) return;
  std::vector<Entry> entries = ReadIndex();
  bool moved = false;
  Match(table, entries, &moved);
  if (moved) {
    // Kept for the next open; a folder that cannot be written matches the
    // same way then.
    try {
      FolderLock lock(env_, folder_);
      WriteIndex(entries);
    } catch (const base::Error&) {
    }
  }
  Publish(entries);
}

const Picture* PictureStore::Find(uint32_t recno, Side side) const {
  for (const Picture& p : pictures_)
    if (p.attached() && p.recno == recno && p.side == side) return &p;
  return nullptr;
}

std::vector<Picture> PictureStore::Unattached() const {
  std::vector<Picture> out;
  for (const Picture& p : pictures_)
    if (!p.attached()) out.push_back(p);
  return out;
}

std::string PictureStore::ThumbnailPathOf(const Picture& picture, int side) const {
  return folder_ + kThumbsFolder + picture.file + "." + std::to_string(side) + ".png";
}

namespace {

// The leading number of a name ("00000012.jpg": 12); 0 when there is none
// or it is beyond any number the store gives.
uint64_t SerialOf(std::string_view name) {
  uint64_t n = 0;
  auto r = std::from_chars(name.data(), name.data() + name.size(), n);
  return r.ec == std::errc() && r.ptr != name.data() && n < 100000000000ull ? n : 0;
}

// The picture a cached small picture was made of ("00000012.jpg" for
// "00000012.jpg.64.png"); "" for any other file.
std::string PictureOfThumbnail(const std::string& name) {
  constexpr std::string_view kPng = ".png";
  if (name.size() <= kPng.size() || name.compare(name.size() - kPng.size(), kPng.size(), kPng))
    return "";
  std::string rest = name.substr(0, name.size() - kPng.size());
  auto dot = rest.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == rest.size()) return "";
  for (size_t i = dot + 1; i < rest.size(); ++i)
    if (rest[i] < '0' || rest[i] > '9') return "";
  return rest.substr(0, dot);
}

}  // namespace

std::string PictureStore::NewFileName(std::string_view extension) {
  // The last number given is kept in the lock file, so that no number is
  // given twice, also once its picture and its small pictures are gone: a
  // program that still holds the old picture's small picture in memory
  // would show it for the new one. The folder's names count too, for a
  // folder written before the number was kept there.
  const std::string lock = folder_ + kLockName;
  uint64_t last = 0;
  try {
    last = SerialOf(ReadAll(env_, lock));
  } catch (const base::Error&) {
  }
  std::vector<std::string> names = FilesIn(folder_), cached = FilesIn(folder_ + kThumbsFolder);
  names.insert(names.end(), cached.begin(), cached.end());
  for (const std::string& name : names) last = std::max(last, SerialOf(name));
  char kept[32];
  std::snprintf(kept, sizeof kept, "%020llu\n", static_cast<unsigned long long>(last + 1));
  auto f = env_.Open(lock, OpenMode::kReadWrite);
  f->WriteAt(0, kept, std::strlen(kept));
  f->Sync();
  char name[32];
  std::snprintf(name, sizeof name, "%08llu.", static_cast<unsigned long long>(last + 1));
  return name + std::string(extension);
}

void PictureStore::DropStaleThumbnails() {
  const std::string thumbs = folder_ + kThumbsFolder;
  if (!FolderExists(thumbs)) return;
  const std::vector<std::string> files = FilesIn(folder_);
  const std::set<std::string> present(files.begin(), files.end());
  for (const std::string& name : FilesIn(thumbs)) {
    const std::string picture = PictureOfThumbnail(name);
    if (picture.empty() || present.count(picture)) continue;
    try {
      env_.Remove(thumbs + name);
    } catch (const base::Error&) {
      // A cache: what stays is tried again at the next change.
    }
  }
}

void PictureStore::Change(const std::function<void(dbf::Table&, std::vector<Entry>&)>& change) {
  std::error_code ec;
  if (!FolderExists(folder_)) {
    fs::create_directory(folder_, ec);
    if (ec)
      base::Fail(ErrorCode::kIo, "Cannot make the folder \"" + folder_ + "\": " + ec.message());
    env_.SyncDir(folder_.substr(0, folder_.size() - 1));
  }
  FolderLock lock(env_, folder_);
  // What killed writes left behind is no one's now that the lock is ours.
  for (const std::string& name : FilesIn(folder_))
    if (name.size() > 4 && name.compare(name.size() - 4, 4, kTempSuffix) == 0)
      env_.Remove(folder_ + name);
  dbf::Table table(env_);
  OpenRowsOf(table, dbf_path_);
  std::vector<Entry> entries = ReadIndex();
  bool moved = false;
  Match(table, entries, &moved);
  change(table, entries);
  Publish(entries);
  // The index no longer names the copies the change removed: their small
  // pictures go, and those that older versions left of pictures long gone.
  DropStaleThumbnails();
}

namespace {

// The row's fingerprint, or a refusal when there is no such row.
std::string RowFingerprint(dbf::Table& table, uint32_t recno) {
  if (recno == 0 || !table.GoTo(recno)) Refuse(texts::kNoSuchRow, std::to_string(recno));
  return Fingerprint(table);
}

}  // namespace

void PictureStore::Attach(uint32_t recno, Side side, const std::string& source) {
  std::string bytes;
  try {
    bytes = ReadAll(env_, source);
  } catch (const base::Error&) {
    Refuse(texts::kCannotRead, source);
  }
  PictureKind kind = CheckPicture(bytes, base::BaseOf(source));
  // The folder's own file, when source names one.
  std::string own;
  {
    std::error_code ec1, ec2;
    const fs::path at = fs::weakly_canonical(source, ec1);
    const fs::path folder = fs::weakly_canonical(folder_.substr(0, folder_.size() - 1), ec2);
    if (!ec1 && !ec2 && at.parent_path() == folder) own = at.filename().string();
  }
  std::string replaced;
  Change([&](dbf::Table& table, std::vector<Entry>& entries) {
    std::string fingerprint = RowFingerprint(table, recno);
    const bool loose = !own.empty() && std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
      return !e.picture.attached() && e.picture.file == own;
    });
    if (loose) return AttachLoose(entries, own, recno, side, fingerprint);
    std::string name = NewFileName(ExtensionOf(kind));
    WriteWhole(env_, folder_ + name, bytes);
    auto old = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
      return e.picture.recno == recno && e.picture.side == side;
    });
    if (old != entries.end()) {
      replaced = old->picture.file;
      entries.erase(old);
    }
    Entry e;
    e.picture = Picture{recno, side, name, fingerprint};
    e.stored_recno = recno;
    entries.push_back(std::move(e));
    WriteIndex(entries);
    if (!replaced.empty()) env_.Remove(folder_ + replaced);
  });
}

void PictureStore::AttachLoose(std::vector<Entry>& entries, const std::string& file,
                               uint32_t recno, Side side, const std::string& fingerprint) {
  std::string replaced;
  for (auto old = entries.begin(); old != entries.end(); ++old) {
    if (old->picture.recno == recno && old->picture.side == side) {
      replaced = old->picture.file;
      entries.erase(old);
      break;
    }
  }
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const Entry& e) { return e.picture.file == file; });
  it->picture.recno = it->stored_recno = recno;
  it->picture.side = side;
  it->picture.fingerprint = fingerprint;
  WriteIndex(entries);
  if (!replaced.empty()) env_.Remove(folder_ + replaced);
}

void PictureStore::Reattach(const std::string& file, uint32_t recno, Side side) {
  Change([&](dbf::Table& table, std::vector<Entry>& entries) {
    std::string fingerprint = RowFingerprint(table, recno);
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
      return !e.picture.attached() && e.picture.file == file;
    });
    if (it == entries.end()) Refuse(texts::kNoSuchPicture, file);
    AttachLoose(entries, file, recno, side, fingerprint);
  });
}

bool PictureStore::Remove(uint32_t recno, Side side) {
  if (!FolderExists(folder_)) return false;
  bool removed = false;
  Change([&](dbf::Table&, std::vector<Entry>& entries) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
      return e.picture.recno == recno && e.picture.side == side;
    });
    if (it == entries.end()) return;
    std::string file = it->picture.file;
    entries.erase(it);
    WriteIndex(entries);
    env_.Remove(folder_ + file);
    removed = true;
  });
  return removed;
}

void PictureStore::CoinChanged(dbf::Table& table) {
  if (!FolderExists(folder_)) return;
  CoinsChanged({{table.RecNo(), Fingerprint(table)}});
}

void PictureStore::CoinsChanged(const std::map<uint32_t, std::string>& fingerprints) {
  if (fingerprints.empty() || !FolderExists(folder_)) return;
  FolderLock lock(env_, folder_);
  // Read as stored: matching first would look for the coins by the
  // fingerprints they had before the change.
  std::vector<Entry> entries = ReadIndex();
  bool changed = false;
  for (Entry& e : entries) {
    auto it = fingerprints.find(e.stored_recno);
    if (it == fingerprints.end() || e.pack_to != 0 || e.picture.fingerprint.empty() ||
        e.picture.fingerprint == it->second)
      continue;
    e.picture.fingerprint = it->second;
    changed = true;
  }
  if (changed) WriteIndex(entries);
}

CoinFollower::CoinFollower(Env& env) : env_(env) {}

void CoinFollower::Follow(dbf::Table& table) {
  table.SetAfterPostEdit([this](dbf::Table& t) { Posted(t); });
}

CoinFollower::Stamp CoinFollower::IndexStamp() {
  Stamp stamp;
  struct stat st {};
  // The name found last time first: looking it up reads the whole folder.
  if (index_path_.empty() || ::stat(index_path_.c_str(), &st) != 0) {
    index_path_ = base::FindFileNoCase(folder_, kIndexName);
    if (index_path_.empty() || ::stat(index_path_.c_str(), &st) != 0) return stamp;
  }
  stamp.exists = true;
  stamp.inode = st.st_ino;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified_ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

void CoinFollower::Posted(dbf::Table& table) {
  if (table.DbfPath() != dbf_path_) {
    Flush();
    dbf_path_ = table.DbfPath();
    folder_ = FolderOf(dbf_path_);
    index_path_.clear();
    known_ = false;
  }
  const Stamp now = IndexStamp();
  if (!now.exists) return;  // no pictures (a stray file needs no fingerprint)
  if (!known_ || !(now == stamp_)) {
    // Another copy changed the index, or this is the first look: read it
    // as stored.
    fingerprints_.clear();
    PictureStore store(dbf_path_, env_);
    for (const PictureStore::Entry& e : store.ReadIndex())
      if (e.stored_recno != 0 && e.pack_to == 0 && !e.picture.fingerprint.empty())
        fingerprints_[e.stored_recno].push_back(e.picture.fingerprint);
    stamp_ = now;
    known_ = true;
  }
  auto it = fingerprints_.find(table.RecNo());
  if (it == fingerprints_.end()) return;
  const std::string fingerprint = Fingerprint(table);
  if (std::all_of(it->second.begin(), it->second.end(),
                  [&](const std::string& f) { return f == fingerprint; }))
    return;
  std::fill(it->second.begin(), it->second.end(), fingerprint);
  pending_[table.RecNo()] = fingerprint;
  if (gathering_ == 0 || pending_.size() >= 256) Flush();
}

void CoinFollower::Flush() {
  if (pending_.empty()) return;
  std::map<uint32_t, std::string> pending;
  pending.swap(pending_);
  // The write reads the index under the folder's lock, with what others
  // wrote since: the next post reads it afresh.
  known_ = false;
  PictureStore(dbf_path_, env_).CoinsChanged(pending);
}

CoinFollower::Gathering::Gathering(CoinFollower& follower) : follower_(&follower) {
  ++follower_->gathering_;
}

void CoinFollower::Gathering::End() {
  if (!follower_) return;
  CoinFollower* f = follower_;
  follower_ = nullptr;
  if (--f->gathering_ == 0) f->Flush();
}

CoinFollower::Gathering::~Gathering() {
  try {
    End();
  } catch (const base::Error&) {
    // An error is already on its way to the user; these coins' pictures
    // are listed as unattached at the next open, never lost.
  }
}

void PackKeepingPictures(dbf::Table& table, const std::function<void(double)>& progress, Env& env) {
  PictureStore store(table.DbfPath(), env);
  if (!FolderExists(store.folder_)) {
    table.Pack(progress);
    return;
  }
  PictureStore::FolderLock lock(store.env_, store.folder_);
  std::vector<PictureStore::Entry> entries = store.ReadIndex();
  bool moved = false;
  store.Match(table, entries, &moved);
  // Where each row goes: the live rows keep their order.
  std::vector<uint32_t> after(table.PhysicalCount() + 1, 0);
  uint32_t kept = 0;
  std::string order = table.IndexName();
  table.SetIndexName("");
  table.SetShowDeleted(true);
  for (table.First(); !table.Eof(); table.Next())
    if (!table.IsDeleted()) after[table.RecNo()] = ++kept;
  table.SetShowDeleted(false);
  table.SetIndexName(order);
  uint32_t before = table.PhysicalCount();
  for (auto& e : entries) {
    uint32_t r = e.picture.attached() ? e.picture.recno : e.stored_recno;
    e.stored_recno = r;
    e.pack_recno = r < after.size() ? after[r] : 0;
    e.pack_from = before;
    e.pack_to = kept;
  }
  store.WriteIndex(entries);
  table.Pack(progress);
  for (auto& e : entries) {
    e.stored_recno = e.pack_recno;
    if (e.picture.attached()) e.picture.recno = e.pack_recno;
    e.pack_recno = e.pack_from = e.pack_to = 0;
  }
  store.WriteIndex(entries);
}

void CopyPicturesOfRows(const std::string& from_dbf, const std::string& to_dbf,
                        const std::vector<uint32_t>& recnos) {
  PictureStore from(from_dbf);
  from.Load();
  SetAsideFolder(to_dbf);
  if (from.pictures().empty()) return;
  PictureStore to(to_dbf);
  std::vector<PictureStore::Entry> entries;
  for (size_t n = 0; n < recnos.size(); ++n) {
    for (Side side : {Side::kObverse, Side::kReverse}) {
      const Picture* p = from.Find(recnos[n], side);
      if (!p) continue;
      PictureStore::Entry e;
      e.picture = *p;
      e.picture.recno = e.stored_recno = uint32_t(n + 1);
      entries.push_back(std::move(e));
    }
  }
  if (entries.empty()) return;
  std::error_code ec;
  fs::create_directory(to.folder_, ec);
  if (ec)
    base::Fail(ErrorCode::kIo, "Cannot make the folder \"" + to.folder_ + "\": " + ec.message());
  for (const auto& e : entries)
    WriteWhole(to.env_, to.PathOf(e.picture), ReadAll(from.env_, from.PathOf(e.picture)));
  to.WriteIndex(entries);
}

std::vector<std::string> FilesToCopy(const std::string& dbf_path) {
  std::string folder = FolderOf(dbf_path);
  std::vector<std::string> names;
  if (!FolderExists(folder)) return names;
  std::string index;
  for (const std::string& name : FilesIn(folder)) {
    if (IsPictureName(name)) names.push_back(name);
    if (base::EqualNoCaseAscii(name, kIndexName)) index = name;
  }
  std::sort(names.begin(), names.end());
  if (!index.empty()) names.push_back(index);
  return names;
}

std::string SetAsideFolder(const std::string& dbf_path) {
  std::string folder = FolderOf(dbf_path);
  if (!FolderExists(folder)) return "";
  std::string bare = folder.substr(0, folder.size() - 1);
  for (int n = 1;; ++n) {
    std::string aside = bare + "." + std::to_string(n);
    std::error_code ec;
    if (fs::exists(aside, ec)) continue;
    fs::rename(bare, aside, ec);
    if (ec) base::Fail(ErrorCode::kIo, "Cannot rename \"" + bare + "\": " + ec.message());
    return aside;
  }
}

}  // namespace klv::pictures
