// Several processes on one table: concurrent appends and edits, row and
// table locks across processes, and processes killed (SIGKILL) in the middle
// of appends and of a pack. Children are forked and use the engine directly;
// they report through their exit status and pipes, never through gtest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "support/IsoDates.h"
#include "support/TempDir.h"

namespace klv::dbf {
namespace {

namespace fs = std::filesystem;

constexpr char kNewIndex[] = "Upper(Left(Country,40))+DTOS(PurchDate)";

// Exit codes of a child.
constexpr int kChildOk = 0;
constexpr int kChildWrong = 1;  // the child saw behaviour it did not expect
constexpr int kChildError = 2;  // an unexpected exception

// Runs body in a forked child, which ends with body's result (kChildError
// and a message on stderr when it throws). Returns the child's pid. The child
// keeps no descriptor above stderr but keep_fds.
pid_t Spawn(const std::function<int()>& body, const std::vector<int>& keep_fds = {}) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // The parent's open tables must not live on in the child: an inherited
    // descriptor would keep the parent's locks alive after the parent closes.
    // Only the pipes the body uses are kept.
    for (int fd = 3; fd < 1024; ++fd)
      if (std::find(keep_fds.begin(), keep_fds.end(), fd) == keep_fds.end()) ::close(fd);
    int code = kChildError;
    try {
      code = body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "child %d: %s\n", static_cast<int>(::getpid()), e.what());
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  return pid;
}

// The child's exit status, or 128 + signal number when it was killed.
int Reap(pid_t pid) {
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// One byte at a time between parent and child, both ways.
class Channel {
 public:
  Channel() {
    if (::pipe(down_) != 0 || ::pipe(up_) != 0) throw std::runtime_error("pipe failed");
  }
  std::vector<int> fds() const { return {down_[0], down_[1], up_[0], up_[1]}; }
  ~Channel() {
    for (int fd : {down_[0], down_[1], up_[0], up_[1]})
      if (fd >= 0) ::close(fd);
  }
  void ToChild(char c) { Put(down_[1], c); }
  char FromParent() { return Get(down_[0]); }
  void ToParent(char c) { Put(up_[1], c); }
  char FromChild() { return Get(up_[0]); }

 private:
  static void Put(int fd, char c) {
    if (::write(fd, &c, 1) != 1) throw std::runtime_error("pipe write failed");
  }
  // '\0' when the other side went away or stayed silent for 20 s, so that a
  // failing side never leaves the other waiting for ever.
  static char Get(int fd) {
    pollfd p{fd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, 20000)) < 0 && errno == EINTR) {
    }
    char c = 0;
    if (ready != 1 || ::read(fd, &c, 1) != 1) return '\0';
    return c;
  }
  int down_[2] = {-1, -1};
  int up_[2] = {-1, -1};
};

class ProcessTest : public ::testing::Test {
 protected:
  void Bind(Table& t, const std::string& dir) {
    t.SetTextFormat(test::IsoTextFormat());
    t.SetDirectory(dir);
    t.SetTableName("COINS.DBF");
  }

  void AppendCoin(Table& t, const std::string& comment, const std::string& country,
                  const std::string& date, double value) {
    t.Append();
    t.FieldByName("Comment").SetAsString(comment);
    t.FieldByName("Country").SetAsString(country);
    t.FieldByName("PurchDate").SetAsString(date);
    t.FieldByName("MarketValu").SetAsFloat(value);
    t.Post();
  }

  // Opens the table as a user would after a crash: an index reported as not
  // matching is rebuilt. Returns whether that was needed.
  bool OpenAfterCrash(Table& t, const std::string& dir) {
    Bind(t, dir);
    try {
      t.Open();
      return false;
    } catch (const DbfError& e) {
      if (e.code() != ErrorCode::kIndexMismatch) throw;
    }
    t.SetRepairIndex(true);
    t.Open();
    return true;
  }

  // The header count never covers bytes that are not there.
  void ExpectCountWithinFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[12] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    uint64_t count = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint64_t>(h[7]) << 24;
    uint64_t header = h[8] | h[9] << 8, reclen = h[10] | h[11] << 8;
    uint64_t size = fs::file_size(path);
    ASSERT_GE(size, header);
    EXPECT_LE(count, (size - header) / reclen) << "the header counts records that are not there";
  }

  // Besides the table and its index only our own temporary files may be
  // left, and those must never look like a table to the lookup.
  void ExpectOnlyTableFiles(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(dir)) {
      std::string name = e.path().filename().string();
      if (name == "COINS.DBF" || name == "COINS.MDX") continue;
      EXPECT_TRUE(name[0] == '.' && name.find(".tmp") != std::string::npos)
          << "unexpected file " << name;
    }
  }

  std::map<std::string, uint32_t> CommentsToRecnos(Table& t) {
    std::map<std::string, uint32_t> out;
    t.SetIndexName("");
    for (t.First(); !t.Eof(); t.Next()) {
      auto [it, fresh] = out.emplace(t.FieldByName("Comment").AsString(), t.RecNo());
      EXPECT_TRUE(fresh) << "comment " << it->first << " twice";
    }
    return out;
  }

  test::TempDir dir_;
};

// Two processes append, edit and delete at once. Each writes its rows with
// its own tag in Comment and keeps a log of what each of its rows should
// finally hold; the parent checks the table against both logs.
TEST_F(ProcessTest, TwoProcessesShareAppendsEditsAndDeletes) {
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  {
    Table t;
    Bind(t, dir_.path());
    t.Open();
    t.AddIndex("NEWINDEX", kNewIndex);
    t.AddIndex("VALUE", "STR(MarketValu,12,2)");
  }
  constexpr int kRows = 250;
  auto worker = [&](char id) {
    return [&, id]() {
      std::mt19937 rng(static_cast<unsigned>(id));
      const char* countries[] = {"Canada", "Österreich", "France", "Ísland", "Zaire", "chile"};
      Table t;
      Bind(t, dir_.path());
      t.Open();
      t.SetIndexName("NEWINDEX");
      struct Mine {
        uint32_t recno;
        std::string country;
        double value;
        bool deleted;
      };
      std::vector<Mine> mine;
      for (int i = 0; i < kRows; ++i) {
        std::string comment = std::string(1, id) + "-" + std::to_string(i);
        std::string country = countries[rng() % 6];
        AppendCoin(t, comment, country, "2001-02-03", i);
        if (t.FieldByName("Comment").AsString() != comment) return kChildWrong;
        mine.push_back({t.RecNo(), country, static_cast<double>(i), false});
        if (i % 3 == 2) {
          Mine& m = mine[rng() % mine.size()];
          if (m.deleted) continue;
          if (!t.GoTo(m.recno)) return kChildWrong;
          t.Edit();
          m.country = countries[rng() % 6];
          m.value = -static_cast<double>(rng() % 100000) / 100;
          t.FieldByName("Country").SetAsString(m.country);
          t.FieldByName("MarketValu").SetAsFloat(m.value);
          t.Post();
        }
        if (i % 10 == 9) {
          Mine& m = mine[rng() % mine.size()];
          if (m.deleted) continue;
          if (!t.GoTo(m.recno)) return kChildWrong;
          t.Delete();
          m.deleted = true;
        }
        if (i % 25 == 0) t.Refresh();
      }
      std::ofstream log(dir_.File(std::string(1, id) + ".log"));
      for (size_t i = 0; i < mine.size(); ++i) {
        log << id << "-" << i << "\t" << mine[i].recno << "\t" << mine[i].country << "\t"
            << mine[i].value << "\t" << mine[i].deleted << "\n";
      }
      return log.good() ? kChildOk : kChildError;
    };
  };
  pid_t a = Spawn(worker('A'));
  pid_t b = Spawn(worker('B'));
  ASSERT_EQ(Reap(a), kChildOk);
  ASSERT_EQ(Reap(b), kChildOk);

  Table t;
  Bind(t, dir_.path());
  t.Open();
  EXPECT_EQ(t.PhysicalCount(), 2u * kRows) << "appends were lost";
  auto problems = t.Check();
  EXPECT_TRUE(problems.empty()) << problems.front();
  uint64_t live = 0;
  std::set<uint32_t> recnos;
  t.SetShowDeleted(true);
  for (char id : {'A', 'B'}) {
    std::ifstream log(dir_.File(std::string(1, id) + ".log"));
    std::string comment, country;
    uint32_t recno = 0;
    double value = 0;
    bool deleted = false;
    int n = 0;
    while (log >> comment >> recno >> country >> value >> deleted) {
      ++n;
      SCOPED_TRACE(comment);
      EXPECT_TRUE(recnos.insert(recno).second) << "two rows on record " << recno;
      ASSERT_TRUE(t.GoTo(recno));
      EXPECT_EQ(t.FieldByName("Comment").AsString(), comment);
      EXPECT_EQ(t.FieldByName("Country").AsString(), country);
      EXPECT_DOUBLE_EQ(t.FieldByName("MarketValu").AsFloat(), value);
      EXPECT_EQ(t.IsDeleted(), deleted);
      if (!deleted) ++live;
    }
    EXPECT_EQ(n, kRows);
  }
  t.SetShowDeleted(false);
  EXPECT_EQ(t.RecordCount(), live);
  for (const char* tag : {"NEWINDEX", "VALUE"}) {
    t.SetIndexName(tag);
    uint64_t walked = 0;
    for (t.First(); !t.Eof(); t.Next()) ++walked;
    EXPECT_EQ(walked, live) << tag;
  }
}

TEST_F(ProcessTest, RowInEditAndExclusiveOpenAreLockedAcrossProcesses) {
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  Table t;
  Bind(t, dir_.path());
  t.Open();
  for (int i = 1; i <= 3; ++i) AppendCoin(t, "row " + std::to_string(i), "Canada", "2000-01-01", i);
  ASSERT_TRUE(t.GoTo(2));
  t.Edit();
  t.FieldByName("Comment").SetAsString("parent's edit");

  Channel ch;
  pid_t child = Spawn(
      [&] {
        Table o;
        Bind(o, dir_.path());
        o.SetExclusive(true);
        try {
          o.Open();
          return kChildWrong;  // exclusive beside the parent's open
        } catch (const DbfError& e) {
          if (e.code() != ErrorCode::kInUse) return kChildWrong;
        }
        o.SetExclusive(false);
        o.Open();
        if (!o.GoTo(2)) return kChildWrong;
        for (int attempt = 0; attempt < 2; ++attempt) {
          try {
            if (attempt == 0)
              o.Edit();
            else
              o.Delete();
            return kChildWrong;
          } catch (const DbfError& e) {
            if (e.code() != ErrorCode::kRecordLocked) return kChildWrong;
          }
        }
        // Other rows stay free.
        if (!o.GoTo(3)) return kChildWrong;
        o.Edit();
        o.FieldByName("Comment").SetAsString("child's edit");
        o.Post();
        ch.ToParent('1');
        if (ch.FromParent() != 'p') return kChildWrong;  // the parent has posted
        if (!o.GoTo(2)) return kChildWrong;
        o.Edit();
        if (o.FieldByName("Comment").AsString() != "parent's edit") return kChildWrong;
        o.Cancel();
        o.Close();
        ch.ToParent('2');
        if (ch.FromParent() != 'x') return kChildWrong;  // the parent holds the table exclusively
        try {
          o.Open();
          return kChildWrong;
        } catch (const DbfError& e) {
          if (e.code() != ErrorCode::kInUse) return kChildWrong;
        }
        return kChildOk;
      },
      ch.fds());
  ASSERT_EQ(ch.FromChild(), '1');
  t.Post();
  ch.ToChild('p');
  ASSERT_EQ(ch.FromChild(), '2');
  t.Close();
  t.SetExclusive(true);
  t.Open();
  ch.ToChild('x');
  EXPECT_EQ(Reap(child), kChildOk);
  ASSERT_TRUE(t.GoTo(3));
  EXPECT_EQ(t.FieldByName("Comment").AsString(), "child's edit");
}

// What another process did shows in this one's counts and is never undone
// by this one's next change.
TEST_F(ProcessTest, ChangesOfAnotherProcessAreKept) {
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  Table t;
  Bind(t, dir_.path());
  t.Open();
  t.AddIndex("NEWINDEX", kNewIndex);
  for (int i = 1; i <= 10; ++i)
    AppendCoin(t, "row " + std::to_string(i), "Canada", "2000-01-01", i);
  ASSERT_EQ(t.RecordCount(), 10u);
  auto in_child = [&](const std::function<void(Table&)>& change) {
    return Reap(Spawn([&] {
      Table o;
      Bind(o, dir_.path());
      o.Open();
      change(o);
      return kChildOk;
    }));
  };
  // The other process appends; this one deletes a row without a refresh in
  // between: the other's rows must stay counted.
  ASSERT_EQ(in_child([&](Table& o) {
              for (int i = 11; i <= 15; ++i)
                AppendCoin(o, "row " + std::to_string(i), "Zaire", "2001-01-01", i);
            }),
            kChildOk);
  ASSERT_TRUE(t.GoTo(5));
  t.Delete();
  {
    Table fresh;
    Bind(fresh, dir_.path());
    fresh.SetReadOnly(true);
    fresh.Open();
    EXPECT_EQ(fresh.PhysicalCount(), 15u) << "a delete dropped another process's appends";
    EXPECT_EQ(fresh.RecordCount(), 14u);
    auto problems = fresh.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
  t.Refresh();
  EXPECT_EQ(t.RecordCount(), 14u);

  // The other process deletes; this one appends, then refreshes.
  ASSERT_EQ(in_child([&](Table& o) {
              if (!o.GoTo(3)) throw std::runtime_error("row 3 is not there");
              o.Delete();
            }),
            kChildOk);
  AppendCoin(t, "row 16", "France", "2002-01-01", 16);
  t.Refresh();
  EXPECT_EQ(t.RecordCount(), 14u) << "another process's delete is not counted";
  EXPECT_EQ(t.PhysicalCount(), 16u);
  t.SetIndexName("NEWINDEX");
  uint64_t walked = 0;
  for (t.First(); !t.Eof(); t.Next()) ++walked;
  EXPECT_EQ(walked, 14u);
}

// A process appending with the index maintained is killed at a random
// moment, again and again. Every row whose Post returned is there, the header
// never counts more than the file holds, and the table opens (after an index
// rebuild when the kill struck inside an index change).
TEST_F(ProcessTest, KillDuringAppendsLosesNoCommittedRow) {
  std::mt19937 rng(97);
  int rebuilt = 0;
  for (int round = 0; round < 10; ++round) {
    test::TempDir dir;
    Table::CreateTable(dir.File("COINS.DBF"), CoinFieldDefs());
    {
      Table t;
      Bind(t, dir.path());
      t.Open();
      for (int i = 0; i < 50; ++i) AppendCoin(t, "seed" + std::to_string(i), "Base", "", i);
      t.AddIndex("NEWINDEX", kNewIndex);
    }
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = Spawn(
        [&] {
          ::close(fds[0]);
          Table t;
          Bind(t, dir.path());
          t.Open();
          std::mt19937 r(static_cast<unsigned>(round));
          const char* countries[] = {"Canada", "Österreich", "France", "Ísland", "Zaire"};
          for (uint32_t i = 0;; ++i) {
            AppendCoin(t, "c" + std::to_string(i), countries[r() % 5], "1999-12-31", i);
            // Reported only once Post has returned: committed.
            if (::write(fds[1], &i, sizeof i) != sizeof i) return kChildError;
          }
        },
        {fds[1]});
    ::close(fds[1]);
    int delay_ms = 5 + static_cast<int>(rng() % 150);
    SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(delay_ms) +
                 " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    ::kill(child, SIGKILL);
    EXPECT_EQ(Reap(child), 128 + SIGKILL);
    std::vector<uint32_t> committed;
    uint32_t v;
    while (::read(fds[0], &v, sizeof v) == sizeof v) committed.push_back(v);
    ::close(fds[0]);

    ExpectCountWithinFile(dir.File("COINS.DBF"));
    Table t;
    ASSERT_NO_THROW(rebuilt += OpenAfterCrash(t, dir.path()));
    EXPECT_EQ(t.DbfPath(), dir.File("COINS.DBF"));
    auto problems = t.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    // Rows c0, c1, ... follow the seed rows without a gap; the row being
    // posted at the kill may or may not have made it.
    uint32_t rows = t.PhysicalCount();
    ASSERT_GE(rows, 50 + committed.size());
    EXPECT_LE(rows, 50 + committed.size() + 1);
    auto comments = CommentsToRecnos(t);
    for (uint32_t i = 0; i < rows - 50; ++i)
      EXPECT_EQ(comments["c" + std::to_string(i)], 51 + i) << "row c" << i;
    EXPECT_EQ(t.RecordCount(), rows);
    // The table goes on working.
    AppendCoin(t, "after", "Canada", "2020-01-01", 1);
    problems = t.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    t.Close();
    ExpectOnlyTableFiles(dir.path());
  }
  std::printf("index rebuilt after %d of 10 kills\n", rebuilt);
}

// A process stops in the middle of a run of appends, between two posts, with
// the index still marked dirty. Meanwhile another process opens the table,
// reads every row by the index and appends: the live writer's mark is
// trusted. Once the writer is killed, the mark is no longer trusted, neither
// by an open that was there before nor by a new one, and a rebuild brings
// back every committed row.
TEST_F(ProcessTest, DirtyMarkOfARunIsTrustedOnlyWhileItsWriterLives) {
  Table::CreateTable(dir_.File("COINS.DBF"), CoinFieldDefs());
  {
    Table t;
    Bind(t, dir_.path());
    t.Open();
    t.AddIndex("NEWINDEX", kNewIndex);
  }
  Channel ch;
  pid_t writer = Spawn(
      [&] {
        Table t;
        Bind(t, dir_.path());
        t.Open();
        for (int i = 0; i < 40; ++i)
          AppendCoin(t, "w" + std::to_string(i), i % 2 ? "Canada" : "Zaire", "1999-12-31", i);
        ch.ToParent('1');
        if (ch.FromParent() != 'a') return kChildWrong;  // the parent has appended in between
        for (int i = 40; i < 60; ++i)
          AppendCoin(t, "w" + std::to_string(i), "France", "2001-01-01", i);
        ch.ToParent('2');
        ch.FromParent();  // killed while waiting
        return kChildOk;
      },
      ch.fds());
  ASSERT_EQ(ch.FromChild(), '1');
  auto dirty_byte = [&] {
    std::ifstream in(dir_.File("COINS.MDX"), std::ios::binary);
    in.seekg(52);
    return in.get();
  };
  EXPECT_NE(dirty_byte(), 0) << "the run keeps the index marked";
  Table t;
  Bind(t, dir_.path());
  ASSERT_NO_THROW(t.Open());
  t.SetIndexName("NEWINDEX");
  uint64_t walked = 0;
  for (t.First(); !t.Eof(); t.Next()) ++walked;
  EXPECT_EQ(walked, 40u);
  EXPECT_TRUE(t.Check().empty());
  AppendCoin(t, "parent", "Belgique", "2002-02-02", 1);
  t.First();  // ends the parent's own run
  ch.ToChild('a');
  ASSERT_EQ(ch.FromChild(), '2');
  t.Refresh();
  walked = 0;
  for (t.First(); !t.Eof(); t.Next()) ++walked;
  EXPECT_EQ(walked, 61u);
  auto problems = t.Check();
  EXPECT_TRUE(problems.empty()) << problems.front();

  ::kill(writer, SIGKILL);
  EXPECT_EQ(Reap(writer), 128 + SIGKILL);
  EXPECT_NE(dirty_byte(), 0);
  try {
    t.First();
    FAIL() << "an index left dirty by a dead writer was used";
  } catch (const DbfError& e) {
    EXPECT_EQ(e.code(), ErrorCode::kIndexMismatch);
  }
  EXPECT_FALSE(t.Check().empty());
  t.Close();
  Table fresh;
  ASSERT_TRUE(OpenAfterCrash(fresh, dir_.path()));
  EXPECT_EQ(fresh.PhysicalCount(), 61u);
  problems = fresh.Check();
  EXPECT_TRUE(problems.empty()) << problems.front();
  auto comments = CommentsToRecnos(fresh);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(comments.count("w" + std::to_string(i)), 1u) << i;
  EXPECT_EQ(comments.count("parent"), 1u);
}

// A pack is killed at random moments. Whatever the moment, the table opens
// with exactly its live rows, either still unpacked or packed.
TEST_F(ProcessTest, KillDuringPackKeepsEveryLiveRow) {
  constexpr int kRows = 24000;
  const std::string tmpl = dir_.File("template");
  fs::create_directories(tmpl);
  Table::CreateTable(tmpl + "/COINS.DBF", CoinFieldDefs());
  std::set<std::string> live;
  {
    Table t;
    Bind(t, tmpl);
    t.SetExclusive(true);
    t.Open();
    for (int i = 0; i < kRows; ++i) {
      std::string c = "p" + std::to_string(i);
      AppendCoin(t, c, i % 2 ? "Canada" : "Österreich", i % 5 ? "2003-04-05" : "", i);
      if (i % 3 != 0) live.insert(c);
    }
    for (uint32_t r = 1; r <= kRows; r += 3) {
      ASSERT_TRUE(t.GoTo(r));
      t.Delete();
    }
    t.AddIndex("NEWINDEX", kNewIndex);
  }
  auto copy_template = [&](const std::string& to) {
    fs::create_directories(to);
    for (const char* f : {"COINS.DBF", "COINS.MDX"})
      fs::copy_file(tmpl + "/" + f, to + "/" + f, fs::copy_options::overwrite_existing);
  };
  auto pack_in_child = [&](const std::string& dir) {
    return Spawn([&, dir] {
      Table t;
      Bind(t, dir);
      t.SetExclusive(true);
      t.Open();
      t.Pack();
      return kChildOk;
    });
  };
  // One pack to the end measures how long a pack takes here.
  std::string whole = dir_.File("whole");
  copy_template(whole);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Reap(pack_in_child(whole)), kChildOk);
  auto pack_us = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start)
                     .count();
  {
    Table t;
    Bind(t, whole);
    t.Open();
    EXPECT_EQ(t.PhysicalCount(), live.size());
  }

  std::mt19937 rng(1997);
  int packed = 0, rebuilt = 0;
  for (int round = 0; round < 10; ++round) {
    std::string dir = dir_.File("round" + std::to_string(round));
    copy_template(dir);
    auto delay_us = static_cast<int64_t>(rng() % static_cast<uint64_t>(pack_us + 1));
    SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(delay_us) +
                 " of " + std::to_string(pack_us) + " us");
    pid_t child = pack_in_child(dir);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    ::kill(child, SIGKILL);
    int status = Reap(child);
    EXPECT_TRUE(status == 128 + SIGKILL || status == kChildOk) << status;

    ExpectCountWithinFile(dir + "/COINS.DBF");
    Table t;
    ASSERT_NO_THROW(rebuilt += OpenAfterCrash(t, dir));
    EXPECT_EQ(t.DbfPath(), dir + "/COINS.DBF");
    auto problems = t.Check();
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_TRUE(t.PhysicalCount() == kRows || t.PhysicalCount() == live.size())
        << t.PhysicalCount();
    packed += t.PhysicalCount() == live.size();
    EXPECT_EQ(t.RecordCount(), live.size());
    std::set<std::string> seen;
    for (const auto& [comment, recno] : CommentsToRecnos(t)) seen.insert(comment);
    EXPECT_TRUE(seen == live) << seen.size() << " rows instead of " << live.size();
    t.Close();
    ExpectOnlyTableFiles(dir);
    // The next pack clears away what the killed one left.
    {
      Table again;
      Bind(again, dir);
      again.SetExclusive(true);
      again.Open();
      again.Pack();
    }
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    fs::remove_all(dir);
  }
  std::printf("pack %.1f ms; %d of 10 killed packs had replaced the table, %d needed a rebuild\n",
              static_cast<double>(pack_us) / 1000, packed, rebuilt);
}

}  // namespace
}  // namespace klv::dbf
