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

}  // namespace
}  // namespace klv::app
