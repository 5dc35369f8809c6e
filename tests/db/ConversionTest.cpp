// The tables of the two earlier versions, written by python3-dbf (an
// independent dBase library) the way those versions laid them out:
// recognised by their field lists, offered at start-up, converted row by
// row, deleted afterwards; a conversion that fails takes its rows back and
// keeps the old file.
#include "db/Conversion.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <cstdio>
#include <fstream>

#include "base/FaultEnv.h"
#include "db/DbFiles.h"
#include "db/dbf/Table.h"
#include "support/QtText.h"
#include "support/ScriptedPrompts.h"
#include "support/TempDir.h"

namespace klv::db {
namespace {

using platform::MsgButton;
using test::Q;
using test::TestPrompts;

const char kV2Question[] =
    "A database from a previous version (2.X) has been detected.  Would you like to convert it "
    "now?  NOTE: After conversion the old file will be deleted.  You may wish to make a copy of "
    "\"C2LOG.DBF\" first.";
const char kV1Question[] =
    "A database from a previous version (1.X) has been detected.  Would you like to convert it "
    "now?  NOTE: After conversion the old file will be deleted.  You may wish to make a copy of "
    "\"CLOG.DBF\" first.";

const char kV2Fields[] =
    "ID N(5,0); COUNTRY C(20); FACEVALUE C(20); YEAR N(6,0); CONDITION C(30); MINTMARK C(3); "
    "PURCHASEPR N(12,2); MARKETVALU N(12,2); PREMIUMVAL N(12,2); TOPIC C(20); DESCRIPTIO C(40); "
    "PURCHDATE D; MISCELLANE C(110); QUANTITY N(5,0); COMMENT C(80); YEARBC C(4); "
    "YEARAPPROX C(5)";
const char kV1Fields[] =
    "ID N(5,0); COUNTRY C(20); FACEVALUE C(20); YEAR N(6,0); CONDITION C(30); MINTMARK C(3); "
    "PURCHASEPR N(12,2); MARKETVALU N(12,2); PREMIUMVAL N(12,2); TOPIC C(20); DESCRIPTIO C(40); "
    "PURCHDAY C(4); PURCHMONTH C(4); PURCHYEAR C(4); COMMEMORAT C(3); CONTROLLER C(3); "
    "GOLD C(3); SILVER C(3); QUANTITY N(5,0); COMMENT C(80); YEARBC C(4); YEARAPPROX C(5)";

class ConversionTest : public ::testing::Test {
 protected:
  ConversionTest() {
    master_ = Q(dir_.File("MASTER.DBF"));
    EXPECT_TRUE(MakeNewDB(master_));
    Bind(my_table_);
    my_table_.Open();
  }

  void Bind(dbf::Table& t) {
    t.SetDirectory(dir_.path());
    t.SetTableName("MASTER.DBF");
  }

  // Writes an old table with python3-dbf: fields as its field list, rows as
  // Python tuples.
  void MakeOld(const std::string& name, const char* fields, const std::string& rows) {
    const std::string script = dir_.File("make.py");
    std::ofstream(script) << "import sys, datetime, dbf\n"
                             "t = dbf.Table(sys.argv[1], '"
                          << fields
                          << "', codepage='cp1252')\n"
                             "t.open(dbf.READ_WRITE)\n"
                             "for row in ["
                          << rows
                          << "]:\n"
                             "    t.append(row)\n"
                             "t.close()\n";
    const std::string command = "/usr/bin/python3 '" + script + "' '" + dir_.File(name) + "' 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[512];
    std::string out;
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ASSERT_EQ(::pclose(p), 0) << "python3-dbf: " << out;
  }

  // The coin table's rows, each as the named fields' texts joined by '|'.
  std::vector<std::string> Rows(std::initializer_list<const char*> fields = {"COUNTRY"}) {
    dbf::Table t;
    Bind(t);
    t.SetReadOnly(true);
    t.Open();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (const char* f : fields) row += (row.empty() ? "" : "|") + t.FieldByName(f).AsString();
      rows.push_back(row);
    }
    return rows;
  }

  test::TempDir dir_;
  QString master_;
  dbf::Table my_table_;
};

TEST_F(ConversionTest, VersionTwoRowsAreCopiedAndTheOldFileDeleted) {
  MakeOld("C2LOG.DBF", kV2Fields,
          "(1, 'Peru', '1 Sol', 100, 'Fine', 'D', 1.5, 2.25, 0, 'Ships', 'Galleon', "
          "datetime.date(1995, 5, 7), 'Gold', 3, 'old', 'BC', 'about'),"
          "(2, 'Chile', '5 Pesos', 1901, 'Good', '', 0, 0, 0, '', '', None, '', 1, '', '', ''),"
          "(3, 'Rome', 'As', 100, '', '', 0, 0, 0, '', '', None, '', 0, '', '', 'ABOUT')");
  const QString old = Q(dir_.File("C2LOG.DBF"));
  EXPECT_TRUE(CheckDBaseFormatV2(old));
  EXPECT_FALSE(CheckDBaseFormatV1(old));
  EXPECT_FALSE(CheckDBaseFormatV2(master_));
  TestPrompts().ExpectMessage("Convert", kV2Question, MsgButton::kYes);
  CheckForConversion(nullptr, Q(dir_.path()), my_table_);
  EXPECT_FALSE(QFileInfo::exists(old));
  EXPECT_EQ(Rows({"COUNTRY", "FACEVALUE", "YEAR", "YEARAPPROX", "PURCHDATE", "PURCHASEPR",
                  "MARKETVALU", "MISCELLANE", "QUANTITY", "COMMENT", "WANTED"}),
            (std::vector<std::string>{"Peru|1 Sol|100 BC|Yes|5/7/1995|1.50|2.25|Gold|3|old|",
                                      "Chile|5 Pesos|1901|No||0.00|0.00||1||",
                                      "Rome|As|100|Yes||0.00|0.00||0||"}));
}

TEST_F(ConversionTest, VersionOneDatesAndFlags) {
  MakeOld("CLOG.DBF", kV1Fields,
          "(1, 'Peru', '', 1990, '', '', 0, 0, 0, '', '', '7', 'May', '1995', 'Yes', 'No', "
          "'Yes', 'No', 1, '', '', ''),"
          "(2, 'Peru', '', 1990, '', '', 0, 0, 0, '', '', '7', '5', '1995', 'No', 'No', "
          "'No', 'No', 1, '', 'AD', 'About'),"
          "(3, 'Peru', '', 1990, '', '', 0, 0, 0, '', '', '31', 'Dec', '1999', 'Yes', 'Yes', "
          "'Yes', 'Yes', 1, '', '', '')");
  TestPrompts().ExpectMessage("Convert", kV1Question, MsgButton::kYes);
  CheckForConversion(nullptr, Q(dir_.path()), my_table_);
  EXPECT_FALSE(QFileInfo::exists(Q(dir_.File("CLOG.DBF"))));
  EXPECT_EQ(
      Rows({"PURCHDATE", "MISCELLANE", "YEAR", "YEARAPPROX"}),
      (std::vector<std::string>{"5/7/1995|Commemorative, Gold|1990|No", "5/7/1995||1990 AD|Yes",
                                "12/31/1999|Commemorative, Controller, Gold, Silver|1990|No"}));
}

TEST_F(ConversionTest, NoKeepsTheFileAndAsksAgainAndOtherTablesAreLeftAlone) {
  MakeOld("C2LOG.DBF", kV2Fields,
          "(1, 'Peru', '', 1, '', '', 0, 0, 0, '', '', None, '', 1, '', '', '')");
  // Right name, wrong fields: not an old table, no question.
  MakeOld("CLOG.DBF", "ID N(5,0); COUNTRY C(20)", "(1, 'x')");
  for (int start = 0; start < 2; ++start) {
    TestPrompts().ExpectMessage("Convert", kV2Question, MsgButton::kNo);
    CheckForConversion(nullptr, Q(dir_.path()), my_table_);
    EXPECT_TRUE(QFileInfo::exists(Q(dir_.File("C2LOG.DBF"))));
    EXPECT_TRUE(QFileInfo::exists(Q(dir_.File("CLOG.DBF"))));
  }
  EXPECT_TRUE(Rows().empty());
}

// A row that cannot be converted, or a disk that fails while the rows are
// written: none of the old rows stay, the old file is kept, and a retry
// that succeeds adds each row once.
TEST_F(ConversionTest, AFailedConversionTakesItsRowsBackAndKeepsTheOldFile) {
  MakeOld("CLOG.DBF", kV1Fields,
          "(1, 'Peru', '', 1990, '', '', 0, 0, 0, '', '', '7', 'May', '1995', 'No', 'No', "
          "'No', 'No', 1, '', '', ''),"
          "(2, 'Peru', '', 1990, '', '', 0, 0, 0, '', '', '45', 'Jan', '1995', 'No', 'No', "
          "'No', 'No', 1, '', '', '')");
  TestPrompts().ExpectMessage("Convert", kV1Question, MsgButton::kYes);
  TestPrompts().ExpectMessage("Error",
                              "'1/45/1995' is not a valid date\n\nNo rows of the old table were "
                              "added, and the old file was kept.",
                              MsgButton::kOk);
  CheckForConversion(nullptr, Q(dir_.path()), my_table_);
  EXPECT_TRUE(QFileInfo::exists(Q(dir_.File("CLOG.DBF"))));
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(my_table_.RecordCount(), 0u);

  MakeOld("C2LOG.DBF", kV2Fields,
          "(1, 'Peru', '', 1, '', '', 0, 0, 0, '', '', None, '', 1, '', '', ''),"
          "(2, 'Chile', '', 2, '', '', 0, 0, 0, '', '', None, '', 1, '', '', '')");
  base::FaultEnv faults(base::Env::Default());
  for (int64_t n = 1;; ++n) {
    dbf::Table t(faults);
    Bind(t);
    t.Open();
    faults.FailAt(n);
    bool failed = false;
    try {
      ConvertV2(t, Q(dir_.File("C2LOG.DBF")));
    } catch (const dbf::DbfError&) {
      failed = true;
    }
    const bool fired = faults.fired();
    faults.FailAt(0);
    t.Close();
    EXPECT_EQ(failed, fired);
    if (!fired) {
      EXPECT_EQ(Rows().size(), 2u);
      break;
    }
    EXPECT_TRUE(Rows().empty()) << "fault at " << n;
  }
}

// Dates and numbers are copied as values: no display format comes between
// them, neither two-digit years nor a decimal comma.
TEST_F(ConversionTest, VersionTwoDatesAndNumbersKeepTheirValuesUnderAnyDisplayFormat) {
  const dbf::TextFormat formats[] = {{"M/d/yy", '/', '.'}, {"d/M/yy", '.', ','}};
  int n = 0;
  for (const dbf::TextFormat& format : formats) {
    const std::string name = "F" + std::to_string(++n) + ".DBF";
    ASSERT_TRUE(MakeNewDB(Q(dir_.File(name))));
    MakeOld("C2LOG.DBF", kV2Fields,
            "(1, 'Peru', '', 1925, '', '', 1234.5, 0.25, 0, '', '', datetime.date(1925, 3, 1), "
            "'', 3, '', '', ''),"
            "(2, 'Chile', '', 2029, '', '', 0, 0, 0, '', '', datetime.date(2029, 12, 31), '', 0, "
            "'', '', ''),"
            "(3, 'Cuba', '', 1899, '', '', 0, 0, 0, '', '', None, '', 0, '', '', '')");
    dbf::Table t;
    t.SetDirectory(dir_.path());
    t.SetTableName(name);
    t.Open();
    t.SetTextFormat(format);
    ConvertV2(t, Q(dir_.File("C2LOG.DBF")));
    t.First();
    EXPECT_EQ(t.FieldByName("PURCHDATE").AsDate(), (dbf::Date{1925, 3, 1})) << format.short_date;
    EXPECT_EQ(t.FieldByName("PURCHASEPR").AsFloat(), 1234.5);
    EXPECT_EQ(t.FieldByName("MARKETVALU").AsFloat(), 0.25);
    EXPECT_EQ(t.FieldByName("QUANTITY").AsInteger(), 3);
    t.Next();
    EXPECT_EQ(t.FieldByName("PURCHDATE").AsDate(), (dbf::Date{2029, 12, 31}));
    t.Next();
    EXPECT_TRUE(t.FieldByName("PURCHDATE").IsNull());
    EXPECT_TRUE(t.FieldByName("PURCHASEPR").IsNull() ||
                t.FieldByName("PURCHASEPR").AsFloat() == 0.0);
  }
}

// A version 1 row without a purchase date converts with a blank date; an
// old table written without a code page byte, its text in UTF-8, comes in
// with its letters, those the coin table cannot hold as the nearest ones.
TEST_F(ConversionTest, BlankVersionOneDatesAndUtf8OldTables) {
  MakeOld("CLOG.DBF", kV1Fields,
          "(1, 'Zloty', '', 1990, '', '', 0, 0, 0, '', '', '', '', '', 'No', 'No', "
          "'No', 'No', 1, '', '', ''),"
          "(2, 'Cote', '', 1990, '', '', 0, 0, 0, '', '', '7', 'May', '1995', 'No', 'No', "
          "'No', 'No', 1, '', '', '')");
  std::string bytes = test::ReadFileBytes(dir_.File("CLOG.DBF"));
  bytes[29] = 0;
  for (auto [from, to] :
       {std::pair<std::string, std::string>{"Zloty ", "Z\xC5\x82oty"}, {"Cote ", "C\xC3\xB4te"}}) {
    const size_t at = bytes.find(from);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size(), to);
  }
  test::WriteFileBytes(dir_.File("CLOG.DBF"), bytes);
  TestPrompts().ExpectMessage("Convert", kV1Question, MsgButton::kYes);
  CheckForConversion(nullptr, Q(dir_.path()), my_table_);
  EXPECT_FALSE(QFileInfo::exists(Q(dir_.File("CLOG.DBF"))));
  EXPECT_EQ(Rows({"COUNTRY", "PURCHDATE"}),
            (std::vector<std::string>{"Zloty|", "C\xC3\xB4te|5/7/1995"}));
}

}  // namespace
}  // namespace klv::db
