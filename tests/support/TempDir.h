// A fresh temporary directory for one test, removed with everything in it
// when the object goes away. Standard C++ only, so engine tests can use it.
#pragma once

#include <filesystem>
#include <string>

namespace klv::test {

class TempDir {
 public:
  // Creates a new, empty directory under $TMPDIR (or /tmp); throws
  // std::filesystem::filesystem_error when it cannot.
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing '/'.
  const std::string& path() const { return path_; }
  // The full path of name inside the directory (name may hold subdirectories).
  // The file is not created.
  std::string File(const std::string& name) const;
  // Copies the file at source into the directory (under name, or its own
  // name when name is empty) and returns the copy's path. Test data must be
  // copied before a test changes it.
  std::string CopyIn(const std::string& source, const std::string& name = "") const;

 private:
  std::string path_;
};

// Points KLVCOIN_HOME and KLVCOIN_WINDIR, where the program looks for its
// program and Windows directories, at two directories while the object
// lives.
class ProgramDirsInEnvironment {
 public:
  ProgramDirsInEnvironment(const TempDir& home, const TempDir& windir);
  ~ProgramDirsInEnvironment();
  ProgramDirsInEnvironment(const ProgramDirsInEnvironment&) = delete;
  ProgramDirsInEnvironment& operator=(const ProgramDirsInEnvironment&) = delete;
};

// The whole content of a file ("" when it cannot be read), and a file
// replaced by bytes.
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace klv::test
