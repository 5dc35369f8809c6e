// The command line as main() reads it, without a window.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace klv::app {
namespace {

TEST(CommandLineTest, BrowseInAnyCaseAndAFile) {
  EXPECT_TRUE(ParseCommandLine({"/BROWSE"}).browse);
  EXPECT_TRUE(ParseCommandLine({"/bRoWsE"}).browse);
  EXPECT_TRUE(ParseCommandLine({"--browse"}).browse);
  EXPECT_FALSE(ParseCommandLine({}).browse);
  CommandLine l = ParseCommandLine({"/browse", "coins.dbf"});
  EXPECT_TRUE(l.browse);
  EXPECT_EQ(l.database, "coins.dbf");
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_EQ(ParseCommandLine({"--frobnicate"}).error, "--frobnicate");
  EXPECT_EQ(ParseCommandLine({"/NOPE"}).error, "/NOPE");
}

TEST(CommandLineTest, ReportPaper) {
  struct Case {
    QStringList arguments;
    const char* paper;
    const char* problem;
  } cases[] = {
      {{"--report", "R", "--output", "o.pdf", "--paper", "A4"}, "A4", ""},
      {{"--paper", "letter", "--report", "R", "--output", "o.pdf"}, "letter", ""},
      {{"--report", "R", "--output", "o.pdf", "--paper", "legal"},
       "legal",
       "--paper takes a4 or letter"},
      {{"--paper", "a4"}, "a4", "--paper needs --report"},
      {{"--report", "R", "--output", "o.pdf", "--paper"}, "", "--paper needs a value"},
  };
  for (const Case& c : cases) {
    const CommandLine l = ParseCommandLine(c.arguments);
    EXPECT_EQ(l.paper, QString::fromLatin1(c.paper)) << c.arguments.join(' ').toStdString();
    EXPECT_EQ(l.problem, QString::fromLatin1(c.problem)) << c.arguments.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace klv::app
