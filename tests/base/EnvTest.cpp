// The file layer under the engine: the shared view of a file's header and
// how it meets plain reads, writes, locks and forked children.
#include "base/Env.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/Error.h"
#include "base/FaultEnv.h"
#include "support/TempDir.h"

namespace klv::base {
namespace {

constexpr uint64_t kLockByte = 0x7FFFFFFF00000000ULL;

class EnvTest : public ::testing::Test {
 protected:
  std::string MakeFile(size_t size) {
    std::string path = dir_.File("F.DAT");
    auto f = env_.Open(path, OpenMode::kCreateTruncate);
    std::vector<uint8_t> bytes(size, 'a');
    f->WriteAt(0, bytes.data(), bytes.size());
    return path;
  }
  Env& env_ = Env::Default();
  test::TempDir dir_;
};

TEST_F(EnvTest, HeaderViewIsTheFileAsEveryOtherOpenSeesIt) {
  std::string path = MakeFile(3000);
  auto a = env_.Open(path, OpenMode::kReadWrite);
  auto b = env_.Open(path, OpenMode::kReadWrite);
  auto r = env_.Open(path, OpenMode::kReadOnly);
  uint8_t* view = a->MapStart(2048);
  if (!view) GTEST_SKIP() << "the file system of " << path << " offers no shared views";
  EXPECT_EQ(a->MapStart(2048), view) << "one view per open";
  EXPECT_EQ(a->MapStart(4096), nullptr) << "the first call decides the view's length";

  std::memcpy(view + 100, "stored", 6);  // a store is a write for everyone else
  char got[7] = {};
  ASSERT_EQ(b->ReadAt(100, got, 6), 6u);
  EXPECT_STREQ(got, "stored");
  b->WriteAt(2000, "written", 7);  // and a write shows in the view at once
  EXPECT_EQ(std::memcmp(view + 2000, "written", 7), 0);
  const uint8_t* seen = r->MapStart(2048);
  ASSERT_NE(seen, nullptr) << "a read-only open has a view too";
  EXPECT_EQ(std::memcmp(seen + 100, "stored", 6), 0);
  EXPECT_EQ(a->Size(), 3000u) << "stores never change the size";

  // No view of bytes the file does not hold, nor through the fault layer,
  // whose every write must be able to fail.
  auto small = env_.Open(MakeFile(10), OpenMode::kReadWrite);
  EXPECT_EQ(small->MapStart(32), nullptr);
  FaultEnv faults(env_);
  EXPECT_EQ(faults.Open(path, OpenMode::kReadWrite)->MapStart(2048), nullptr);
}

// A forked child inherits neither the descriptor's locks (the descriptor is
// closed there) nor, through a view, the open file description that holds them.
TEST_F(EnvTest, ViewDoesNotKeepLocksAliveInAForkedChild) {
  std::string path = MakeFile(3000);
  auto a = env_.Open(path, OpenMode::kReadWrite);
  ASSERT_TRUE(a->TryLock(kLockByte, 1, true));
  a->MapStart(2048);
  int go[2], ready[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != go[0] && fd != ready[1]) ::close(fd);
    char c = 'r';
    bool told = ::write(ready[1], &c, 1) == 1;
    ::_exit(told && ::read(go[0], &c, 1) == 1 ? 0 : 1);
  }
  ::close(go[0]);
  ::close(ready[1]);
  char byte;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);  // the child has closed its descriptors
  ::close(ready[0]);
  a.reset();
  auto c = env_.Open(path, OpenMode::kReadWrite);
  EXPECT_TRUE(c->TryLock(kLockByte, 1, true)) << "the child still holds the closed file's lock";
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[1]);
  int st = 0;
  ::waitpid(child, &st, 0);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

// A copy between two files: by the system where both are plain files, by a
// buffer otherwise, through fault injection as a write that can fail.
TEST_F(EnvTest, CopyFromGivesTheBytesBackAndFailsAsAWrite) {
  std::string bytes(3 * 1024 * 1024 + 5, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  const std::string src = dir_.File("SRC");
  env_.Open(src, OpenMode::kCreateTruncate)->WriteAt(0, bytes.data(), bytes.size());
  FaultEnv faults(env_);
  struct Case {
    Env* from;
    Env* to;
    uint64_t off, n;
  };
  const Case cases[] = {
      {&env_, &env_, 0, bytes.size()},       // the system's copy
      {&env_, &env_, 4096, 1u << 30},        // past the end: short
      {&faults, &env_, 0, bytes.size()},     // a source without a descriptor
      {&faults, &faults, 17, bytes.size()},  // both wrapped
  };
  for (const Case& c : cases) {
    auto in = c.from->Open(src, OpenMode::kReadOnly);
    auto out = c.to->Open(dir_.File("DEST"), OpenMode::kCreateTruncate);
    const uint64_t want = std::min<uint64_t>(c.n, bytes.size() - c.off);
    EXPECT_EQ(out->CopyFrom(*in, c.off, c.n), want);
    std::string got(out->Size(), '\0');
    out->ReadAt(0, got.data(), got.size());
    EXPECT_EQ(got.size(), c.off + want);
    EXPECT_TRUE(got.substr(c.off) == bytes.substr(c.off, want)) << c.off;
  }
  auto in = faults.Open(src, OpenMode::kReadOnly);
  auto out = faults.Open(dir_.File("DEST"), OpenMode::kCreateTruncate);
  faults.FailAt(1);
  EXPECT_THROW(out->CopyFrom(*in, 0, bytes.size()), Error);
  EXPECT_TRUE(faults.fired());
  EXPECT_EQ(out->Size(), 0u);
}

}  // namespace
}  // namespace klv::base
