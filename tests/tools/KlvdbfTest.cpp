// The command-line tool as scripts use it: exit codes, CSV in and out, and
// all-or-nothing appends.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "pictures/SamplePictures.h"
#include "support/TempDir.h"

namespace {

struct Result {
  int status = -1;
  std::string out;
};

// Runs klvdbf with a shell-quoted argument string; standard error joins the output.
Result Klvdbf(const std::string& args, const std::string& input = "") {
  std::string cmd = std::string(KLVDBF_PATH) + " " + args + " 2>&1";
  std::string in_file;
  if (!input.empty()) {
    // ctest runs each test in its own process, several at once.
    in_file = ::testing::TempDir() + "klvdbf_input" + std::to_string(::getpid()) + ".csv";
    std::ofstream(in_file, std::ios::binary) << input;
    cmd += " < " + in_file;
  }
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = ::pclose(p);
  if (!in_file.empty()) std::remove(in_file.c_str());
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class KlvdbfTest : public ::testing::Test {
 protected:
  std::string Db() { return "'" + dir_.File("C.DBF") + "'"; }
  klv::test::TempDir dir_;
};

TEST_F(KlvdbfTest, CreateAppendDumpInIndexOrder) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  Result a = Klvdbf("append " + Db(),
                    "Country,FaceValue,PurchasePr,Quantity,PurchDate,Comment\r\n"
                    "Peru,1 Sol,2.50,3,2020-01-31,\"said \"\"fine\"\", ok\"\r\n"
                    "Chile,,,,,\"two\nlines\"\r\n");
  ASSERT_EQ(a.status, 0) << a.out;
  ASSERT_EQ(Klvdbf("index " + Db() + " NEWINDEX 'Upper(Left(Country,80))'").status, 0);
  Result d = Klvdbf("dump " + Db() + " --tag NEWINDEX");
  ASSERT_EQ(d.status, 0) << d.out;
  std::string header = d.out.substr(0, d.out.find("\r\n"));
  EXPECT_EQ(header.substr(0, 25), "COUNTRY,FACEVALUE,YEAR,CO");
  size_t chile = d.out.find("Chile,"), peru = d.out.find("Peru,1 Sol");
  ASSERT_NE(chile, std::string::npos);
  ASSERT_NE(peru, std::string::npos);
  EXPECT_LT(chile, peru);
  EXPECT_NE(d.out.find("\"two\nlines\""), std::string::npos);
  EXPECT_NE(d.out.find("2.50,,,,,2020-01-31,,3,\"said \"\"fine\"\", ok\""), std::string::npos)
      << d.out;
  EXPECT_EQ(Klvdbf("check " + Db()).status, 0);
}

TEST_F(KlvdbfTest, BadValueAppendsNothingAndNamesTheLine) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  Result a = Klvdbf("append " + Db(), "Country,Quantity\nA,1\nB,x\nC,3\n");
  EXPECT_EQ(a.status, 1);
  EXPECT_NE(a.out.find("line 3"), std::string::npos) << a.out;
  EXPECT_NE(a.out.find("nothing appended"), std::string::npos) << a.out;
  Result info = Klvdbf("info " + Db());
  EXPECT_NE(info.out.find("records: 0"), std::string::npos) << info.out;
  a = Klvdbf("append " + Db(), "Country,Nosuch\nA,1\n");
  EXPECT_EQ(a.status, 1);
  EXPECT_NE(a.out.find("Nosuch"), std::string::npos);
}

TEST_F(KlvdbfTest, SetDeletePackAndExitCodes) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country\nA\nB\nC\n").status, 0);
  EXPECT_EQ(Klvdbf("set " + Db() + " 2 Country=Bee Year=1901").status, 0);
  EXPECT_EQ(Klvdbf("delete " + Db() + " 1").status, 0);
  EXPECT_EQ(Klvdbf("delete " + Db() + " 1").status, 1);  // already deleted
  Result d = Klvdbf("dump " + Db() + " --deleted");
  EXPECT_NE(d.out.find("*,A,"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find(",Bee,,1901,"), std::string::npos) << d.out;
  EXPECT_EQ(Klvdbf("pack " + Db()).status, 0);
  EXPECT_NE(Klvdbf("info " + Db()).out.find("records: 2"), std::string::npos);
  EXPECT_EQ(Klvdbf("").status, 2);
  // Every command is in the usage text.
  const std::string usage = Klvdbf("--help").out;
  for (const char* command : {"info", "dump", "create", "append", "set", "delete", "index",
                              "check", "pack", "reindex", "repair", "export", "import", "image",
                              "images"})
    EXPECT_NE(usage.find("\n  " + std::string(command) + " FILE"), std::string::npos) << command;
  EXPECT_EQ(Klvdbf("frobnicate " + Db()).status, 2);
  EXPECT_EQ(Klvdbf("set " + Db() + " zero Country=x").status, 2);
  EXPECT_EQ(Klvdbf("info '" + dir_.File("NONE.DBF") + "'").status, 1);
}

TEST_F(KlvdbfTest, CheckFindsAStaleIndexAndReindexMendsIt) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country\nB\nA\n").status, 0);
  ASSERT_EQ(Klvdbf("index " + Db() + " NEWINDEX 'Upper(Left(Country,80))'").status, 0);
  // Overwrite a key byte inside the index: the tree no longer matches the rows.
  {
    std::fstream f(dir_.File("C.MDX"), std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(f)), {});
    size_t at = bytes.find("A       ");
    ASSERT_NE(at, std::string::npos);
    f.seekp(static_cast<std::streamoff>(at));
    f.put('Z');
  }
  Result c = Klvdbf("check " + Db());
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.out.find("NEWINDEX"), std::string::npos) << c.out;
  EXPECT_EQ(Klvdbf("reindex " + Db()).status, 0);
  EXPECT_EQ(Klvdbf("check " + Db()).status, 0);
}

// A table cut inside its last row opens nowhere; repair keeps the whole
// rows and the index tag, puts the original aside and says what it lost.
TEST_F(KlvdbfTest, RepairKeepsTheWholeRowsOfACutTable) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country\nA\nB\nC\n").status, 0);
  ASSERT_EQ(Klvdbf("index " + Db() + " NEWINDEX 'Upper(Left(Country,80))'").status, 0);
  std::string bytes;
  {
    std::ifstream in(dir_.File("C.DBF"), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  size_t record_len = static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8;
  bytes.resize(bytes.size() - 30);
  std::ofstream(dir_.File("C.DBF"), std::ios::binary | std::ios::trunc) << bytes;
  Result info = Klvdbf("info " + Db());
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.out.find("more than the file holds"), std::string::npos) << info.out;

  Result r = Klvdbf("repair '" + dir_.File("c") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("klvdbf: its header counts 3 rows; the file holds 2 whole rows\n"),
            std::string::npos)
      << r.out;
  std::string c = dir_.File("C");
  // The kept copies are named by the time of the repair: YYYYMMDD-HHMMSS.
  size_t at = r.out.find(".DBF.damaged-");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string stamp = r.out.substr(at + 13, 15);
  EXPECT_TRUE(stamp.find_first_not_of("0123456789-") == std::string::npos && stamp[8] == '-');
  EXPECT_NE(
      r.out.find(c + ".DBF repaired: 2 rows kept (0 deleted), 1 row lost, " +
                 std::to_string(record_len - 29) +
                 " bytes not kept, 1 index tag rebuilt; the original is now " + c +
                 ".DBF.damaged-" + stamp + " and its index " + c + ".MDX.damaged-" + stamp + "\n"),
      std::string::npos)
      << r.out;
  EXPECT_EQ(Klvdbf("check " + Db()).status, 0);
  Result d = Klvdbf("dump " + Db() + " --tag NEWINDEX");
  EXPECT_NE(d.out.find("\r\nA,"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("\r\nB,"), std::string::npos) << d.out;
  EXPECT_EQ(d.out.find("\r\nC,"), std::string::npos) << d.out;

  // A sound table repairs with nothing lost; a second kept copy gets its own name.
  r = Klvdbf("repair " + Db());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" repaired: 2 rows kept (0 deleted), 0 rows lost, 0 bytes not kept, 1 "
                       "index tag rebuilt; the original is now "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(".DBF.damaged-" + stamp + " "), std::string::npos) << r.out;
  EXPECT_EQ(Klvdbf("repair " + Db() + " extra").status, 2);
  EXPECT_EQ(Klvdbf("repair '" + dir_.File("NONE.DBF") + "'").status, 1);
  // Descriptors that cannot be read: refused, nothing written.
  std::ofstream(dir_.File("BAD.DBF"), std::ios::binary) << bytes.substr(0, 80);
  r = Klvdbf("repair '" + dir_.File("BAD.DBF") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot be repaired: its field descriptors are cut short"),
            std::string::npos)
      << r.out;
}

}  // namespace

namespace {

TEST_F(KlvdbfTest, PicturesAttachListRemoveAndFollowTheirRows) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country,Year\nPeru,1935\nChile,1940\nBrazil,1950\n").status,
            0);
  klv::test::WriteFileBytes(dir_.File("a.jpg"), klv::test::SampleJpeg());
  klv::test::WriteFileBytes(dir_.File("b.png"), klv::test::SamplePng());
  klv::test::WriteFileBytes(dir_.File("note.png"), "not a picture\n");
  const std::string pic = dir_.File("C.PIC") + "/";
  struct Step {
    std::string args;
    int status;
    std::string out;
  };
  const std::vector<Step> steps = {
      {"image " + Db() + " 1 obverse '" + dir_.File("a.jpg") + "'", 0, ""},
      {"image " + Db() + " 3 reverse '" + dir_.File("b.png") + "'", 0, ""},
      {"image " + Db() + " 2 obverse '" + dir_.File("note.png") + "'", 1,
       "klvdbf: The file \"note.png\" is not a picture this program can keep: only JPEG, PNG "
       "and WebP pictures can be attached.\n"},
      {"image " + Db() + " 4 obverse '" + dir_.File("a.jpg") + "'", 1,
       "klvdbf: There is no coin with record number 4.\n"},
      {"images " + Db(), 0,
       "1\tobverse\t" + pic + "00000001.jpg\n3\treverse\t" + pic + "00000002.png\n"},
      {"delete " + Db() + " 1", 0, ""},
      {"pack " + Db(), 0, ""},
      {"images " + Db(), 0,
       "2\treverse\t" + pic + "00000002.png\n-\tobverse\t" + pic + "00000001.jpg\n"},
      {"image " + Db() + " 2 reverse --remove", 0, ""},
      {"image " + Db() + " 2 reverse --remove", 1, "klvdbf: record 2 has no reverse picture\n"},
      {"images " + Db(), 0, "-\tobverse\t" + pic + "00000001.jpg\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    Result r = Klvdbf(step.args);
    EXPECT_EQ(r.status, step.status);
    EXPECT_EQ(r.out, step.out);
  }
  // A new table of the name starts without pictures.
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  EXPECT_EQ(Klvdbf("images " + Db()).out, "");
}

TEST_F(KlvdbfTest, AnExportToANewTableTakesThePicturesOfItsRows) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country,Year\nPeru,1935\nChile,1940\n").status, 0);
  klv::test::WriteFileBytes(dir_.File("a.jpg"), klv::test::SampleJpeg());
  ASSERT_EQ(Klvdbf("image " + Db() + " 2 obverse '" + dir_.File("a.jpg") + "'").status, 0);
  const std::string out = "'" + dir_.File("OUT.DBF") + "'";
  ASSERT_EQ(Klvdbf("export " + Db() + " " + out + " --kind dbf").status, 0);
  EXPECT_EQ(Klvdbf("images " + out).out, "2\tobverse\t" + dir_.File("OUT.PIC") + "/00000001.jpg\n");
  EXPECT_EQ(klv::test::ReadFileBytes(dir_.File("OUT.PIC/00000001.jpg")), klv::test::SampleJpeg());
}

// A copy of only the table and its pictures (its .MDX left behind) lists
// the same pictures and takes new ones; the copy is not written and gets no
// index.
TEST_F(KlvdbfTest, PicturesOfACopyWithoutItsIndex) {
  ASSERT_EQ(Klvdbf("create " + Db() + " --coin").status, 0);
  ASSERT_EQ(Klvdbf("append " + Db(), "Country,Year\nPeru,1935\nChile,1940\nCuba,1950\n").status, 0);
  ASSERT_EQ(Klvdbf("index " + Db() + " COUNTRY Country").status, 0);
  klv::test::WriteFileBytes(dir_.File("a.jpg"), klv::test::SampleJpeg());
  ASSERT_EQ(Klvdbf("image " + Db() + " 2 obverse '" + dir_.File("a.jpg") + "'").status, 0);
  ASSERT_EQ(Klvdbf("image " + Db() + " 3 reverse '" + dir_.File("a.jpg") + "'").status, 0);
  std::filesystem::create_directories(dir_.File("bare"));
  std::filesystem::copy_file(dir_.File("C.DBF"), dir_.File("bare/C.DBF"));
  std::filesystem::copy(dir_.File("C.PIC"), dir_.File("bare/C.PIC"));
  const std::string bytes = klv::test::ReadFileBytes(dir_.File("bare/C.DBF"));
  ASSERT_EQ(bytes.at(28), 1);  // the header names a production index
  const std::string bare = "'" + dir_.File("bare/C.DBF") + "'";
  const std::string pic = dir_.File("bare/C.PIC") + "/";
  const Result listed = Klvdbf("images " + bare);
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out,
            "2\tobverse\t" + pic + "00000001.jpg\n3\treverse\t" + pic + "00000002.jpg\n");
  EXPECT_EQ(Klvdbf("image " + bare + " 1 obverse '" + dir_.File("a.jpg") + "'").out, "");
  EXPECT_EQ(Klvdbf("images " + bare).out, "1\tobverse\t" + pic + "00000003.jpg\n" + listed.out);
  EXPECT_EQ(klv::test::ReadFileBytes(dir_.File("bare/C.DBF")), bytes);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("bare/C.MDX")));
}

}  // namespace
