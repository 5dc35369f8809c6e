// Repairing damaged tables: files cut at every point of their header end and
// first rows, damaged headers, an unfinished append, injected I/O failures.
// After each: the original's bytes are intact, and the new table opens,
// passes the engine's check, holds exactly the whole rows, and reads the
// same in dbfread.
#include "db/dbf/Salvage.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "base/FaultEnv.h"
#include "db/dbf/Table.h"
#include "support/TempDir.h"

namespace klv::dbf {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr size_t kHeaderLen = 32 + 5 * 32 + 1;         // 193
constexpr size_t kRecordLen = 1 + 12 + 8 + 5 + 8 + 1;  // 35
constexpr int kRows = 40;

// Rows as "name" or "*name" for a deleted one, in record order.
using Rows = std::vector<std::string>;

Rows ExpectedRows(size_t n) {
  Rows r;
  for (size_t i = 0; i < n; ++i)
    r.push_back(std::string(i == 1 || i == 4 ? "*" : "") + "r" + std::to_string(i));
  return r;
}

// The table and its index as the engine leaves them: 40 rows, the 2nd and
// 5th deleted, two tags.
const std::pair<std::string, std::string>& Sample() {
  static const auto files = [] {
    test::TempDir dir;
    Table::CreateTable(dir.File("T.DBF"), {{"NAME", 'C', 12, 0},
                                           {"AMOUNT", 'N', 8, 2},
                                           {"QTY", 'N', 5, 0},
                                           {"BOUGHT", 'D', 8, 0},
                                           {"OK", 'L', 1, 0}});
    Table t;
    t.SetDirectory(dir.path());
    t.SetTableName("T");
    t.Open();
    t.AddIndex("BYNAME", "NAME");
    t.AddIndex("BYQTY", "STR(QTY,5)", IndexOptions{true, false});
    for (int i = 0; i < kRows; ++i) {
      t.Append();
      t.FieldByName("NAME").SetAsString("r" + std::to_string(i));
      t.FieldByName("AMOUNT").SetAsFloat(i + 0.25);
      t.FieldByName("QTY").SetAsInteger(i);
      t.Post();
    }
    for (uint32_t r : {2u, 5u}) {
      t.GoTo(r);
      t.Delete();
    }
    t.Close();
    return std::make_pair(ReadFileBytes(dir.File("T.DBF")), ReadFileBytes(dir.File("T.MDX")));
  }();
  return files;
}

class SalvageTest : public ::testing::Test {
 protected:
  std::string P(const std::string& name) const { return dir_.File(name); }

  void Put(const std::string& dbf, bool with_index = true) {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove(e.path());
    WriteFileBytes(P("T.DBF"), dbf);
    if (with_index) WriteFileBytes(P("T.MDX"), Sample().second);
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_.path())) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  // The new table's rows after the engine's check found nothing wrong. An
  // index left half built by a process that stopped is allowed only when
  // the engine reports it and rebuilds it.
  Rows Sound(std::vector<std::string>* tags = nullptr, bool stopped = false) {
    Table t;
    t.SetDirectory(dir_.path());
    t.SetTableName("T");
    try {
      t.Open();
    } catch (const DbfError& e) {
      if (!stopped || e.code() != ErrorCode::kIndexMismatch) throw;
      t.SetRepairIndex(true);
      t.Open();
    }
    auto problems = t.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    if (tags) {
      for (const TagInfo& tag : t.Tags()) tags->push_back(tag.name);
    }
    t.SetShowDeleted(true);
    Rows rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.push_back((t.IsDeleted() ? "*" : "") + t.FieldByName("NAME").AsString());
    return rows;
  }

  test::TempDir dir_;
};

// Every cut from inside the last field descriptor through the first rows,
// then every 29th byte to the end: whole rows come back, the rest is counted.
TEST_F(SalvageTest, CutTablesKeepEveryWholeRow) {
  const std::string& good = Sample().first;
  ASSERT_EQ(good.size(), kHeaderLen + kRows * kRecordLen + 1);
  std::vector<size_t> cuts;
  for (size_t cut = kHeaderLen - 40; cut < good.size() - 1; cut += cut < kHeaderLen + 140 ? 1 : 29)
    cuts.push_back(cut);
  cuts.push_back(good.size() - 1);
  cuts.push_back(good.size());
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    std::string bytes = good.substr(0, cut);
    Put(bytes);
    if (cut < kHeaderLen - 1) {
      EXPECT_THROW(Salvage(Env::Default(), P("T.DBF")), DbfError);
      EXPECT_EQ(Files(), (std::vector<std::string>{"T.DBF", "T.MDX"}));
      EXPECT_TRUE(ReadFileBytes(P("T.DBF")) == bytes);
      continue;
    }
    size_t data = cut > kHeaderLen ? cut - kHeaderLen : 0;
    size_t whole = std::min<size_t>(data / kRecordLen, kRows);
    SalvageResult r = Salvage(Env::Default(), P("T.DBF"));
    EXPECT_EQ(r.rows_kept, whole);
    EXPECT_EQ(r.deleted_kept, (whole > 1) + (whole > 4));
    EXPECT_EQ(r.rows_lost, kRows - whole);
    EXPECT_EQ(r.bytes_dropped, whole == kRows ? 0 : data - whole * kRecordLen);
    EXPECT_EQ(r.tags_rebuilt, (std::vector<std::string>{"BYNAME", "BYQTY"}));
    EXPECT_TRUE(ReadFileBytes(r.kept_dbf) == bytes);
    EXPECT_TRUE(ReadFileBytes(r.kept_mdx) == Sample().second);
    EXPECT_EQ(Files().size(), 4u);
    std::vector<std::string> tags;
    EXPECT_EQ(Sound(&tags), ExpectedRows(whole));
    EXPECT_EQ(tags, r.tags_rebuilt);
    EXPECT_EQ(fs::file_size(P("T.DBF")), kHeaderLen + whole * kRecordLen + 1);
  }
}

// dbfread reads every table in the directory; one line per table.
std::string DbfRead(const std::string& dir) {
  std::string cmd =
      "/usr/bin/python3 -c 'import dbfread, glob, sys\n"
      "for p in sorted(glob.glob(sys.argv[1] + \"/*.DBF\")):\n"
      "    t = dbfread.DBF(p, load=True)\n"
      "    print(p.rsplit(\"/\", 1)[1], t.header.numrecords, len(t.deleted),\n"
      "          \" \".join(r[\"NAME\"] for r in t.records))' '" +
      dir + "' 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  return out;
}

struct HeaderCase {
  const char* what;
  std::function<void(std::string&)> damage;
  // nullptr: refused with this error code; else a note that names the mending.
  const char* note;
  int lost = 0;  // rows lost
  ErrorCode refused = ErrorCode::kCorruptTable;
};

// The damaged headers the engine refuses to open: what the descriptors tell
// is mended, what they cannot tell is refused with nothing written.
TEST_F(SalvageTest, DamagedHeadersAreMendedOrRefused) {
  auto b = [](std::string& s, size_t at, int v) { s[at] = static_cast<char>(v); };
  const size_t kField = 32, kDate = 32 + 3 * 32;
  const HeaderCase cases[] = {
      {"truncated header", [](auto& s) { s.resize(20); }, nullptr},
      {"not a dbf", [&](auto& s) { b(s, 0, 0x42); }, nullptr},
      {"duplicate names", [](auto& s) { std::memcpy(&s[64], "NAME\0\0\0\0\0\0", 10); }, nullptr},
      {"unreadable descriptor", [&](auto& s) { b(s, 32 + 2 * 32, 0); }, nullptr},
      {"two impossible lengths", [&](auto& s) { b(s, kField + 16, 0), b(s, 64 + 16, 0); }, nullptr},
      {"field longer than its rows", [&](auto& s) { b(s, kField + 16, 13); }, nullptr},
      {"memo field", [&](auto& s) { b(s, kField + 11, 'M'); }, nullptr, 0, ErrorCode::kUnsupported},
      {"count beyond file", [&](auto& s) { b(s, 5, 1); }, "header counts 296 rows", 256},
      {"record length", [&](auto& s) { b(s, 10, kRecordLen + 1); },
       "record length (36) was mended to 35"},
      {"header length", [&](auto& s) { b(s, 8, 40), b(s, 9, 0); },
       "header length (40) was mended to 193"},
      {"header past end", [&](auto& s) { b(s, 9, 0x7F); }, "was mended to 193"},
      {"header one byte long", [&](auto& s) { b(s, 8, kHeaderLen + 1); }, "was mended to 193"},
      {"zero-length field", [&](auto& s) { b(s, kField + 16, 0); },
       "field NAME had length 0; the record length gives 12"},
      {"bad date width", [&](auto& s) { b(s, kDate + 16, 9); },
       "field BOUGHT had length 9; its type gives 8"},
      {"no terminator", [&](auto& s) { b(s, kHeaderLen - 1, 'X'); }, "no end mark"},
      {"no terminator, header length damaged",
       [&](auto& s) { b(s, kHeaderLen - 1, 'X'), b(s, 8, 40), b(s, 9, 0); }, "to hold 5 fields"},
      {"bad deletion flag", [&](auto& s) { b(s, kHeaderLen + 2 * kRecordLen, 'X'); },
       "1 row had a damaged deletion flag", 1},
      {"index unreadable", [](auto&) {}, "no index tags were rebuilt"},
  };
  test::TempDir readable;
  std::vector<std::string> dbfread_lines;
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = Sample().first;
    c.damage(bytes);
    Put(bytes);
    if (std::string(c.what) == "index unreadable") WriteFileBytes(P("T.MDX"), "not an index");
    if (c.note == nullptr) {
      try {
        Salvage(Env::Default(), P("T.DBF"));
        ADD_FAILURE() << "repaired";
      } catch (const DbfError& e) {
        EXPECT_EQ(e.code(), c.refused) << e.what();
        EXPECT_NE(std::string(e.what()).find("T.DBF"), std::string::npos) << e.what();
      }
      EXPECT_EQ(Files(), (std::vector<std::string>{"T.DBF", "T.MDX"}));
      EXPECT_TRUE(ReadFileBytes(P("T.DBF")) == bytes);
      continue;
    }
    SalvageResult r = Salvage(Env::Default(), P("T.DBF"));
    std::string notes;
    for (const auto& n : r.notes) notes += n + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    EXPECT_EQ(r.rows_lost, static_cast<uint64_t>(c.lost));
    EXPECT_TRUE(ReadFileBytes(r.kept_dbf) == bytes);
    Rows want = ExpectedRows(kRows);
    if (c.lost == 1) want.erase(want.begin() + 2);
    std::vector<std::string> tags;
    EXPECT_EQ(Sound(&tags), want);
    EXPECT_EQ(tags.size(), r.index_complete ? 2u : 0u);
    std::string name = std::to_string(&c - cases) + ".DBF";
    fs::copy_file(P("T.DBF"), readable.File(name));
    std::string line = name + " " + std::to_string(want.size()) + " 2";
    for (const std::string& row : want)
      if (row[0] != '*') line += " " + row;
    dbfread_lines.push_back(line + "\n");
  }
  // Independent reading of the mended tables: every live row, none other.
  std::string read = DbfRead(readable.path());
  for (const std::string& line : dbfread_lines)
    EXPECT_NE(read.find(line), std::string::npos) << line << read;
}

// A killed append leaves whole rows past the header's count and no end
// mark: they are cut, not added. So is anything after an end mark.
TEST_F(SalvageTest, RowsPastTheCountAreCut) {
  const std::string& good = Sample().first;
  struct {
    std::string tail;
    const char* note;
  } cases[] = {
      {good.substr(kHeaderLen, 2 * kRecordLen), "an append that never finished"},
      {good.substr(kHeaderLen, kRecordLen) + "\x1A", "an append that never finished"},
      {"\x1A" + std::string(10, '\0'), "bytes after the end of the rows"},
  };
  for (const auto& c : cases) {
    std::string bytes = good.substr(0, good.size() - 1) + c.tail;
    Put(bytes);
    SalvageResult r = Salvage(Env::Default(), P("T.DBF"));
    EXPECT_EQ(r.rows_kept, static_cast<uint32_t>(kRows));
    EXPECT_EQ(r.rows_lost, 0u);
    EXPECT_EQ(r.bytes_dropped, c.tail.size() - (c.tail[0] == '\x1A'));
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find(c.note), std::string::npos) << r.notes[0];
    EXPECT_EQ(Sound(), ExpectedRows(kRows));
    EXPECT_EQ(ReadFileBytes(P("T.DBF")).size(), good.size());
  }
  // A repair of a sound table changes nothing but the date, and a second
  // repair within the same second keeps both earlier copies.
  Put(good);
  SalvageResult a = Salvage(Env::Default(), P("T.DBF"));
  SalvageResult b = Salvage(Env::Default(), P("T.DBF"));
  EXPECT_TRUE(a.notes.empty() && b.notes.empty());
  EXPECT_NE(a.kept_dbf, b.kept_dbf);
  EXPECT_NE(a.kept_mdx, b.kept_mdx);
  EXPECT_TRUE(ReadFileBytes(a.kept_dbf) == good);
  EXPECT_TRUE(ReadFileBytes(P("T.DBF")).substr(4) == good.substr(4));
  EXPECT_EQ(Files().size(), 6u);
  // Never under another open's feet.
  Put(good);
  Table open;
  open.SetDirectory(dir_.path());
  open.SetTableName("T");
  open.SetReadOnly(true);
  open.Open();
  try {
    Salvage(Env::Default(), P("T.DBF"));
    ADD_FAILURE() << "repaired an open table";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kInUse) << e.what();
  }
  EXPECT_EQ(Files(), (std::vector<std::string>{"T.DBF", "T.MDX"}));
}

// A failure at every write, sync, create, rename and remove in turn: the
// original is intact, and the table in its place is the original or a whole
// repaired one, never a half-written one or a half-built index.
TEST_F(SalvageTest, InjectedFailuresLeaveTheOriginalOrAWholeTable) {
  const std::string cut = Sample().first.substr(0, kHeaderLen + 7 * kRecordLen + 20);
  for (bool sticky : {false, true}) {
    int n = 1;
    for (;; ++n) {
      SCOPED_TRACE("fault " + std::to_string(n) + (sticky ? ", sticky" : ""));
      Put(cut);
      base::FaultEnv faults(Env::Default());
      faults.SetSticky(sticky);
      faults.FailAt(n);
      SalvageResult r;
      bool threw = false;
      try {
        r = Salvage(faults, P("T.DBF"));
      } catch (const DbfError& e) {
        threw = true;
        EXPECT_TRUE(faults.fired()) << e.what();
      }
      std::vector<std::string> files = Files();
      if (threw && !sticky) {
        EXPECT_EQ(files, (std::vector<std::string>{"T.DBF", "T.MDX"}));
      }
      // The original bytes are under its own name or exactly one kept name.
      int originals = 0;
      for (const std::string& f : files) {
        std::string bytes = ReadFileBytes(P(f));
        if (f.rfind("T.DBF", 0) == 0) originals += bytes == cut;
        if (f.rfind("T.MDX.damaged-", 0) == 0) {
          EXPECT_TRUE(bytes == Sample().second) << f;
        }
        // A process that stops leaves its temporary file to the next pack.
        if (!sticky) {
          EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
        }
      }
      EXPECT_EQ(originals, 1);
      if (ReadFileBytes(P("T.DBF")) != cut && fs::exists(P("T.DBF"))) {
        std::vector<std::string> tags;
        EXPECT_EQ(Sound(&tags, sticky), ExpectedRows(7));
        // A stopped process cannot take away the index it left half built.
        if (!threw && !sticky) {
          EXPECT_EQ(tags, r.tags_rebuilt);
          EXPECT_TRUE(r.index_complete || tags.empty());
        }
      }
      if (!faults.fired()) break;
      ASSERT_LT(n, 300);
    }
    EXPECT_GT(n, 10);
  }
}

}  // namespace
}  // namespace klv::dbf
