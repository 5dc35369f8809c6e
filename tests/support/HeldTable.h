// Another process with a table open (shared) for as long as the object lives:
// what a second copy of the program looks like to this one. Standard C++ and
// the engine only.
#pragma once

#include <string>

#include <sys/types.h>

namespace klv::test {

class HeldByAnotherProcess {
 public:
  // Returns once the other process has the table in dir open.
  HeldByAnotherProcess(const std::string& dir, const std::string& table);
  ~HeldByAnotherProcess();
  HeldByAnotherProcess(const HeldByAnotherProcess&) = delete;
  HeldByAnotherProcess& operator=(const HeldByAnotherProcess&) = delete;

 private:
  pid_t child_ = -1;
};

}  // namespace klv::test
