// The picture store on real coin tables: each picture stays with its coin
// through pack, delete, import and a rewrite by other software that moves
// every row; a kill at any write of an attach or a pack leaves every picture
// attached or listed as unattached; files that are no whole picture are
// refused with their message and attach nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include <sys/stat.h>

#include "base/FaultEnv.h"
#include "db/FieldTable.h"
#include "db/dbf/Table.h"
#include "pictures/PictureStore.h"
#include "pictures/SamplePictures.h"
#include "support/TempDir.h"

namespace klv::pictures {
namespace {

using test::TempDir;

struct Coin {
  std::string country, face, year, description;
};

// Coins 3 and 4 are the same coin twice: only their record numbers tell
// their pictures apart.
const std::vector<Coin> kCoins = {{"USA", "1 Cent", "1909", "Lincoln VDB"},
                                  {"France", "1 Franc", "1960", "Semeuse"},
                                  {"Canada", "5 Cents", "1967", "Centennial"},
                                  {"Canada", "5 Cents", "1967", "Centennial"},
                                  {"Mexico", "1 Peso", "1950", "Morelos"}};

class PictureStoreTest : public ::testing::Test {
 public:
  void SetUp() override {
    path_ = dir_.File("MASTER.DBF");
    dbf::Table::CreateTable(path_, CoinFieldDefs());
    WriteRows(path_, kCoins);
    test::WriteFileBytes(dir_.File("coin.jpg"), test::SampleJpeg());
    test::WriteFileBytes(dir_.File("coin.png"), test::SamplePng());
  }

  static void Bind(dbf::Table& t, const std::string& path) {
    t.SetDirectory(base::DirOf(path));
    t.SetTableName(base::BaseOf(path));
  }

  static void WriteRows(const std::string& path, const std::vector<Coin>& coins) {
    dbf::Table t;
    Bind(t, path);
    t.Open();
    for (const Coin& c : coins) {
      t.Append();
      t.FieldByName("Country").SetAsString(c.country);
      t.FieldByName("FaceValue").SetAsString(c.face);
      t.FieldByName("Year").SetAsString(c.year);
      t.FieldByName("Descriptio").SetAsString(c.description);
      t.Post();
    }
  }

  // Every row, deleted ones too, by record number from 0.
  std::vector<Coin> Rows() {
    dbf::Table t;
    Bind(t, path_);
    t.SetReadOnly(true);
    t.SetIndexOptional(true);
    t.Open();
    t.SetShowDeleted(true);
    std::vector<Coin> rows;
    for (t.First(); !t.Eof(); t.Next())
      rows.push_back({t.FieldByName("Country").AsString(), t.FieldByName("FaceValue").AsString(),
                      t.FieldByName("Year").AsString(), t.FieldByName("Descriptio").AsString()});
    return rows;
  }

  // Each attached picture's file, by the description of its coin and the
  // side; the file's bytes tell which attach made it.
  std::map<std::string, std::string> Listing() {
    PictureStore store(path_);
    store.Load();
    std::vector<Coin> rows = Rows();
    std::map<std::string, std::string> out;
    for (const Picture& p : store.pictures()) {
      std::string description = p.attached() ? rows.at(p.recno - 1).description : "";
      description.erase(0, description.find_first_not_of(' '));
      std::string key = p.attached() ? std::to_string(p.recno) + " " + description + " " +
                                           std::string(SideName(p.side))
                                     : "- " + p.file;
      out[key] = test::ReadFileBytes(store.PathOf(p)) == test::SampleJpeg() ? "jpg" : "png";
    }
    return out;
  }

  void Pack() {
    dbf::Table t;
    Bind(t, path_);
    t.SetExclusive(true);
    t.Open();
    PackKeepingPictures(t);
  }

  // Stores value in field of row recno, through table when given (a table
  // the program follows), else through a table of its own.
  void SetField(uint32_t recno, const char* field, const char* value,
                dbf::Table* table = nullptr) {
    dbf::Table own;
    if (!table) {
      Bind(own, path_);
      own.Open();
      table = &own;
    }
    ASSERT_TRUE(table->GoTo(recno));
    table->Edit();
    table->FieldByName(field).SetAsString(value);
    table->Post();
  }

  void Delete(uint32_t recno) {
    dbf::Table t;
    Bind(t, path_);
    t.Open();
    ASSERT_TRUE(t.GoTo(recno));
    t.Delete();
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(PictureStoreTest, EachPictureStaysWithItsCoin) {
  struct Case {
    const char* what;
    std::function<void(PictureStoreTest&)> change;
    std::map<std::string, std::string> expected;
  };
  const std::vector<Case> cases = {
      {"nothing",
       [](PictureStoreTest&) {},
       {{"1 Lincoln VDB obverse", "jpg"},
        {"2 Semeuse reverse", "png"},
        {"4 Centennial obverse", "png"},
        {"5 Morelos obverse", "jpg"}}},
      {"a row deleted, not packed",
       [](PictureStoreTest& t) { t.Delete(3); },
       {{"1 Lincoln VDB obverse", "jpg"},
        {"2 Semeuse reverse", "png"},
        {"4 Centennial obverse", "png"},
        {"5 Morelos obverse", "jpg"}}},
      {"pack after two deletes",
       [](PictureStoreTest& t) {
         t.Delete(1);
         t.Delete(3);
         t.Pack();
       },
       {{"- 00000001.jpg", "jpg"},
        {"1 Semeuse reverse", "png"},
        {"2 Centennial obverse", "png"},
        {"3 Morelos obverse", "jpg"}}},
      {"rows imported",
       [](PictureStoreTest& t) {
         WriteRows(t.path_, {{"Peru", "1 Sol", "1935", "Llama"}});
       },
       {{"1 Lincoln VDB obverse", "jpg"},
        {"2 Semeuse reverse", "png"},
        {"4 Centennial obverse", "png"},
        {"5 Morelos obverse", "jpg"}}},
      {"rewritten by other software in reverse order, padded differently",
       [](PictureStoreTest& t) {
         std::vector<Coin> rows = t.Rows();
         std::reverse(rows.begin(), rows.end());
         for (Coin& c : rows) c.description = "  " + c.description;
         std::filesystem::remove(t.path_);
         dbf::Table::CreateTable(t.path_, CoinFieldDefs());
         WriteRows(t.path_, rows);
       },
       // Of two rows of one coin, the one nearest the old number takes it.
       {{"5 Lincoln VDB obverse", "jpg"},
        {"4 Semeuse reverse", "png"},
        {"3 Centennial obverse", "png"},
        {"1 Morelos obverse", "jpg"}}},
      {"its coin changed by other software",
       [](PictureStoreTest& t) { t.SetField(5, "Descriptio", "Morelos, small date"); },
       {{"1 Lincoln VDB obverse", "jpg"},
        {"2 Semeuse reverse", "png"},
        {"4 Centennial obverse", "png"},
        {"- 00000004.jpg", "jpg"}}},
      {"its coin changed in the program",
       [](PictureStoreTest& t) {
         dbf::Table table;
         Bind(table, t.path_);
         table.Open();
         CoinFollower follower;
         follower.Follow(table);
         t.SetField(5, "Descriptio", "Morelos, small date", &table);
       },
       {{"1 Lincoln VDB obverse", "jpg"},
        {"2 Semeuse reverse", "png"},
        {"4 Centennial obverse", "png"},
        {"5 Morelos, small date obverse", "jpg"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    PictureStore store(path_);
    store.Attach(1, Side::kObverse, dir_.File("coin.jpg"));
    store.Attach(2, Side::kReverse, dir_.File("coin.png"));
    store.Attach(4, Side::kObverse, dir_.File("coin.png"));
    store.Attach(5, Side::kObverse, dir_.File("coin.jpg"));
    c.change(*this);
    EXPECT_EQ(Listing(), c.expected);
    // What was found elsewhere is kept so: a second open agrees.
    EXPECT_EQ(Listing(), c.expected);
    std::filesystem::remove_all(dir_.File("MASTER.PIC"));
    std::filesystem::remove(path_);
  }
}

// The index file's identity and time: which posts wrote it.
std::pair<ino_t, int64_t> IndexStamp(const std::string& folder) {
  struct stat st {};
  if (::stat((folder + "PICTURES.DBF").c_str(), &st) != 0) return {};
  return {st.st_ino, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

TEST_F(PictureStoreTest, AFollowedTableKeepsEachPictureWithItsEditedCoinAndWritesOnlyForThem) {
  PictureStore store(path_);
  store.Attach(1, Side::kObverse, dir_.File("coin.jpg"));
  store.Attach(2, Side::kReverse, dir_.File("coin.png"));
  dbf::Table table;
  Bind(table, path_);
  table.Open();
  CoinFollower follower;
  follower.Follow(table);
  const auto edit = [&](uint32_t recno, const char* field, const char* value) {
    SetField(recno, field, value, &table);
  };
  struct Case {
    const char* what;
    uint32_t recno;
    const char* field;
    const char* value;
    bool writes;
  };
  const Case cases[] = {
      {"a coin without pictures", 3, "Country", "Kanada", false},
      {"a field that does not name the coin", 1, "Condition", "Fine", false},
      {"the same value again", 2, "Year", "1960", false},
      {"the country of a coin with a picture", 1, "Country", "United States", true},
      {"the year of one", 2, "Year", "1961", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = IndexStamp(store.folder());
    edit(c.recno, c.field, c.value);
    EXPECT_EQ(IndexStamp(store.folder()) != before, c.writes);
    EXPECT_EQ(Listing(), (std::map<std::string, std::string>{{"1 Lincoln VDB obverse", "jpg"},
                                                             {"2 Semeuse reverse", "png"}}));
  }

  // Another copy attaches a picture between two posts: the follower sees it.
  PictureStore(path_).Attach(5, Side::kReverse, dir_.File("coin.png"));
  edit(5, "Descriptio", "Hidalgo");
  // Many changes gathered are written once, when the gathering ends.
  {
    const auto before = IndexStamp(store.folder());
    CoinFollower::Gathering gathering(follower);
    edit(1, "Descriptio", "Wheat");
    edit(2, "Descriptio", "Sower");
    edit(5, "Year", "1951");
    EXPECT_EQ(IndexStamp(store.folder()), before);
    gathering.End();
    EXPECT_NE(IndexStamp(store.folder()), before);
  }
  EXPECT_EQ(Listing(), (std::map<std::string, std::string>{{"1 Wheat obverse", "jpg"},
                                                           {"2 Sower reverse", "png"},
                                                           {"5 Hidalgo reverse", "png"}}));
}

TEST_F(PictureStoreTest, LoadingOnTheCallersTableSeesEveryRowAndPutsItsCursorBack) {
  // Coins 3 and 4 are the same coin; a search shows coin 3 only.
  SetField(3, "Condition", "Fine");
  PictureStore(path_).Attach(4, Side::kObverse, dir_.File("coin.png"));
  dbf::Table table;
  Bind(table, path_);
  table.Open();
  table.AddIndex("BYYEAR", "Year");
  table.SetIndexName("BYYEAR");
  table.SetOnFilterRecord(
      [](dbf::Table& t) { return t.FieldByName("Condition").AsString() == "Fine"; });
  table.SetFiltered(true);
  ASSERT_EQ(table.RecNo(), 3u);
  PictureStore store(path_);
  store.Load(table);
  // The picture stays with coin 4, hidden by the search, and is not given
  // to its twin.
  ASSERT_NE(store.Find(4, Side::kObverse), nullptr);
  EXPECT_EQ(store.Find(3, Side::kObverse), nullptr);
  EXPECT_EQ(Listing(), (std::map<std::string, std::string>{{"4 Centennial obverse", "png"}}));
  EXPECT_EQ(table.RecNo(), 3u);
  EXPECT_TRUE(table.Filtered());
  EXPECT_EQ(table.IndexName(), "BYYEAR");
}

TEST_F(PictureStoreTest, AnUnattachedPictureCanBeAttachedAgainAndRemoved) {
  PictureStore store(path_);
  store.Attach(1, Side::kObverse, dir_.File("coin.jpg"));
  Delete(1);
  Pack();
  store.Load();
  ASSERT_EQ(store.Unattached().size(), 1u);
  store.Reattach(store.Unattached()[0].file, 3, Side::kReverse);
  EXPECT_EQ(Listing(), (std::map<std::string, std::string>{{"3 Centennial reverse", "jpg"}}));
  EXPECT_TRUE(store.Remove(3, Side::kReverse));
  EXPECT_FALSE(store.Remove(3, Side::kReverse));
  EXPECT_TRUE(Listing().empty());
  // Replacing a side's picture leaves one picture there.
  store.Attach(2, Side::kObverse, dir_.File("coin.jpg"));
  store.Attach(2, Side::kObverse, dir_.File("coin.png"));
  EXPECT_EQ(Listing(), (std::map<std::string, std::string>{{"2 Centennial obverse", "png"}}));
  // A loose picture chosen from the folder itself, as the file dialog or
  // the tool gives it, is attached again as it is, not copied beside itself.
  store.Remove(2, Side::kObverse);
  store.Attach(4, Side::kReverse, dir_.File("coin.jpg"));
  Delete(4);
  Pack();
  store.Load();
  ASSERT_EQ(store.Unattached().size(), 1u);
  const std::string loose = store.Unattached()[0].file;
  store.Attach(2, Side::kObverse, store.folder() + "../MASTER.PIC/" + loose);
  store.Load();
  EXPECT_TRUE(store.Unattached().empty());
  ASSERT_NE(store.Find(2, Side::kObverse), nullptr);
  EXPECT_EQ(store.Find(2, Side::kObverse)->file, loose);
  EXPECT_EQ(store.pictures().size(), 1u);
}

TEST_F(PictureStoreTest, FilesThatAreNoWholePictureAttachNothing) {
  const std::string jpeg = test::SampleJpeg(), png = test::SamplePng();
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"cut.jpg", jpeg.substr(0, jpeg.size() - 40),
       "The picture \"cut.jpg\" is incomplete: the file ends before the picture does."},
      {"header.jpg", jpeg.substr(0, 200),
       "The picture \"header.jpg\" is incomplete: the file ends before the picture does."},
      {"cut.png", png.substr(0, 60),
       "The picture \"cut.png\" is incomplete: the file ends before the picture does."},
      {"notes.png", "These are my notes, not a picture.\n",
       "The file \"notes.png\" is not a picture this program can keep: only JPEG, PNG and WebP "
       "pictures can be attached."},
      {"empty.webp", "",
       "The file \"empty.webp\" is not a picture this program can keep: only JPEG, PNG and WebP "
       "pictures can be attached."},
  };
  PictureStore store(path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(dir_.File(c.name), c.bytes);
    try {
      store.Attach(1, Side::kObverse, dir_.File(c.name));
      ADD_FAILURE() << "attached";
    } catch (const base::Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
  try {
    store.Attach(1, Side::kObverse, dir_.File("missing.jpg"));
    ADD_FAILURE() << "attached";
  } catch (const base::Error& e) {
    EXPECT_EQ(std::string(e.what()),
              "The file \"" + dir_.File("missing.jpg") + "\" cannot be read.");
  }
  try {
    store.Attach(9, Side::kObverse, dir_.File("coin.jpg"));
    ADD_FAILURE() << "attached";
  } catch (const base::Error& e) {
    EXPECT_EQ(std::string(e.what()), "There is no coin with record number 9.");
  }
  store.Load();
  EXPECT_TRUE(store.pictures().empty());
}

// Every picture file in the folder is listed, attached or not.
void ExpectEveryFileListed(const std::string& dbf) {
  PictureStore store(dbf);
  store.Load();
  std::set<std::string> listed, files;
  for (const Picture& p : store.pictures()) listed.insert(p.file);
  for (const auto& e : std::filesystem::directory_iterator(FolderOf(dbf))) {
    std::string name = e.path().filename().string();
    const bool picture =
        name.find(".jpg") != std::string::npos || name.find(".png") != std::string::npos;
    if (picture && name.substr(name.size() - 4) != ".tmp") files.insert(name);
  }
  EXPECT_EQ(listed, files);
}

// The small pictures a viewer would have cached of the picture attached to
// the row's side.
std::vector<std::string> CacheOf(const std::string& dbf, uint32_t recno, Side side) {
  PictureStore store(dbf);
  store.Load();
  const Picture* p = store.Find(recno, side);
  if (!p) return {};
  return {store.folder() + "thumbs/" + p->file + ".24.png",
          store.folder() + "thumbs/" + p->file + ".64.png"};
}

void MakeCache(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    test::WriteFileBytes(file, test::SamplePng());
  }
}

TEST_F(PictureStoreTest, AKillAtAnyWriteOfAnAttachLosesNoPicture) {
  PictureStore(path_).Attach(2, Side::kObverse, dir_.File("coin.png"));
  const std::map<std::string, std::string> before = Listing();
  const std::vector<std::string> old_cache = CacheOf(path_, 2, Side::kObverse);
  bool finished = false;
  for (int n = 1; !finished && n < 400; ++n) {
    SCOPED_TRACE(n);
    MakeCache(old_cache);
    {
      base::FaultEnv faults(base::Env::Default());
      faults.SetSticky(true);
      faults.FailAt(n);
      try {
        PictureStore(path_, faults).Attach(2, Side::kObverse, dir_.File("coin.jpg"));
      } catch (const base::Error&) {
      }
      finished = !faults.fired();
    }
    ExpectEveryFileListed(path_);
    std::map<std::string, std::string> now = Listing();
    // The old picture's small pictures stay while it is attached, and go
    // with it when the attach runs to its end (a kill may leave them for
    // the next change).
    const bool replaced = CacheOf(path_, 2, Side::kObverse) != old_cache;
    for (const std::string& file : old_cache) {
      EXPECT_TRUE(replaced || std::filesystem::exists(file)) << file;
      EXPECT_FALSE(finished && std::filesystem::exists(file)) << file;
    }
    if (finished) {
      EXPECT_EQ(now, (std::map<std::string, std::string>{{"2 Semeuse obverse", "jpg"}}));
    } else {
      // Either the old picture is still attached or the new one is.
      ASSERT_TRUE(now.count("2 Semeuse obverse"));
      for (auto& [key, kind] : now) {
        if (key != "2 Semeuse obverse") {
          EXPECT_EQ(key[0], '-');
        }
      }
      // Put back as before for the next kill.
      std::filesystem::remove_all(dir_.File("MASTER.PIC"));
      PictureStore(path_).Attach(2, Side::kObverse, dir_.File("coin.png"));
      ASSERT_EQ(Listing(), before);
    }
  }
  EXPECT_TRUE(finished);
}

TEST_F(PictureStoreTest, AKillAtAnyWriteOfAPackLeavesEachPictureWithItsCoin) {
  bool finished = false;
  for (int n = 1; !finished && n < 2000; ++n) {
    SCOPED_TRACE(n);
    std::filesystem::remove_all(dir_.File("MASTER.PIC"));
    std::filesystem::remove(path_);
    std::filesystem::remove(dir_.File("MASTER.MDX"));
    dbf::Table::CreateTable(path_, CoinFieldDefs());
    WriteRows(path_, kCoins);
    PictureStore store(path_);
    store.Attach(3, Side::kObverse, dir_.File("coin.jpg"));
    store.Attach(4, Side::kObverse, dir_.File("coin.png"));
    store.Attach(5, Side::kReverse, dir_.File("coin.png"));
    Delete(1);
    Delete(2);
    {
      base::FaultEnv faults(base::Env::Default());
      faults.SetSticky(true);
      faults.FailAt(n);
      try {
        dbf::Table t(faults);
        Bind(t, path_);
        t.SetExclusive(true);
        t.Open();
        PackKeepingPictures(t, {}, faults);
      } catch (const base::Error&) {
      }
      finished = !faults.fired();
    }
    const bool packed = Rows().size() == 3;
    const std::map<std::string, std::string> expected =
        packed ? std::map<std::string, std::string>{{"1 Centennial obverse", "jpg"},
                                                    {"2 Centennial obverse", "png"},
                                                    {"3 Morelos reverse", "png"}}
               : std::map<std::string, std::string>{{"3 Centennial obverse", "jpg"},
                                                    {"4 Centennial obverse", "png"},
                                                    {"5 Morelos reverse", "png"}};
    EXPECT_EQ(Listing(), expected);
    if (finished) {
      EXPECT_TRUE(packed);
    }
  }
  EXPECT_TRUE(finished);
}

TEST_F(PictureStoreTest, ExportCopiesThePicturesOfTheExportedRows) {
  PictureStore store(path_);
  store.Attach(2, Side::kObverse, dir_.File("coin.jpg"));
  store.Attach(4, Side::kReverse, dir_.File("coin.png"));
  store.Attach(5, Side::kObverse, dir_.File("coin.png"));
  const std::string out = dir_.File("OUT.DBF");
  dbf::Table::CreateTable(out, CoinFieldDefs());
  WriteRows(out, {kCoins[4], kCoins[1]});
  CopyPicturesOfRows(path_, out, {5, 2});
  PictureStore copy(out);
  copy.Load();
  ASSERT_EQ(copy.pictures().size(), 2u);
  EXPECT_EQ(test::ReadFileBytes(copy.PathOf(*copy.Find(1, Side::kObverse))), test::SamplePng());
  EXPECT_EQ(test::ReadFileBytes(copy.PathOf(*copy.Find(2, Side::kObverse))), test::SampleJpeg());
  // A new table of the same name starts with none; the old folder is kept.
  EXPECT_EQ(SetAsideFolder(out), dir_.File("OUT.PIC.1"));
  copy.Load();
  EXPECT_TRUE(copy.pictures().empty());
  EXPECT_TRUE(std::filesystem::exists(dir_.File("OUT.PIC.1/PICTURES.DBF")));
}

// The cached small pictures of a picture go with its copy, also those that
// older versions left of pictures long gone; others' stay, and no new
// picture takes the name of one whose small pictures are gone.
TEST_F(PictureStoreTest, SmallPicturesGoWithTheirPicture) {
  PictureStore store(path_);
  store.Attach(1, Side::kObverse, dir_.File("coin.jpg"));  // 00000001.jpg
  store.Attach(2, Side::kObverse, dir_.File("coin.png"));  // 00000002.png
  store.Attach(3, Side::kReverse, dir_.File("coin.jpg"));  // 00000003.jpg
  test::WriteFileBytes(dir_.File("MASTER.PIC/stray.png"), test::SamplePng());
  const std::string thumbs = dir_.File("MASTER.PIC/thumbs") + "/";
  MakeCache({thumbs + "00000001.jpg.24.png", thumbs + "00000001.jpg.64.png",
             thumbs + "00000002.png.64.png", thumbs + "00000003.jpg.64.png",
             thumbs + "stray.png.64.png", thumbs + "coin 9.jpg.64.png", thumbs + "notes.txt"});
  auto cache = [&] {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(thumbs))
      names.insert(e.path().filename().string());
    return names;
  };
  struct Step {
    std::function<void()> change;
    std::string file_of_row_2;  // the obverse of row 2 afterwards
    std::set<std::string> cache;
  };
  const std::vector<Step> steps = {
      // Replaced: the old picture's small pictures go, and the one of a
      // picture no longer in the folder.
      {[&] { store.Attach(1, Side::kObverse, dir_.File("coin.png")); },
       "00000002.png",
       {"00000002.png.64.png", "00000003.jpg.64.png", "stray.png.64.png", "notes.txt"}},
      {[&] { EXPECT_TRUE(store.Remove(2, Side::kObverse)); },
       "",
       {"00000003.jpg.64.png", "stray.png.64.png", "notes.txt"}},
      // The highest number is gone with its small pictures, and is not
      // given again.
      {[&] {
         MakeCache({thumbs + "00000004.png.64.png"});
         EXPECT_TRUE(store.Remove(1, Side::kObverse));
         store.Attach(2, Side::kObverse, dir_.File("coin.jpg"));
       },
       "00000005.jpg",
       {"00000003.jpg.64.png", "stray.png.64.png", "notes.txt"}},
      {[&] { store.Reattach("stray.png", 2, Side::kObverse); },
       "stray.png",
       {"00000003.jpg.64.png", "stray.png.64.png", "notes.txt"}},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    steps[i].change();
    store.Load();
    const Picture* p = store.Find(2, Side::kObverse);
    EXPECT_EQ(p ? p->file : "", steps[i].file_of_row_2);
    EXPECT_EQ(cache(), steps[i].cache);
  }
  // Opening reads no more of the cache than before: nothing goes.
  MakeCache({thumbs + "gone.jpg.64.png"});
  store.Load();
  EXPECT_TRUE(cache().count("gone.jpg.64.png"));
}

// A copy of the table without its production index (only the .DBF and its
// pictures' folder) lists the same pictures and is left byte for byte as it
// was, with no index made for it.
TEST_F(PictureStoreTest, ACopyWithoutItsIndexKeepsItsPictures) {
  {
    dbf::Table t;
    Bind(t, path_);
    t.Open();
    t.AddIndex("COUNTRY", "Country");
  }
  PictureStore store(path_);
  store.Attach(2, Side::kObverse, dir_.File("coin.jpg"));
  store.Attach(4, Side::kReverse, dir_.File("coin.png"));
  const std::string bare = dir_.File("bare/MASTER.DBF");
  std::filesystem::create_directories(dir_.File("bare"));
  std::filesystem::copy_file(path_, bare);
  std::filesystem::copy(dir_.File("MASTER.PIC"), dir_.File("bare/MASTER.PIC"));
  const std::string bytes = test::ReadFileBytes(bare);
  ASSERT_EQ(uint8_t(bytes.at(28)), 1u);  // the header says it has an index
  const std::map<std::string, std::string> listed = Listing();
  path_ = bare;
  EXPECT_EQ(Listing(), listed);
  EXPECT_EQ(listed, (std::map<std::string, std::string>{{"2 Semeuse obverse", "jpg"},
                                                        {"4 Centennial reverse", "png"}}));
  EXPECT_EQ(test::ReadFileBytes(bare), bytes);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("bare/MASTER.MDX")));
}

}  // namespace
}  // namespace klv::pictures
