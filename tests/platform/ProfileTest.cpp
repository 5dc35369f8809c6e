#include "platform/Profile.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/Env.h"
#include "base/Error.h"
#include "base/FaultEnv.h"
#include "support/TempDir.h"

namespace klv::platform {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

class ProfileTest : public testing::Test {
 protected:
  std::string Path() const { return dir_.File("TEST.INI"); }
  test::TempDir dir_;
};

TEST_F(ProfileTest, MissingFileGivesDefaultsAndIsNotCreatedByReading) {
  ProfileFile file(Q(Path()));
  EXPECT_FALSE(file.existed());
  EXPECT_EQ(file.GetString("Misc", "Key", "dflt"), "dflt");
  EXPECT_EQ(file.GetInt("Misc", "Key", 42), 42);
  file.Save();  // nothing changed: nothing written
  EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(ProfileTest, NamesMatchWithoutCaseAndTheFirstMatchWins) {
  test::WriteFileBytes(Path(),
       "; a comment=with equals\n"
       "[ Misc ]\n"
       "  Button Bar = 2  \n"
       "button bar=3\n"
       "Empty=\n"
       "[misc]\n"
       "Only Later=1\n"
       "[Other]\n"
       "Button Bar=9\n");
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetString("MISC", "BUTTON BAR", "x"), "2");
  EXPECT_EQ(file.GetInt("misc", "button bar", 0), 2);
  // A present key with an empty value is not missing.
  EXPECT_EQ(file.GetString("Misc", "Empty", "dflt"), "");
  // Keys in a second section of the same name are never seen.
  EXPECT_EQ(file.GetString("Misc", "Only Later", "none"), "none");
  EXPECT_EQ(file.GetString("other", "button bar", ""), "9");
  // Comments are not entries, and text before the first section belongs to none.
  EXPECT_EQ(file.GetString("", "; a comment", "none"), "none");
}

TEST_F(ProfileTest, IntegersTakeTheLeadingDigitsElseTheDefault) {
  test::WriteFileBytes(Path(),
                       "[S]\nPlain=640\nSuffix=12px\nNegative=-8\nPlus=+5\nWord=abc\nEmpty=\n"
                       "Huge=99999999999\nMin=-2147483648\nSpaced= 7 \nQuoted=\" 12 \"\n");
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetInt("S", "Plain", 1), 640);
  EXPECT_EQ(file.GetInt("S", "Suffix", 1), 12);
  EXPECT_EQ(file.GetInt("S", "Negative", 1), -8);
  EXPECT_EQ(file.GetInt("S", "Plus", 1), 5);
  EXPECT_EQ(file.GetInt("S", "Word", 1), 1);
  EXPECT_EQ(file.GetInt("S", "Empty", 1), 1);
  EXPECT_EQ(file.GetInt("S", "Huge", 1), 1);
  EXPECT_EQ(file.GetInt("S", "Min", 1), -2147483647 - 1);
  EXPECT_EQ(file.GetInt("S", "Spaced", 1), 7);
  EXPECT_EQ(file.GetInt("S", "Quoted", 1), 12);
}

TEST_F(ProfileTest, AWriteChangesOnlyItsOwnLine) {
  const std::string before =
      "; settings\n"
      "\n"
      "[Misc]\n"
      "Button Bar = 1   \n"
      "   ; keep me\n"
      "Last Database=/a/b.dbf\n"
      "junk line without equals\n"
      "\n"
      "; about the next section\n"
      "[Defaults]\n"
      "Country=Peru\n";
  test::WriteFileBytes(Path(), before);
  ProfileFile file(Q(Path()));
  file.SetString("misc", "BUTTON BAR", "3");
  file.Save();
  std::string expected = before;
  expected.replace(expected.find("Button Bar = 1   "), 17, "Button Bar = 3");
  EXPECT_EQ(test::ReadFileBytes(Path()), expected);
}

TEST_F(ProfileTest, NewKeysFollowTheirSectionsLastEntryAndNewSectionsEndTheFile) {
  test::WriteFileBytes(Path(),
       "[Misc]\n"
       "A=1\n"
       "\n"
       "; about B\n"
       "[B]\n"
       "X=1");  // no line end on the last line
  ProfileFile file(Q(Path()));
  file.SetString("Misc", "New Key", "v");
  file.SetString("b", "Y", "2");
  file.SetString("Fresh", "K", "z");
  file.Save();
  EXPECT_EQ(test::ReadFileBytes(Path()),
            "[Misc]\n"
            "A=1\n"
            "New Key=v\n"
            "\n"
            "; about B\n"
            "[B]\n"
            "X=1\n"
            "Y=2\n"
            "\n"
            "[Fresh]\n"
            "K=z\n");
}

TEST_F(ProfileTest, FileAndSectionAreCreatedOnFirstWriteWithLfEnds) {
  WriteProfileString(Q(Path()), "Misc", "Button Bar", "1");
  WriteProfileString(Q(Path()), "Misc", "Show Tips", "Yes");
  WriteProfileString(Q(Path()), "Defaults", "Year", "1997");
  EXPECT_EQ(test::ReadFileBytes(Path()), "[Misc]\nButton Bar=1\nShow Tips=Yes\n\n[Defaults]\nYear=1997\n");
  EXPECT_EQ(ReadProfileString(Q(Path()), "defaults", "year", ""), "1997");
  EXPECT_EQ(ReadProfileInt(Q(Path()), "MISC", "button bar", 0), 1);
}

TEST_F(ProfileTest, CrlfFilesStayCrlf) {
  test::WriteFileBytes(Path(), "[Misc]\r\nA=1\r\n\r\n[B]\r\nX=1\r\n");
  ProfileFile file(Q(Path()));
  file.SetString("Misc", "A", "2");
  file.SetString("Misc", "C", "3");
  file.SetString("New", "K", "v");
  file.Save();
  EXPECT_EQ(test::ReadFileBytes(Path()), "[Misc]\r\nA=2\r\nC=3\r\n\r\n[B]\r\nX=1\r\n\r\n[New]\r\nK=v\r\n");
}

TEST_F(ProfileTest, ValuesReadBackExactlyAsWritten) {
  const QString values[] = {"  two leading blanks",
                            "trailing blank ",
                            "\"quoted\"",
                            "'single'",
                            "\"",
                            "it's",
                            "a = b ; c",
                            "",
                            "Ärger €"};
  {
    ProfileFile file(Q(Path()));
    int i = 0;
    for (const QString& v : values) file.SetString("S", QString("K%1").arg(i++), v);
    file.Save();
  }
  ProfileFile file(Q(Path()));
  int i = 0;
  for (const QString& v : values) EXPECT_EQ(file.GetString("S", QString("K%1").arg(i++), "?"), v);
}

TEST_F(ProfileTest, HandWrittenValuesAreTrimmedAndUnquoted) {
  test::WriteFileBytes(Path(), "[S]\nA=  padded\t \nB=\"  kept  \"\nC='x'\nD=\"half\n");
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetString("S", "A", ""), "padded");
  EXPECT_EQ(file.GetString("S", "B", ""), "  kept  ");
  EXPECT_EQ(file.GetString("S", "C", ""), "x");
  EXPECT_EQ(file.GetString("S", "D", ""), "\"half");
}

TEST_F(ProfileTest, ALineBreakInAValueCannotAddLines) {
  ProfileFile file(Q(Path()));
  file.SetString("S", "Caption", "one\n[Evil]\r\nK=v");
  file.Save();
  ProfileFile again(Q(Path()));
  EXPECT_EQ(again.GetString("S", "Caption", ""), "one [Evil]  K=v");
  EXPECT_EQ(again.GetString("Evil", "K", "none"), "none");
}

TEST_F(ProfileTest, NamesThatCannotBeStoredAreRefused) {
  ProfileFile file(Q(Path()));
  EXPECT_THROW(file.SetString("S", "a=b", "v"), std::invalid_argument);
  EXPECT_THROW(file.SetString("S", ";k", "v"), std::invalid_argument);
  EXPECT_THROW(file.SetString("S", "", "v"), std::invalid_argument);
  EXPECT_THROW(file.SetString("a]b", "k", "v"), std::invalid_argument);
  EXPECT_THROW(file.SetString("S", "k\nx", "v"), std::invalid_argument);
  // Read back, a line's leading U+FEFF is taken for a byte-order mark.
  EXPECT_THROW(file.SetString("S", QString::fromUtf8(" \uFEFF[X]"), "v"), std::invalid_argument);
  EXPECT_FALSE(file.modified());
}

TEST_F(ProfileTest, WindowsEncodedFilesAreReadAndKeepTheirEncoding) {
  test::WriteFileBytes(Path(),
       "[Field Names]\nUserDef1=Ann\xE9"
       "e\n");
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetString("Field Names", "UserDef1", ""), QString::fromUtf8("Année"));
  file.SetString("Field Names", "UserDef2", QString::fromUtf8("Qualité"));
  file.SetString("Field Names", "UserDef3", QString::fromUtf8("Rubel ₽"));  // not in cp1252
  file.Save();
  EXPECT_EQ(test::ReadFileBytes(Path()),
            "[Field Names]\nUserDef1=Ann\xE9"
            "e\nUserDef2=Qualit\xE9\nUserDef3=Rubel \xE2\x82\xBD\n");
  ProfileFile again(Q(Path()));
  EXPECT_EQ(again.GetString("Field Names", "UserDef2", ""), QString::fromUtf8("Qualité"));
  EXPECT_EQ(again.GetString("Field Names", "UserDef3", ""), QString::fromUtf8("Rubel ₽"));
}

TEST_F(ProfileTest, WritesIntoAWindowsEncodedFileReadBackAsWritten) {
  test::WriteFileBytes(Path(),
                       "[S]\nGr\xF6\xDF"
                       "e=1\n");
  ProfileFile file(Q(Path()));
  const QString size = QString::fromUtf8("Größe");
  // A value outside Windows-1252 behind a key in it; a new key likewise; and
  // text whose Windows-1252 bytes are UTF-8 of other text.
  file.SetString("S", size, QString::fromUtf8("Ω 5"));
  file.SetString("S", QString::fromUtf8("Maß"), QString::fromUtf8("₽"));
  file.SetString("S", "Preis", QString::fromUtf8("Ã©"));
  file.Save();
  EXPECT_EQ(test::ReadFileBytes(Path()),
            "[S]\nGr\xC3\xB6\xC3\x9F"
            "e=\xCE\xA9 5\nMa\xC3\x9F=\xE2\x82\xBD\n"
            "Preis=\xC3\x83\xC2\xA9\n");
  ProfileFile again(Q(Path()));
  EXPECT_EQ(again.GetString("S", size, ""), QString::fromUtf8("Ω 5"));
  EXPECT_EQ(again.GetString("S", QString::fromUtf8("Maß"), ""), QString::fromUtf8("₽"));
  EXPECT_EQ(again.GetString("S", "Preis", ""), QString::fromUtf8("Ã©"));
}

TEST_F(ProfileTest, AByteOrderMarkDoesNotHideTheFirstSection) {
  test::WriteFileBytes(Path(), "\xEF\xBB\xBF[Misc]\nA=1\n");
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetString("Misc", "A", ""), "1");
  file.SetString("Misc", "A", "2");
  file.Save();
  EXPECT_EQ(test::ReadFileBytes(Path()), "\xEF\xBB\xBF[Misc]\nA=2\n");
}

TEST_F(ProfileTest, SaveKeepsKeysAnotherWriterAddedMeanwhile) {
  test::WriteFileBytes(Path(), "[Misc]\nA=1\n");
  ProfileFile mine(Q(Path()));
  WriteProfileString(Q(Path()), "Misc", "B", "other process");
  mine.SetString("Misc", "A", "2");
  mine.Save();
  ProfileFile file(Q(Path()));
  EXPECT_EQ(file.GetString("Misc", "A", ""), "2");
  EXPECT_EQ(file.GetString("Misc", "B", ""), "other process");
}

TEST_F(ProfileTest, SaveKeepsThePermissionsAndWritesThroughALink) {
  test::WriteFileBytes(Path(), "[Misc]\nA=1\n");
  ::chmod(Path().c_str(), 0600);
  const std::string link = dir_.File("link.ini");
  std::filesystem::create_symlink(Path(), link);
  WriteProfileString(Q(link), "Misc", "A", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::ReadFileBytes(Path()), "[Misc]\nA=2\n");
  struct stat st;
  ASSERT_EQ(::stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Fails the nth mutating file operation from 1 upwards until a save gets
// through: every failure must throw and leave the old file whole, with no
// temporary file behind.
TEST_F(ProfileTest, AFailedSaveLeavesTheFileAsItWas) {
  const std::string before = "; mine\r\n[Misc]\r\nA=1\r\n";
  test::WriteFileBytes(Path(), before);
  base::FaultEnv env(base::Env::Default());
  for (int n = 1;; ++n) {
    ASSERT_LT(n, 20) << "the save never succeeded";
    ProfileFile file(Q(Path()), &env);
    file.SetString("Misc", "A", "2");
    env.FailAt(n);
    try {
      file.Save();
    } catch (const base::Error&) {
      EXPECT_TRUE(env.fired());
      EXPECT_EQ(test::ReadFileBytes(Path()), before) << "fault at operation " << n;
      EXPECT_TRUE(file.modified());
      int entries = 0;
      for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
        (void)e;
        ++entries;
      }
      EXPECT_EQ(entries, 1) << "fault at operation " << n;
      continue;
    }
    EXPECT_FALSE(env.fired());
    break;
  }
  env.FailAt(0);
  EXPECT_EQ(test::ReadFileBytes(Path()), "; mine\r\n[Misc]\r\nA=2\r\n");
}

// An Env whose files cannot be read, as a file without read permission.
class UnreadableEnv final : public base::Env {
 public:
  std::unique_ptr<base::File> Open(const std::string& path, base::OpenMode mode) override {
    if (mode == base::OpenMode::kReadOnly && Default().Exists(path)) {
      base::Fail(base::ErrorCode::kIo, "Cannot open \"" + path + "\": Permission denied");
    }
    return Default().Open(path, mode);
  }
  bool Exists(const std::string& path) override { return Default().Exists(path); }
  void Rename(const std::string& from, const std::string& to) override {
    Default().Rename(from, to);
  }
  void Remove(const std::string& path) override { Default().Remove(path); }
  void SyncDir(const std::string& path) override { Default().SyncDir(path); }
};

TEST_F(ProfileTest, AFileThatCannotBeReadIsNeverReplaced) {
  const std::string before = "[Misc]\nA=1\nMany=other keys\n";
  test::WriteFileBytes(Path(), before);
  UnreadableEnv env;
  ProfileFile file(Q(Path()), &env);
  EXPECT_TRUE(file.existed());
  EXPECT_FALSE(file.load_error().isEmpty());
  EXPECT_EQ(file.GetString("Misc", "A", "dflt"), "dflt");
  file.SetString("Misc", "A", "2");
  EXPECT_THROW(file.Save(), base::Error);
  EXPECT_EQ(test::ReadFileBytes(Path()), before);
}

}  // namespace
}  // namespace klv::platform
