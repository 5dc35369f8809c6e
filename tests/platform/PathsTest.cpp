#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace klv::platform {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PathsTest, OwnVariablesComeFirstThenXdgThenHome) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv a("KLVCOIN_HOME", "/data/coins/");
    ScopedEnv b("KLVCOIN_WINDIR", "/etc/coins//");
    ScopedEnv c("XDG_DATA_HOME", "/xdg/data");
    const Directories d = LocateDirectories();
    EXPECT_EQ(d.program, "/data/coins");
    EXPECT_EQ(d.windows, "/etc/coins");
  }
  {
    ScopedEnv a("KLVCOIN_HOME", "");  // empty counts as unset
    ScopedEnv b("KLVCOIN_WINDIR", nullptr);
    ScopedEnv c("XDG_DATA_HOME", "/xdg/data");
    ScopedEnv e("XDG_CONFIG_HOME", "/xdg/config");
    const Directories d = LocateDirectories();
    EXPECT_EQ(d.program, "/xdg/data/klvcoin");
    EXPECT_EQ(d.windows, "/xdg/config/klvcoin");
  }
  {
    ScopedEnv a("KLVCOIN_HOME", nullptr);
    ScopedEnv b("KLVCOIN_WINDIR", nullptr);
    ScopedEnv c("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
    ScopedEnv e("XDG_CONFIG_HOME", nullptr);
    const Directories d = LocateDirectories();
    EXPECT_EQ(d.program, "/home/someone/.local/share/klvcoin");
    EXPECT_EQ(d.windows, "/home/someone/.config/klvcoin");
  }
}

TEST(PathsTest, StartDirectoryHasNoTrailingSlashExceptTheRoot) {
  const std::filesystem::path old = std::filesystem::current_path();
  test::TempDir dir;
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(LocateDirectories().start, Q(std::filesystem::canonical(dir.path()).string()));
  std::filesystem::current_path("/");
  EXPECT_EQ(LocateDirectories().start, "/");
  std::filesystem::current_path(old);
  EXPECT_EQ(WithoutTrailingSlash("/a/b///"), "/a/b");
  EXPECT_EQ(WithoutTrailingSlash("///"), "/");
}

TEST(PathsTest, DirectoriesAreCreatedWithTheirParents) {
  test::TempDir dir;
  const QString nested = Q(dir.File("a/b/c"));
  EXPECT_TRUE(EnsureDirectory(nested));
  EXPECT_TRUE(std::filesystem::is_directory(nested.toStdString()));
  EXPECT_TRUE(EnsureDirectory(nested));  // already there
  std::ofstream(dir.File("file")) << "x";
  QString error;
  EXPECT_FALSE(EnsureDirectory(Q(dir.File("file")), &error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(PathsTest, CompanionFilesAreFoundInAnyCaseAndCreatedAsSpelled) {
  test::TempDir dir;
  const QString d = Q(dir.path());
  EXPECT_EQ(CompanionFile(d, "COINS.INI"), d + "/COINS.INI");
  EXPECT_EQ(FindFileNoCase(d, "COINS.INI"), "");
  std::ofstream(dir.File("coins.ini")) << "x";
  EXPECT_EQ(FindFileNoCase(d, "COINS.INI"), d + "/coins.ini");
  EXPECT_EQ(CompanionFile(d + "/", "COINS.INI"), d + "/coins.ini");
  std::ofstream(dir.File("COINS.INI")) << "x";
  EXPECT_EQ(CompanionFile(d, "COINS.INI"), d + "/COINS.INI");  // exact spelling preferred
}

}  // namespace
}  // namespace klv::platform
