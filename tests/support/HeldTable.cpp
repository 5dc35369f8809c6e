#include "support/HeldTable.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db/dbf/Table.h"

namespace klv::test {

HeldByAnotherProcess::HeldByAnotherProcess(const std::string& dir, const std::string& table) {
  int ready[2];
  if (pipe(ready) != 0) return;
  child_ = fork();
  if (child_ == 0) {
    dbf::Table t;
    t.SetDirectory(dir);
    t.SetTableName(table);
    t.Open();
    char ok = 1;
    (void)!write(ready[1], &ok, 1);
    sleep(30);
    _exit(0);
  }
  char ok = 0;
  if (child_ > 0) {
    EXPECT_EQ(read(ready[0], &ok, 1), 1);
  }
  close(ready[0]);
  close(ready[1]);
}

HeldByAnotherProcess::~HeldByAnotherProcess() {
  if (child_ <= 0) return;
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
}

}  // namespace klv::test
