#include "support/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace klv::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/klv-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    throw fs::filesystem_error("cannot create a temporary directory", fs::path(pattern),
                               std::error_code(errno, std::generic_category()));
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  // A test's leftovers must not fail the test run; what cannot be removed
  // stays behind in the temporary area.
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const {
  return path_ + "/" + name;
}

std::string TempDir::CopyIn(const std::string& source, const std::string& name) const {
  const std::string target = File(name.empty() ? fs::path(source).filename().string() : name);
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  // Test data in the repository may be read-only; copies are for changing.
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return target;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

ProgramDirsInEnvironment::ProgramDirsInEnvironment(const TempDir& home, const TempDir& windir) {
  setenv("KLVCOIN_HOME", home.path().c_str(), 1);
  setenv("KLVCOIN_WINDIR", windir.path().c_str(), 1);
}

ProgramDirsInEnvironment::~ProgramDirsInEnvironment() {
  unsetenv("KLVCOIN_HOME");
  unsetenv("KLVCOIN_WINDIR");
}

}  // namespace klv::test
