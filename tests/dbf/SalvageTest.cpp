// Repairing damaged tables: files cut at every point of their header end and
// first rows, damaged headers, an unfinished append, injected I/O failures.
// After each: the original's bytes are intact, and the new table opens,
// passes the engine's check and holds exactly the whole rows (also as
// dbfread reads them).
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
using Rows = std::vector<std::string>;  // NAME, with '*' before it for a deleted row

constexpr size_t kHeaderLen = 32 + 5 * 32 + 1, kRecordLen = 1 + 12 + 8 + 5 + 8 + 1, kRows = 40;

Rows FirstRows(size_t n) {
  Rows r;
  for (size_t i = 0; i < n; ++i) r.push_back((i == 1 || i == 4 ? "*r" : "r") + std::to_string(i));
  return r;
}

// The .DBF and .MDX bytes of a table of kRows rows (FirstRows) with two tags.
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
    for (size_t i = 0; i < kRows; ++i) {
      t.Append();
      t.FieldByName("NAME").SetAsString("r" + std::to_string(i));
      t.FieldByName("QTY").SetAsInteger(static_cast<int64_t>(i));
      t.Post();
    }
    for (uint32_t r : {2u, 5u}) t.GoTo(r), t.Delete();
    t.Close();
    return std::make_pair(ReadFileBytes(dir.File("T.DBF")), ReadFileBytes(dir.File("T.MDX")));
  }();
  return files;
}

// dbfread's view of each table in dir: "FILE count deleted live-names...".
std::string DbfRead(const std::string& dir) {
  std::string cmd =
      "/usr/bin/python3 -c 'import dbfread, glob, sys\n"
      "for p in sorted(glob.glob(sys.argv[1] + \"/*.DBF\")):\n"
      "    t = dbfread.DBF(p, load=True)\n"
      "    print(p.rsplit(\"/\", 1)[1], t.header.numrecords, len(t.deleted),\n"
      "          *(r[\"NAME\"] for r in t.records))' '" +
      dir + "' 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int status = p ? ::pclose(p) : -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  return out;
}

class SalvageTest : public ::testing::Test {
 protected:
  // Every table a test repaired, as dbfread reads it.
  void TearDown() override {
    if (dbfread_want_.empty()) return;
    std::string read = DbfRead(readable_.path());
    for (const std::string& line : dbfread_want_)
      EXPECT_NE(read.find(line), std::string::npos) << line << read;
  }

  std::string P(const std::string& name) const { return dir_.File(name); }

  void Put(const std::string& dbf, const std::string& mdx = Sample().second) {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove(e.path());
    WriteFileBytes(P("T.DBF"), dbf);
    WriteFileBytes(P("T.MDX"), mdx);
  }

  Rows Files() const {
    Rows out;
    for (const auto& e : fs::directory_iterator(dir_.path())) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  // A refusal writes nothing and leaves the original as it was.
  ErrorCode Refused(const std::string& bytes, bool put = true) {
    if (put) Put(bytes);
    ErrorCode code = ErrorCode::kIo;
    try {
      Salvage(Env::Default(), P("T.DBF"));
      ADD_FAILURE() << "repaired";
    } catch (const DbfError& e) {
      code = e.code();
    }
    EXPECT_EQ(Files(), (Rows{"T.DBF", "T.MDX"}));
    EXPECT_TRUE(ReadFileBytes(P("T.DBF")) == bytes);
    return code;
  }

  // A repair keeps both originals byte for byte beside a sound new table.
  SalvageResult Repaired(const std::string& bytes, const Rows& want,
                         const std::string& mdx = Sample().second) {
    Put(bytes, mdx);
    SalvageResult r = Salvage(Env::Default(), P("T.DBF"));
    EXPECT_TRUE(ReadFileBytes(r.kept_dbf) == bytes);
    EXPECT_TRUE(ReadFileBytes(r.kept_mdx) == mdx);
    Rows tags;
    EXPECT_EQ(Sound(&tags), want);
    EXPECT_EQ(tags, r.tags_rebuilt);
    EXPECT_EQ(tags.size(), r.index_complete ? 2u : 0u);
    EXPECT_EQ(r.rows_kept, want.size());
    std::string name = std::to_string(dbfread_want_.size()) + ".DBF";
    fs::copy_file(P("T.DBF"), readable_.File(name));
    std::string line = name + " " + std::to_string(want.size()) + " ";
    line += std::to_string(
        std::count_if(want.begin(), want.end(), [](auto& w) { return w[0] == '*'; }));
    for (const std::string& row : want)
      if (row[0] != '*') line += " " + row;
    dbfread_want_.push_back(line + "\n");
    return r;
  }

  // The table's rows once the engine's check found nothing wrong. An index
  // left half built by a process that stopped must be reported and rebuilt.
  Rows Sound(Rows* tags, bool stopped = false) {
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
    for (const TagInfo& tag : t.Tags()) tags->push_back(tag.name);
    t.SetShowDeleted(true);
    Rows rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.push_back((t.IsDeleted() ? "*" : "") + t.FieldByName("NAME").AsString());
    return rows;
  }

  test::TempDir dir_, readable_;
  Rows dbfread_want_;
};

// Every cut from inside the last field descriptor through the first rows and
// the last row, every 29th byte between: whole rows come back, the rest is
// counted.
TEST_F(SalvageTest, CutTablesKeepEveryWholeRow) {
  const std::string& good = Sample().first;
  ASSERT_EQ(good.size(), kHeaderLen + kRows * kRecordLen + 1);
  for (size_t cut = kHeaderLen - 40; cut <= good.size();
       cut += cut < kHeaderLen + 4 * kRecordLen || cut + 40 > good.size() ? 1 : 29) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    std::string bytes = good.substr(0, cut);
    if (cut < kHeaderLen - 1) {
      EXPECT_EQ(Refused(bytes), ErrorCode::kCorruptTable);
      continue;
    }
    size_t data = cut > kHeaderLen ? cut - kHeaderLen : 0;
    size_t whole = std::min(data / kRecordLen, kRows);
    SalvageResult r = Repaired(bytes, FirstRows(whole));
    EXPECT_EQ(r.rows_lost, kRows - whole);
    EXPECT_EQ(r.bytes_dropped, whole == kRows ? 0 : data - whole * kRecordLen);
    EXPECT_EQ(r.tags_rebuilt, (Rows{"BYNAME", "BYQTY"}));
    EXPECT_EQ(fs::file_size(P("T.DBF")), kHeaderLen + whole * kRecordLen + 1);
  }
}

// The damaged headers the engine refuses to open: what the descriptors tell
// is mended, what they cannot tell is refused with nothing written.
TEST_F(SalvageTest, DamagedHeadersAreMendedOrRefused) {
  using Damage = std::function<void(std::string&)>;
  auto set = [](std::vector<std::pair<size_t, int>> bytes) -> Damage {
    return [=](std::string& s) {
      for (auto [at, v] : bytes) s[at] = static_cast<char>(v);
    };
  };
  const size_t kName = 32, kAmount = 64, kDate = 32 + 3 * 32, kRow3 = kHeaderLen + 2 * kRecordLen;
  const struct {
    const char* what;
    Damage damage;
    const char* note;  // nullptr: refused with `refused`
    ErrorCode refused = ErrorCode::kCorruptTable;
    size_t lost = 0;
  } cases[] = {
      {"truncated header", [](auto& s) { s.resize(20); }, nullptr},
      {"not a dbf", set({{0, 0x42}}), nullptr},
      {"duplicate names", [](auto& s) { std::memcpy(&s[kAmount], "NAME\0\0\0\0\0", 9); }, nullptr},
      {"unreadable descriptor", set({{kAmount + 32, 0}}), nullptr},
      {"two impossible lengths", set({{kName + 16, 0}, {kAmount + 16, 0}}), nullptr},
      {"field longer than its rows", set({{kName + 16, 13}}), nullptr},
      {"memo field", set({{kName + 11, 'M'}}), nullptr, ErrorCode::kUnsupported},
      {"count beyond file", set({{5, 1}}), "header counts 296 rows", {}, 256},
      {"record length", set({{10, kRecordLen + 1}}), "record length (36) was mended to 35"},
      {"header length", set({{8, 40}, {9, 0}}), "header length (40) was mended to 193"},
      {"header past end", set({{9, 0x7F}}), "was mended to 193"},
      {"header one byte long", set({{8, kHeaderLen + 1}}), "(194) was mended to 193"},
      {"zero-length field", set({{kName + 16, 0}}),
       "NAME had length 0; the record length gives 12"},
      {"bad date width", set({{kDate + 16, 9}}), "BOUGHT had length 9; its type gives 8"},
      {"no terminator", set({{kHeaderLen - 1, 'X'}}), "no end mark"},
      {"no terminator nor header length", set({{kHeaderLen - 1, 'X'}, {8, 40}, {9, 0}}),
       "taken to hold 5 fields"},
      {"bad deletion flag", set({{kRow3, 'X'}}), "1 row had a damaged deletion flag", {}, 1},
      {"unreadable index", [](auto&) {}, "no index tags were rebuilt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = Sample().first;
    c.damage(bytes);
    if (c.note == nullptr) {
      EXPECT_EQ(Refused(bytes), c.refused);
      continue;
    }
    Rows want = FirstRows(kRows);
    if (c.lost == 1) want.erase(want.begin() + 2);
    bool bad_index = std::strcmp(c.what, "unreadable index") == 0;
    SalvageResult r = Repaired(bytes, want, bad_index ? "not an index" : Sample().second);
    std::string notes;
    for (const auto& n : r.notes) notes += n + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    EXPECT_EQ(r.rows_lost, c.lost);
  }
}

// A killed append leaves whole rows past the header's count, with or without
// an end mark after them: they are cut, not added. So is anything after an
// end mark. And no repair happens under another open's feet.
TEST_F(SalvageTest, RowsPastTheCountAreCut) {
  const std::string& good = Sample().first;
  const std::string row = good.substr(kHeaderLen, kRecordLen);
  const std::pair<std::string, const char*> tails[] = {
      {row + row, "an append that never finished"},
      {row + "\x1A", "an append that never finished"},
      {"\x1A" + std::string(10, '\0'), "10 bytes after the end of the rows"},
  };
  for (const auto& [tail, note] : tails) {
    SalvageResult r = Repaired(good.substr(0, good.size() - 1) + tail, FirstRows(kRows));
    EXPECT_EQ(r.rows_lost, 0u);
    EXPECT_EQ(r.bytes_dropped, tail.size() - (tail[0] == '\x1A'));
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find(note), std::string::npos) << r.notes[0];
    EXPECT_EQ(fs::file_size(P("T.DBF")), good.size());
  }
  Put(good);
  Table open;
  open.SetDirectory(dir_.path());
  open.SetTableName("T");
  open.Open();
  EXPECT_EQ(Refused(good, false), ErrorCode::kInUse);
}

// A failure at every write, sync, create, rename and remove in turn, once or
// from then on (a process that died there): the original is intact under its
// own name or one kept name, and the table in its place is the original or a
// whole repaired one.
TEST_F(SalvageTest, InjectedFailuresLeaveTheOriginalOrAWholeTable) {
  const std::string cut = Sample().first.substr(0, kHeaderLen + 7 * kRecordLen + 20);
  for (bool died : {false, true}) {
    int n = 1;
    for (bool fired = true; fired; ++n) {
      SCOPED_TRACE("fault " + std::to_string(n) + (died ? ", stopping there" : ""));
      ASSERT_LT(n, 300);
      Put(cut);
      base::FaultEnv faults(Env::Default());
      faults.SetSticky(died);
      faults.FailAt(n);
      SalvageResult r;
      bool threw = false;
      try {
        r = Salvage(faults, P("T.DBF"));
      } catch (const DbfError& e) {
        threw = true;
        EXPECT_TRUE(faults.fired()) << e.what();
      }
      fired = faults.fired();
      if (threw && !died) {
        EXPECT_EQ(Files(), (Rows{"T.DBF", "T.MDX"}));
      }
      int originals = 0;
      for (const std::string& f : Files()) {
        if (f.rfind("T.DBF", 0) == 0) originals += ReadFileBytes(P(f)) == cut;
        if (f.rfind("T.MDX.damaged-", 0) == 0) {
          EXPECT_TRUE(ReadFileBytes(P(f)) == Sample().second);
        }
        // One that died leaves its temporary files to the next pack.
        if (!died) {
          EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
        }
      }
      EXPECT_EQ(originals, 1);
      if (!fs::exists(P("T.DBF")) || ReadFileBytes(P("T.DBF")) == cut) continue;
      Rows tags;
      EXPECT_EQ(Sound(&tags, died), FirstRows(7));
      // Without an index rather than with half of one.
      if (!died) {
        EXPECT_EQ(tags, (r.index_complete ? Rows{"BYNAME", "BYQTY"} : Rows{}));
      }
    }
    EXPECT_GT(n, 10);
  }
}

}  // namespace
}  // namespace klv::dbf
